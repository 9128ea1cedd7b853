// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "calendar_time.h"

#include <cstdint>
#include <string>

namespace kronvik {

// The six fields of a date as the pass reads them from an EXIF date text or a file name: 16-bit
// calendar fields, so only the low 16 bits of a scanned number are kept (a scanned -1 becomes
// 65535).
struct DateFields
{
    std::uint16_t year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;

    CalendarTime AsCalendarTime() const { return {year, month, day, hour, minute, second}; }
};

// Scans up to six numbers from `text` as sscanf does with "%d<date>%d<date>%d %d<time>%d<time>%d"
// ("%d:%d:%d %d:%d:%d" for an EXIF date, "%d-%d-%d %d.%d.%d" for a file name); fields without a
// number stay 0. Returns what sscanf returns: EOF, or the count of numbers read. Every picture is
// scanned twice or more in a pass, and sscanf costs more than the rest of its plan: the layout
// cameras write is read directly, anything else by sscanf itself.
int ScanDateFields(const char *text, char dateSeparator, char timeSeparator, DateFields &fields);

// A picture's new name for a date: what "%04d-%02d-%02d %02d.%02d.%02d.JPG" prints.
std::string PictureFileName(const CalendarTime &date);

} // namespace kronvik
