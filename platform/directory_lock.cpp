// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "directory_lock.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <ctime>
#include <fcntl.h>
#include <optional>
#include <poll.h>
#include <sys/file.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <sys/timerfd.h>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>

namespace kronvik {

namespace {

std::atomic<std::size_t> g_directoriesOpen{0};

// How soon a wait without a helper process tries again.
constexpr long kRetryNanoseconds = 100'000'000;

int FlockOperation(LockMode mode)
{
    return mode == LockMode::Exclusive ? LOCK_EX : LOCK_SH;
}

LockAttempt TryLockDescriptor(int fd, LockMode mode)
{
    for (;;) {
        if (flock(fd, FlockOperation(mode) | LOCK_NB) == 0)
            return LockAttempt::Taken;
        if (errno != EINTR)
            return LockAttemptFromErrno(errno);
    }
}

// The helper's whole life: only async-signal-safe calls, since the caller may run other threads.
[[noreturn]] void RunLockHelper(int fd, LockMode mode, pid_t parent)
{
    // Ctrl-C reaches the whole process group; the run decides what it means and ends the helper.
    sigset_t all;
    sigfillset(&all);
    sigprocmask(SIG_SETMASK, &all, nullptr);
    // A run killed outright must not leave its helper waiting, or taking the lock after it.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent)
        _exit(1);
    // The helper holds nothing but the directory: no pipe of the run stays open through it.
    if (fd > 0)
        close_range(0, static_cast<unsigned>(fd) - 1, 0);
    close_range(static_cast<unsigned>(fd) + 1, ~0U, 0);
    while (flock(fd, FlockOperation(mode)) != 0) {
        if (errno != EINTR)
            _exit(1);
    }
    _exit(0);
}

} // namespace

LockAttempt LockAttemptFromErrno(int error)
{
    return error == EWOULDBLOCK ? LockAttempt::Held : LockAttempt::Refused;
}

DirectoryLock::~DirectoryLock()
{
    Release();
}

DirectoryLock::DirectoryLock(DirectoryLock &&other) noexcept
    : m_fd(std::exchange(other.m_fd, -1))
    , m_identity(other.m_identity)
    , m_mountId(other.m_mountId)
    , m_mountRoot(other.m_mountRoot)
{
}

DirectoryLock &DirectoryLock::operator=(DirectoryLock &&other) noexcept
{
    if (this != &other) {
        Release();
        m_fd = std::exchange(other.m_fd, -1);
        m_identity = other.m_identity;
        m_mountId = other.m_mountId;
        m_mountRoot = other.m_mountRoot;
    }
    return *this;
}

bool DirectoryLock::Adopt(int fd)
{
    Release();
    if (fd < 0)
        return false;
    struct statx status
    {
    };
    if (statx(fd, "", AT_EMPTY_PATH, STATX_INO | STATX_MNT_ID, &status) != 0) {
        close(fd);
        return false;
    }
    m_fd = fd;
    ++g_directoriesOpen;
    m_identity = {static_cast<std::uint64_t>(makedev(status.stx_dev_major, status.stx_dev_minor)),
                  static_cast<std::uint64_t>(status.stx_ino)};
    // Kernels before 5.8 tell neither; the directory then counts as no mount's root.
    m_mountId = (status.stx_mask & STATX_MNT_ID) ? status.stx_mnt_id : 0;
    m_mountRoot = (status.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT)
                  && (status.stx_attributes & STATX_ATTR_MOUNT_ROOT);
    return true;
}

bool DirectoryLock::Open(const std::string &path)
{
    return Adopt(open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

bool DirectoryLock::OpenParent(const DirectoryLock &child)
{
    if (!child.IsOpen()) {
        Release();
        return false;
    }
    return Adopt(openat(child.m_fd, "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

LockAttempt DirectoryLock::TryLock(LockMode mode)
{
    return TryLockDescriptor(m_fd, mode);
}

void DirectoryLock::Release()
{
    if (m_fd >= 0) {
        close(m_fd);
        --g_directoriesOpen;
    }
    m_fd = -1;
}

std::size_t DirectoryLocksOpen()
{
    return g_directoriesOpen;
}

DirectoryLockWait::DirectoryLockWait(const DirectoryLock &lock, LockMode mode)
    : m_lock(lock)
    , m_mode(mode)
{
    Start();
}

DirectoryLockWait::~DirectoryLockWait()
{
    Stop();
}

void DirectoryLockWait::Start()
{
    if (!m_retryByTimer) {
        const pid_t parent = getpid();
        const pid_t helper = fork();
        if (helper == 0)
            RunLockHelper(m_lock.Descriptor(), m_mode, parent);
        if (helper > 0) {
            m_helper = helper;
            // Called directly: the C library's declaration of pidfd_open lacks C linkage for C++.
            m_readyFd = static_cast<int>(syscall(SYS_pidfd_open, helper, 0));
            if (m_readyFd >= 0)
                return;
            Stop();
        }
    }
    // Without a helper, the caller is woken for another attempt after a short while.
    m_readyFd = timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC);
    if (m_readyFd < 0)
        return;
    itimerspec due{};
    due.it_value.tv_nsec = kRetryNanoseconds;
    timerfd_settime(m_readyFd, 0, &due, nullptr);
}

void DirectoryLockWait::Stop()
{
    if (m_helper > 0) {
        kill(m_helper, SIGKILL);
        int status = 0;
        while (waitpid(m_helper, &status, 0) < 0 && errno == EINTR) { }
        // A helper that ended on its own without the lock met a refusal that a blocking flock
        // gives and a non-blocking one does not: from then on, plain retries instead of helpers
        // that end at once, again and again.
        if (WIFEXITED(status) && WEXITSTATUS(status) != 0)
            m_retryByTimer = true;
        m_helper = -1;
    }
    if (m_readyFd >= 0)
        close(m_readyFd);
    m_readyFd = -1;
}

LockAttempt DirectoryLockWait::Check()
{
    Stop();
    const LockAttempt attempt = TryLockDescriptor(m_lock.Descriptor(), m_mode);
    if (attempt == LockAttempt::Held)
        Start();
    return attempt;
}

bool WaitForLockUntilSignal(DirectoryLock &lock, LockMode mode, const std::vector<int> &wakeSignals,
                            const std::function<bool()> &stopRequested)
{
    sigset_t wake, previous;
    sigemptyset(&wake);
    for (int signal : wakeSignals)
        sigaddset(&wake, signal);
    pthread_sigmask(SIG_BLOCK, &wake, &previous);
    sigset_t duringSleep = previous;
    for (int signal : wakeSignals)
        sigdelset(&duringSleep, signal);

    bool goOn = true;
    std::optional<DirectoryLockWait> wait;
    for (LockAttempt attempt = lock.TryLock(mode); attempt == LockAttempt::Held;) {
        if (stopRequested()) {
            goOn = false;
            break;
        }
        if (!wait)
            wait.emplace(lock, mode);
        pollfd ready{wait->ReadyDescriptor(), POLLIN, 0};
        const timespec retry{0, kRetryNanoseconds};
        const int count = ppoll(&ready, 1, ready.fd < 0 ? &retry : nullptr, &duringSleep);
        // A signal (count < 0) goes back to the test above.
        if (count >= 0)
            attempt = wait->Check();
    }
    wait.reset();
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    return goOn;
}

} // namespace kronvik
