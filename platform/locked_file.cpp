// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "locked_file.h"

#include "file_stamp_of_status.h"
#include "open_keeping_access_time.h"
#include "read_only.h"
#include "write_faults.h"

#include <cerrno>
#include <fcntl.h>
#include <limits>
#include <linux/magic.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>
#include <utility>

namespace kronvik {

namespace {

// The file systems of the kernel's own whose regular files ignore O_NONBLOCK: a read or write of
// one waits for the disk whatever the flag says. A FUSE server sees the flag, and may answer a
// read or a write that would wait with EAGAIN.
bool IgnoresNonBlocking(decltype(statfs::f_type) type)
{
    switch (type) {
    case EXT4_SUPER_MAGIC: // ext2 and ext3 too
    case TMPFS_MAGIC:
    case BTRFS_SUPER_MAGIC:
    case XFS_SUPER_MAGIC:
    case F2FS_SUPER_MAGIC:
    case MSDOS_SUPER_MAGIC: // vfat
    case EXFAT_SUPER_MAGIC:
        return true;
    default:
        return false;
    }
}

// Opens `path` with `flags`, refuses anything but a regular file and, with `lock`, takes the
// exclusive lock; `status` is the file's, `fuse` whether it lies on a FUSE mount. The open is
// non-blocking so that a FIFO cannot hang it; blocking is restored afterwards where the file
// system would see the flag (F_SETFL ignores the access mode and creation flags among `flags`).
int OpenLocked(const std::string &path, int flags, int &fd, struct stat &status, bool &fuse,
               bool lock = true)
{
    // A file opened to be read as well keeps its access time where the system allows.
    fd = (flags & O_ACCMODE) == O_WRONLY
                 ? open(path.c_str(), flags | O_NONBLOCK | O_CLOEXEC, 0666)
                 : OpenKeepingAccessTime(path.c_str(), flags | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0)
        return errno;
    int error = 0;
    if (fstat(fd, &status) != 0)
        error = errno;
    else if (!S_ISREG(status.st_mode))
        error = EINVAL;
    else if (lock && flock(fd, LOCK_EX | LOCK_NB) != 0)
        error = errno;
    struct statfs system
    {
    };
    const bool known = error == 0 && fstatfs(fd, &system) == 0;
    fuse = known && system.f_type == FUSE_SUPER_MAGIC;
    if (error == 0 && !(known && IgnoresNonBlocking(system.f_type))
        && fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0)
        error = errno;
    if (error != 0) {
        close(fd);
        fd = -1;
    }
    return error;
}

// Writes every byte, at `offset` or, when it is negative, at the file position. Returns 0 or an
// errno value.
int WriteAll(int fd, const void *buffer, std::size_t size, off_t offset)
{
    const auto *bytes = static_cast<const char *>(buffer);
    std::size_t done = 0;
    while (done < size) {
        const ssize_t count = offset < 0 ? write(fd, bytes + done, size - done)
                                         : pwrite(fd, bytes + done, size - done,
                                                  offset + static_cast<off_t>(done));
        if (count < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        if (count == 0)
            return ENOSPC;
        done += static_cast<std::size_t>(count);
    }
    return 0;
}

} // namespace

LockedFile::~LockedFile()
{
    if (m_fd >= 0)
        close(m_fd);
}

LockedFile::LockedFile(LockedFile &&other) noexcept
    : m_fd(std::exchange(other.m_fd, -1))
    , m_fuse(std::exchange(other.m_fuse, false))
{
}

LockedFile &LockedFile::operator=(LockedFile &&other) noexcept
{
    if (this != &other) {
        if (m_fd >= 0)
            close(m_fd);
        m_fd = std::exchange(other.m_fd, -1);
        m_fuse = std::exchange(other.m_fuse, false);
    }
    return *this;
}

int LockedFile::OpenExistingForUpdate(const std::string &path, FileStamp *opened)
{
    return OpenForUpdate(path, opened, true);
}

int LockedFile::OpenExistingUnlocked(const std::string &path, FileStamp *opened)
{
    return OpenForUpdate(path, opened, false);
}

int LockedFile::Lock() const
{
    // What the open stands for in the write it prepares: a fault of the shift's open meets it here.
    if (const int error = WriteFault(WriteStep::OpenForUpdate))
        return error;
    return flock(m_fd, LOCK_EX | LOCK_NB) == 0 ? 0 : errno;
}

int LockedFile::OpenForUpdate(const std::string &path, FileStamp *opened, bool lock)
{
    *this = LockedFile();
    if (const int error = lock ? WriteFault(WriteStep::OpenForUpdate) : 0)
        return error;
    struct stat status
    {
    };
    if (const int error = OpenLocked(path, O_RDWR, m_fd, status, m_fuse, lock))
        return error;
    if (!IsReadOnlyToAll(status.st_mode)) {
        if (opened)
            *opened = StampOfStatus(status);
        return 0;
    }
    *this = LockedFile();
    return EACCES;
}

int LockedFile::CreateAlways(const std::string &path)
{
    *this = LockedFile();
    struct stat status
    {
    };
    const int error = OpenLocked(path, O_WRONLY | O_CREAT, m_fd, status, m_fuse);
    if (error != 0)
        return error;
    // Emptied only now that the lock is ours.
    if (ftruncate(m_fd, 0) != 0) {
        const int truncateError = errno;
        *this = LockedFile();
        return truncateError;
    }
    return 0;
}

ssize_t LockedFile::ReadAt(void *buffer, std::size_t size, off_t offset) const
{
    auto *bytes = static_cast<char *>(buffer);
    std::size_t done = 0;
    while (done < size) {
        const ssize_t count =
                pread(m_fd, bytes + done, size - done, offset + static_cast<off_t>(done));
        if (count < 0) {
            if (errno == EINTR)
                continue;
            return -1;
        }
        if (count == 0)
            break;
        done += static_cast<std::size_t>(count);
    }
    return static_cast<ssize_t>(done);
}

int LockedFile::WriteAt(const void *buffer, std::size_t size, off_t offset) const
{
    // fusefat puts a positioned write into a file shorter than one cluster at the wrong offset
    // once its descriptor has read up to the end of the file: the bytes go to size - offset. A
    // descriptor that has never read writes where it is told, so on a FUSE mount the write goes
    // through a second descriptor of this same open file (not of its path, which may name another
    // file by now). Elsewhere the detour through /proc would cost a shift a third of its time.
    const bool fuse = m_fd >= 0 && m_fuse;
    const std::string self = fuse ? "/proc/self/fd/" + std::to_string(m_fd) : std::string();
    const int writer = fuse ? open(self.c_str(), O_WRONLY | O_CLOEXEC) : -1;
    const int fd = writer < 0 ? m_fd : writer;
    int error = WriteFault(WriteStep::WriteInPlace);
    if (error == 0)
        error = WriteAll(fd, buffer, size, offset);
    if (error == 0)
        error = WriteFault(WriteStep::FlushInPlace);
    if (error == 0 && fsync(fd) != 0)
        error = errno;
    if (writer >= 0)
        close(writer);
    return error;
}

int LockedFile::Write(const void *buffer, std::size_t size) const
{
    return WriteAll(m_fd, buffer, size, -1);
}

int LockedFile::Stamp(FileStamp &stamp) const
{
    struct stat status
    {
    };
    if (fstat(m_fd, &status) != 0)
        return errno;
    stamp = StampOfStatus(status);
    return 0;
}

std::size_t OpenFilesAllowed()
{
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
        return std::numeric_limits<std::size_t>::max();
    return static_cast<std::size_t>(limit.rlim_cur);
}

void RaiseOpenFilesAllowed()
{
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
}

int CheckUpdateAccess(const std::string &path, bool readOnlyToAll)
{
    // The effective user decides, as it does for open.
    if (faccessat(AT_FDCWD, path.c_str(), R_OK | W_OK, AT_EACCESS) != 0)
        return errno;
    return readOnlyToAll ? EACCES : 0;
}

int CheckUpdateAccess(const std::string &path)
{
    if (const int error = CheckUpdateAccess(path, false))
        return error;
    struct stat status
    {
    };
    if (stat(path.c_str(), &status) != 0)
        return errno;
    return IsReadOnlyToAll(status.st_mode) ? EACCES : 0;
}

void LockedFile::CloseUnflushed()
{
    if (m_fd >= 0)
        close(m_fd);
    m_fd = -1;
}

int LockedFile::Close()
{
    if (m_fd < 0)
        return EBADF;
    int error = fsync(m_fd) == 0 ? 0 : errno;
    // close is not retried on EINTR: on Linux the descriptor is gone either way.
    if (close(m_fd) != 0 && error == 0)
        error = errno;
    m_fd = -1;
    return error;
}

} // namespace kronvik
