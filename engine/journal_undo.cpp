// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "journal_undo.h"

#include "rename_trail.h"

#include "file_services.h"
#include "file_state.h"
#include "journal_recovery.h"
#include "locked_file.h"
#include "path_names.h"
#include "picture_file.h"
#include "picture_reader.h"
#include "same_file.h"

#include <algorithm>
#include <cerrno>
#include <unistd.h>

namespace kronvik {

namespace {

const char *const kDirectoryLine =
        "%4d-%02d-%02d %02d:%02d:%02d: Processing digital pictures in %s...";
const char *const kRestoredLine = "%4d-%02d-%02d %02d:%02d:%02d:    %s -> %s";
const char *const kLeftLine = "%4d-%02d-%02d %02d:%02d:%02d:    %s left as it is; %s.";
const char *const kRestoredSummary = "%4d-%02d-%02d %02d:%02d:%02d: Digital pictures restored: %d";
const char *const kLeftSummary =
        "%4d-%02d-%02d %02d:%02d:%02d: Digital pictures left as they are: %d";

// The done changes of one picture, in the order the pass made them: shift, rename, time.
struct PictureChanges
{
    const ChangeRecord *shift = nullptr;
    const ChangeRecord *rename = nullptr;
    const ChangeRecord *time = nullptr;
    PassId pass = 0;
    std::vector<ChangeId> ids;
};

std::vector<PictureChanges> GroupByPicture(const std::vector<ChangeRecord> &changes)
{
    std::vector<PictureChanges> pictures;
    std::int64_t current = -1;
    for (const ChangeRecord &record : changes) {
        if (pictures.empty() || record.picture != current) {
            pictures.emplace_back();
            current = record.picture;
        }
        PictureChanges &picture = pictures.back();
        picture.pass = record.pass;
        picture.ids.push_back(record.id);
        switch (record.change.kind) {
        case ChangeKind::Shift:
            picture.shift = &record;
            break;
        case ChangeKind::Rename:
            picture.rename = &record;
            break;
        case ChangeKind::Time:
            picture.time = &record;
            break;
        }
    }
    return pictures;
}

std::string NameOf(const std::string &path)
{
    return path.substr(path.rfind(kPathSeparator) + 1);
}

std::string DirectoryPartOf(const std::string &path)
{
    const auto split = path.rfind(kPathSeparator);
    return split == std::string::npos ? std::string() : path.substr(0, split + 1);
}

// Takes back one picture at a time, journaled as a pass of its own.
class PictureRestorer
{
public:
    PictureRestorer(Journal &journal, UndoSession &session, RenameTrail &trail)
        : m_journal(journal)
        , m_session(session)
        , m_trail(trail)
    {
    }

    void Restore(const PictureChanges &picture);

    int restored = 0;
    int left = 0;

private:
    void Line(const char *format, const std::string &first, const std::string &second);
    void Left(const std::string &path, const std::string &why);
    // Why the file at `path` is not the one the pass left there; empty when it is.
    std::string Changed(const PictureChanges &picture, const std::string &path, FileState &state);

    Journal &m_journal;
    UndoSession &m_session;
    RenameTrail &m_trail;
    std::string m_lastDirectory;
};

void PictureRestorer::Line(const char *format, const std::string &first, const std::string &second)
{
    m_session.log.AppendLogLine(
            FormatLogLine(ReadLogTime(m_session.clock), format, first.c_str(), second.c_str()));
}

void PictureRestorer::Left(const std::string &path, const std::string &why)
{
    Line(kLeftLine, path, why);
    ++left;
}

std::string PictureRestorer::Changed(const PictureChanges &picture, const std::string &path,
                                     FileState &state)
{
    const ChangeRecord &any = picture.rename  ? *picture.rename
                              : picture.shift ? *picture.shift
                                              : *picture.time;
    switch (m_trail.Follow(path)) {
    case RenameTrail::Fate::StaysThere:
        break;
    case RenameTrail::Fate::RenamedSince:
        return "it was renamed since";
    case RenameTrail::Fate::NameGivenToAnother:
        return "another file was given its name since";
    }
    FileState entry;
    if (ReadFileState(path, entry, false) != 0 || ReadFileState(path, state) != 0)
        return "it is no longer there";
    if (!state.regular)
        return "it is no longer a regular file";
    if (state.size != any.change.size)
        return "its size changed since";
    const std::string &uuid = any.change.fileSystemUuid;
    if (!uuid.empty()) {
        const std::string now = FileSystemUuid(state.identity.device);
        if (!now.empty() && now != uuid)
            return "it is on another file system";
    }
    if (picture.time && !SameModificationTime(state.modified, picture.time->change.timeAfter, path))
        return "it was modified since";
    if (picture.shift) {
        const JournalChange &shift = picture.shift->change;
        std::string found(kShiftedPairBytes, '\0');
        PictureFile file;
        if (file.Open(path) != 0
            || file.ReadAt(shift.offset, found.data(), found.size())
                       != static_cast<std::int64_t>(found.size())
            || found != shift.bytesAfter)
            return "its EXIF dates changed since";
    }
    return {};
}

void PictureRestorer::Restore(const PictureChanges &picture)
{
    const JournalChange *rename = picture.rename ? &picture.rename->change : nullptr;
    const JournalChange *shift = picture.shift ? &picture.shift->change : nullptr;
    const JournalChange *time = picture.time ? &picture.time->change : nullptr;
    const std::string endPath = rename ? rename->newPath : shift ? shift->path : time->path;
    const std::string oldPath = rename ? rename->path : endPath;

    const std::string directory = DirectoryPartOf(oldPath);
    if (directory != m_lastDirectory) {
        m_lastDirectory = directory;
        const std::string shown =
                directory.empty() ? directory : directory.substr(0, directory.size() - 1);
        m_session.log.AppendLogLine(
                FormatLogLine(ReadLogTime(m_session.clock), kDirectoryLine, shown.c_str()));
    }
    m_session.view.SetStatusLabel(StatusLabel::File, endPath);

    FileState state;
    if (const std::string why = Changed(picture, endPath, state); !why.empty())
        return Left(endPath, why);

    // Opened before anything changes, so that a file that cannot be written keeps its name too.
    LockedFile file;
    if (shift) {
        std::string found(kShiftedPairBytes, '\0');
        if (const int error = file.OpenExistingForUpdate(endPath))
            return Left(endPath, "it cannot be written (" + SystemErrorText(error) + ")");
        if (file.ReadAt(found.data(), found.size(), static_cast<off_t>(shift->offset))
                    != static_cast<ssize_t>(found.size())
            || found != shift->bytesAfter)
            return Left(endPath, "its EXIF dates changed since");
    }
    const std::int64_t modifiedBefore = shift ? shift->timeBefore : time ? time->timeBefore : 0;
    // The time goes through an open of the file checked, as in a pass: no file put in its place
    // after the look at its name can get it.
    HeldForTime held;
    if (!shift && time) {
        PictureFile opened;
        FileStamp stamp;
        if (opened.Open(endPath, &stamp) == 0 && stamp.identity == state.identity)
            held.Adopt(opened.Release());
    }

    // Write-ahead, as a pass: the changes of the undo are in the journal before they are made.
    PlannedPicture plan;
    if (rename)
        plan.changes.push_back(JournalChange::Rename(endPath, oldPath, state.size, state.identity));
    if (shift)
        plan.changes.push_back(JournalChange::Shift(oldPath, state.size, shift->offset,
                                                    shift->bytesAfter, shift->bytesBefore,
                                                    -shift->hours, state.modified, state.identity));
    if (shift || time)
        plan.changes.push_back(JournalChange::Time(oldPath, state.size, state.modified,
                                                   modifiedBefore, state.identity));
    const std::vector<ChangeId> ids = m_journal.PlanBatch({plan});
    std::size_t next = 0;
    const ChangeId renameId = rename ? ids[next++] : 0;
    const ChangeId shiftId = shift ? ids[next++] : 0;
    const ChangeId timeId = (shift || time) ? ids[next++] : 0;

    // The rename and the time set go by path, after the look at the file: another program may
    // swap files meanwhile, and neither change may then reach another file.
    std::optional<PathHolds> holds;
    if (rename) {
        if (const int error = RenameNoReplace(endPath, oldPath)) {
            for (ChangeId id : ids)
                m_journal.MarkAbandoned(id);
            return Left(endPath, error == EEXIST
                                         ? "its old name " + NameOf(oldPath) + " is taken"
                                         : "it cannot be renamed (" + SystemErrorText(error) + ")");
        }
        holds = LookAgain(oldPath, CheckedFileOf(state));
        if (*holds == PathHolds::AnotherFile) {
            // What was renamed was not the picture: it goes back to the name it had.
            const bool back = RenameNoReplace(oldPath, endPath) == 0;
            m_journal.Mark(renameId, back ? ChangeState::Abandoned : ChangeState::Done);
            m_journal.MarkAbandoned(shiftId);
            m_journal.MarkAbandoned(timeId);
            return Left(endPath, back ? "another file took its place during the rename"
                                      : "another file took its place during the rename, and "
                                        "could not be given its name back");
        }
        m_journal.MarkDone(renameId);
    } else if (!shift) {
        holds = LookAgain(oldPath, CheckedFileOf(state));
    }
    if (shift) {
        int error = file.WriteAt(shift->bytesBefore.data(), shift->bytesBefore.size(),
                                 static_cast<off_t>(shift->offset));
        if (error == 0 && timeId != 0)
            held.Adopt(dup(file.Descriptor()));
        const int closeError = file.Close();
        if (error == 0)
            error = closeError;
        if (error != 0) {
            // Whole or not at all: the file gets its pass name back.
            if (rename)
                m_journal.Mark(renameId, RenameNoReplace(oldPath, endPath) == 0
                                                 ? ChangeState::TakenBack
                                                 : ChangeState::Done);
            m_journal.MarkAbandoned(shiftId);
            m_journal.MarkAbandoned(timeId);
            return Left(endPath, "it cannot be written (" + SystemErrorText(error) + ")");
        }
        m_journal.MarkDone(shiftId);
    }
    if (timeId != 0 && holds == PathHolds::AnotherFile) {
        m_session.view.ReportTimeNotSet(oldPath, "Another file took its place");
        m_journal.MarkAbandoned(timeId);
    } else if (timeId != 0) {
        if (const int error =
                    SetModificationTime(oldPath, modifiedBefore, holds != PathHolds::TheFile,
                                        holds ? held.Descriptor() : -1)) {
            // As in a pass: a time that cannot be set is a warning, not a picture left.
            m_session.view.ReportTimeNotSet(oldPath, SystemErrorText(error));
            m_journal.MarkAbandoned(timeId);
        } else {
            m_journal.MarkDone(timeId);
        }
    }
    // From the last: the pictures come from the last too, so the marks form one run.
    for (auto id = picture.ids.rbegin(); id != picture.ids.rend(); ++id)
        m_journal.MarkTakenBack(*id, picture.pass);
    if (rename)
        Line(kRestoredLine, NameOf(endPath), NameOf(oldPath));
    ++restored;
}

// Undone, and nothing of it left to take back.
bool IsUndone(Journal &journal, const JournaledPass &pass)
{
    return pass.undone != 0 && journal.CountDoneChanges(pass.id).pictures == 0;
}

} // namespace

UndoResult FindPassToUndo(Journal &journal, std::optional<PassId> pass)
{
    UndoResult result;
    const std::optional<JournaledPass> target =
            pass ? journal.FindPass(*pass) : journal.LastUndoablePass();
    result.pass = pass.value_or(0);
    if (!target) {
        result.outcome = pass ? UndoOutcome::UnknownPass : UndoOutcome::NoPass;
        return result;
    }
    result.pass = target->id;
    if (target->undoes != 0) {
        result.outcome = UndoOutcome::IsAnUndo;
    } else if (IsUndone(journal, *target)) {
        result.outcome = UndoOutcome::AlreadyUndone;
        result.undone = target->undone;
    }
    return result;
}

UndoResult UndoPass(Journal &journal, std::optional<PassId> pass, UndoSession &session,
                    LockWaiter &waiter)
{
    UndoResult result = FindPassToUndo(journal, pass);
    if (result.outcome != UndoOutcome::Undone)
        return result;
    // Another run's end prunes the oldest kept pass at any moment: one gone is not known any more.
    const auto pruned = [&result] {
        result.outcome = UndoOutcome::UnknownPass;
        return result;
    };
    std::optional<JournaledPass> target = journal.FindPass(result.pass);
    if (!target)
        return pruned();

    // No run may work in these folders meanwhile, nor in those the pass reached through links;
    // what a killed run left there goes first.
    const std::vector<std::string> changedFolders =
            FoldersOfChanges(journal.Changes(target->id, ChangeState::Done));
    SourceLocks locks;
    if (!locks.Take(target->sources, waiter)
        || !HoldFoldersToRecover(journal, locks, waiter, changedFolders)) {
        result.outcome = UndoOutcome::WaitEnded;
        return result;
    }
    RecoverUnfinishedPasses(journal, locks.Folders(), session.clock, session.log);
    // Another undo may have run while this one waited.
    target = journal.FindPass(target->id);
    if (!target)
        return pruned();
    if (IsUndone(journal, *target)) {
        result.outcome = UndoOutcome::AlreadyUndone;
        result.undone = target->undone;
        return result;
    }
    if (target->ended == 0) {
        result.outcome = UndoOutcome::StillRunning;
        return result;
    }

    // The pass still there after its changes were read: they were read whole, before any prune.
    std::vector<ChangeRecord> done = journal.Changes(target->id, ChangeState::Done);
    if (!journal.FindPass(target->id))
        return pruned();
    // In the pictures' order: one planned again after the pictures that follow it (its batch's
    // plan no longer held) has rows after theirs, but was changed before them.
    std::stable_sort(done.begin(), done.end(), [](const ChangeRecord &a, const ChangeRecord &b) {
        return a.picture < b.picture;
    });
    journal.BeginPass(
            {session.frontEnd, target->sources, target->timeAdjust, target->recurse, target->id});
    const std::vector<PictureChanges> pictures = GroupByPicture(done);
    const auto count = static_cast<int>(pictures.size());
    session.cancel = false;
    session.view.SetStatusLabel(StatusLabel::Caption, "Restoring:");
    session.view.SetStatusLabel(StatusLabel::Of, "of");
    session.view.SetStatusLabel(StatusLabel::Total, std::to_string(count));
    // None yet: the row still shows the pass before otherwise, and an undo of no picture ends so.
    session.view.SetStatusLabel(StatusLabel::Current, "0");
    session.view.SetStatusLabel(StatusLabel::Percent, "0%");
    session.view.SetProgressPosition(0);
    // The renames of the passes since, read before the undo's own.
    const auto first = std::min_element(
            done.begin(), done.end(),
            [](const ChangeRecord &a, const ChangeRecord &b) { return a.id < b.id; });
    RenameTrail trail(journal, target->id, first == done.end() ? 0 : first->id - 1);
    PictureRestorer restorer(journal, session, trail);
    // The last picture first: a name the pass freed by a later rename is free again before an
    // earlier picture wants it back.
    for (int i = 0; i < count && !session.cancel; ++i) {
        restorer.Restore(pictures[static_cast<std::size_t>(count - 1 - i)]);
        journal.NoteCounters(restorer.restored, restorer.left);
        const int percent = static_cast<int>(static_cast<double>(i + 1) / count * 100.0);
        session.view.SetProgressPosition(percent);
        session.view.SetStatusLabel(StatusLabel::Percent, FormatText("%d%%", percent));
        session.view.SetStatusLabel(StatusLabel::Current, std::to_string(i + 1));
        if (!session.view.DrainMessages())
            session.cancel = true;
    }
    result.cancelled = session.cancel && restorer.restored + restorer.left < count;
    result.restored = restorer.restored;
    result.left = restorer.left;

    const CalendarTime now = ReadLogTime(session.clock);
    session.log.AppendLogLine(FormatLogLine(now, kRestoredSummary, result.restored));
    session.log.AppendLogLine(FormatLogLine(now, kLeftSummary, result.left));
    journal.EndPass({result.restored, result.left,
                     result.cancelled ? PassOutcome::Cancelled : PassOutcome::Finished});
    return result;
}

std::string UndoRefusal(const UndoResult &result)
{
    const std::string pass = "pass " + std::to_string(result.pass);
    switch (result.outcome) {
    case UndoOutcome::Undone:
    case UndoOutcome::WaitEnded:
        return {};
    case UndoOutcome::NoPass:
        return "the journal holds no dating pass to undo.";
    case UndoOutcome::UnknownPass:
        return "there is no " + pass + " in the journal.";
    case UndoOutcome::IsAnUndo:
        return pass + " is itself an undo; it cannot be undone.";
    case UndoOutcome::AlreadyUndone:
        return pass + " was already undone on " + JournalTimeText(result.undone) + ".";
    case UndoOutcome::StillRunning:
        return pass + " is still running.";
    }
    return {};
}

std::string DescribeUndo(const JournaledPass &pass, const PassChangeCounts &counts, int unfinished)
{
    std::string text = "Take back the dating pass of " + JournalTimeText(pass.started) + " in "
                       + pass.sources + "?\n\n";
    text += counts.pictures == 1
                    ? FormatText("1 picture gets back its name (%d), its EXIF dates (%d) and its "
                                 "modification time (%d).",
                                 counts.renames, counts.shifts, counts.times)
                    : FormatText("%d pictures get back their names (%d), their EXIF dates (%d) "
                                 "and their modification times (%d).",
                                 counts.pictures, counts.renames, counts.shifts, counts.times);
    if (unfinished == 1)
        text += "\n\nAn unfinished pass over these folders is rolled back first.";
    else if (unfinished > 1)
        text += FormatText("\n\n%d unfinished passes over these folders are rolled back first.",
                           unfinished);
    return text;
}

} // namespace kronvik
