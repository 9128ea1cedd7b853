// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "source_locks.h"

class QLabel;

namespace kronvik {

class CQuorvelDlg;

// The window's wait for a directory that another run holds: the file label says so, and the
// window goes on handling its events (painting, input, a close) until the lock is ours. Closing
// the window or a quit request ends the wait.
class WindowLockWaiter : public LockWaiter
{
public:
    WindowLockWaiter(CQuorvelDlg &window, QLabel &fileLabel);

    bool WaitForLock(const std::string &directory, DirectoryLock &lock, LockMode mode) override;

private:
    CQuorvelDlg &m_window;
    QLabel &m_fileLabel;
};

} // namespace kronvik
