// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "source_locks.h"

namespace kronvik {

// kronvik-cli's wait for a directory that another run holds: one line on standard error, then a
// wait that Ctrl-C, SIGTERM or SIGHUP ends.
class TerminalLockWaiter : public LockWaiter
{
public:
    bool WaitForLock(const std::string &directory, DirectoryLock &lock, LockMode mode) override;
};

} // namespace kronvik
