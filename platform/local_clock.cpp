// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "local_clock.h"

#include <cstdlib>
#include <ctime>
#include <mutex>
#include <string>
#include <sys/resource.h>

namespace kronvik {

std::int64_t SystemClockSeconds()
{
    return static_cast<std::int64_t>(std::time(nullptr));
}

ThreadUsage ReadThreadUsage()
{
    rusage usage{};
    if (getrusage(RUSAGE_THREAD, &usage) != 0)
        return {};
    const auto nanoseconds = [](const timeval &time) {
        return static_cast<std::int64_t>(time.tv_sec) * 1000000000
               + static_cast<std::int64_t>(time.tv_usec) * 1000;
    };
    return {nanoseconds(usage.ru_utime) + nanoseconds(usage.ru_stime),
            static_cast<std::int64_t>(usage.ru_nvcsw)};
}

void PinSystemTimeZone()
{
    if (!std::getenv("TZ"))
        setenv("TZ", ":/etc/localtime", 0);
}

void FollowTimeZoneInForce()
{
    // tzset itself would do, but where TZ is unset it looks at /etc/localtime on every call.
    struct SeenZone
    {
        bool seen = false;
        bool set = false;
        std::string zone;
    };
    static std::mutex guard;
    static SeenZone last;
    const char *zone = std::getenv("TZ");
    const std::lock_guard lock(guard);
    if (last.seen && last.set == (zone != nullptr) && (!zone || last.zone == zone))
        return;
    tzset();
    last = SeenZone{true, zone != nullptr, zone ? zone : ""};
}

CalendarTime BreakDownLocalTime(std::int64_t seconds)
{
    std::time_t clock = static_cast<std::time_t>(seconds);
    std::tm local{};
    FollowTimeZoneInForce();
    if (!localtime_r(&clock, &local))
        return CalendarTime{0, 0, 0, -1, -1, -1};
    return CalendarTime{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                        local.tm_hour,        local.tm_min,     local.tm_sec};
}

std::optional<std::int64_t> LocalTimeToSeconds(const CalendarTime &localTime)
{
    if (!IsValidCalendarTime(localTime))
        return std::nullopt;
    std::tm local{};
    local.tm_year = localTime.year - 1900;
    local.tm_mon = localTime.month - 1;
    local.tm_mday = localTime.day;
    local.tm_hour = localTime.hour;
    local.tm_min = localTime.minute;
    local.tm_sec = localTime.second;
    local.tm_isdst = -1;
    // mktime's -1 is also a real moment (one second before the epoch); tm_wday tells them apart.
    local.tm_wday = -1;
    const std::time_t seconds = std::mktime(&local);
    if (seconds == static_cast<std::time_t>(-1) && local.tm_wday == -1)
        return std::nullopt;
    // In the hour that the clocks go back, a calendar time names two moments, and mktime picks
    // one after the offset of its previous call: a pass and its journal would then disagree on
    // the time set, and an undo take the picture for one modified since. Always the first: where
    // the offset some hours before was larger, the same calendar time named the moment earlier by
    // the difference, if that moment still had the larger offset. (Asking mktime again with
    // tm_isdst set costs a search through the years in a zone without daylight saving time.)
    std::int64_t first = seconds;
    const std::time_t probe = seconds - 6 * 3600;
    std::tm before{};
    if (localtime_r(&probe, &before) && before.tm_gmtoff > local.tm_gmtoff) {
        const std::time_t earlier = seconds - (before.tm_gmtoff - local.tm_gmtoff);
        std::tm then{};
        if (localtime_r(&earlier, &then) && then.tm_gmtoff == before.tm_gmtoff)
            first = earlier;
    }
    return first;
}

} // namespace kronvik
