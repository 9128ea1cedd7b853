// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "dating_session.h"
#include "directory_listing.h"

#include <cstddef>
#include <set>

namespace kronvik {

// Files whose EXIF dates one dating pass has already shifted, so that a picture listed twice is
// not moved twice.
using ShiftedFiles = std::set<FileIdentity>;

// Dates the picture at `index` of the picture list: shifts its EXIF dates first when the time
// adjustment is not 0, renames it after its EXIF date in its own directory, sets its modification
// time, and reports the outcome as a run-log line. Throws FileError only from the time shift.
void DatePicture(DatingSession &session, std::size_t index, ShiftedFiles &shifted);

// The new file name for a date: "%04d-%02d-%02d %02d.%02d.%02d.JPG".
std::string PictureFileName(const CalendarTime &date);

} // namespace kronvik
