// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "journal.h"

#include "file_services.h"
#include "file_state.h"
#include "local_clock.h"
#include "path_names.h"
#include "picture_scan.h"
#include "rename_trail.h"
#include "user_folders.h"

#include <algorithm>
#include <cerrno>
#include <functional>
#include <limits>
#include <mutex>
#include <set>
#include <string_view>
#include <utility>

namespace kronvik {

namespace {

// The schema this program writes. Each step of kUpgrades brings a journal one version up.
constexpr int kSchemaVersion = 4;

const char *const kUpgrades[kSchemaVersion] = {
        // 0 -> 1: a new journal.
        "CREATE TABLE passes("
        " id INTEGER PRIMARY KEY AUTOINCREMENT,"
        " started INTEGER NOT NULL,"
        " ended INTEGER,"
        " front_end TEXT NOT NULL,"
        " sources BLOB NOT NULL,"
        " time_adjust INTEGER NOT NULL,"
        " recurse INTEGER NOT NULL,"
        " dated_successfully INTEGER NOT NULL DEFAULT 0,"
        " dated_unsuccessfully INTEGER NOT NULL DEFAULT 0,"
        " outcome TEXT NOT NULL DEFAULT 'running',"
        " undoes INTEGER,"
        " undone INTEGER,"
        " undone_by INTEGER,"
        " process INTEGER NOT NULL,"
        " process_stamp TEXT NOT NULL);"
        "CREATE TABLE changes("
        " id INTEGER PRIMARY KEY,"
        " pass INTEGER NOT NULL REFERENCES passes(id) ON DELETE CASCADE,"
        " picture INTEGER NOT NULL,"
        " kind INTEGER NOT NULL,"
        " path BLOB NOT NULL,"
        " new_path BLOB,"
        " size INTEGER NOT NULL,"
        " offset INTEGER,"
        " bytes_before BLOB,"
        " bytes_after BLOB,"
        " hours INTEGER,"
        " time_before INTEGER,"
        " time_after INTEGER,"
        " device INTEGER,"
        " inode INTEGER,"
        " file_system_uuid TEXT);"
        "CREATE INDEX changes_of_pass ON changes(pass, picture);"
        // What became of the changes, as ranges of their ids, newest last: a batch's marks are
        // one short row instead of a rewrite of every page the batch filled. A change that no
        // mark covers is planned.
        "CREATE TABLE marks("
        " id INTEGER PRIMARY KEY,"
        " pass INTEGER NOT NULL REFERENCES passes(id) ON DELETE CASCADE,"
        " first INTEGER NOT NULL,"
        " last INTEGER NOT NULL,"
        " state INTEGER NOT NULL);"
        "CREATE INDEX marks_of_pass ON marks(pass, first);"
        // The lookup that keeps a picture from being shifted twice, run for every picture of a
        // pass with a time adjustment.
        "CREATE INDEX shifts_by_bytes ON changes(bytes_after) WHERE kind = 1;",
        // 1 -> 2: whether any shift by some hours was journaled, asked once a pass, so that a
        // pass whose hours no earlier pass shifted by looks up none of its pictures.
        "CREATE INDEX shifts_by_hours ON changes(hours) WHERE kind = 1;",
        // 2 -> 3: the shifts' pairs in the order made, for each hours, in place of an index on
        // the pairs themselves. The pairs are as good as random: every shift journaled and every
        // one pruned wrote a page of that index of its own, and a journal of many passes spent
        // more on it than on everything else. This one grows at its end; a pass looks the pairs
        // up in memory (Journal::FindEarlierShift).
        "DROP INDEX shifts_by_bytes;"
        "DROP INDEX shifts_by_hours;"
        "CREATE INDEX shift_pairs ON changes(hours, id, offset, size, bytes_after) WHERE kind = 1;",
        // 3 -> 4: the keys of each batch's shifts in one row (shift_keys.h), in place of that
        // index. A pass reads every earlier shift by its hours as it starts; with 100 passes of
        // shifts by the same hours in the journal, reading them one index row each was the
        // longest part of a pass. The lists of the shifts already journaled are made from their
        // rows (Journal::ListShiftKeys).
        "CREATE TABLE shift_keys("
        " id INTEGER PRIMARY KEY,"
        " pass INTEGER NOT NULL REFERENCES passes(id) ON DELETE CASCADE,"
        " hours INTEGER NOT NULL,"
        " keys BLOB NOT NULL);"
        "CREATE INDEX shift_keys_by_hours ON shift_keys(hours, id);"
        "CREATE INDEX shift_keys_of_pass ON shift_keys(pass);"
        "DROP INDEX shift_pairs;",
};

// Written by each batch, and by the upgrade that lists the shifts journaled before the lists.
const char *const kInsertShiftKeys = "INSERT INTO shift_keys(pass, hours, keys) VALUES(?1, ?2, ?3)";

const char *const kPassColumns =
        "id, started, ended, front_end, sources, time_adjust, recurse, dated_successfully,"
        " dated_unsuccessfully, outcome, undoes, undone, undone_by, process, process_stamp";

const char *const kChangeColumns =
        "id, pass, picture, 0, kind, path, new_path, size, offset, bytes_before, bytes_after,"
        " hours, time_before, time_after, device, inode, file_system_uuid";

// The passes that objects of this process are running, by journal and number: they are no
// leftovers of a killed process, whatever their rows say.
std::mutex s_runningLock;
std::set<std::pair<std::string, PassId>> s_running;

template<typename Enum, std::size_t N>
Enum FromName(const std::string &name, const std::pair<Enum, const char *> (&names)[N],
              Enum fallback)
{
    for (const auto &[value, text] : names) {
        if (name == text)
            return value;
    }
    return fallback;
}

const std::pair<JournalFrontEnd, const char *> kFrontEnds[] = {
        {JournalFrontEnd::Window, "window"},
        {JournalFrontEnd::Cli, "cli"},
};
const std::pair<PassOutcome, const char *> kOutcomes[] = {
        {PassOutcome::Running, "running"},         {PassOutcome::Finished, "finished"},
        {PassOutcome::Cancelled, "cancelled"},     {PassOutcome::FileError, "file error"},
        {PassOutcome::Interrupted, "interrupted"},
};

JournaledPass ReadPass(const JournalStatement &row)
{
    JournaledPass pass;
    pass.id = row.Integer(0);
    pass.started = row.Integer(1);
    pass.ended = row.Integer(2);
    pass.frontEnd = FromName(row.Bytes(3), kFrontEnds, JournalFrontEnd::Cli);
    pass.sources = row.Bytes(4);
    pass.timeAdjust = static_cast<int>(row.Integer(5));
    pass.recurse = row.Integer(6) != 0;
    pass.datedSuccessfully = static_cast<std::int32_t>(row.Integer(7));
    pass.datedUnsuccessfully = static_cast<std::int32_t>(row.Integer(8));
    pass.outcome = FromName(row.Bytes(9), kOutcomes, PassOutcome::Running);
    pass.undoes = row.Integer(10);
    pass.undone = row.Integer(11);
    pass.undoneBy = row.Integer(12);
    pass.process = row.Integer(13);
    pass.processStamp = row.Bytes(14);
    return pass;
}

ChangeRecord ReadChange(const JournalStatement &row)
{
    ChangeRecord record;
    record.id = row.Integer(0);
    record.pass = row.Integer(1);
    record.picture = row.Integer(2);
    record.state = static_cast<ChangeState>(row.Integer(3));
    JournalChange &change = record.change;
    change.kind = static_cast<ChangeKind>(row.Integer(4));
    change.path = row.Bytes(5);
    change.newPath = row.Bytes(6);
    change.size = static_cast<std::uint64_t>(row.Integer(7));
    change.offset = static_cast<std::uint64_t>(row.Integer(8));
    change.bytesBefore = row.Bytes(9);
    change.bytesAfter = row.Bytes(10);
    change.hours = static_cast<int>(row.Integer(11));
    change.timeBefore = row.Integer(12);
    change.timeAfter = row.Integer(13);
    change.identity = {static_cast<std::uint64_t>(row.Integer(14)),
                       static_cast<std::uint64_t>(row.Integer(15))};
    change.fileSystemUuid = row.Bytes(16);
    return record;
}

std::string Select(const char *columns, const char *rest)
{
    return std::string("SELECT ") + columns + " " + rest;
}

// Runs `query` and collects every row.
template<typename Record, typename Reader>
std::vector<Record> AllRows(JournalStatement &query, Reader read)
{
    std::vector<Record> rows;
    try {
        while (query.Step())
            rows.push_back(read(query));
    } catch (...) {
        query.Reset();
        throw;
    }
    query.Reset();
    return rows;
}

} // namespace

JournalChange JournalChange::Shift(std::string path, std::uint64_t size, std::uint64_t offset,
                                   std::string bytesBefore, std::string bytesAfter, int hours,
                                   std::int64_t modifiedBefore, FileIdentity identity)
{
    JournalChange change;
    change.kind = ChangeKind::Shift;
    change.path = std::move(path);
    change.size = size;
    change.offset = offset;
    change.bytesBefore = std::move(bytesBefore);
    change.bytesAfter = std::move(bytesAfter);
    change.hours = hours;
    change.timeBefore = modifiedBefore;
    change.identity = identity;
    return change;
}

JournalChange JournalChange::Rename(std::string from, std::string to, std::uint64_t size,
                                    FileIdentity identity)
{
    JournalChange change;
    change.kind = ChangeKind::Rename;
    change.path = std::move(from);
    change.newPath = std::move(to);
    change.size = size;
    change.identity = identity;
    return change;
}

JournalChange JournalChange::Time(std::string path, std::uint64_t size, std::int64_t before,
                                  std::int64_t after, FileIdentity identity)
{
    JournalChange change;
    change.kind = ChangeKind::Time;
    change.path = std::move(path);
    change.size = size;
    change.timeBefore = before;
    change.timeAfter = after;
    change.identity = identity;
    return change;
}

const char *FrontEndName(JournalFrontEnd frontEnd)
{
    for (const auto &[value, text] : kFrontEnds) {
        if (value == frontEnd)
            return text;
    }
    return "cli";
}

const char *OutcomeName(PassOutcome outcome)
{
    for (const auto &[value, text] : kOutcomes) {
        if (value == outcome)
            return text;
    }
    return "running";
}

const char *ChangeKindName(ChangeKind kind)
{
    switch (kind) {
    case ChangeKind::Shift:
        return "shift";
    case ChangeKind::Rename:
        return "rename";
    case ChangeKind::Time:
        return "time";
    }
    return "?";
}

const char *ChangeStateName(ChangeState state)
{
    switch (state) {
    case ChangeState::Planned:
        return "planned";
    case ChangeState::Done:
        return "done";
    case ChangeState::Abandoned:
        return "abandoned";
    case ChangeState::TakenBack:
        return "taken back";
    }
    return "?";
}

// Every statement a pass uses, prepared once when the journal opens.
struct Journal::Statements
{
    explicit Statements(JournalStore &store)
        : insertPass(store.Prepare(
                "INSERT INTO passes(started, front_end, sources, time_adjust, recurse, undoes,"
                " process, process_stamp) VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8)"))
        , insertChange(store.Prepare(
                  "INSERT INTO changes(pass, picture, kind, path, new_path, size, offset,"
                  " bytes_before, bytes_after, hours, time_before, time_after, device, inode,"
                  " file_system_uuid) VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12,"
                  " ?13, ?14, ?15)"))
        , insertMark(store.Prepare(
                  "INSERT INTO marks(pass, first, last, state) VALUES(?1, ?2, ?3, ?4)"))
        , marksOfPass(
                  store.Prepare("SELECT first, last, state FROM marks WHERE pass = ?1 ORDER BY id"))
        , endPass(store.Prepare("UPDATE passes SET ended = ?2, dated_successfully = ?3,"
                                " dated_unsuccessfully = ?4, outcome = ?5 WHERE id = ?1"))
        , passCounters(store.Prepare("UPDATE passes SET dated_successfully = ?2,"
                                     " dated_unsuccessfully = ?3 WHERE id = ?1"))
        , markUndone(store.Prepare("UPDATE passes SET undone = ?2, undone_by = ?3 WHERE id = ?1"))
        , prunable(store.Prepare("SELECT id FROM passes WHERE ended IS NOT NULL AND id NOT IN"
                                 " (SELECT id FROM passes ORDER BY id DESC LIMIT ?1)"))
        , deletePass(store.Prepare("DELETE FROM passes WHERE id = ?1"))
        , deleteMarksOf(store.Prepare("DELETE FROM marks WHERE pass = ?1"))
        , nextChangedPass(
                  store.Prepare("SELECT pass FROM changes WHERE pass > ?1 ORDER BY pass LIMIT 1"))
        , passEnded(store.Prepare("SELECT ended IS NOT NULL FROM passes WHERE id = ?1"))
        , deleteChangesOf(store.Prepare("DELETE FROM changes WHERE id IN"
                                        " (SELECT id FROM changes WHERE pass = ?1 LIMIT ?2)"))
        , findPass(store.Prepare(Select(kPassColumns, "FROM passes WHERE id = ?1").c_str()))
        , passes(store.Prepare(Select(kPassColumns, "FROM passes ORDER BY id DESC").c_str()))
        , unfinished(store.Prepare(
                  Select(kPassColumns, "FROM passes WHERE ended IS NULL ORDER BY id DESC").c_str()))
        // The rows of a pruned pass stay until a later batch collects them (CollectPruned).
        , changes(store.Prepare(Select(kChangeColumns, "FROM changes WHERE pass = ?1 AND"
                                                       " EXISTS(SELECT 1 FROM passes WHERE id = ?1)"
                                                       " ORDER BY id")
                                        .c_str()))
        , endInterrupted(store.Prepare("UPDATE passes SET ended = ?2, outcome = 'interrupted'"
                                       " WHERE id = ?1 AND ended IS NULL"))
        , insertShiftKeys(store.Prepare(kInsertShiftKeys))
        , deleteShiftKeysOf(store.Prepare("DELETE FROM shift_keys WHERE pass = ?1"))
        , shiftKeyBytes(store.Prepare(
                  "SELECT coalesce(sum(length(keys)), 0) FROM shift_keys WHERE hours = ?1"))
        , shiftKeysSince(store.Prepare(
                  "SELECT id, keys FROM shift_keys WHERE hours = ?1 AND id > ?2 ORDER BY id"))
        , shiftWriting(store.Prepare(
                  "SELECT c.pass, p.started, c.picture, c.path, c.device, c.inode,"
                  " c.file_system_uuid, c.bytes_after, c.hours, c.offset, c.size FROM changes c"
                  " JOIN passes p ON p.id = c.pass WHERE c.id = ?1 AND c.kind = 1"
                  // Undos listed their writes before they were left out of the lists.
                  " AND p.undoes IS NULL"))
        , shiftsBy(store.Prepare("SELECT EXISTS(SELECT 1 FROM shift_keys WHERE hours = ?1)"))
        , renamesOfPicture(store.Prepare(
                  "SELECT id, new_path FROM changes WHERE pass = ?1 AND picture = ?2 AND kind = 2"
                  " ORDER BY id DESC"))
        , renamesOfFileTo(store.Prepare(
                  "SELECT id FROM changes WHERE pass = ?1 AND kind = 2 AND new_path = ?2"
                  " AND device = ?3 AND inode = ?4"))
        , renamesAfter(store.Prepare(
                  Select(kChangeColumns, "FROM changes WHERE kind = 2 AND id > ?1 ORDER BY id")
                          .c_str()))
        , firstChangeOf(store.Prepare("SELECT min(id) FROM changes WHERE pass = ?1"))
        , renamesOfFileToBefore(store.Prepare(
                  "SELECT id, pass FROM changes WHERE pass < ?1 AND kind = 2 AND new_path = ?2"
                  " AND device = ?3 AND inode = ?4"))
    {
    }

    JournalStatement insertPass, insertChange, insertMark, marksOfPass, endPass, passCounters,
            markUndone, prunable, deletePass, deleteMarksOf, nextChangedPass, passEnded,
            deleteChangesOf, findPass, passes, unfinished, changes, endInterrupted, insertShiftKeys,
            deleteShiftKeysOf, shiftKeyBytes, shiftKeysSince, shiftWriting, shiftsBy,
            renamesOfPicture, renamesOfFileTo, renamesAfter, firstChangeOf, renamesOfFileToBefore;
};

std::string Journal::DefaultPath()
{
    const std::string home = UserStateHome();
    return (home.empty() ? std::string(".") : home) + "/kronvik/journal.sqlite3";
}

Journal::Journal(const std::string &path, JournalOptions options)
    : m_options(std::move(options))
{
    const auto split = path.rfind('/');
    if (split != std::string::npos && split > 0) {
        if (const int error = MakeDirectories(path.substr(0, split)))
            throw JournalError(JournalErrorMessage(path, SystemErrorText(error)));
    }
    m_store = std::make_unique<JournalStore>(path, m_options.busyMilliseconds);
    Upgrade();
    CheckTableEnds();
    m_statements = std::make_unique<Statements>(*m_store);
}

Journal::~Journal()
{
    const std::lock_guard<std::mutex> guard(s_runningLock);
    s_running.erase({Path(), m_pass});
}

const std::string &Journal::Path() const
{
    return m_store->Path();
}

std::int64_t Journal::Now() const
{
    return m_options.clock ? m_options.clock() : SystemClockSeconds();
}

void Journal::CheckTableEnds()
{
    // A pass adds its rows at the end of each table and index, and prunes and collects those of
    // old passes at their start. Damage there would end a pass part way, after pictures were
    // changed, or a preview that does not write at all would go through: the paths down to both
    // ends of each are read now, as a pass would first reach them.
    JournalStatement query = m_store->Prepare(
            "SELECT (SELECT min(id) FROM passes), (SELECT max(id) FROM passes),"
            " (SELECT min(id) FROM changes), (SELECT max(id) FROM changes),"
            " (SELECT min(pass) FROM changes), (SELECT max(pass) FROM changes),"
            " (SELECT min(id) FROM marks), (SELECT max(id) FROM marks),"
            " (SELECT min(pass) FROM marks), (SELECT max(pass) FROM marks),"
            " (SELECT min(id) FROM shift_keys), (SELECT max(id) FROM shift_keys),"
            " (SELECT min(hours) FROM shift_keys), (SELECT max(hours) FROM shift_keys),"
            " (SELECT min(pass) FROM shift_keys), (SELECT max(pass) FROM shift_keys),"
            " (SELECT max(seq) FROM sqlite_sequence)");
    query.Step();
}

void Journal::CheckWritable()
{
    // The write lock is taken as a pass's first transaction takes it, with its wait, and given
    // back at once: nothing is written.
    JournalTransaction probe(*m_store);
}

void Journal::Upgrade()
{
    if (m_store->UserVersion() == kSchemaVersion)
        return;
    JournalTransaction transaction(*m_store);
    // Read again under the write lock: another process may have upgraded it meanwhile.
    const int version = m_store->UserVersion();
    if (version > kSchemaVersion)
        throw JournalError(JournalErrorMessage(
                Path(), "it was written by a newer version of Kronvik (journal version "
                                + std::to_string(version) + ", this version reads up to "
                                + std::to_string(kSchemaVersion) + ")"));
    if (version < 0)
        throw JournalError(JournalErrorMessage(Path(), "its version number is not valid"));
    for (int step = version; step < kSchemaVersion; ++step) {
        m_store->Execute(kUpgrades[step]);
        if (step == 3)
            ListShiftKeys();
    }
    m_store->SetUserVersion(kSchemaVersion);
    transaction.Commit();
}

void Journal::ListShiftKeys()
{
    // One list for each pass and hours; a pass pruned already has none.
    std::map<std::pair<PassId, int>, std::string> lists;
    JournalStatement shifts = m_store->Prepare(
            "SELECT c.pass, c.hours, c.id, c.offset, c.size, c.bytes_after FROM changes c"
            " JOIN passes p ON p.id = c.pass WHERE c.kind = 1 AND p.undoes IS NULL ORDER BY c.id");
    while (shifts.Step())
        AppendShiftKey(lists[{shifts.Integer(0), static_cast<int>(shifts.Integer(1))}],
                       ShiftPairKey(static_cast<std::uint64_t>(shifts.Integer(3)),
                                    static_cast<std::uint64_t>(shifts.Integer(4)),
                                    shifts.BytesView(5)),
                       shifts.Integer(2));
    shifts.Reset();
    JournalStatement insert = m_store->Prepare(kInsertShiftKeys);
    for (const auto &[of, keys] : lists)
        insert.Bind(1, of.first).Bind(2, of.second).BindKeptBytes(3, keys).Run();
}

PassId Journal::BeginPass(const PassStart &start)
{
    m_marksOf.clear();
    m_shiftRecords.clear();
    // Absolute, so that an undo from another folder finds the same folders.
    std::string sources;
    for (const std::string &directory : SplitSourceList(start.sources))
        sources += (sources.empty() ? "" : ";") + AbsolutePath(directory);

    JournalTransaction transaction(*m_store);
    FlushMarks();
    JournalStatement &insert = m_statements->insertPass;
    insert.Bind(1, Now())
            .BindBytes(2, FrontEndName(start.frontEnd))
            .BindBytes(3, sources)
            .Bind(4, start.timeAdjust)
            .Bind(5, start.recurse ? 1 : 0);
    if (start.undoes != 0)
        insert.Bind(6, start.undoes);
    insert.Bind(7, CurrentProcessId()).BindBytes(8, ProcessStamp(CurrentProcessId()));
    insert.Run();
    const PassId pass = m_store->LastInsertId();
    // Marked before any other process can read the row: a pass whose process lives on without
    // its mark was given up, and the next run over its folders takes it back. A pass that cannot
    // be marked (no locks on that file system, a file of that name that is no regular file) runs
    // all the same, as it would in its preview: others take it for running while its process
    // lives, as they cannot ask about its mark either.
    m_passMark.Take(RunningPassesPath(), pass);
    transaction.Commit();

    const std::lock_guard<std::mutex> guard(s_runningLock);
    s_running.erase({Path(), m_pass});
    m_pass = pass;
    m_nextPicture = 0;
    m_passIsUndo = start.undoes != 0;
    s_running.insert({Path(), m_pass});
    return pass;
}

std::vector<ChangeId> Journal::PlanBatch(const std::vector<PlannedPicture> &pictures)
{
    std::vector<ChangeId> ids;
    JournalTransaction transaction(*m_store);
    FlushMarks();
    JournalStatement &insert = m_statements->insertChange;
    std::int64_t next = m_nextPicture;
    std::map<int, std::string> shiftKeys; // by hours
    for (const PlannedPicture &planned : pictures) {
        const std::int64_t picture = planned.picture >= 0 ? planned.picture : next;
        next = std::max(next, picture + 1);
        for (const JournalChange &change : planned.changes) {
            insert.Bind(1, m_pass)
                    .Bind(2, picture)
                    .Bind(3, static_cast<int>(change.kind))
                    .BindKeptBytes(4, change.path)
                    .Bind(6, static_cast<std::int64_t>(change.size))
                    .Bind(13, static_cast<std::int64_t>(change.identity.device))
                    .Bind(14, static_cast<std::int64_t>(change.identity.inode));
            switch (change.kind) {
            case ChangeKind::Rename:
                insert.BindKeptBytes(5, change.newPath);
                break;
            case ChangeKind::Shift:
                insert.Bind(7, static_cast<std::int64_t>(change.offset))
                        .BindKeptBytes(8, change.bytesBefore)
                        .BindKeptBytes(9, change.bytesAfter)
                        .Bind(10, change.hours)
                        .Bind(11, change.timeBefore);
                break;
            case ChangeKind::Time:
                insert.Bind(11, change.timeBefore).Bind(12, change.timeAfter);
                break;
            }
            if (!change.fileSystemUuid.empty())
                insert.BindKeptBytes(15, change.fileSystemUuid);
            insert.Run();
            ids.push_back(m_store->LastInsertId());
            if (change.kind == ChangeKind::Shift && !m_passIsUndo)
                AppendShiftKey(shiftKeys[change.hours],
                               ShiftPairKey(change.offset, change.size, change.bytesAfter),
                               ids.back());
        }
    }
    for (const auto &[hours, keys] : shiftKeys)
        m_statements->insertShiftKeys.Bind(1, m_pass).Bind(2, hours).BindKeptBytes(3, keys).Run();
    CollectPruned(kCollectedRowsPerBatch);
    transaction.Commit();
    m_nextPicture = next;
    return ids;
}

void Journal::MarkDone(ChangeId change)
{
    Mark(change, ChangeState::Done);
}

void Journal::MarkAbandoned(ChangeId change)
{
    Mark(change, ChangeState::Abandoned);
}

void Journal::MarkTakenBack(ChangeId change, PassId pass)
{
    Mark(change, ChangeState::TakenBack, pass);
}

void Journal::Mark(ChangeId change, ChangeState state, PassId pass)
{
    if (pass == 0)
        pass = m_pass;
    // Marks come mostly in runs of neighbouring ids (ascending in a pass, descending in an
    // undo, which marks its own changes in between): one row for each run. Ids are never shared
    // between passes, so a run of one pass may grow past the marks of another.
    for (auto last = m_marks.rbegin(); last != m_marks.rend(); ++last) {
        if (last->pass != pass)
            continue;
        if (last->state == state && change == last->last + 1) {
            last->last = change;
            return;
        }
        if (last->state == state && change == last->first - 1) {
            last->first = change;
            return;
        }
        break;
    }
    m_marks.push_back({pass, change, change, state});
}

void Journal::FlushMarks()
{
    if (!m_marks.empty())
        m_marksOf.clear();
    JournalStatement &mark = m_statements->insertMark;
    for (const MarkRange &range : m_marks)
        mark.Bind(1, range.pass)
                .Bind(2, range.first)
                .Bind(3, range.last)
                .Bind(4, static_cast<int>(range.state))
                .Run();
    m_marks.clear();
    if (m_counters && m_pass != 0)
        m_statements->passCounters.Bind(1, m_pass)
                .Bind(2, m_counters->first)
                .Bind(3, m_counters->second)
                .Run();
    m_counters.reset();
}

void Journal::NoteCounters(std::int32_t datedSuccessfully, std::int32_t datedUnsuccessfully)
{
    m_counters.emplace(datedSuccessfully, datedUnsuccessfully);
}

void ChangeStates::Mark(ChangeId first, ChangeId last, ChangeState state)
{
    // A range that begins before this one and reaches into it keeps its part before, and its
    // part after where it reaches beyond.
    auto at = m_ranges.lower_bound(first);
    if (at != m_ranges.begin()) {
        const auto before = std::prev(at);
        const auto [beforeLast, beforeState] = before->second;
        if (beforeLast >= first) {
            before->second.first = first - 1;
            if (beforeLast > last)
                m_ranges.emplace(last + 1, std::make_pair(beforeLast, beforeState));
        }
    }
    // Those that begin within it go, but for their parts beyond it.
    at = m_ranges.lower_bound(first);
    while (at != m_ranges.end() && at->first <= last) {
        const auto [rangeLast, rangeState] = at->second;
        at = m_ranges.erase(at);
        if (rangeLast > last) {
            m_ranges.emplace(last + 1, std::make_pair(rangeLast, rangeState));
            break;
        }
    }
    m_ranges.emplace(first, std::make_pair(last, state));
}

ChangeState ChangeStates::StateOf(ChangeId change) const
{
    auto at = m_ranges.upper_bound(change);
    if (at == m_ranges.begin())
        return ChangeState::Planned;
    --at;
    return at->second.first >= change ? at->second.second : ChangeState::Planned;
}

ChangeState Journal::StateOf(PassId pass, ChangeId change)
{
    // The marks of a pass, read once: a pass asks about the same few earlier passes for each of
    // its pictures, and nobody else marks their changes while this one holds the folders.
    auto cached = m_marksOf.find(pass);
    if (cached == m_marksOf.end()) {
        JournalStatement &marks = m_statements->marksOfPass;
        marks.Bind(1, pass);
        ChangeStates states;
        // In the order made: a later mark takes what it covers.
        for (const MarkRange &range :
             AllRows<MarkRange>(marks, [pass](const JournalStatement &row) {
                 return MarkRange{pass, row.Integer(0), row.Integer(1),
                                  static_cast<ChangeState>(row.Integer(2))};
             }))
            states.Mark(range.first, range.last, range.state);
        cached = m_marksOf.emplace(pass, std::move(states)).first;
    }
    return cached->second.StateOf(change);
}

void Journal::Flush()
{
    if (m_marks.empty())
        return;
    JournalTransaction transaction(*m_store);
    FlushMarks();
    transaction.Commit();
}

void Journal::EndPass(const PassEnd &end)
{
    if (m_pass == 0)
        return;
    const std::optional<JournaledPass> pass = FindPass(m_pass);
    JournalTransaction transaction(*m_store);
    m_counters.reset(); // the end's own
    FlushMarks();
    const std::int64_t now = Now();
    m_statements->endPass.Bind(1, m_pass)
            .Bind(2, now)
            .Bind(3, end.datedSuccessfully)
            .Bind(4, end.datedUnsuccessfully)
            .BindBytes(5, OutcomeName(end.outcome))
            .Run();
    if (pass && pass->undoes != 0 && end.outcome == PassOutcome::Finished)
        m_statements->markUndone.Bind(1, pass->undoes).Bind(2, pass->started).Bind(3, m_pass).Run();
    transaction.Commit();
    {
        const std::lock_guard<std::mutex> guard(s_runningLock);
        s_running.erase({Path(), m_pass});
        m_pass = 0;
        m_passMark.Release();
    }
    // After the work rather than before it. The pass is ended whatever becomes of the prune; one
    // that fails leaves its passes to the next pass's end.
    try {
        Prune();
    } catch (const JournalError &) {
    }
}

PassId Journal::CurrentPass() const
{
    return m_pass;
}

namespace {

// While it lives, deleting a pass leaves its changes in place: the foreign key would delete them
// all at once, in the commit that ends a pass.
class ForeignKeysOff
{
public:
    explicit ForeignKeysOff(JournalStore &store)
        : m_store(store)
    {
        m_store.Execute("PRAGMA foreign_keys=OFF");
    }
    ~ForeignKeysOff()
    {
        try {
            m_store.Execute("PRAGMA foreign_keys=ON");
        } catch (const JournalError &) {
            // The setting is the connection's own; a pragma outside a transaction fails only
            // when the database is gone.
        }
    }
    ForeignKeysOff(const ForeignKeysOff &) = delete;
    ForeignKeysOff &operator=(const ForeignKeysOff &) = delete;

private:
    JournalStore &m_store;
};

} // namespace

void Journal::Prune()
{
    // A pruned pass is gone at once for everyone: its row and its marks, a few rows. Its changes,
    // thousands for a large pass, would keep the end of every pass of a journal in long use
    // waiting while SQLite deletes them and their index entries; they are left for the batches
    // of later passes to collect, a few hundred at a time on the journal's own thread. Every
    // reader reaches a change through its pass, so none of them sees the rows left behind.
    JournalStatement &query = m_statements->prunable;
    query.Bind(1, static_cast<std::int64_t>(m_options.keptPasses));
    const std::vector<PassId> passes =
            AllRows<PassId>(query, [](const JournalStatement &row) { return row.Integer(0); });
    if (passes.empty())
        return;
    const ForeignKeysOff keysOff(*m_store);
    JournalTransaction transaction(*m_store);
    for (const PassId pass : passes) {
        m_statements->deleteMarksOf.Bind(1, pass).Run();
        m_statements->deleteShiftKeysOf.Bind(1, pass).Run();
        m_statements->deletePass.Bind(1, pass).Run();
    }
    transaction.Commit();
    m_collected = false;
}

void Journal::CollectPruned(std::int64_t rows)
{
    while (rows > 0 && !m_collected) {
        if (m_pruned == 0) {
            // A prune takes the oldest finished passes, so the changes of passes that are gone
            // come before those of every finished pass kept; only passes kept unfinished, for
            // their recovery, can come before them.
            PassId after = 0;
            for (;;) {
                JournalStatement &next = m_statements->nextChangedPass;
                next.Bind(1, after);
                const bool found = next.Step();
                const PassId pass = found ? next.Integer(0) : 0;
                next.Reset();
                if (!found) {
                    m_collected = true;
                    return;
                }
                JournalStatement &ended = m_statements->passEnded;
                ended.Bind(1, pass);
                const bool kept = ended.Step();
                const bool finished = kept && ended.Integer(0) != 0;
                ended.Reset();
                if (finished) {
                    m_collected = true;
                    return;
                }
                if (!kept) {
                    m_pruned = pass;
                    break;
                }
                after = pass;
            }
        }
        m_statements->deleteChangesOf.Bind(1, m_pruned).Bind(2, rows).Run();
        const std::int64_t deleted = m_store->ChangedRows();
        if (deleted < rows)
            m_pruned = 0;
        rows -= deleted;
    }
}

std::optional<JournaledPass> Journal::FindPass(PassId pass)
{
    JournalStatement &query = m_statements->findPass;
    query.Bind(1, pass);
    std::vector<JournaledPass> rows = AllRows<JournaledPass>(query, ReadPass);
    if (rows.empty())
        return std::nullopt;
    return rows.front();
}

std::vector<JournaledPass> Journal::Passes()
{
    return AllRows<JournaledPass>(m_statements->passes, ReadPass);
}

std::optional<JournaledPass> Journal::LastUndoablePass()
{
    // A pass that changed nothing (a second press of "&Date Pictures", a rerun whose pictures
    // were dated and shifted before) would otherwise stand between the user and the pass over
    // the same folders that they mean to take back, and after its empty undo the refusal would
    // keep that one out of reach. A pass over other folders is never taken for it.
    std::optional<JournaledPass> last;
    for (JournaledPass &pass : Passes()) {
        if (pass.undoes != 0 || (last && pass.sources != last->sources))
            continue;
        if (!last)
            last = pass;
        if (pass.undone != 0 || CountDoneChanges(pass.id).pictures > 0)
            return pass;
    }
    return last;
}

std::vector<JournaledPass> Journal::UnfinishedPasses()
{
    std::vector<JournaledPass> rows = AllRows<JournaledPass>(m_statements->unfinished, ReadPass);
    const std::lock_guard<std::mutex> guard(s_runningLock);
    std::erase_if(rows, [&](const JournaledPass &pass) {
        return s_running.count({Path(), pass.id});
    });
    return rows;
}

std::vector<ChangeRecord> Journal::Changes(PassId pass, std::optional<ChangeState> state)
{
    JournalStatement &query = m_statements->changes;
    query.Bind(1, pass);
    std::vector<ChangeRecord> changes = AllRows<ChangeRecord>(query, ReadChange);
    // The marks in the order made, each over the changes of its range: the last one holds.
    struct Range
    {
        ChangeId first, last;
        ChangeState state;
    };
    JournalStatement &marks = m_statements->marksOfPass;
    marks.Bind(1, pass);
    const std::vector<Range> ranges = AllRows<Range>(marks, [](const JournalStatement &row) {
        return Range{row.Integer(0), row.Integer(1), static_cast<ChangeState>(row.Integer(2))};
    });
    for (const Range &range : ranges) {
        auto at = std::lower_bound(
                changes.begin(), changes.end(), range.first,
                [](const ChangeRecord &change, ChangeId id) { return change.id < id; });
        for (; at != changes.end() && at->id <= range.last; ++at)
            at->state = range.state;
    }
    if (state)
        std::erase_if(changes, [&](const ChangeRecord &change) { return change.state != *state; });
    return changes;
}

PassChangeCounts Journal::CountDoneChanges(PassId pass)
{
    PassChangeCounts counts;
    std::set<std::int64_t> pictures;
    for (const ChangeRecord &record : Changes(pass, ChangeState::Done)) {
        pictures.insert(record.picture);
        counts.renames += record.change.kind == ChangeKind::Rename;
        counts.shifts += record.change.kind == ChangeKind::Shift;
        counts.times += record.change.kind == ChangeKind::Time;
    }
    counts.pictures = static_cast<int>(pictures.size());
    return counts;
}

void Journal::EndInterruptedPass(PassId pass)
{
    JournalTransaction transaction(*m_store);
    FlushMarks();
    m_statements->endInterrupted.Bind(1, pass).Bind(2, Now()).Run();
    transaction.Commit();
}

std::vector<ChangeRecord> Journal::RenamesAfter(ChangeId after)
{
    JournalStatement &query = m_statements->renamesAfter;
    query.Bind(1, after);
    std::vector<ChangeRecord> renames = AllRows<ChangeRecord>(query, ReadChange);
    for (ChangeRecord &rename : renames)
        rename.state = StateOf(rename.pass, rename.id);
    return renames;
}

bool Journal::RenamedBefore(PassId pass, const std::string &newPath, FileIdentity identity)
{
    if (identity == FileIdentity{})
        return false;
    JournalStatement &query = m_statements->renamesOfFileToBefore;
    query.Bind(1, pass)
            .BindBytes(2, newPath)
            .Bind(3, static_cast<std::int64_t>(identity.device))
            .Bind(4, static_cast<std::int64_t>(identity.inode));
    const auto renames =
            AllRows<std::pair<ChangeId, PassId>>(query, [](const JournalStatement &row) {
                return std::make_pair(row.Integer(0), row.Integer(1));
            });
    return std::any_of(renames.begin(), renames.end(), [this](const auto &rename) {
        return StateOf(rename.second, rename.first) == ChangeState::Done;
    });
}

bool Journal::HasShiftsBy(int hours)
{
    JournalStatement &query = m_statements->shiftsBy;
    query.Bind(1, hours);
    const bool found = query.Step() && query.Integer(0) != 0;
    query.Reset();
    return found;
}

void Journal::ReadShiftsBy(int hours)
{
    // The lists of shifts by these hours committed since the last read, by any connection, join
    // those known; a shift that was pruned since is not found again by FindEarlierShift.
    ShiftPairs &known = m_shiftPairs[hours];
    if (known.last == 0) {
        // The first read may hold every shift of a long journal, the later ones a batch or two.
        JournalStatement &count = m_statements->shiftKeyBytes;
        count.Bind(1, hours);
        const std::int64_t bytes = count.Step() ? count.Integer(0) : 0;
        count.Reset();
        known.table.Reserve(static_cast<std::size_t>(bytes) / kShiftKeyBytes);
    }
    JournalStatement &since = m_statements->shiftKeysSince;
    since.Bind(1, hours).Bind(2, known.last);
    try {
        while (since.Step()) {
            if (!known.table.AddAll(since.BytesView(1)))
                throw JournalError(JournalErrorMessage(Path(), "a list of its shifts is damaged"));
            known.last = since.Integer(0);
        }
    } catch (...) {
        since.Reset();
        throw;
    }
    since.Reset();
}

Journal::ShiftRecord *Journal::ShiftRecordOf(ChangeId shift)
{
    auto known = m_shiftRecords.find(shift);
    if (known == m_shiftRecords.end()) {
        // None when it was pruned since its pair was read.
        JournalStatement &query = m_statements->shiftWriting;
        query.Bind(1, shift);
        std::vector<ShiftRecord> rows =
                AllRows<ShiftRecord>(query, [](const JournalStatement &row) {
                    ShiftRecord record;
                    record.shift = {row.Integer(0), row.Integer(1)};
                    record.picture = row.Integer(2);
                    record.path = row.Bytes(3);
                    record.identity = {static_cast<std::uint64_t>(row.Integer(4)),
                                       static_cast<std::uint64_t>(row.Integer(5))};
                    record.fileSystemUuid = row.Bytes(6);
                    record.pair = row.Bytes(7);
                    record.hours = static_cast<int>(row.Integer(8));
                    record.offset = static_cast<std::uint64_t>(row.Integer(9));
                    record.size = static_cast<std::uint64_t>(row.Integer(10));
                    return record;
                });
        known = m_shiftRecords
                        .emplace(shift, rows.empty() ? std::nullopt
                                                     : std::optional(std::move(rows.front())))
                        .first;
    }
    return known->second ? &*known->second : nullptr;
}

const std::vector<std::pair<ChangeId, std::string>> &Journal::RenamesOf(ShiftRecord &record)
{
    if (!record.renames) {
        JournalStatement &renames = m_statements->renamesOfPicture;
        renames.Bind(1, record.shift.pass).Bind(2, record.picture);
        record.renames =
                AllRows<std::pair<ChangeId, std::string>>(renames, [](const JournalStatement &row) {
                    return std::make_pair(row.Integer(0), row.Bytes(1));
                });
    }
    return *record.renames;
}

RenameTrail &Journal::TrailSince(PassId pass)
{
    auto known = m_trails.find(pass);
    if (known == m_trails.end()) {
        JournalStatement &first = m_statements->firstChangeOf;
        first.Bind(1, pass);
        const ChangeId after = first.Step() ? first.Integer(0) - 1 : 0;
        first.Reset();
        known = m_trails.emplace(pass, std::make_unique<RenameTrail>(*this, pass, after)).first;
    }
    return *known->second;
}

std::optional<EarlierShift> Journal::FindEarlierShift(const std::string &path, std::uint64_t size,
                                                      std::uint64_t offset, const std::string &pair,
                                                      int hours, FileIdentity identity,
                                                      const std::string &fileSystemUuid)
{
    if (!m_keepShiftsRead || !m_shiftPairs.count(hours))
        ReadShiftsBy(hours);
    std::vector<ChangeId> ids;
    m_shiftPairs[hours].table.Find(ShiftPairKey(offset, size, pair), ids);
    std::sort(ids.rbegin(), ids.rend()); // the newest first
    std::vector<std::pair<ChangeId, ShiftRecord *>> candidates;
    for (const ChangeId id : ids) {
        // The key is a hash of the pair, its offset and the file's size; a list may also name a
        // change already collected after its pass was pruned.
        ShiftRecord *record = ShiftRecordOf(id);
        if (record && record->pair == pair && record->hours == hours && record->offset == offset
            && record->size == size)
            candidates.emplace_back(id, record);
    }
    std::optional<EarlierShift> found;
    for (const auto &[id, record] : candidates) {
        const ShiftRecord &candidate = *record;
        // A file on another file system is another file, whatever its path.
        if (!fileSystemUuid.empty() && !candidate.fileSystemUuid.empty()
            && fileSystemUuid != candidate.fileSystemUuid)
            continue;
        // A pass killed before it marked its shift, and not recovered (its file lies outside the
        // folders a later pass held, reached through a link): the pair holds what it wrote, so
        // the shift was made, and its rename may have been too.
        bool killed = false;
        {
            const std::lock_guard<std::mutex> guard(s_runningLock);
            killed = !s_running.count({Path(), candidate.shift.pass});
        }
        const ChangeState state = StateOf(candidate.shift.pass, id);
        if (state != ChangeState::Done && !(killed && state == ChangeState::Planned))
            continue;
        // Where the file ended: the new name of a rename of its picture that was made.
        const std::string *endedAt = &candidate.path;
        bool renamedThere = false;
        for (const auto &[rename, to] : RenamesOf(*record)) {
            const ChangeState renamed = StateOf(candidate.shift.pass, rename);
            if (renamed == ChangeState::Done) {
                endedAt = &to;
                break;
            }
            renamedThere = renamedThere
                           || (state == ChangeState::Planned && renamed == ChangeState::Planned
                               && to == path);
        }
        // Another name of the same file (a hard link) holds the same shifted pair: the name the
        // shift ended at still names this very file (an inode number alone may have been given
        // again to another file since).
        // A killed pass's shift made through a name gone since (a link in a folder deleted since
        // the kill) has its inode, the file's size and the pair to go by.
        // A file that left the name by a move the journal does not know of (its owner renamed it
        // or moved it to another folder) is the shifted one where it was made before the pass
        // began: it has held its inode number all along, so no other file had it meanwhile. The
        // pass's start is known to the second, so a file made within that second does not count.
        const auto sameFile = [&] {
            if (identity == FileIdentity{} || candidate.identity != identity)
                return false;
            FileState ended;
            const int error = ReadFileState(*endedAt, ended);
            if (error == 0 ? ended.identity == identity
                           : killed && state == ChangeState::Planned
                                     && (error == ENOENT || error == ENOTDIR))
                return true;
            return BornBefore(path, identity, candidate.shift.started);
        };
        // The pass shifted the file under another name (a symbolic link to it), and renamed it to
        // this path under its own.
        const auto renamedHere = [&] {
            if (identity == FileIdentity{} || candidate.identity != identity)
                return false;
            JournalStatement &to = m_statements->renamesOfFileTo;
            to.Bind(1, candidate.shift.pass)
                    .BindBytes(2, path)
                    .Bind(3, static_cast<std::int64_t>(identity.device))
                    .Bind(4, static_cast<std::int64_t>(identity.inode));
            for (const ChangeId id : AllRows<ChangeId>(
                         to, [](const JournalStatement &row) { return row.Integer(0); })) {
                if (StateOf(candidate.shift.pass, id) == ChangeState::Done)
                    return true;
            }
            return false;
        };
        if (*endedAt != path && !renamedThere && !sameFile() && !renamedHere())
            continue;
        // A name holds what the journal says only as long as no later pass or undo renamed
        // another picture with the same bytes to it after the shifted one left it. The file
        // itself may have left and come back by renames the journal does not know of, as when
        // its owner renamed it and a pass gave it its date name again: its inode says it is the
        // same file where the mount keeps inodes (and the two other ways need that inode).
        const bool sameInode = identity != FileIdentity{} && candidate.identity == identity;
        if (!sameInode
            && TrailSince(candidate.shift.pass).Follow(path) != RenameTrail::Fate::StaysThere)
            continue;
        // Of several, the one the inode names; else the newest.
        if (sameInode)
            return candidate.shift;
        if (!found)
            found = candidate.shift;
    }
    return found;
}

} // namespace kronvik
