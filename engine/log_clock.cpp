// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "log_clock.h"

#include "local_clock.h"

namespace kronvik {

CalendarTime ReadLogTime(const LogClock &clock)
{
    return BreakDownLocalTime(clock ? clock() : SystemClockSeconds());
}

} // namespace kronvik
