// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

namespace kronvik {

// A moment broken down into local calendar fields, as the run log prefix, the file names and the
// file times use them. Month 1..12, day 1..31, hour 0..23.
struct CalendarTime
{
    int year = 0;
    int month = 0;
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;

    friend bool operator==(const CalendarTime &, const CalendarTime &) = default;
};

// True when the fields name a real moment: year 1..9999, month 1..12, a day that exists in that
// month (Gregorian leap years), hour 0..23, minute and second 0..59.
bool IsValidCalendarTime(const CalendarTime &time);

} // namespace kronvik
