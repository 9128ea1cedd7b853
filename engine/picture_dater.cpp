// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "picture_dater.h"

#include "exif_time_shift.h"
#include "file_services.h"
#include "pass_applier.h"
#include "planned_changes.h"

#include <algorithm>
#include <cerrno>
#include <utility>

namespace kronvik {

namespace {

const char *const kRenamedLine = "%4d-%02d-%02d %02d:%02d:%02d:    %s -> %s";
const char *const kExistsLine = "%4d-%02d-%02d %02d:%02d:%02d:    %s -> %s: File already exists!";
const char *const kRenameFailedLine = "%4d-%02d-%02d %02d:%02d:%02d:    %s -> %s: %s.";
const char *const kReplacedDuringRename = "Another file took its place during the rename";
const char *const kReplacedAndKept =
        "Another file took its place during the rename, and could not be given its name back";
const char *const kReplacedBeforeTime = "Another file took its place";

std::optional<FileIdentity> IdentityOf(const PictureRead &read)
{
    if (read.stampError != 0)
        return std::nullopt;
    return read.stamp.identity;
}

// A read made ahead stands for the picture only while the path names the same, unchanged file and
// nothing this pass did since can have touched it: a rename to or from the path, a shift of the
// file under another path. It must also be made for the hours the pass now shifts it by.
// `restamp` false takes the file as unchanged since the read: for a plan that is checked again at
// the picture's turn.
bool StillHolds(const PictureRead &ahead, const PassRecord &record, int adjustment, bool restamp)
{
    if (record.MarksOf(ahead.path) != 0)
        return false;
    const std::optional<FileIdentity> identity = IdentityOf(ahead);
    if (identity && record.ShiftedFile(*identity))
        return false;
    if (restamp) {
        FileStamp now;
        const int error = StampFile(ahead.path, now);
        if (error != ahead.stampError || (error == 0 && !(now == ahead.stamp)))
            return false;
    }
    return ahead.shiftHours == ShiftHoursFor(ahead.path, identity, record, adjustment);
}

// `kept`, when given, tells whether the read made ahead was kept.
PictureRead ReadAtTurn(PassApplier &applier, const std::string &path, const PassRecord &record,
                       int adjustment, std::optional<PictureRead> ahead, bool restamp = true,
                       bool *kept = nullptr)
{
    const bool holds =
            ahead && ahead->path == path && StillHolds(*ahead, record, adjustment, restamp);
    if (kept)
        *kept = holds;
    if (holds)
        return std::move(*ahead);
    // Read first as the pass most often needs it, then again if the file's identity says the
    // pass shifted it already.
    PictureRead read = applier.Read(path, ShiftHoursFor(path, std::nullopt, record, adjustment));
    const int hours = ShiftHoursFor(path, IdentityOf(read), record, adjustment);
    if (hours != read.shiftHours)
        read = applier.Read(path, hours);
    return read;
}

// Two plans of one picture from one read make the same changes (JournalChangesOf), the shift
// left out when `shifts` is false.
bool SameChanges(const PicturePlan &a, const PicturePlan &b, bool shifts = true)
{
    return a.outcome == b.outcome && a.rename == b.rename && a.time == b.time
           && (!shifts || a.shift == b.shift);
}

// The journal's rows for the changes of one picture: which change each row stands for, and
// whether it has been marked. A change is looked up by its kind (a picture has one of each).
class PictureJournal
{
public:
    PictureJournal(PassJournal *journal, std::size_t index)
        : m_journal(journal)
        , m_index(index)
    {
    }

    // Commits `changes` before any of them is made. Rows committed ahead for the picture stand
    // for them while they say the same; else they are abandoned.
    void Plan(const std::vector<JournalChange> &changes, const PlannedAhead *planned = nullptr)
    {
        if (!m_journal)
            return;
        if (planned) {
            if (SameChanges(planned->changes, changes)) {
                for (std::size_t i = 0; i < changes.size(); ++i)
                    m_rows.push_back({changes[i], planned->ids[i], false});
                return;
            }
            for (ChangeId id : planned->ids)
                m_journal->Abandon(id);
        }
        const std::vector<ChangeId> ids = m_journal->Plan(m_index, changes);
        for (std::size_t i = 0; i < changes.size(); ++i)
            m_rows.push_back({changes[i], ids[i], false});
    }

    // The rows planned ahead, as they are: their changes are the rows' from here on.
    void Take(PlannedAhead &planned)
    {
        for (std::size_t i = 0; i < planned.changes.size(); ++i)
            m_rows.push_back({std::move(planned.changes[i]), planned.ids[i], false});
        planned.changes.clear();
    }

    // After the shift: the changes still to make, as the picture is planned again from the file
    // the shift left. The rows planned first stand while they say the same; else they are
    // abandoned and these planned in their place.
    void Replan(const std::vector<JournalChange> &changes)
    {
        if (!m_journal)
            return;
        std::vector<JournalChange> open;
        for (const Row &row : m_rows)
            if (!row.marked)
                open.push_back(row.change);
        if (SameChanges(open, changes))
            return;
        AbandonOpen();
        Plan(changes);
    }

    void Done(ChangeKind kind) { Mark(kind, true); }
    void Abandon(ChangeKind kind) { Mark(kind, false); }

    // Commits the row of a write that no row planned before covers, at once. Its id, which is
    // marked by the caller alone; none without a journal.
    std::optional<ChangeId> Cover(const JournalChange &change)
    {
        if (!m_journal)
            return std::nullopt;
        return m_journal->Plan(m_index, {change}).at(0);
    }
    void Mark(ChangeId id, bool done)
    {
        if (done)
            m_journal->Done(id);
        else
            m_journal->Abandon(id);
    }

    // The changes that will not be made: the pass ends, or the plan did not hold.
    void AbandonOpen()
    {
        for (Row &row : m_rows)
            if (!row.marked) {
                row.marked = true;
                m_journal->Abandon(row.id);
            }
    }

private:
    struct Row
    {
        JournalChange change;
        ChangeId id;
        bool marked;
    };

    void Mark(ChangeKind kind, bool done)
    {
        const auto row = std::find_if(m_rows.begin(), m_rows.end(), [kind](const Row &r) {
            return !r.marked && r.change.kind == kind;
        });
        if (row == m_rows.end())
            return;
        row->marked = true;
        if (done)
            m_journal->Done(row->id);
        else
            m_journal->Abandon(row->id);
    }

    PassJournal *m_journal;
    std::size_t m_index;
    std::vector<Row> m_rows;
};

// Makes the plan's shift. Afterwards `read` describes the file as it is: the bytes the read moved
// in memory are the file's now, or the picture is read again. Unless it is the last try, a file
// that changed since it was read is left unwritten: true tells the caller to read and plan it
// again, so that the bytes written are the ones the journal holds.
bool MakeShift(PassApplier &applier, const ShiftChange &shift, PictureRead &read,
               PassRecord &record, const CalendarTime &now, PictureJournal &journal,
               AppliedChanges &applied, bool lastTry)
{
    const std::optional<FileIdentity> identity = IdentityOf(read);
    // The last try writes into a file that changed since its read: that write gets a row of its
    // own first, as every other change does.
    std::optional<ChangeId> cover;
    const UnforeseenShiftWrite coverWrite = [&](std::size_t offset, std::string_view before,
                                                std::string_view after) {
        cover = journal.Cover(UnforeseenShiftOf(shift, offset, before, after));
    };
    ShiftMade made;
    try {
        made = applier.Shift(shift, read, now, !lastTry, coverWrite);
    } catch (...) {
        // The pass ends here: nothing of the picture is made.
        journal.AbandonOpen();
        if (cover)
            journal.Mark(*cover, false);
        throw;
    }
    if (!lastTry && !made.asPlanned && made.outcome == ShiftMade::Outcome::NothingWritten) {
        journal.Abandon(ChangeKind::Shift);
        return true;
    }
    // The file the shift wrote is the one on the record. One passed over was not opened: the file
    // read may be gone, and its inode number given to a new file that was never shifted.
    const bool written = made.outcome == ShiftMade::Outcome::Written;
    NoteShift(record, shift.path,
              made.outcome == ShiftMade::Outcome::PassedOver ? std::nullopt
              : written && made.written                      ? std::optional(made.written->identity)
                                                             : identity);
    const bool holds = made.asPlanned || (!written && !read.pairOffset);
    if (written && made.asPlanned)
        journal.Done(ChangeKind::Shift);
    else
        journal.Abandon(ChangeKind::Shift);
    if (cover)
        journal.Mark(*cover, written);
    applied.shifted = written;
    applied.shiftAsPlanned = holds;
    if (!holds) {
        read = applier.Read(shift.path, 0);
        return false;
    }
    read.shiftHours = 0;
    read.pairOffset.reset();
    if (written) {
        applier.LearnShiftWritten(read, made.written);
        read.update.Keep(std::move(made.file));
    }
    return false;
}

// Makes the plan's rename and sets the time, in this order, and writes the outcome's line from
// what the rename really did.
void MakeRenameAndTime(DatingSession &session, PassApplier &applier, std::size_t index,
                       const PicturePlan &plan, const PictureRead &read, PassRecord &record,
                       const CalendarTime &now, PictureJournal &journal, AppliedChanges &applied)
{
    ProgramState &state = session.state;
    // The rename and the time set go by path: another program may swap or replace files between
    // the pass's look at the picture and either change, and neither may then reach another file.
    const std::optional<CheckedFile> checked =
            read.stampError == 0 ? std::optional(CheckedFileOf(read.stamp)) : std::nullopt;
    std::optional<PathHolds> holds;
    int error = plan.rename ? applier.Rename(*plan.rename) : 0;
    bool replaced = false;
    bool keptNewName = false;
    if (error == 0 && plan.rename && checked) {
        holds = applier.LookAgain(plan.rename->to, *checked);
        replaced = *holds == PathHolds::AnotherFile;
        // What the pass renamed was not its picture: it goes back to the name it had.
        if (replaced && applier.Rename(RenameChange{plan.rename->to, plan.rename->from}) != 0) {
            keptNewName = true;
            journal.Done(ChangeKind::Rename);
            NoteRename(record, *plan.rename);
        }
    }
    if (error != 0 || replaced) {
        journal.AbandonOpen();
        applied.renameError = error;
        applied.outcome = PictureOutcome::Refused;
        // Only a taken name is "File already exists!"; any other failure names its reason.
        session.log.AppendLogLine(
                error == EEXIST ? FormatLogLine(now, kExistsLine, plan.fileName.c_str(),
                                                plan.newName.c_str())
                                : FormatLogLine(now, kRenameFailedLine, plan.fileName.c_str(),
                                                plan.newName.c_str(),
                                                !replaced     ? SystemErrorText(error).c_str()
                                                : keptNewName ? kReplacedAndKept
                                                              : kReplacedDuringRename));
        ++state.datedUnsuccessfully;
        return;
    }
    if (plan.rename) {
        journal.Done(ChangeKind::Rename);
        NoteRename(record, *plan.rename);
    }
    applied.renamed = plan.rename.has_value();
    applied.outcome = PictureOutcome::Dated;
    state.pictureList[index] = plan.newPath;
    // A plan that dates the picture holds this line already, from the same moment.
    session.log.AppendLogLine(plan.outcome == PictureOutcome::Dated && !plan.line.empty()
                                      ? plan.line
                                      : FormatLogLine(now, kRenamedLine, plan.fileName.c_str(),
                                                      plan.newName.c_str()));
    // A call that fails is told to the front end; the picture still counts as dated.
    if (plan.time) {
        if (!holds && checked)
            holds = applier.LookAgain(plan.time->path, *checked);
        int timeError = 0;
        // After the look, the time goes through the read's open where it kept one: a file swapped
        // in since cannot get it.
        const TimeThrough through{holds ? HeldDescriptor(read) : -1, holds != PathHolds::TheFile};
        const bool set =
                holds != PathHolds::AnotherFile && applier.SetTime(*plan.time, through, timeError);
        if (set)
            journal.Done(ChangeKind::Time);
        else
            journal.Abandon(ChangeKind::Time);
        if (holds == PathHolds::AnotherFile)
            session.view.ReportTimeNotSet(plan.time->path, kReplacedBeforeTime);
        else if (!set && timeError != 0) {
            applied.timeError = timeError;
            session.view.ReportTimeNotSet(plan.time->path, SystemErrorText(timeError));
        }
    }
    journal.AbandonOpen();
    ++state.datedSuccessfully;
}

// Notes on `foreseen` what dating the picture at `path` as planned will do.
void Foresee(PassRecord &foreseen, const std::string &path, const PictureRead &read,
             const PicturePlan &plan, bool shiftedBefore)
{
    if (shiftedBefore || plan.shift)
        NoteShift(foreseen, path, IdentityOf(read));
    if (plan.rename && plan.outcome == PictureOutcome::Dated)
        NoteRename(foreseen, *plan.rename);
}

} // namespace

std::optional<std::size_t> PlannedBatch::Next() const
{
    if (!pictures.empty() && pictures.back().plan.outcome == PictureOutcome::PassEnds)
        return std::nullopt;
    return first + pictures.size();
}

void PlannedBatch::AwaitRows()
{
    std::vector<PassJournal::PictureRows> committed = rows.get();
    for (std::size_t i = 0; i < pictures.size() && i < committed.size(); ++i) {
        pictures[i].ids = std::move(committed[i].ids);
        pictures[i].changes = std::move(committed[i].changes);
    }
}

PlannedBatch PlanAhead(DatingSession &session, std::size_t first, std::size_t end,
                       PassRecord &record, PictureReadAhead &ahead, PassJournal &journal,
                       const PlannedBatch *before)
{
    PassApplier &applier = session.applier ? *session.applier : FileSystemApplier();
    const CalendarTime now = ReadLogTime(session.clock);
    const int adjustment = session.timeAdjust;
    // What the pass will have done by each picture's turn, if all goes as planned: noted on the
    // record for the batch, and taken back after it.
    PassRecord &foreseen = record;
    const RecordTrial trial(record);
    if (before) {
        for (std::size_t k = 0; k < before->pictures.size(); ++k) {
            const PlannedAhead &earlier = before->pictures[k];
            if (earlier.read)
                Foresee(foreseen, session.state.pictureList[before->first + k], *earlier.read,
                        earlier.plan, earlier.shiftedBefore.has_value());
        }
    }
    PlannedBatch planned;
    planned.first = first;
    planned.pictures.reserve(end - first);
    std::vector<std::pair<std::size_t, std::vector<JournalChange>>> batch;
    batch.reserve(end - first);
    for (std::size_t index = first; index < end; ++index) {
        const std::string &path = session.state.pictureList[index];
        PictureRead read =
                ReadAtTurn(applier, path, foreseen, adjustment, ahead.Take(index), false);
        std::optional<ShiftedBefore> shiftedBefore;
        if (!session.reshift)
            shiftedBefore = journal.EarlierShiftOf(read);
        if (shiftedBefore) {
            NoteShift(foreseen, path, IdentityOf(read));
            read = applier.Read(path, 0);
        }
        PicturePlan plan =
                PlanPicture(read, foreseen, std::string(), adjustment, now, shiftedBefore, false);
        if (plan.outcome == PictureOutcome::PassEnds) {
            // Nothing after it is reached.
            PlannedAhead &ends = planned.pictures.emplace_back();
            ends.read = std::move(read);
            ends.plan = std::move(plan);
            ends.shiftedBefore = std::move(shiftedBefore);
            batch.emplace_back(index, std::vector<JournalChange>{});
            break;
        }
        Foresee(foreseen, path, read, plan, false);
        // The changes come back with their rows (AwaitRows).
        batch.emplace_back(index, JournalChangesOf(read, plan, FactsOf(read)));
        // Filled in place: a read and a plan hold many strings, short ones copied even by a move.
        PlannedAhead &entry = planned.pictures.emplace_back();
        entry.read = std::move(read);
        entry.plan = std::move(plan);
        entry.shiftedBefore = std::move(shiftedBefore);
    }
    planned.rows = journal.PlanBatch(std::move(batch));
    return planned;
}

// How often a picture that changes between its read and its shift is read again before the shift
// goes by what the file holds at that moment.
constexpr int kShiftTries = 3;

AppliedChanges DatePicture(DatingSession &session, std::size_t index, PassRecord &record,
                           std::optional<PictureRead> ahead, PassJournal *journal,
                           PlannedAhead *planned)
{
    ProgramState &state = session.state;
    PassApplier &applier = session.applier ? *session.applier : FileSystemApplier();
    const std::string path = state.pictureList.at(index);
    // One reading of the clock for every line of the picture, taken before the shift.
    const CalendarTime now = ReadLogTime(session.clock);
    const int adjustment = session.timeAdjust;

    // A read made ahead that found a date pair to shift is planned with its shift: its hours still
    // hold, and a picture that a journaled shift left as it is was read again without them when
    // it was planned ahead (PlanAhead). The shift opens the file first and takes it as changed
    // when its status is not the read's (PlannedShift::stamp): no look by path before. A file that
    // the shift finds missing or no regular file has its pair read again (MakeShift). Any other
    // read made ahead is checked here.
    const bool shiftChecks =
            ahead && ahead->shiftHours != 0 && ahead->pairOffset && ahead->stampError == 0;
    bool readAsPlanned = false;
    PictureRead read = ReadAtTurn(applier, path, record, adjustment, std::move(ahead), !shiftChecks,
                                  &readAsPlanned);
    readAsPlanned = readAsPlanned && planned;
    std::optional<ShiftedBefore> shiftedBefore;
    PicturePlan plan;
    const auto decide = [&] {
        // A date pair that still holds what a journaled shift by these hours wrote is not moved
        // again: the picture is dated from its dates as they are. The read the plan was made
        // from was looked up then; the pass's own shifts since are on its record.
        if (readAsPlanned)
            shiftedBefore = planned->shiftedBefore;
        else if (journal && !session.reshift)
            shiftedBefore = journal->EarlierShiftOf(read);
        else if (session.journal && !session.reshift)
            shiftedBefore = FindShiftedBefore(*session.journal, read);
        if (shiftedBefore) {
            NoteShift(record, path, IdentityOf(read));
            read = applier.Read(path, 0);
        }
        plan = PlanPicture(read, record, state.lastDirectory, adjustment, now, shiftedBefore);
    };
    decide();
    AppliedChanges applied;

    // The changes are made here, in the order of the plan: the shift, the rename, the time, each
    // committed to the journal before it is made and marked after.
    PictureJournal rows(journal, index);
    FileFacts facts = journal ? FactsOf(read) : FileFacts{};
    if (journal) {
        // The same read decided alike gives the same changes: the rows planned ahead stand.
        if (readAsPlanned && SameChanges(plan, planned->plan))
            rows.Take(*planned);
        else
            rows.Plan(JournalChangesOf(read, plan, facts), planned);
    }
    // A picture that cannot be written ends the pass here, with a FileError.
    for (int tries = 1;
         plan.shift
         && MakeShift(applier, *plan.shift, read, record, now, rows, applied, tries == kShiftTries);
         ++tries) {
        // What the file holds now may be a pair that a journaled shift left, or a file this pass
        // shifted already under another name: read for the hours it is now due.
        readAsPlanned = false;
        shiftedBefore.reset();
        read = ReadAtTurn(applier, path, record, adjustment, std::nullopt);
        decide();
        if (journal) {
            facts = FactsOf(read);
            rows.Replan(JournalChangesOf(read, plan, facts));
        }
    }
    if (plan.shift) {
        // The rest of the plan, from the file as the shift left it. The open rows stand for it
        // while it renames and sets the time alike.
        PicturePlan rest = PlanPicture(read, record, state.lastDirectory, adjustment, now);
        if (journal && !SameChanges(rest, plan, false))
            rows.Replan(JournalChangesOf(read, rest, facts));
        applied.plan = std::exchange(plan, std::move(rest));
    }

    if (plan.directoryLine) {
        state.lastDirectory = plan.directory;
        session.log.AppendLogLine(*plan.directoryLine);
    }
    if (plan.shiftedBeforeLine)
        session.log.AppendLogLine(*plan.shiftedBeforeLine);
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
        MakeRenameAndTime(session, applier, index, plan, read, record, now, rows, applied);
        break;
    }
    if (journal)
        rows.AbandonOpen();
    // Without a shift the plan is still the first: it goes with the outcome, not a copy of it.
    if (!applied.plan.shift)
        applied.plan = std::move(plan);
    return applied;
}

} // namespace kronvik
