// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "directory_listing.h"
#include "journal_store.h"
#include "log_clock.h"
#include "running_pass_mark.h"
#include "shift_keys.h"

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace kronvik {

class RenameTrail;

// The journal records every change a dating pass makes, before it makes it, so that a killed
// pass can be rolled back (journal_recovery.h) and a whole pass taken back (journal_undo.h).
//
// How a pass uses it:
//   BeginPass                        one row for the pass
//   PlanBatch(pictures)              the changes of the next pictures, committed before any of
//                                    them reaches the disk (write-ahead)
//   make each change, then MarkDone  (or MarkAbandoned when its plan no longer holds and the
//                                    picture is planned again); the marks wait in memory and
//                                    ride in the next PlanBatch's transaction, so a batch costs
//                                    one commit
//   EndPass(counters, outcome)       commits the last marks with the pass's end
// A change that was planned and not marked done when the process died is taken back by the
// recovery of the next pass or undo over its folders.

using PassId = std::int64_t;
using ChangeId = std::int64_t;

enum class JournalFrontEnd { Window, Cli };

enum class PassOutcome {
    Running, // no end yet: under way, or killed before its end
    Finished,
    Cancelled, // the window closed, Ctrl-C or a signal, between two pictures
    FileError,
    Interrupted, // it never ended; the recovery of a later run closed it
};

enum class ChangeKind { Shift = 1, Rename = 2, Time = 3 };

enum class ChangeState {
    Planned = 0, // committed before it reaches the disk
    Done = 1,
    Abandoned = 2, // planned, but its plan no longer held, or it was found never made
    TakenBack = 3, // by recovery or undo
};

// The date pair a shift rewrites: two 20-byte date strings.
inline constexpr std::size_t kShiftedPairBytes = 40;

// One change to one picture file, in the journal's terms. Times are nanoseconds since the epoch.
struct JournalChange
{
    ChangeKind kind = ChangeKind::Time;
    // The file: for a shift where its bytes are written, for a time where it is set, for a
    // rename its old full path.
    std::string path;
    std::string newPath; // a rename's new full path
    std::uint64_t size = 0; // the file's size
    std::uint64_t offset = 0; // where a shift writes
    std::string bytesBefore; // a shift's 40 bytes before and after
    std::string bytesAfter;
    int hours = 0; // a shift's time adjustment
    // A shift: the file's modification time before the pass touched it. A time: before it is set.
    std::int64_t timeBefore = 0;
    std::int64_t timeAfter = 0; // a time: the one set
    // Hints only: FAT and exFAT number files per mount, and a card put back gets a new device.
    FileIdentity identity;
    std::string fileSystemUuid; // where the mount has one

    static JournalChange Shift(std::string path, std::uint64_t size, std::uint64_t offset,
                               std::string bytesBefore, std::string bytesAfter, int hours,
                               std::int64_t modifiedBefore, FileIdentity identity = {});
    static JournalChange Rename(std::string from, std::string to, std::uint64_t size,
                                FileIdentity identity = {});
    static JournalChange Time(std::string path, std::uint64_t size, std::int64_t before,
                              std::int64_t after, FileIdentity identity = {});
};

// The changes of one picture, in the order they are made.
struct PlannedPicture
{
    std::vector<JournalChange> changes;
    // The picture's number within its pass, which orders the pictures for an undo: a dating pass
    // gives its list index, so that a picture planned again after the pictures that follow it
    // keeps its place. Below 0: the number after the last one given.
    std::int64_t picture = -1;
};

struct PassStart
{
    JournalFrontEnd frontEnd = JournalFrontEnd::Cli;
    std::string sources; // the source directory list, as given
    int timeAdjust = 0;
    bool recurse = true;
    PassId undoes = 0; // an undo names the pass it takes back
};

struct PassEnd
{
    // For an undo: the pictures restored and those left as they are.
    std::int32_t datedSuccessfully = 0;
    std::int32_t datedUnsuccessfully = 0;
    PassOutcome outcome = PassOutcome::Finished;
};

struct JournaledPass
{
    PassId id = 0;
    std::int64_t started = 0; // seconds since the epoch, as the run log's clock read them
    std::int64_t ended = 0; // 0 while it has no end
    JournalFrontEnd frontEnd = JournalFrontEnd::Cli;
    std::string sources;
    int timeAdjust = 0;
    bool recurse = true;
    std::int32_t datedSuccessfully = 0;
    std::int32_t datedUnsuccessfully = 0;
    PassOutcome outcome = PassOutcome::Running;
    PassId undoes = 0;
    std::int64_t undone = 0; // when an undo of it finished; 0 when none has
    PassId undoneBy = 0;
    std::int64_t process = 0; // hints of the process that ran it
    std::string processStamp;
};

struct ChangeRecord
{
    ChangeId id = 0;
    PassId pass = 0;
    std::int64_t picture = 0; // changes of one picture share it
    ChangeState state = ChangeState::Planned;
    JournalChange change;
};

// How many changes of each kind a pass has made and not taken back, and for how many pictures.
struct PassChangeCounts
{
    int pictures = 0;
    int renames = 0;
    int shifts = 0;
    int times = 0;
};

// A done shift that left exactly the bytes a picture holds now.
struct EarlierShift
{
    PassId pass = 0;
    std::int64_t started = 0; // that pass's start, seconds since the epoch
};

struct JournalOptions
{
    // How long to wait for another process's write before the journal counts as unusable.
    int busyMilliseconds = 5000;
    std::size_t keptPasses = 100;
    LogClock clock; // the system clock when empty
};

// What became of the changes of one pass, as its marks say: ranges of change ids that do not
// overlap, a later mark taking the part of an earlier one that it covers. A change no mark
// covers is planned.
class ChangeStates
{
public:
    void Mark(ChangeId first, ChangeId last, ChangeState state);
    ChangeState StateOf(ChangeId change) const;

private:
    std::map<ChangeId, std::pair<ChangeId, ChangeState>> m_ranges; // first -> last, state
};

class Journal
{
public:
    // $XDG_STATE_HOME/kronvik/journal.sqlite3 (~/.local/state when unset).
    static std::string DefaultPath();

    // Opens the journal, creating its folder and file where they are missing, and brings an older
    // schema up to date in one transaction. Throws JournalError when it cannot be opened or
    // written, when a newer version of the program wrote it, or when the ends of its tables, where
    // a pass adds and prunes its rows, are damaged.
    explicit Journal(const std::string &path = DefaultPath(), JournalOptions options = {});
    ~Journal();
    Journal(const Journal &) = delete;
    Journal &operator=(const Journal &) = delete;

    const std::string &Path() const;
    // The file beside the journal whose bytes mark the passes being run (RunningPassMark).
    std::string RunningPassesPath() const { return Path() + "-passes"; }

    // What the first write of a pass would meet, found without writing, for a preview that must
    // end as its run would: the journal held by another process beyond the wait. Throws
    // JournalError.
    void CheckWritable();

    // One pass at a time per object. Every call below may throw JournalError.
    PassId BeginPass(const PassStart &start);
    // Commits the changes of `pictures` together with the marks made since the last commit, in
    // one transaction. Returns the id of every change, in order.
    std::vector<ChangeId> PlanBatch(const std::vector<PlannedPicture> &pictures);
    // Held in memory until the next commit. A change of the current pass, unless `pass` names
    // another (recovery and undo mark the changes of the passes they take back).
    void MarkDone(ChangeId change);
    void MarkAbandoned(ChangeId change);
    void MarkTakenBack(ChangeId change, PassId pass);
    void Mark(ChangeId change, ChangeState state, PassId pass = 0);
    // The current pass's counters so far, held in memory like the marks and written with them:
    // a pass that never ends is listed with the pictures it had dated at its last commit, the
    // pictures whose changes stay done once its recovery has taken back the rest.
    void NoteCounters(std::int32_t datedSuccessfully, std::int32_t datedUnsuccessfully);
    // Commits the marks held in memory.
    void Flush();
    // Commits the last marks with the pass's end. The end of a finished undo also records, in the
    // pass it undid, when that was undone.
    void EndPass(const PassEnd &end);
    PassId CurrentPass() const;

    std::optional<JournaledPass> FindPass(PassId pass);
    // Newest first.
    std::vector<JournaledPass> Passes();
    // The newest pass that is not itself an undo; where it changed nothing, the newest before it
    // over the same folders that changed something (it has changes done, or an undo took them
    // back), if there is one.
    std::optional<JournaledPass> LastUndoablePass();
    // Without an end, newest first, leaving out those this process is running.
    std::vector<JournaledPass> UnfinishedPasses();
    // In the order made; only those in `state` when it is given.
    std::vector<ChangeRecord> Changes(PassId pass, std::optional<ChangeState> state = {});
    PassChangeCounts CountDoneChanges(PassId pass);

    // Gives an unfinished pass that no process runs any more its end, as interrupted.
    void EndInterruptedPass(PassId pass);

    // The renames of every pass planned after change `after`, in the order planned, with their
    // states.
    std::vector<ChangeRecord> RenamesAfter(ChangeId after);

    // Whether a done rename of a pass before `pass` gave the file `identity` the name `newPath`.
    bool RenamedBefore(PassId pass, const std::string &newPath, FileIdentity identity);

    // Whether any shift by `hours` was journaled, whatever became of it.
    bool HasShiftsBy(int hours);

    // Reads the journaled shifts by `hours` that FindEarlierShift looks in, ahead of its first
    // call: the first read of a long journal takes a while.
    void ReadShiftsBy(int hours);
    // From here on, FindEarlierShift looks only in the shifts read so far, plus those by hours
    // not read before: each read of the newer ones is a read transaction of its own, and a pass
    // waits for it at every picture it looks up.
    void KeepShiftsRead() { m_keepShiftsRead = true; }

    // A journaled shift, done and not taken back, that wrote exactly `pair` at `offset` by
    // `hours` into this file: the same size, and its path now being where that shift's file
    // ended after its pass's renames (the inode and the file system's UUID as hints). Nothing
    // when there is none. Two pictures that share a date are told apart by their paths.
    std::optional<EarlierShift> FindEarlierShift(const std::string &path, std::uint64_t size,
                                                 std::uint64_t offset, const std::string &pair,
                                                 int hours, FileIdentity identity = {},
                                                 const std::string &fileSystemUuid = {});

    // The clock reading of the journal's clock, in seconds.
    std::int64_t Now() const;

private:
    struct Statements;
    void Upgrade();
    void CheckTableEnds();
    // Lists the keys of the shifts journaled before the journal kept lists of them.
    void ListShiftKeys();
    void FlushMarks();
    ChangeState StateOf(PassId pass, ChangeId change);
    // Deletes the passes beyond the kept ones, with their marks; their changes are left to
    // CollectPruned. Throws JournalError.
    void Prune();
    // Deletes up to `rows` changes of passes already pruned, in the transaction under way.
    void CollectPruned(std::int64_t rows);
    // What a batch's commit collects: a fraction of what the batch itself writes.
    static constexpr std::int64_t kCollectedRowsPerBatch = 256;

    JournalOptions m_options;
    std::unique_ptr<JournalStore> m_store;
    std::unique_ptr<Statements> m_statements;
    PassId m_pass = 0;
    RunningPassMark m_passMark; // held while m_pass runs
    std::int64_t m_nextPicture = 0;
    // An undo's writes of the bytes a shift found are listed among no shifts: they are no shift
    // by the opposite hours, and a pass by those hours must still shift the picture.
    bool m_passIsUndo = false;
    PassId m_pruned = 0; // a pruned pass whose changes are being collected
    bool m_collected = false; // no pruned pass has changes left

    struct MarkRange
    {
        PassId pass;
        ChangeId first, last;
        ChangeState state;
    };
    std::vector<MarkRange> m_marks;
    std::optional<std::pair<std::int32_t, std::int32_t>> m_counters; // NoteCounters
    std::map<PassId, ChangeStates> m_marksOf; // read for FindEarlierShift
    bool m_keepShiftsRead = false;
    // The journaled shifts by some hours, by the keys of their pairs (ShiftPairKey), up to the
    // newest list of them read: FindEarlierShift reads only the lists committed since.
    struct ShiftPairs
    {
        std::int64_t last = 0; // of shift_keys
        ShiftKeyTable table;
    };
    std::map<int, ShiftPairs> m_shiftPairs;
    // A journaled shift as FindEarlierShift reads it: its row, and the renames of its picture,
    // newest first. Rows never change once written, so a pass reads each shift once, however
    // many of its pictures share that shift's date pair.
    struct ShiftRecord
    {
        EarlierShift shift;
        std::int64_t picture = 0;
        std::string path;
        FileIdentity identity;
        std::string fileSystemUuid;
        std::string pair;
        int hours = 0;
        std::uint64_t offset = 0;
        std::uint64_t size = 0;
        std::optional<std::vector<std::pair<ChangeId, std::string>>> renames; // read when asked
    };
    ShiftRecord *ShiftRecordOf(ChangeId shift);
    const std::vector<std::pair<ChangeId, std::string>> &RenamesOf(ShiftRecord &record);
    std::unordered_map<ChangeId, std::optional<ShiftRecord>> m_shiftRecords;
    // The renames journaled since each pass that FindEarlierShift found a shift of.
    RenameTrail &TrailSince(PassId pass);
    std::map<PassId, std::unique_ptr<RenameTrail>> m_trails;
};

// The stored names of the enumerations, as the history shows them.
const char *FrontEndName(JournalFrontEnd frontEnd);
const char *OutcomeName(PassOutcome outcome);
const char *ChangeKindName(ChangeKind kind);
const char *ChangeStateName(ChangeState state);

} // namespace kronvik
