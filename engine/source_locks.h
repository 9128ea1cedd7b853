// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "directory_lock.h"
#include "folder_chain.h"

#include <map>
#include <string>
#include <vector>

namespace kronvik {

// What a run holds on a folder its scan found outside its source directories.
enum class FolderCover {
    Exclusive, // it, or a folder above it, exclusively: the scan may search it
    SharedByThisRun, // only shared, above a source directory: its own pictures are safe, and
                     // each subfolder entered is to be locked in turn
    HeldByAnotherRun, // the scan leaves it out
    Unlocked, // it cannot be opened, or its file system refuses locks: as for a source directory
};

// How a front end waits for a directory that another run holds: it tells the user in its own way
// and waits (with DirectoryLockWait) while it keeps its own events going.
class LockWaiter
{
public:
    virtual ~LockWaiter() = default;
    // `directory` is named as the source list names it. True once `lock` is taken or refused by
    // its file system; false when the user ended the wait.
    virtual bool WaitForLock(const std::string &directory, DirectoryLock &lock, LockMode mode) = 0;
};

// The advisory locks a run holds from before its picture scan to the end of its pass, so that two
// runs over one folder never interleave: every directory of the source list exclusively, and the
// directories above each one shared, since a run over a parent folder searches the child too.
// Runs over folders apart from each other go side by side.
class SourceLocks
{
public:
    // Releases what is held, then takes the locks for `sourceText` in one order (by device and
    // inode, each directory once, the exclusive lock where a directory is wanted both ways), so
    // that two runs never wait for each other in a circle. A directory that cannot be opened is
    // left out (the scan reports it), and so is one whose file system refuses locks. False, with
    // nothing held, when the waiter gave up. The folders that earlier scans of the same list
    // entered through links, and those added for it, are locked again with them.
    bool Take(const std::string &sourceText, LockWaiter &waiter);
    void Release();

    // Locks a folder that the scan finds outside the reach of this run's exclusive locks: one it
    // enters through a link, the folder of a picture it reaches through a link, or a subfolder
    // of a folder it holds only shared. Like a source directory, exclusively, and the directories
    // above it shared. Never waits, since this run holds locks already and two runs could then
    // wait for each other in a circle. `lockedNow`, when given, tells whether the folder was
    // beyond this run's reach until this call (also where its file system refuses locks, and the
    // first time a folder held shared is reached): what a killed pass left half done there is
    // still to be taken back.
    FolderCover LockFoundFolder(const std::string &directory, bool *lockedNow = nullptr);

    // Whether this run holds, for each of `directories`, it or a directory above it exclusively
    // (a directory that cannot be opened counts as held).
    bool Covers(const std::vector<std::string> &directories) const;
    // Folders outside the source directories that the next Take of this list locks as well, as
    // it locks those that scans entered through links: where a recovery or an undo is to work.
    void AddFolders(const std::vector<std::string> &directories);

    // Whether Take succeeded and nothing has been released since.
    bool IsHeld() const { return m_held; }
    // The source directory list of the last Take.
    const std::string &SourceText() const { return m_sourceText; }
    // The directories of that list, then the folders outside it that its scans and recoveries
    // reached: where this run holds the locks, as it names them.
    std::vector<std::string> Folders() const;
    // How many directories are locked.
    std::size_t Count() const { return m_locks.size(); }

private:
    struct HeldLock
    {
        DirectoryLock lock;
        LockMode mode;
    };

private:
    const HeldLock *Holding(FileIdentity identity) const;
    bool HoldsExclusivelyAbove(const std::vector<FolderAbove> &chain) const;

    std::vector<HeldLock> m_locks;
    // By source list: the folders outside it that its scans and recoveries reached.
    std::map<std::string, std::vector<std::string>> m_foundFolders;
    // The folders held shared that the scan has reached since the last Take.
    std::vector<FileIdentity> m_sharedReached;
    std::string m_sourceText;
    bool m_held = false;
    // Read where a folder above one to lock is a mount's root, once after each Take: a scan
    // may lock a folder for every link it meets.
    mutable MountTable m_mounts;
};

} // namespace kronvik
