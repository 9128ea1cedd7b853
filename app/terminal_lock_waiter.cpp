// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "terminal_lock_waiter.h"

#include "terminal_front_end.h"

#include <csignal>
#include <cstdio>

namespace kronvik {

bool TerminalLockWaiter::WaitForLock(const std::string &directory, DirectoryLock &lock,
                                     LockMode mode)
{
    std::fprintf(stderr, "kronvik-cli: waiting for another Kronvik pass in %s...\n",
                 directory.c_str());
    std::fflush(stderr);
    return WaitForLockUntilSignal(lock, mode, {SIGINT, SIGTERM, SIGHUP},
                                  [] { return TerminalFrontEnd::s_interrupted != 0; });
}

} // namespace kronvik
