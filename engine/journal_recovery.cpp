// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "journal_recovery.h"

#include "folder_chain.h"

#include "file_services.h"
#include "file_state.h"
#include "local_clock.h"
#include "locked_file.h"
#include "path_names.h"
#include "picture_file.h"
#include "picture_scan.h"
#include "run_log.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <map>
#include <set>
#include <sys/stat.h>

namespace kronvik {

namespace {

const char *const kRecoveredLine = "%4d-%02d-%02d %02d:%02d:%02d: Recovered the unfinished pass of "
                                   "%s: %d changes taken back.";

constexpr std::int64_t kNanosecondsPerSecond = 1000000000;

// What became of one planned change.
ChangeState TakeBackTime(const JournalChange &change)
{
    FileState state;
    if (ReadFileState(change.path, state) != 0 || !state.regular)
        return ChangeState::Abandoned;
    if (change.timeBefore == change.timeAfter
        || !SameModificationTime(state.modified, change.timeAfter, change.path))
        return ChangeState::Abandoned;
    return SetModificationTime(change.path, change.timeBefore) == 0 ? ChangeState::TakenBack
                                                                    : ChangeState::Done;
}

ChangeState TakeBackShift(const JournalChange &change)
{
    FileState state;
    if (ReadFileState(change.path, state) != 0 || !state.regular || state.size != change.size)
        return ChangeState::Abandoned;
    std::string found(kShiftedPairBytes, '\0');
    PictureFile reader;
    if (reader.Open(change.path) != 0
        || reader.ReadAt(change.offset, found.data(), found.size())
                   != static_cast<std::int64_t>(found.size()))
        return ChangeState::Abandoned;
    if (found != change.bytesAfter) {
        // A write killed before it copied a byte has still given the file a new time.
        if (found == change.bytesBefore && state.modified != change.timeBefore)
            SetModificationTime(change.path, change.timeBefore);
        return ChangeState::Abandoned;
    }
    reader.Close();
    // Made: it stays done, for an undo, where the file cannot be written now.
    LockedFile file;
    if (file.OpenExistingForUpdate(change.path) != 0
        || file.ReadAt(found.data(), found.size(), static_cast<off_t>(change.offset))
                   != static_cast<ssize_t>(found.size())
        || found != change.bytesAfter)
        return ChangeState::Done;
    if (file.WriteAt(change.bytesBefore.data(), change.bytesBefore.size(),
                     static_cast<off_t>(change.offset))
                != 0
        || file.Close() != 0)
        return ChangeState::Done;
    // The write gave the file a new time; it gets the one it had before the pass.
    SetModificationTime(change.path, change.timeBefore);
    return ChangeState::TakenBack;
}

// Whether `directory` lists an entry named exactly `name` (not only one that a case-insensitive
// lookup finds).
bool ListsExactName(const std::string &directory, const std::string &name)
{
    std::vector<DirectoryEntry> entries;
    if (!ListDirectory(directory.empty() ? "." : directory, entries))
        return false;
    return std::any_of(entries.begin(), entries.end(),
                       [&](const DirectoryEntry &entry) { return entry.name == name; });
}

// Whether two paths name one directory entry, also when spelt differently ("A//x.jpg" and
// "A/x.jpg", a folder given twice, once with a trailing separator).
bool SameEntry(const std::string &a, const std::string &b)
{
    if (a == b)
        return true;
    const auto aSplit = a.rfind(kPathSeparator), bSplit = b.rfind(kPathSeparator);
    if (aSplit == std::string::npos || bSplit == std::string::npos
        || a.compare(aSplit, std::string::npos, b, bSplit, std::string::npos) != 0)
        return false;
    FileIdentity aFolder, bFolder;
    return IdentifyFile(a.substr(0, aSplit + 1), aFolder)
           && IdentifyFile(b.substr(0, bSplit + 1), bFolder) && aFolder == bFolder;
}

// Whether the name `change` was to give was there before its rename was tried: a name another
// rename of the pass gave (made, as its old name is gone), one that a change of another picture
// was made under, the name another picture was read under, or that of one dated where it was. Then
// it is a hard link of the file since before the pass, not one that a link and unlink for `change`
// left.
bool NameThereBefore(const std::vector<ChangeRecord> &rows, const JournalChange &change,
                     std::int64_t picture)
{
    std::set<std::int64_t> renamed;
    for (const ChangeRecord &row : rows)
        if (row.change.kind == ChangeKind::Rename)
            renamed.insert(row.picture);
    return std::any_of(rows.begin(), rows.end(), [&](const ChangeRecord &row) {
        const JournalChange &other = row.change;
        if (row.picture == picture)
            return false;
        // A shift or rename starts from the name the picture had when it was read.
        if ((!renamed.count(row.picture) || other.kind != ChangeKind::Time)
            && other.path == change.newPath)
            return true;
        const bool renamedTo = other.kind == ChangeKind::Rename && other.newPath == change.newPath;
        if (row.state == ChangeState::Done && (renamedTo || other.path == change.newPath))
            return true;
        FileState state;
        return renamedTo && other.path != change.path
               && ReadFileState(other.path, state, false) == ENOENT;
    });
}

ChangeState TakeBackRename(Journal &journal, const JournaledPass &pass, const JournalChange &change,
                           const std::vector<ChangeRecord> &rows, std::int64_t picture)
{
    const std::int64_t passStarted = pass.started;
    const std::string &oldPath = change.path;
    const std::string &newPath = change.newPath;
    FileState oldState, newState;
    ReadFileState(oldPath, oldState, false);
    ReadFileState(newPath, newState, false);
    if (!newState.exists)
        return ChangeState::Abandoned; // never made, or the file is gone
    FileState target;
    ReadFileState(newPath, target);
    if (!oldState.exists) {
        // Made: the file has its new name only. A file of another size there is not ours.
        if (!target.regular || target.size != change.size)
            return ChangeState::Abandoned;
        // Made by the done rename of the picture's earlier entry (its folder listed twice), which
        // stays for an undo: this one found the picture gone.
        if (std::any_of(rows.begin(), rows.end(), [&](const ChangeRecord &row) {
                return row.state == ChangeState::Done && row.change.kind == ChangeKind::Rename
                       && SameEntry(row.change.path, oldPath)
                       && SameEntry(row.change.newPath, newPath);
            }))
            return ChangeState::Abandoned;
        return RenameNoReplace(newPath, oldPath) == 0 ? ChangeState::TakenBack : ChangeState::Done;
    }
    if (oldState.identity == newState.identity) {
        // Two names of one entry: two links left by a link and unlink, or, on a file system that
        // ignores letter case, one name reached both ways; the listing tells which.
        const auto split = oldPath.rfind(kPathSeparator);
        const std::string directory = split == std::string::npos ? "." : oldPath.substr(0, split);
        const bool listsOld = ListsExactName(directory, oldPath.substr(split + 1));
        const bool listsNew = ListsExactName(directory, newPath.substr(newPath.rfind('/') + 1));
        // A link made by the pass moved the file's change time; two names of a file untouched
        // since before the pass, or whose new one was there before the rename was tried (given
        // by this pass or an earlier one), are hard links of its owner's, and both stay.
        if (listsOld && listsNew && newState.links >= 2
            && (newState.changedSeconds < passStarted - 2 || NameThereBefore(rows, change, picture)
                || journal.RenamedBefore(pass.id, newPath, newState.identity)))
            return ChangeState::Abandoned;
        if (listsOld && listsNew && newState.links >= 2)
            return RemoveName(newPath) == 0 ? ChangeState::TakenBack : ChangeState::Planned;
        if (listsNew && !listsOld)
            return RenameNoReplace(newPath, oldPath) == 0 ? ChangeState::TakenBack
                                                          : ChangeState::Done;
        return ChangeState::Abandoned;
    }
    // The picture has its new name, and an empty file made since the pass began its old one: the
    // placeholder of a rename back by an earlier recovery, killed before that rename on FAT.
    if (oldState.regular && oldState.size == 0 && change.size > 0 && target.regular
        && target.size == change.size
        && RemoveEmptyFile(oldPath, (passStarted - 2) * kNanosecondsPerSecond) == 0)
        return RenameNoReplace(newPath, oldPath) == 0 ? ChangeState::TakenBack : ChangeState::Done;
    // The picture kept its old name. An empty file under the new name, made during the pass, is
    // the placeholder the rename reserved; a file of someone's stays. FAT keeps times in 2-second
    // steps, rounded down.
    if (newState.regular && newState.size == 0 && change.size > 0) {
        const std::int64_t notBefore = (passStarted - 2) * kNanosecondsPerSecond;
        const int error = RemoveEmptyFile(newPath, notBefore);
        if (error == 0)
            return ChangeState::TakenBack;
        // Still there, and still to be removed by a later recovery when it could not be now.
        if (error != EEXIST && error != ENOENT)
            return ChangeState::Planned;
    }
    return ChangeState::Abandoned;
}

// Whether a row marked done made the same change: the same file listed twice, or reached under
// another name (a symbolic or hard link to it), plans the same shift or time under each, and what
// the first one did stays for an undo. Within one pass, one file keeps its device and inode.
bool DoneByAnotherRow(const std::vector<ChangeRecord> &rows, const JournalChange &change)
{
    return std::any_of(rows.begin(), rows.end(), [&](const ChangeRecord &row) {
        const JournalChange &done = row.change;
        if (row.state != ChangeState::Done || done.kind != change.kind)
            return false;
        if (!SameEntry(done.path, change.path)
            && (change.identity == FileIdentity{} || done.identity != change.identity))
            return false;
        if (change.kind == ChangeKind::Time)
            return done.timeAfter == change.timeAfter;
        return change.kind == ChangeKind::Shift && done.offset == change.offset
               && done.bytesAfter == change.bytesAfter;
    });
}

ChangeState TakeBack(Journal &journal, const JournaledPass &pass, const JournalChange &change,
                     const std::vector<ChangeRecord> &rows, std::int64_t picture)
{
    if (DoneByAnotherRow(rows, change))
        return ChangeState::Abandoned;
    switch (change.kind) {
    case ChangeKind::Time:
        return TakeBackTime(change);
    case ChangeKind::Shift:
        return TakeBackShift(change);
    case ChangeKind::Rename:
        return TakeBackRename(journal, pass, change, rows, picture);
    }
    return ChangeState::Abandoned;
}

std::string DirectoryOf(const std::string &path)
{
    const auto split = path.rfind(kPathSeparator);
    if (split == std::string::npos)
        return ".";
    return split == 0 ? std::string(1, kPathSeparator) : path.substr(0, split);
}

// Adds `folder` to `identities` and `spelt`, as HeldFolders knows a folder.
void AddHeld(std::string folder, std::vector<FileIdentity> &identities,
             std::vector<std::string> &spelt)
{
    FileIdentity identity;
    if (IdentifyFile(folder, identity))
        identities.push_back(identity);
    folder = AbsolutePath(folder);
    while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    spelt.push_back(folder == "/" ? "" : folder);
}

// The folders a caller holds locked, and whether a directory lies in one of them: itself, or
// below it as the file system links directories (each ".." up to the root, and what a bind mount
// shows also below the folders above what it shows), not as paths spell them. A folder held only
// shared, above a source directory, holds its own files only: no other run changes them, but
// another may work in a folder below it.
class HeldFolders
{
public:
    explicit HeldFolders(const std::vector<std::string> &trees)
    {
        for (const std::string &folder : trees)
            AddTree(folder);
    }

    // A folder found by the scan (RecoverFoundFolder).
    HeldFolders(const std::string &found, bool ownFilesOnly)
    {
        if (ownFilesOnly)
            AddHeld(found, m_own, m_ownSpelt);
        else
            AddTree(found);
    }

    void AddTree(const std::string &folder)
    {
        AddHeld(folder, m_folders, m_spelt);
        m_answers.clear();
    }

    bool Contains(const std::string &directory)
    {
        if (const auto known = m_answers.find(directory); known != m_answers.end())
            return known->second;
        // Below a folder held as spelt: reached from it, through a link to a folder elsewhere
        // too, as the run holding it reaches it.
        bool contained = std::any_of(m_spelt.begin(), m_spelt.end(), [&](const std::string &held) {
            return directory == held
                   || (directory.size() > held.size() && directory.starts_with(held)
                       && directory[held.size()] == '/');
        });
        contained =
                contained
                || std::find(m_ownSpelt.begin(), m_ownSpelt.end(), directory) != m_ownSpelt.end();
        if (!contained) {
            const FolderChain chain = DirectoryAndAbove(directory, m_mounts);
            contained = std::any_of(chain.begin(), chain.end(), [&](const FolderAbove &above) {
                return std::find(m_folders.begin(), m_folders.end(), above.lock.Identity())
                       != m_folders.end();
            });
            contained = contained
                        || (!chain.empty()
                            && std::find(m_own.begin(), m_own.end(), chain.front().lock.Identity())
                                       != m_own.end());
        }
        m_answers.emplace(directory, contained);
        return contained;
    }

    // Whether `change` is one to take back in these folders, or to hold them for: its file lies
    // in one, under the name the journal gives it or, through a link it names, the file the link
    // leads to (a pass over a folder of links shifts and times the pictures elsewhere).
    bool Reaches(const JournalChange &change)
    {
        if (Contains(DirectoryOf(change.path)))
            return true;
        for (const std::string *path : {&change.path, &change.newPath}) {
            const std::string folder = path->empty() ? std::string() : FolderOfLinkedFile(*path);
            if (!folder.empty() && Contains(folder))
                return true;
        }
        return false;
    }

private:
    std::vector<FileIdentity> m_folders, m_own;
    std::vector<std::string> m_spelt, m_ownSpelt;
    std::map<std::string, bool> m_answers;
    MountTable m_mounts;
};

} // namespace

std::string JournalTimeText(std::int64_t seconds)
{
    const CalendarTime time = BreakDownLocalTime(seconds);
    return FormatText("%4d-%02d-%02d %02d:%02d:%02d", time.year, time.month, time.day, time.hour,
                      time.minute, time.second);
}

bool SameModificationTime(std::int64_t actual, std::int64_t expected, const std::string &path)
{
    if (actual == expected)
        return true;
    std::int64_t seconds = expected / kNanosecondsPerSecond;
    if (expected % kNanosecondsPerSecond < 0)
        --seconds;
    const std::int64_t evenSecond = (seconds - ((seconds % 2) + 2) % 2) * kNanosecondsPerSecond;
    return actual == evenSecond && KeepsTwoSecondTimes(path);
}

namespace {

std::vector<PassId> PendingRecoveries(Journal &journal, HeldFolders &held)
{
    std::vector<PassId> pending;
    for (const JournaledPass &pass : journal.UnfinishedPasses()) {
        if (ProcessStillRuns(journal, pass))
            continue;
        bool relevant = false;
        for (const std::string &source : SplitSourceList(pass.sources))
            relevant = relevant || held.Contains(source);
        for (const ChangeRecord &row : journal.Changes(pass.id, ChangeState::Planned))
            relevant = relevant || held.Reaches(row.change);
        if (relevant)
            pending.push_back(pass.id);
    }
    return pending;
}

} // namespace

std::vector<PassId> PendingRecoveries(Journal &journal, const std::vector<std::string> &heldFolders)
{
    HeldFolders held(heldFolders);
    return PendingRecoveries(journal, held);
}

namespace {

// The folder of `path` as the journal names it and, where `path` is a link to a picture, the
// folder of the picture: a shift and a time reach the picture through the link.
void AddFoldersOf(const std::string &path, std::set<std::string> &folders)
{
    if (path.empty())
        return;
    folders.insert(DirectoryOf(path));
    if (std::string folder = FolderOfLinkedFile(path); !folder.empty())
        folders.insert(std::move(folder));
}

} // namespace

std::vector<std::string> FoldersOfChanges(const std::vector<ChangeRecord> &rows)
{
    std::set<std::string> folders;
    for (const ChangeRecord &row : rows) {
        AddFoldersOf(row.change.path, folders);
        AddFoldersOf(row.change.newPath, folders);
    }
    return {folders.begin(), folders.end()};
}

namespace {

std::vector<std::string> FoldersToRecover(Journal &journal, HeldFolders &held)
{
    std::set<std::string> folders;
    for (const JournaledPass &pass : journal.UnfinishedPasses()) {
        if (ProcessStillRuns(journal, pass))
            continue;
        for (const ChangeRecord &row : journal.Changes(pass.id, ChangeState::Planned)) {
            if (!held.Reaches(row.change))
                continue;
            AddFoldersOf(row.change.path, folders);
            AddFoldersOf(row.change.newPath, folders);
        }
    }
    return {folders.begin(), folders.end()};
}

} // namespace

std::vector<std::string> FoldersToRecover(Journal &journal,
                                          const std::vector<std::string> &heldFolders)
{
    HeldFolders held(heldFolders);
    return FoldersToRecover(journal, held);
}

bool HoldFoldersToRecover(Journal &journal, SourceLocks &locks, LockWaiter &waiter,
                          const std::vector<std::string> &alsoFolders)
{
    // Each time the locks are taken again, a pass killed meanwhile may add folders; a third look
    // is left as it is, the recovery being what it was before links were locked.
    for (int look = 0; look < 3; ++look) {
        std::vector<std::string> folders = FoldersToRecover(journal, locks.Folders());
        folders.insert(folders.end(), alsoFolders.begin(), alsoFolders.end());
        if (locks.Covers(folders))
            return true;
        locks.AddFolders(folders);
        if (!locks.Take(locks.SourceText(), waiter))
            return false;
    }
    return true;
}

namespace {

int RecoverUnfinishedPasses(Journal &journal, HeldFolders &held, const LogClock &clock, RunLog &log)
{
    int takenBackInAll = 0;
    for (const JournaledPass &pass : journal.UnfinishedPasses()) {
        if (ProcessStillRuns(journal, pass))
            continue;
        bool relevant = false;
        for (const std::string &source : SplitSourceList(pass.sources))
            relevant = relevant || held.Contains(source);
        std::vector<ChangeRecord> rows = journal.Changes(pass.id);
        // A picture's time is set under the name its rename gave it, so it can have been set only
        // where that rename was made: the name may hold another picture that took it first.
        std::map<std::int64_t, ChangeRecord *> renames;
        for (ChangeRecord &row : rows)
            if (row.change.kind == ChangeKind::Rename)
                renames[row.picture] = &row;
        int takenBack = 0;
        bool remaining = false;
        // Renames taken back, by their old and new path: the same rename planned for a later
        // entry of the same picture (a folder listed twice) may be the one that took it back.
        std::vector<std::pair<std::string, std::string>> renamedBack;
        const auto takeBack = [&](ChangeRecord &row, const JournalChange &change) {
            if (!held.Contains(DirectoryOf(row.change.path))) {
                remaining = true;
                return ChangeState::Planned;
            }
            relevant = true;
            const ChangeState state = TakeBack(journal, pass, change, rows, row.picture);
            if (state == ChangeState::Planned) {
                remaining = true;
                return state;
            }
            if (state == ChangeState::TakenBack)
                ++takenBack;
            if (state == ChangeState::TakenBack && change.kind == ChangeKind::Rename)
                renamedBack.emplace_back(change.path, change.newPath);
            row.state = state;
            journal.Mark(row.id, state, pass.id);
            return state;
        };
        // The pass's line goes to the log once its files are taken back, before their marks are
        // written: a journal that fails then must not keep from the user what was changed.
        const auto report = [&] {
            log.AppendLogLine(FormatLogLine(ReadLogTime(clock), kRecoveredLine,
                                            JournalTimeText(pass.started).c_str(), takenBack));
        };
        try {
            for (auto row = rows.rbegin(); row != rows.rend(); ++row) {
                if (row->state != ChangeState::Planned)
                    continue;
                const auto rename = renames.find(row->picture);
                if (row->change.kind != ChangeKind::Time || rename == renames.end()) {
                    takeBack(*row, row->change);
                    continue;
                }
                ChangeRecord &renamed = *rename->second;
                if (renamed.state == ChangeState::Planned) {
                    // An undo gives a file its old name before its old bytes: a shift it planned
                    // after the rename was made under the old name, and goes back while the file
                    // is still there.
                    for (ChangeRecord *between = &*row; between > &renamed + 1;) {
                        --between;
                        if (between->picture == row->picture
                            && between->state == ChangeState::Planned
                            && between->change.kind == ChangeKind::Shift)
                            takeBack(*between, between->change);
                    }
                    takeBack(renamed, renamed.change);
                }
                JournalChange time = row->change;
                // The file is under its old name: renamed back (by this recovery, under this entry
                // or another of the same picture), never renamed, or renamed back by a recovery
                // killed before it took back the time. Only a file that holds exactly the time set
                // gets its old one.
                if (renamed.state == ChangeState::TakenBack
                    || renamed.state == ChangeState::Abandoned
                    || std::any_of(renamedBack.begin(), renamedBack.end(), [&](const auto &back) {
                           return SameEntry(back.first, renamed.change.path)
                                  && SameEntry(back.second, renamed.change.newPath);
                       }))
                    time.path = renamed.change.path;
                else if (renamed.state != ChangeState::Done)
                    time.path.clear(); // never renamed, so never timed
                if (time.path.empty() && held.Contains(DirectoryOf(row->change.path)))
                    journal.Mark(row->id, ChangeState::Abandoned, pass.id);
                else if (time.path.empty())
                    remaining = true;
                else
                    takeBack(*row, time);
            }
        } catch (const JournalError &) {
            if (takenBack > 0)
                report();
            throw;
        }
        if (!relevant)
            continue;
        report();
        takenBackInAll += takenBack;
        journal.Flush();
        if (!remaining)
            journal.EndInterruptedPass(pass.id);
    }
    return takenBackInAll;
}

} // namespace

int RecoverUnfinishedPasses(Journal &journal, const std::vector<std::string> &heldFolders,
                            const LogClock &clock, RunLog &log)
{
    HeldFolders held(heldFolders);
    return RecoverUnfinishedPasses(journal, held, clock, log);
}

int RecoverFoundFolder(Journal &journal, SourceLocks &locks, const std::string &folder,
                       bool ownFilesOnly, const LogClock &clock, RunLog &log)
{
    HeldFolders held(folder, ownFilesOnly);
    // The folders the killed passes worked in beyond it, through links: this run holds them
    // already, or locks them now without waiting.
    for (const std::string &beyond : FoldersToRecover(journal, held)) {
        if (held.Contains(beyond))
            continue;
        if (!locks.Covers({beyond})) {
            const FolderCover cover = locks.LockFoundFolder(beyond);
            if (cover == FolderCover::HeldByAnotherRun || cover == FolderCover::SharedByThisRun)
                return -1;
        }
        held.AddTree(beyond);
    }
    return RecoverUnfinishedPasses(journal, held, clock, log);
}

std::vector<PassId> PendingInFoundFolder(Journal &journal, const std::string &folder,
                                         bool ownFilesOnly)
{
    HeldFolders held(folder, ownFilesOnly);
    return PendingRecoveries(journal, held);
}

bool ProcessStillRuns(const Journal &journal, const JournaledPass &pass)
{
    if (pass.processStamp.empty())
        return false;
    if (pass.process == CurrentProcessId())
        return false; // its journal object is gone, or the pass would not be listed
    if (ProcessStamp(static_cast<pid_t>(pass.process)) != pass.processStamp)
        return false;
    // Where locks cannot be asked about, a process that lives on is taken to run its pass.
    return ReadRunningPassMark(journal.RunningPassesPath(), pass.id) != RunningPassState::Unmarked;
}

} // namespace kronvik
