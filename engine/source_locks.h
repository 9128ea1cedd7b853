// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "directory_lock.h"

#include <string>
#include <vector>

namespace kronvik {

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
    // nothing held, when the waiter gave up.
    // The directories that the last scan of the same list entered through links are locked
    // again with them.
    bool Take(const std::string &sourceText, LockWaiter &waiter);
    void Release();

    // Locks a directory that the scan enters through a link (`directory` names it as the scan
    // reached it): it may lie outside every source directory, where their locks do not reach, so
    // it is locked exclusively and the directories above it shared, as a source directory is.
    // Nothing is taken where a directory this run holds exclusively already covers it. Never
    // waits, since this run holds locks already and two runs could then wait for each other:
    // Held, with nothing more held, when another run (or a source directory below it, which
    // this run holds shared) stands in the way; the scan then leaves the directory unsearched.
    LockAttempt LockLinkedDirectory(const std::string &directory);

    // Whether Take succeeded and nothing has been released since.
    bool IsHeld() const { return m_held; }
    // The source directory list of the last Take.
    const std::string &SourceText() const { return m_sourceText; }
    // How many directories are locked.
    std::size_t Count() const { return m_locks.size(); }

private:
    struct HeldLock
    {
        DirectoryLock lock;
        LockMode mode;
    };
    const HeldLock *Holding(FileIdentity identity) const;

    std::vector<HeldLock> m_locks;
    std::vector<std::string> m_linkedDirectories;
    std::string m_sourceText;
    bool m_held = false;
};

} // namespace kronvik
