// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "picture_dater.h"

#include "exif_date_reader.h"
#include "exif_time_shift.h"
#include "file_services.h"
#include "path_names.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>

namespace kronvik {

namespace {

const char *const kDirectoryLine =
        "%4d-%02d-%02d %02d:%02d:%02d: Processing digital pictures in %s...";
const char *const kNoExifLine = "%4d-%02d-%02d %02d:%02d:%02d:    No EXIF data found in %s.";
const char *const kRenamedLine = "%4d-%02d-%02d %02d:%02d:%02d:    %s -> %s";
const char *const kExistsLine = "%4d-%02d-%02d %02d:%02d:%02d:    %s -> %s: File already exists!";
const char *const kRenameFailedLine = "%4d-%02d-%02d %02d:%02d:%02d:    %s -> %s: %s.";
const char *const kBadDateLine =
        "%4d-%02d-%02d %02d:%02d:%02d:    %s not renamed; incorrect date format.";
const char *const kUnreadableLine =
        "%4d-%02d-%02d %02d:%02d:%02d:    %s not renamed; unreadable picture (%s).";

// The date fields are 16-bit calendar fields: only the low 16 bits of a scanned number are kept,
// so a scanned -1 becomes 65535.
struct DateFields
{
    std::uint16_t year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;

    CalendarTime AsCalendarTime() const { return {year, month, day, hour, minute, second}; }
};

// Scans up to six numbers with `format`; fields without a number stay 0. Returns the result of
// sscanf (EOF, or the count of numbers read).
int ScanDateFields(const char *text, const char *format, DateFields &fields)
{
    int values[6] = {};
    int scanned = std::sscanf(text, format, &values[0], &values[1], &values[2], &values[3],
                              &values[4], &values[5]);
    fields = DateFields{};
    std::uint16_t *targets[6] = {&fields.year, &fields.month,  &fields.day,
                                 &fields.hour, &fields.minute, &fields.second};
    for (int i = 0; i < 6; ++i)
        *targets[i] = static_cast<std::uint16_t>(values[i]);
    return scanned;
}

// Already dated: the name reads as the six fields and the modification time equals them (to the
// even second where the file system keeps 2-second times).
bool IsAlreadyDated(const std::string &path, const std::string &fileName)
{
    DateFields named;
    ScanDateFields(fileName.c_str(), "%d-%d-%d %d.%d.%d", named);
    if (named.year == 0 || named.month == 0 || named.day == 0)
        return false;
    CalendarTime written;
    if (!ReadLastWriteTime(path, written))
        return false;
    CalendarTime expected = named.AsCalendarTime();
    if (written == expected)
        return true;
    if (KeepsTwoSecondTimes(path)) {
        expected.second -= expected.second % 2;
        return written == expected;
    }
    return false;
}

// Shifts the file's EXIF dates unless this pass already shifted the same file, under this path
// or another, or renamed this path away (the entry then ends as a vanished file does).
void ShiftOnce(const std::string &path, int hours, ShiftedFiles &shifted)
{
    if (shifted.paths.count(path))
        return;
    FileIdentity identity;
    bool known = IdentifyFile(path, identity);
    if (known && shifted.files.count(identity))
        return;
    ShiftExifTime(path, hours);
    shifted.paths.insert(path);
    if (known)
        shifted.files.insert(identity);
}

} // namespace

std::string PictureFileName(const CalendarTime &date)
{
    return FormatText("%04d-%02d-%02d %02d.%02d.%02d.JPG", date.year, date.month, date.day,
                      date.hour, date.minute, date.second);
}

void DatePicture(DatingSession &session, std::size_t index, ShiftedFiles &shifted)
{
    ProgramState &state = session.state;
    const std::string path = state.pictureList.at(index);
    const auto split = path.rfind(kPathSeparator);
    const std::string directory =
            split == std::string::npos ? std::string() : path.substr(0, split + 1);
    const std::string fileName = path.substr(directory.size());

    const CalendarTime now = ReadLogTime(session.clock);

    if (session.timeAdjust != 0)
        ShiftOnce(path, session.timeAdjust, shifted);

    if (directory != state.lastDirectory) {
        state.lastDirectory = directory;
        // The directory is named without its last separator, so a picture in "/" names "".
        const std::string shown =
                directory.empty() ? directory : directory.substr(0, directory.size() - 1);
        session.log.AppendLogLine(FormatLogLine(now, kDirectoryLine, shown.c_str()));
    }

    if (IsAlreadyDated(path, fileName))
        return;

    const ExifDateResult exif = ReadExifDate(path);
    switch (exif.outcome) {
    case ExifDateResult::Outcome::Unreadable:
        session.log.AppendLogLine(
                FormatLogLine(now, kUnreadableLine, path.c_str(), exif.reason.c_str()));
        return;
    case ExifDateResult::Outcome::NoExif:
        session.log.AppendLogLine(FormatLogLine(now, kNoExifLine, path.c_str()));
        return;
    case ExifDateResult::Outcome::Searched:
        break;
    }

    DateFields date;
    const int scanned = ScanDateFields(exif.dateText.c_str(), "%d:%d:%d %d:%d:%d", date);
    if (scanned == 0 || scanned == EOF) {
        session.log.AppendLogLine(FormatLogLine(now, kBadDateLine, path.c_str()));
        return;
    }

    const CalendarTime taken = date.AsCalendarTime();
    const std::string newName = PictureFileName(taken);
    const std::string newPath = directory + newName;

    // A picture that already carries its new name needs no rename; only its time is set.
    if (const int error = newPath == path ? 0 : RenameNoReplace(path, newPath)) {
        // Only a taken name is "File already exists!"; any other failure names its reason.
        session.log.AppendLogLine(
                error == EEXIST ? FormatLogLine(now, kExistsLine, fileName.c_str(), newName.c_str())
                                : FormatLogLine(now, kRenameFailedLine, fileName.c_str(),
                                                newName.c_str(), SystemErrorText(error).c_str()));
        ++state.datedUnsuccessfully;
        return;
    }
    if (newPath != path)
        shifted.paths.insert(path);
    state.pictureList[index] = newPath;
    session.log.AppendLogLine(FormatLogLine(now, kRenamedLine, fileName.c_str(), newName.c_str()));
    // Fields that name no real moment (month 13, all zero) leave the file times as they were,
    // silently; a call that fails is told to the front end.
    int timeError = 0;
    if (!SetLastWriteTime(newPath, taken, &timeError) && timeError != 0)
        session.view.ReportTimeNotSet(newPath, SystemErrorText(timeError));
    ++state.datedSuccessfully;
}

} // namespace kronvik
