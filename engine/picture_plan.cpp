// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "picture_plan.h"

#include "local_clock.h"
#include "path_names.h"
#include "run_log.h"

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
const char *const kBadDateLine =
        "%4d-%02d-%02d %02d:%02d:%02d:    %s not renamed; incorrect date format.";
const char *const kUnreadableLine =
        "%4d-%02d-%02d %02d:%02d:%02d:    %s not renamed; unreadable picture (%s).";
const char *const kShiftedBeforeLine = "%4d-%02d-%02d %02d:%02d:%02d:    %s: EXIF dates already "
                                       "shifted by %+d hours on %s; not shifted again.";

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

std::string FileNameOf(const std::string &path)
{
    const auto split = path.rfind(kPathSeparator);
    return split == std::string::npos ? path : path.substr(split + 1);
}

// The date a file's name reads as, when its year, month and day are not 0.
std::optional<CalendarTime> NamedDate(const std::string &fileName)
{
    DateFields named;
    ScanDateFields(fileName.c_str(), "%d-%d-%d %d.%d.%d", named);
    if (named.year == 0 || named.month == 0 || named.day == 0)
        return std::nullopt;
    return named.AsCalendarTime();
}

// Already dated: the name reads as the six fields and the modification time equals them (to the
// even second where the file system keeps 2-second times). `writtenSeconds`: the modification
// time that `written` was read from, where it was.
bool IsAlreadyDated(const std::string &fileName, bool lastWriteKnown, const CalendarTime &written,
                    std::optional<bool> twoSecondTimes, std::optional<std::int64_t> writtenSeconds)
{
    const std::optional<CalendarTime> named = NamedDate(fileName);
    if (!named || !lastWriteKnown)
        return false;
    CalendarTime expected = *named;
    if (written == expected)
        return true;
    // A name in the hour that the clocks skip in spring names no moment of its own: dating the
    // picture set the moment that time becomes, which reads back an hour later. It is dated all
    // the same, or every pass would date it again.
    if (writtenSeconds) {
        const std::optional<std::int64_t> set = LocalTimeToSeconds(expected);
        if (set && *set == *writtenSeconds) {
            const CalendarTime reads = BreakDownLocalTime(*set);
            if (reads != expected && reads == written)
                return true;
        }
    }
    if (twoSecondTimes.value_or(false)) {
        expected.second -= expected.second % 2;
        return written == expected;
    }
    return false;
}

std::optional<FileIdentity> IdentityOf(const PictureRead &read)
{
    if (read.stampError != 0)
        return std::nullopt;
    return read.stamp.identity;
}

} // namespace

std::string PictureFileName(const CalendarTime &date)
{
    return FormatText("%04d-%02d-%02d %02d.%02d.%02d.JPG", date.year, date.month, date.day,
                      date.hour, date.minute, date.second);
}

bool NeedsTwoSecondTest(const std::string &path, const CalendarTime &lastWrite)
{
    const std::optional<CalendarTime> named = NamedDate(FileNameOf(path));
    return named && *named != lastWrite;
}

int ShiftHoursFor(const std::string &path, const std::optional<FileIdentity> &identity,
                  const PassRecord &record, int adjustment)
{
    if (adjustment == 0 || record.shiftedPaths.count(path) || record.renamedAway.count(path))
        return 0;
    if (identity && record.shiftedFiles.count(*identity))
        return 0;
    return adjustment;
}

namespace {

void Add(PassRecord &record, PathSet &names, const std::string &name)
{
    if (names.insert(name).second && record.trial)
        record.trial->push_back({&names, name, true, {}});
}

void Remove(PassRecord &record, PathSet &names, const std::string &name)
{
    if (names.erase(name) != 0 && record.trial)
        record.trial->push_back({&names, name, false, {}});
}

} // namespace

RecordTrial::RecordTrial(PassRecord &record)
    : m_record(record)
{
    m_record.trial = &m_notes;
}

RecordTrial::~RecordTrial()
{
    m_record.trial = nullptr;
    for (auto note = m_notes.rbegin(); note != m_notes.rend(); ++note) {
        if (!note->names)
            m_record.shiftedFiles.erase(note->file);
        else if (note->added)
            note->names->erase(note->name);
        else
            note->names->insert(note->name);
    }
}

void NoteShift(PassRecord &record, const std::string &path,
               const std::optional<FileIdentity> &identity)
{
    Add(record, record.shiftedPaths, path);
    if (identity && record.shiftedFiles.insert(*identity).second && record.trial)
        record.trial->push_back({nullptr, {}, true, *identity});
}

void NoteRename(PassRecord &record, const RenameChange &rename)
{
    Add(record, record.renamedAway, rename.from);
    Remove(record, record.namesTaken, rename.from);
    Add(record, record.namesTaken, rename.to);
}

PicturePlan PlanPicture(const PictureRead &read, const PassRecord &record,
                        const std::string &lastDirectory, int adjustment, const CalendarTime &now,
                        const std::optional<ShiftedBefore> &shiftedBefore, bool lines)
{
    PicturePlan plan;
    const std::string &path = read.path;
    plan.fileName = FileNameOf(path);
    plan.directory = path.substr(0, path.size() - plan.fileName.size());

    // The shift comes first; the already-dated test then sees the time its write gives the file.
    bool lastWriteKnown = read.lastWriteKnown;
    CalendarTime lastWrite = read.lastWrite;
    bool lastWriteIsRead = true;
    if (!shiftedBefore && ShiftHoursFor(path, IdentityOf(read), record, adjustment) != 0) {
        plan.shift = ShiftChange{path, adjustment, read.pairOffset, read.shiftedPair};
        if (!read.shiftPassesOver && read.updateError != 0) {
            plan.outcome = PictureOutcome::PassEnds;
            plan.shiftError = read.updateError;
            return plan;
        }
        if (read.pairOffset) {
            lastWriteKnown = true;
            lastWrite = now;
            lastWriteIsRead = false;
        }
    }

    if (lines && plan.directory != lastDirectory) {
        // The directory is named without its last separator, so a picture in "/" names "".
        const std::string shown = plan.directory.empty()
                                          ? plan.directory
                                          : plan.directory.substr(0, plan.directory.size() - 1);
        plan.directoryLine = FormatLogLine(now, kDirectoryLine, shown.c_str());
    }
    if (lines && shiftedBefore)
        plan.shiftedBeforeLine =
                FormatLogLine(now, kShiftedBeforeLine, path.c_str(), shiftedBefore->hours,
                              shiftedBefore->passStarted.c_str());

    if (IsAlreadyDated(plan.fileName, lastWriteKnown, lastWrite, read.twoSecondTimes,
                       lastWriteIsRead ? read.lastWriteSeconds : std::nullopt)) {
        plan.outcome = PictureOutcome::AlreadyDated;
        return plan;
    }

    switch (read.exif.outcome) {
    case ExifDateResult::Outcome::Unreadable:
        plan.outcome = PictureOutcome::Unreadable;
        if (lines)
            plan.line = FormatLogLine(now, kUnreadableLine, path.c_str(), read.exif.reason.c_str());
        return plan;
    case ExifDateResult::Outcome::NoExif:
        plan.outcome = PictureOutcome::NoExif;
        if (lines)
            plan.line = FormatLogLine(now, kNoExifLine, path.c_str());
        return plan;
    case ExifDateResult::Outcome::Searched:
        break;
    }

    DateFields date;
    const int scanned = ScanDateFields(read.exif.dateText.c_str(), "%d:%d:%d %d:%d:%d", date);
    if (scanned == 0 || scanned == EOF) {
        plan.outcome = PictureOutcome::BadDate;
        if (lines)
            plan.line = FormatLogLine(now, kBadDateLine, path.c_str());
        return plan;
    }

    const CalendarTime taken = date.AsCalendarTime();
    plan.newName = PictureFileName(taken);
    plan.newPath = plan.directory + plan.newName;
    // A picture that already carries its new name needs no rename; only its time is set.
    if (plan.newPath != path)
        plan.rename = RenameChange{path, plan.newPath};
    if (plan.rename && record.namesTaken.count(plan.newPath)) {
        plan.outcome = PictureOutcome::Refused;
        if (lines)
            plan.line =
                    FormatLogLine(now, kExistsLine, plan.fileName.c_str(), plan.newName.c_str());
        plan.datedUnsuccessfully = 1;
        return plan;
    }
    plan.outcome = PictureOutcome::Dated;
    if (lines)
        plan.line = FormatLogLine(now, kRenamedLine, plan.fileName.c_str(), plan.newName.c_str());
    // Fields that name no real moment (month 13, all zero) leave the file times as they were.
    if (IsValidCalendarTime(taken))
        plan.time = TimeChange{plan.newPath, taken};
    plan.datedSuccessfully = 1;
    return plan;
}

} // namespace kronvik
