// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <sys/types.h>
#include <unistd.h>

namespace kronvik::test {

// Forks a child that runs `setUp` (a pass begun, a change made) and then waits, paused, for the
// signal that ends it: a process that holds what it set up until the test kills it. Returns once
// `setUp` has run, with the child's id; -1 when no child could be started.
template<typename SetUp>
pid_t ForkPausedAfter(SetUp setUp)
{
    int ready[2];
    if (pipe(ready) != 0)
        return -1;
    const pid_t child = fork();
    if (child == 0) {
        setUp();
        (void)!write(ready[1], "x", 1);
        pause();
        _exit(0);
    }
    close(ready[1]);
    char byte = 0;
    const bool started = child > 0 && read(ready[0], &byte, 1) == 1;
    close(ready[0]);
    return started ? child : -1;
}

} // namespace kronvik::test
