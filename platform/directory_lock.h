// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "directory_listing.h"

#include <functional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace kronvik {

enum class LockMode { Shared, Exclusive };

enum class LockAttempt {
    Taken, // the lock is ours
    Held, // another run holds a lock that conflicts with it
    Refused, // the file system keeps no such locks (some network and FUSE mounts)
};

// What an errno value from flock means for a run: another holder, or a file system that refuses
// locks altogether (ENOLCK, EOPNOTSUPP, EINVAL and the like), where a run goes on without one.
LockAttempt LockAttemptFromErrno(int error);

// An advisory lock (flock) on one directory, through a read-only, close-on-exec descriptor of its
// own, so that two runs of the program never work in one directory at once. Closing releases the
// lock. Move-only.
class DirectoryLock
{
public:
    DirectoryLock() = default;
    ~DirectoryLock();
    DirectoryLock(DirectoryLock &&other) noexcept;
    DirectoryLock &operator=(DirectoryLock &&other) noexcept;
    DirectoryLock(const DirectoryLock &) = delete;
    DirectoryLock &operator=(const DirectoryLock &) = delete;

    // Opens the directory `path` names, following links. False when it cannot be opened (missing,
    // not a directory, no read access).
    bool Open(const std::string &path);
    // Opens the directory that holds `child`'s directory (its ".."); the root holds itself.
    bool OpenParent(const DirectoryLock &child);

    bool IsOpen() const { return m_fd >= 0; }
    FileIdentity Identity() const { return m_identity; }
    int Descriptor() const { return m_fd; }
    // Whether the directory is the root of a mount, and which (as /proc/self/mountinfo numbers
    // it): a bind mount's root has a second folder above it.
    bool IsMountRoot() const { return m_mountRoot; }
    std::uint64_t MountId() const { return m_mountId; }

    // Takes the lock if no other holder stands in the way, without waiting.
    LockAttempt TryLock(LockMode mode);
    // Closes the descriptor, which releases the lock.
    void Release();

private:
    bool Adopt(int fd);

    int m_fd = -1;
    FileIdentity m_identity;
    std::uint64_t m_mountId = 0;
    bool m_mountRoot = false;
};

// How many DirectoryLock objects of the process hold a directory open: each takes one of the
// files the process may have open.
std::size_t DirectoryLocksOpen();

// A wait for a lock that another run holds. A helper process blocks in flock on the same open
// directory, so the caller can watch for the end of the wait among its own events (the window's
// event loop, the terminal's signals) and give it up at any moment. The lock the helper takes
// belongs to the open directory that the two processes share, and so to the caller once the helper
// has ended.
class DirectoryLockWait
{
public:
    // Starts waiting; `lock` must stay open while the wait lasts.
    DirectoryLockWait(const DirectoryLock &lock, LockMode mode);
    // Gives up a wait that has not ended.
    ~DirectoryLockWait();
    DirectoryLockWait(const DirectoryLockWait &) = delete;
    DirectoryLockWait &operator=(const DirectoryLockWait &) = delete;

    // Becomes readable when the wait has ended (or, where no helper could be started, after a short
    // while). -1 only when no descriptor at all could be made.
    int ReadyDescriptor() const { return m_readyFd; }

    // Once ReadyDescriptor is readable: Taken or Refused; Held when the wait goes on, with a new
    // ReadyDescriptor.
    LockAttempt Check();

private:
    void Start();
    void Stop();

    const DirectoryLock &m_lock;
    LockMode m_mode;
    pid_t m_helper = -1;
    int m_readyFd = -1;
    bool m_retryByTimer = false;
};

// Waits for the lock without taking the processor, letting only `wakeSignals` through: the wait
// ends with true once the lock is taken or refused, and with false as soon as one of the signals
// has arrived and `stopRequested` says so. The signals stay blocked outside the sleep itself, so
// none can slip in between the test and the sleep.
bool WaitForLockUntilSignal(DirectoryLock &lock, LockMode mode, const std::vector<int> &wakeSignals,
                            const std::function<bool()> &stopRequested);

} // namespace kronvik
