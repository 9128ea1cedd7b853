// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "dating_session.h"
#include "directory_listing.h"

#include <cstddef>
#include <set>
#include <string>

namespace kronvik {

// What one dating pass has done so far that its time shift must know, so that a picture listed
// twice (a folder listed twice, or a folder and its own subfolder) is not moved twice.
struct ShiftedFiles
{
    // The files whose EXIF dates the pass has shifted.
    std::set<FileIdentity> files;
    // The paths under which it shifted a file, and those it renamed away. A path is checked as
    // well as the file's identity: a FUSE mount may give one file another inode number at each
    // lookup, and on a case-insensitive file system a name changed only in letter case still
    // reaches the file.
    std::set<std::string> paths;
};

// Dates the picture at `index` of the picture list: shifts its EXIF dates first when the time
// adjustment is not 0, renames it after its EXIF date in its own directory, sets its modification
// time, and reports the outcome as a run-log line. Throws FileError only from the time shift.
void DatePicture(DatingSession &session, std::size_t index, ShiftedFiles &shifted);

// The new file name for a date: "%04d-%02d-%02d %02d.%02d.%02d.JPG".
std::string PictureFileName(const CalendarTime &date);

} // namespace kronvik
