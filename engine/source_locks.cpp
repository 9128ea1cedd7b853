// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "source_locks.h"

#include "picture_scan.h"

#include <map>

namespace kronvik {

namespace {

struct WantedLock
{
    DirectoryLock lock;
    LockMode mode;
    std::string directory; // the source directory that needs it, as the list names it
};

void Want(std::map<FileIdentity, WantedLock> &wanted, DirectoryLock lock, LockMode mode,
          const std::string &directory)
{
    const FileIdentity identity = lock.Identity();
    auto found = wanted.find(identity);
    if (found == wanted.end()) {
        wanted.emplace(identity, WantedLock{std::move(lock), mode, directory});
    } else if (mode == LockMode::Exclusive && found->second.mode == LockMode::Shared) {
        found->second.mode = mode;
        found->second.directory = directory;
    }
}

} // namespace

bool SourceLocks::Take(const std::string &sourceText, LockWaiter &waiter)
{
    Release();
    m_sourceText = sourceText;

    // Ordered by identity: every run takes its locks in the same global order.
    std::map<FileIdentity, WantedLock> wanted;
    for (const std::string &directory : SplitSourceList(sourceText)) {
        DirectoryLock source;
        if (!source.Open(directory))
            continue;
        // The directories above, as the file system links them (not as the path spells them);
        // the root is its own parent.
        FileIdentity below = source.Identity();
        DirectoryLock parent;
        parent.OpenParent(source);
        while (parent.IsOpen() && parent.Identity() != below) {
            below = parent.Identity();
            DirectoryLock next;
            next.OpenParent(parent);
            Want(wanted, std::move(parent), LockMode::Shared, directory);
            parent = std::move(next);
        }
        Want(wanted, std::move(source), LockMode::Exclusive, directory);
    }

    for (auto &[identity, want] : wanted) {
        LockAttempt attempt = want.lock.TryLock(want.mode);
        while (attempt == LockAttempt::Held) {
            if (!waiter.WaitForLock(want.directory, want.lock, want.mode)) {
                Release();
                return false;
            }
            attempt = want.lock.TryLock(want.mode);
        }
        // Where the file system refuses locks, the run goes on without this one.
        if (attempt == LockAttempt::Taken)
            m_locks.push_back(std::move(want.lock));
    }
    m_held = true;
    return true;
}

void SourceLocks::Release()
{
    m_locks.clear();
    m_held = false;
}

} // namespace kronvik
