// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "file_services.h"

#include "mount_types.h"

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

namespace kronvik {

namespace {

constexpr long kMsdosSuperMagic = 0x4d44;
constexpr long kExfatSuperMagic = 0x2011BAB0;

bool SameDirectoryEntryTarget(const std::string &from, const std::string &to)
{
    struct stat fromStatus
    {
    };
    struct stat toStatus
    {
    };
    return lstat(from.c_str(), &fromStatus) == 0 && lstat(to.c_str(), &toStatus) == 0
           && fromStatus.st_dev == toStatus.st_dev && fromStatus.st_ino == toStatus.st_ino;
}

// `to` exists: only a second name of the very same file (a change of letter case on a
// case-insensitive file system) may be renamed onto; anything else is a conflict.
int RenameOntoExisting(const std::string &from, const std::string &to)
{
    if (!SameDirectoryEntryTarget(from, to))
        return EEXIST;
    return std::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

} // namespace

namespace detail {

int RenameByLink(const std::string &from, const std::string &to)
{
    if (link(from.c_str(), to.c_str()) != 0) {
        const int error = errno;
        return error == EEXIST ? RenameOntoExisting(from, to) : error;
    }
    if (unlink(from.c_str()) != 0) {
        // Leave the file as it was, under its old name only.
        const int error = errno;
        unlink(to.c_str());
        return error;
    }
    return 0;
}

int RenameOverPlaceholder(const std::string &from, const std::string &to)
{
    const int fd = open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
        const int error = errno;
        return error == EEXIST ? RenameOntoExisting(from, to) : error;
    }
    struct stat reserved
    {
    };
    const bool reservedKnown = fstat(fd, &reserved) == 0;
    close(fd);
    // Only our own empty placeholder may be replaced: if someone wrote to it or swapped it in the
    // meantime, leave it alone.
    struct stat current
    {
    };
    if (!reservedKnown || lstat(to.c_str(), &current) != 0 || current.st_dev != reserved.st_dev
        || current.st_ino != reserved.st_ino || current.st_size != 0)
        return EEXIST;
    if (std::rename(from.c_str(), to.c_str()) != 0) {
        const int error = errno;
        unlink(to.c_str());
        return error;
    }
    return 0;
}

int RenameToFreeName(const std::string &from, const std::string &to)
{
    struct stat existing
    {
    };
    if (lstat(to.c_str(), &existing) == 0)
        return RenameOntoExisting(from, to);
    if (errno != ENOENT)
        return errno;
    // Between the look and the rename another program could take the name; a pass holds its
    // directories' locks, and this way is taken only where a placeholder would lose the file.
    return std::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

} // namespace detail

int RenameNoReplace(const std::string &from, const std::string &to)
{
    if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return 0;
    const int error = errno;
    if (error == EEXIST)
        return RenameOntoExisting(from, to);
    // File systems without RENAME_NOREPLACE (NFS, FUSE, FAT, exFAT) answer EINVAL; an old kernel
    // without the call answers ENOSYS.
    if (error != EINVAL && error != ENOSYS)
        return error;
    const int linkError = detail::RenameByLink(from, to);
    if (linkError != EPERM && linkError != EOPNOTSUPP)
        return linkError;
    if (const std::optional<MountEntry> mount = MountHolding(from))
        if (LosesFilesRenamedOverPlaceholders(*mount))
            return detail::RenameToFreeName(from, to);
    return detail::RenameOverPlaceholder(from, to);
}

bool ReadLastWriteTime(const std::string &path, CalendarTime &localTime)
{
    struct stat status
    {
    };
    if (stat(path.c_str(), &status) != 0)
        return false;
    std::tm local{};
    if (!localtime_r(&status.st_mtim.tv_sec, &local))
        return false;
    localTime = CalendarTime{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                             local.tm_hour,        local.tm_min,     local.tm_sec};
    return true;
}

bool SetLastWriteTime(const std::string &path, const CalendarTime &localTime)
{
    if (!IsValidCalendarTime(localTime))
        return false;
    std::tm local{};
    local.tm_year = localTime.year - 1900;
    local.tm_mon = localTime.month - 1;
    local.tm_mday = localTime.day;
    local.tm_hour = localTime.hour;
    local.tm_min = localTime.minute;
    local.tm_sec = localTime.second;
    local.tm_isdst = -1;
    // mktime's -1 is also a real moment (one second before the epoch); tm_wday tells them apart.
    local.tm_wday = -1;
    const std::time_t seconds = std::mktime(&local);
    if (seconds == static_cast<std::time_t>(-1) && local.tm_wday == -1)
        return false;
    struct stat status
    {
    };
    if (stat(path.c_str(), &status) != 0)
        return false;
    // The access time is passed as it is, not as UTIME_OMIT: some FUSE mounts ignore the whole
    // call when one of the times is omitted.
    const timespec times[2] = {status.st_atim, timespec{seconds, 0}};
    return utimensat(AT_FDCWD, path.c_str(), times, 0) == 0;
}

bool KeepsTwoSecondTimes(const std::string &path)
{
    // The mount table tells FUSE mounts apart by their subtype, where the file system's magic
    // number is one for all of them; the magic number still answers where /proc is not mounted.
    if (const std::optional<MountEntry> mount = MountHolding(path))
        return HasTwoSecondTimes(*mount);
    struct statfs status
    {
    };
    if (statfs(path.c_str(), &status) != 0)
        return false;
    const long type = static_cast<long>(status.f_type);
    return type == kMsdosSuperMagic || type == kExfatSuperMagic;
}

} // namespace kronvik
