// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "calendar_time.h"

namespace kronvik {

namespace {

bool IsLeapYear(int year)
{
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

} // namespace

bool IsValidCalendarTime(const CalendarTime &time)
{
    static const int kDaysInMonth[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (time.year < 1 || time.year > 9999 || time.month < 1 || time.month > 12)
        return false;
    int days = kDaysInMonth[time.month - 1] + (time.month == 2 && IsLeapYear(time.year) ? 1 : 0);
    return time.day >= 1 && time.day <= days && time.hour >= 0 && time.hour <= 23
           && time.minute >= 0 && time.minute <= 59 && time.second >= 0 && time.second <= 59;
}

} // namespace kronvik
