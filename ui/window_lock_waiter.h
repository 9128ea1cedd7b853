// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "source_locks.h"

class QDialog;
class QLabel;

namespace kronvik {

// The window's wait for a directory that another run holds: the file label says so, and the
// window goes on handling its events (painting, input, a close) until the lock is ours. Closing
// the window ends the wait.
class WindowLockWaiter : public LockWaiter
{
public:
    WindowLockWaiter(QDialog &window, QLabel &fileLabel);

    bool WaitForLock(const std::string &directory, DirectoryLock &lock, LockMode mode) override;

private:
    QDialog &m_window;
    QLabel &m_fileLabel;
};

} // namespace kronvik
