// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "calendar_time.h"

#include <cstdint>
#include <optional>

namespace kronvik {

// Seconds since the epoch, read from the system clock.
std::int64_t SystemClockSeconds();

// What the calling thread has used so far: processor time, and the times it gave up its core to
// wait (for the disk, a lock), as against the times the scheduler took the core from it.
struct ThreadUsage
{
    std::int64_t cpuNanoseconds = 0;
    std::int64_t waits = 0;
};
ThreadUsage ReadThreadUsage();

// Where TZ is unset, sets it to the system's zone file, ":/etc/localtime", which glibc reads as
// the same zone. An unset TZ makes every mktime look at /etc/localtime again: a pass asks for one
// or two moments a picture, and that look was a system call each. A program calls this first,
// before it starts a thread or reads a time; a change of the system's zone while it runs is then
// no longer followed, so the whole run keeps one zone.
void PinSystemTimeZone();

// Makes the next localtime_r use the time zone in force, as mktime does by itself at every call,
// so that a time read back matches the time set. Cheap: the zone is read again only when TZ has
// changed since the last call (where TZ is unset, mktime follows a change of the system's zone).
void FollowTimeZoneInForce();

// Breaks a clock reading down into local time (the time zone in force). When it cannot be broken
// down, year, month and day are 0 and hour, minute and second are -1, which is what the run log
// prints then.
CalendarTime BreakDownLocalTime(std::int64_t seconds);

// The moment a local calendar time names (the time zone in force, its daylight saving time
// decided by the zone's rules), in seconds since the epoch: what setting a file's modification
// time to that calendar time stores. Nothing when it names no moment.
std::optional<std::int64_t> LocalTimeToSeconds(const CalendarTime &localTime);

} // namespace kronvik
