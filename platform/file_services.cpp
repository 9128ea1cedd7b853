// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "file_services.h"

#include "local_clock.h"
#include "mount_types.h"
#include "write_faults.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <limits>
#include <locale.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

namespace kronvik {

namespace {

constexpr long kMsdosSuperMagic = 0x4d44;
constexpr long kExfatSuperMagic = 0x2011BAB0;

bool IsAsciiLetterCaseOnly(const std::string &a, const std::string &b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (AsciiLower(a[i]) != AsciiLower(b[i]))
            return false;
    }
    return true;
}

struct DirectoryAndName
{
    std::string directory, name;
};

DirectoryAndName SplitPath(const std::string &path)
{
    const auto split = path.rfind('/');
    if (split == std::string::npos)
        return {".", path};
    return {path.substr(0, split + 1), path.substr(split + 1)};
}

// Whether the directory lists an entry of exactly this name. When it cannot be read to the end,
// the answer is yes: before a rename the caller then refuses rather than guesses, and after one
// that reported success it takes the report.
bool DirectoryListsName(const std::string &directory, const std::string &name)
{
    DIR *stream = opendir(directory.c_str());
    if (!stream)
        return true;
    bool listed = false;
    errno = 0;
    while (const dirent *entry = readdir(stream)) {
        if (name == entry->d_name) {
            listed = true;
            break;
        }
    }
    if (!listed && errno != 0)
        listed = true;
    closedir(stream);
    return listed;
}

} // namespace

char AsciiLower(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// The names differ in letter case alone, the two paths lead to one device and the same kind,
// size and time of file, and the directory does not list `to`'s exact name. The inode number
// cannot tell it, as FUSE mounts of FAT give each name its own. Two entries listed side by side
// are two names, also when they are two hard links of one file: rename(2) between them does
// nothing and reports success.
bool IsOneEntryByLetterCase(const std::string &from, const std::string &to)
{
    const auto split = to.rfind('/');
    const auto [directory, name] = SplitPath(to);
    if (from.compare(0, split + 1, to, 0, split + 1) != 0
        || !IsAsciiLetterCaseOnly(from.substr(split + 1), name))
        return false;
    struct stat fromStatus
    {
    };
    struct stat toStatus
    {
    };
    if (lstat(from.c_str(), &fromStatus) != 0 || lstat(to.c_str(), &toStatus) != 0
        || fromStatus.st_dev != toStatus.st_dev || fromStatus.st_mode != toStatus.st_mode
        || fromStatus.st_size != toStatus.st_size
        || fromStatus.st_mtim.tv_sec != toStatus.st_mtim.tv_sec
        || fromStatus.st_mtim.tv_nsec != toStatus.st_mtim.tv_nsec)
        return false;
    return !DirectoryListsName(directory, name);
}

int CheckRenameOntoOwnName(const std::string &from, const std::string &to)
{
    if (!IsOneEntryByLetterCase(from, to))
        return EEXIST;
    // Linux renames nothing between two names that lead to one inode, and reports success: the
    // kernel's FAT and exFAT drivers, and case-insensitive ext4 folders, keep the spelling a name
    // has. Only a file system that numbers the two spellings apart (exfat-fuse) renames.
    struct stat fromStatus
    {
    };
    struct stat toStatus
    {
    };
    if (lstat(from.c_str(), &fromStatus) != 0 || lstat(to.c_str(), &toStatus) != 0
        || fromStatus.st_ino == toStatus.st_ino)
        return EEXIST;
    // fusefat frees the clusters of a file renamed onto another spelling of its own name: there
    // the picture is kept whole under its old name instead.
    if (const std::optional<MountEntry> mount = MountHolding(from))
        if (LosesFilesRenamedOverPlaceholders(*mount))
            return EEXIST;
    return 0;
}

namespace {

// `to` exists. It is renamed onto only when it is `from`'s own directory entry reached through a
// case-insensitive lookup.
int RenameOntoExisting(const std::string &from, const std::string &to)
{
    if (const int refused = CheckRenameOntoOwnName(from, to))
        return refused;
    if (std::rename(from.c_str(), to.c_str()) != 0)
        return errno;
    // A file system that renamed nothing and reported success all the same: the picture keeps
    // its old name, and saying it was renamed would be wrong.
    const auto [directory, name] = SplitPath(to);
    return DirectoryListsName(directory, name) ? 0 : EEXIST;
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
    if (const int error = WriteFault(WriteStep::RenamePicture))
        return error;
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

std::string SystemErrorText(int error)
{
    // The run log is in English: the reasons come from the C locale, not the user's.
    static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
    if (cLocale == static_cast<locale_t>(0))
        return "error " + std::to_string(error);
    return strerror_l(error, cLocale);
}

bool ReadLastWriteTime(const std::string &path, CalendarTime &localTime)
{
    struct stat status
    {
    };
    if (stat(path.c_str(), &status) != 0)
        return false;
    std::tm local{};
    FollowTimeZoneInForce();
    if (!localtime_r(&status.st_mtim.tv_sec, &local))
        return false;
    localTime = CalendarTime{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                             local.tm_hour,        local.tm_min,     local.tm_sec};
    return true;
}

bool IsRecordableFileTime(std::int64_t seconds)
{
    constexpr std::int64_t kHeldSeconds = std::numeric_limits<std::int64_t>::max() / 1000000000;
    return seconds >= -kHeldSeconds && seconds <= kHeldSeconds;
}

bool SetLastWriteTime(const std::string &path, const CalendarTime &localTime, int *error,
                      const timespec *accessTime, bool followLinks, int descriptor)
{
    const int flags = followLinks ? 0 : AT_SYMLINK_NOFOLLOW;
    const auto look = [&](struct stat &status) {
        return descriptor >= 0 ? fstat(descriptor, &status)
               : followLinks   ? stat(path.c_str(), &status)
                               : lstat(path.c_str(), &status);
    };
    const auto set = [&](const timespec(&times)[2]) {
        return descriptor >= 0 ? futimens(descriptor, times)
                               : utimensat(AT_FDCWD, path.c_str(), times, flags);
    };
    if (error)
        *error = 0;
    const std::optional<std::int64_t> moment = LocalTimeToSeconds(localTime);
    if (!moment)
        return false;
    // A time the journal could not record could not be taken back: refused before the file is
    // touched.
    if (!IsRecordableFileTime(*moment)) {
        if (error)
            *error = EOVERFLOW;
        return false;
    }
    const auto seconds = static_cast<std::time_t>(*moment);
    // A file system clamps a time outside its range (ext4 keeps 1901 to 2446, FAT 1980 to 2107)
    // without a word: the file would then hold a time that neither its name nor the journal says,
    // and an undo would take it for a file modified since. Such a time is checked, and the file
    // given back the time it had. Every file system holds 1980 to 2037, so the times of real
    // pictures cost no second look.
    constexpr std::int64_t kEveryFileSystemFrom = 315619200; // 1980-01-02 00:00:00 UTC
    constexpr std::int64_t kEveryFileSystemUntil = 2145830400; // 2037-12-31 00:00:00 UTC
    const bool checked = *moment < kEveryFileSystemFrom || *moment > kEveryFileSystemUntil;
    struct stat status
    {
    };
    if ((!accessTime || checked) && look(status) != 0) {
        if (error)
            *error = errno;
        return false;
    }
    // The access time is passed as it is, not as UTIME_OMIT: some FUSE mounts ignore the whole
    // call when one of the times is omitted.
    const timespec times[2] = {accessTime ? *accessTime : status.st_atim, timespec{seconds, 0}};
    if (const int fault = WriteFault(WriteStep::SetFileTime)) {
        if (error)
            *error = fault;
        return false;
    }
    if (set(times) != 0) {
        if (error)
            *error = errno;
        return false;
    }
    struct stat stored
    {
    };
    if (checked && look(stored) == 0 && std::llabs(stored.st_mtim.tv_sec - seconds) > 2) {
        const timespec before[2] = {times[0], status.st_mtim};
        set(before);
        if (error)
            *error = EOVERFLOW;
        return false;
    }
    return true;
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
