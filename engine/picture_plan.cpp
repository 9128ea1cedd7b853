// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "picture_plan.h"

#include "date_fields.h"
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

std::string FileNameOf(const std::string &path)
{
    const auto split = path.rfind(kPathSeparator);
    return split == std::string::npos ? path : path.substr(split + 1);
}

// The date a file's name reads as, when its year, month and day are not 0.
std::optional<CalendarTime> NamedDate(const std::string &fileName)
{
    DateFields named;
    ScanDateFields(fileName.c_str(), '-', '.', named);
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

bool NeedsTwoSecondTest(const std::string &path, const CalendarTime &lastWrite)
{
    const std::optional<CalendarTime> named = NamedDate(FileNameOf(path));
    return named && *named != lastWrite;
}

int ShiftHoursFor(const std::string &path, const std::optional<FileIdentity> &identity,
                  const PassRecord &record, int adjustment)
{
    if (adjustment == 0
        || (record.MarksOf(path) & (PassRecord::kShiftedUnder | PassRecord::kRenamedAway)) != 0)
        return 0;
    if (identity && record.ShiftedFile(*identity))
        return 0;
    return adjustment;
}

void PassRecord::Mark(const std::string &path, std::uint8_t mark)
{
    std::uint8_t &marks = m_paths.try_emplace(path, 0).first->second;
    if ((marks & mark) == mark)
        return;
    if (m_trial)
        m_trial->push_back({&marks, marks, {}});
    marks |= mark;
}

void PassRecord::Unmark(const std::string &path, std::uint8_t mark)
{
    const auto found = m_paths.find(path);
    if (found == m_paths.end() || (found->second & mark) == 0)
        return;
    if (m_trial)
        m_trial->push_back({&found->second, found->second, {}});
    found->second &= static_cast<std::uint8_t>(~mark);
}

void PassRecord::MarkShifted(const FileIdentity &file)
{
    if (m_shiftedFiles.insert(file).second && m_trial)
        m_trial->push_back({nullptr, 0, file});
}

RecordTrial::RecordTrial(PassRecord &record)
    : m_record(record)
{
    m_record.m_trialNotes.clear();
    m_record.m_trial = &m_record.m_trialNotes;
}

RecordTrial::~RecordTrial()
{
    m_record.m_trial = nullptr;
    const std::vector<PassRecord::TrialNote> &notes = m_record.m_trialNotes;
    for (auto note = notes.rbegin(); note != notes.rend(); ++note) {
        if (note->marks)
            *note->marks = note->before;
        else
            m_record.m_shiftedFiles.erase(note->file);
    }
}

void NoteShift(PassRecord &record, const std::string &path,
               const std::optional<FileIdentity> &identity)
{
    record.Mark(path, PassRecord::kShiftedUnder);
    if (identity)
        record.MarkShifted(*identity);
}

void NoteRename(PassRecord &record, const RenameChange &rename)
{
    record.Mark(rename.from, PassRecord::kRenamedAway);
    record.Unmark(rename.from, PassRecord::kNameTaken);
    record.Mark(rename.to, PassRecord::kNameTaken);
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
    const int scanned = ScanDateFields(read.exif.dateText.c_str(), ':', ':', date);
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
    if (plan.rename && (record.MarksOf(plan.newPath) & PassRecord::kNameTaken) != 0) {
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
    if (IsValidCalendarTime(taken)) {
        plan.time = TimeChange{plan.newPath, taken, std::nullopt};
        if (read.stampError == 0)
            plan.time->accessTime =
                    timespec{read.stamp.accessedSeconds, read.stamp.accessedNanoseconds};
    }
    plan.datedSuccessfully = 1;
    return plan;
}

} // namespace kronvik
