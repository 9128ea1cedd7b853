// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "picture_dater.h"

#include "exif_time_shift.h"
#include "file_services.h"

#include <cerrno>

namespace kronvik {

namespace {

const char *const kRenamedLine = "%4d-%02d-%02d %02d:%02d:%02d:    %s -> %s";
const char *const kExistsLine = "%4d-%02d-%02d %02d:%02d:%02d:    %s -> %s: File already exists!";
const char *const kRenameFailedLine = "%4d-%02d-%02d %02d:%02d:%02d:    %s -> %s: %s.";

std::optional<FileIdentity> IdentityOf(const PictureRead &read)
{
    if (read.stampError != 0)
        return std::nullopt;
    return read.stamp.identity;
}

// A read made ahead stands for the picture only while the path names the same, unchanged file and
// nothing this pass did since can have touched it: a rename to or from the path, a shift of the
// file under another path. It must also be made for the hours the pass now shifts it by.
bool StillHolds(const PictureRead &ahead, const PassRecord &record, int adjustment)
{
    if (record.renamedAway.count(ahead.path) || record.namesTaken.count(ahead.path)
        || record.shiftedPaths.count(ahead.path))
        return false;
    const std::optional<FileIdentity> identity = IdentityOf(ahead);
    if (identity && record.shiftedFiles.count(*identity))
        return false;
    FileStamp now;
    const int error = StampFile(ahead.path, now);
    if (error != ahead.stampError || (error == 0 && !(now == ahead.stamp)))
        return false;
    return ahead.shiftHours == ShiftHoursFor(ahead.path, identity, record, adjustment);
}

PictureRead ReadAtTurn(const std::string &path, const PassRecord &record, int adjustment,
                       std::optional<PictureRead> ahead)
{
    if (ahead && ahead->path == path && StillHolds(*ahead, record, adjustment))
        return std::move(*ahead);
    // Read first as the pass most often needs it, then again if the file's identity says the
    // pass shifted it already.
    PictureRead read = ReadPicture(path, ShiftHoursFor(path, std::nullopt, record, adjustment));
    const int hours = ShiftHoursFor(path, IdentityOf(read), record, adjustment);
    if (hours != read.shiftHours)
        read = ReadPicture(path, hours);
    return read;
}

// Makes the plan's shift. Afterwards `read` describes the file as it is: the bytes the read moved
// in memory are the file's now, or the picture is read again.
void MakeShift(const ShiftChange &shift, PictureRead &read, PassRecord &record,
               AppliedChanges &applied)
{
    const ShiftMade made = ShiftExifTime(
            shift.path, shift.hours, PlannedShift{std::move(read.head), shift.offset, shift.pair});
    NoteShift(record, shift.path, IdentityOf(read));
    const bool written = made.outcome == ShiftMade::Outcome::Written;
    const bool holds = made.asPlanned || (!written && !read.pairOffset);
    applied.shifted = written;
    applied.shiftAsPlanned = holds;
    if (!holds) {
        read = ReadPicture(shift.path, 0);
        return;
    }
    read.shiftHours = 0;
    read.pairOffset.reset();
    if (written) {
        // The write gave the file a new modification time.
        read.stampError = StampFile(read.path, read.stamp);
        read.lastWriteKnown =
                read.stampError == 0 && LocalModificationTime(read.stamp, read.lastWrite);
        read.twoSecondTimes.reset();
        LearnTwoSecondTimes(read);
    }
}

// Makes the plan's rename and sets the time, in this order, and writes the outcome's line from
// what the rename really did.
void MakeRenameAndTime(DatingSession &session, std::size_t index, const PicturePlan &plan,
                       PassRecord &record, const CalendarTime &now, AppliedChanges &applied)
{
    ProgramState &state = session.state;
    if (const int error = plan.rename ? RenameNoReplace(plan.rename->from, plan.rename->to) : 0) {
        applied.renameError = error;
        applied.outcome = PictureOutcome::Refused;
        // Only a taken name is "File already exists!"; any other failure names its reason.
        session.log.AppendLogLine(
                error == EEXIST
                        ? FormatLogLine(now, kExistsLine, plan.fileName.c_str(),
                                        plan.newName.c_str())
                        : FormatLogLine(now, kRenameFailedLine, plan.fileName.c_str(),
                                        plan.newName.c_str(), SystemErrorText(error).c_str()));
        ++state.datedUnsuccessfully;
        return;
    }
    if (plan.rename)
        NoteRename(record, *plan.rename);
    applied.renamed = plan.rename.has_value();
    applied.outcome = PictureOutcome::Dated;
    state.pictureList[index] = plan.newPath;
    session.log.AppendLogLine(
            FormatLogLine(now, kRenamedLine, plan.fileName.c_str(), plan.newName.c_str()));
    // A call that fails is told to the front end; the picture still counts as dated.
    int timeError = 0;
    if (plan.time && !SetLastWriteTime(plan.time->path, plan.time->time, &timeError)
        && timeError != 0) {
        applied.timeError = timeError;
        session.view.ReportTimeNotSet(plan.time->path, SystemErrorText(timeError));
    }
    ++state.datedSuccessfully;
}

} // namespace

AppliedChanges DatePicture(DatingSession &session, std::size_t index, PassRecord &record,
                           std::optional<PictureRead> ahead)
{
    ProgramState &state = session.state;
    const std::string path = state.pictureList.at(index);
    // One reading of the clock for every line of the picture, taken before the shift.
    const CalendarTime now = ReadLogTime(session.clock);
    const int adjustment = session.timeAdjust;

    PictureRead read = ReadAtTurn(path, record, adjustment, std::move(ahead));
    PicturePlan plan = PlanPicture(read, record, state.lastDirectory, adjustment, now);
    AppliedChanges applied;
    applied.plan = plan;

    // The changes are made here, in the order of the plan: the shift, the rename, the time. This
    // is where each one would be journaled before it is made and marked done after.
    if (plan.shift) {
        // A picture that cannot be written ends the pass here, with a FileError.
        MakeShift(*plan.shift, read, record, applied);
        // The rest of the plan, from the file as the shift left it.
        plan = PlanPicture(read, record, state.lastDirectory, adjustment, now);
    }

    if (plan.directoryLine) {
        state.lastDirectory = plan.directory;
        session.log.AppendLogLine(*plan.directoryLine);
    }
    applied.outcome = plan.outcome;
    switch (plan.outcome) {
    case PictureOutcome::PassEnds: // not after the shift: it ended the pass, or it was made
    case PictureOutcome::AlreadyDated:
        break;
    case PictureOutcome::Unreadable:
    case PictureOutcome::NoExif:
    case PictureOutcome::BadDate:
        session.log.AppendLogLine(plan.line);
        break;
    case PictureOutcome::Dated:
    case PictureOutcome::Refused: // planned from the pass's record; the rename itself decides
        MakeRenameAndTime(session, index, plan, record, now, applied);
        break;
    }
    return applied;
}

} // namespace kronvik
