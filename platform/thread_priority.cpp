// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "thread_priority.h"

#include <algorithm>
#include <cerrno>
#include <sys/resource.h>
#include <unistd.h>

namespace kronvik {

void LowerThreadPriority(int steps)
{
    const auto thread = static_cast<id_t>(gettid());
    errno = 0;
    const int now = getpriority(PRIO_PROCESS, thread);
    if (now == -1 && errno != 0)
        return;
    setpriority(PRIO_PROCESS, thread, std::min(now + steps, 19));
}

} // namespace kronvik
