// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "source_locks.h"

#include "picture_scan.h"

#include <algorithm>
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
    const auto wantWithAbove = [&](FolderChain chain, const std::string &directory) {
        for (std::size_t i = chain.size(); i-- > 1;)
            Want(wanted, std::move(chain[i].lock), LockMode::Shared, directory);
        Want(wanted, std::move(chain.front().lock), LockMode::Exclusive, directory);
    };
    m_mounts.Forget();
    std::vector<FileIdentity> sources;
    for (const std::string &directory : SplitSourceList(sourceText)) {
        FolderChain chain = DirectoryAndAbove(directory, m_mounts);
        if (chain.empty())
            continue;
        sources.push_back(chain.front().lock.Identity());
        wantWithAbove(std::move(chain), directory);
    }
    for (const std::string &directory : m_foundFolders[sourceText]) {
        FolderChain chain = DirectoryAndAbove(directory, m_mounts);
        const bool covered = std::any_of(chain.begin(), chain.end(), [&](const FolderAbove &d) {
            return d.covers
                   && std::find(sources.begin(), sources.end(), d.lock.Identity()) != sources.end();
        });
        if (!chain.empty() && !covered)
            wantWithAbove(std::move(chain), directory);
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
            m_locks.push_back(HeldLock{std::move(want.lock), want.mode});
    }
    m_held = true;
    return true;
}

const SourceLocks::HeldLock *SourceLocks::Holding(FileIdentity identity) const
{
    for (const HeldLock &held : m_locks) {
        if (held.lock.Identity() == identity)
            return &held;
    }
    return nullptr;
}

bool SourceLocks::HoldsExclusivelyAbove(const std::vector<FolderAbove> &chain) const
{
    return std::any_of(chain.begin(), chain.end(), [this](const FolderAbove &directory) {
        if (!directory.covers)
            return false;
        const HeldLock *held = Holding(directory.lock.Identity());
        return held && held->mode == LockMode::Exclusive;
    });
}

FolderCover SourceLocks::LockFoundFolder(const std::string &directory, bool *lockedNow)
{
    if (lockedNow)
        *lockedNow = false;
    FolderChain chain = DirectoryAndAbove(directory, m_mounts);
    // What cannot be opened, the scan reports as it searches it.
    if (chain.empty())
        return FolderCover::Unlocked;
    if (HoldsExclusivelyAbove(chain))
        return FolderCover::Exclusive;
    // A second descriptor of a directory this run holds shared would meet this run's own lock;
    // no other run holds it exclusively meanwhile.
    if (const FileIdentity identity = chain.front().lock.Identity(); Holding(identity)) {
        if (lockedNow
            && std::find(m_sharedReached.begin(), m_sharedReached.end(), identity)
                       == m_sharedReached.end()) {
            m_sharedReached.push_back(identity);
            *lockedNow = true;
        }
        return FolderCover::SharedByThisRun;
    }

    std::vector<HeldLock> taken;
    bool refused = false;
    for (std::size_t i = chain.size(); i-- > 0;) {
        if (Holding(chain[i].lock.Identity()))
            continue;
        const LockMode mode = i == 0 ? LockMode::Exclusive : LockMode::Shared;
        const LockAttempt attempt = chain[i].lock.TryLock(mode);
        // What this call took on the way is released as `taken` goes.
        if (attempt == LockAttempt::Held)
            return FolderCover::HeldByAnotherRun;
        if (attempt == LockAttempt::Taken)
            taken.push_back(HeldLock{std::move(chain[i].lock), mode});
        else
            refused = i == 0;
    }
    for (HeldLock &held : taken)
        m_locks.push_back(std::move(held));
    AddFolders({directory});
    if (lockedNow)
        *lockedNow = true;
    return refused ? FolderCover::Unlocked : FolderCover::Exclusive;
}

bool SourceLocks::Covers(const std::vector<std::string> &directories) const
{
    return std::all_of(directories.begin(), directories.end(), [&](const std::string &path) {
        const FolderChain chain = DirectoryAndAbove(path, m_mounts);
        return chain.empty() || HoldsExclusivelyAbove(chain);
    });
}

void SourceLocks::AddFolders(const std::vector<std::string> &directories)
{
    std::vector<std::string> &found = m_foundFolders[m_sourceText];
    for (const std::string &directory : directories) {
        if (std::find(found.begin(), found.end(), directory) == found.end())
            found.push_back(directory);
    }
}

std::vector<std::string> SourceLocks::Folders() const
{
    std::vector<std::string> folders = SplitSourceList(m_sourceText);
    if (const auto found = m_foundFolders.find(m_sourceText); found != m_foundFolders.end())
        folders.insert(folders.end(), found->second.begin(), found->second.end());
    return folders;
}

void SourceLocks::Release()
{
    m_locks.clear();
    m_sharedReached.clear();
    m_held = false;
}

} // namespace kronvik
