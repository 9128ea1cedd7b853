// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "calendar_time.h"

#include <cstdint>
#include <functional>

namespace kronvik {

// Where the run log takes the time of its events: the system clock, or a pinned one in tests.
using LogClock = std::function<std::int64_t()>;

// The clock reading broken down into local time, one reading per event.
CalendarTime ReadLogTime(const LogClock &clock);

} // namespace kronvik
