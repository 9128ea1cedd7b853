// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "file_state.h"

#include "file_stamp.h"
#include "write_faults.h"

#include <algorithm>
#include <cerrno>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <linux/magic.h>
#include <map>
#include <mutex>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/vfs.h>
#include <unistd.h>

namespace kronvik {

namespace {

constexpr std::int64_t kNanosecondsPerSecond = 1000000000;

std::int64_t Nanoseconds(const timespec &time)
{
    return FileTimeNanoseconds(time.tv_sec, time.tv_nsec);
}

timespec TimeSpec(std::int64_t nanoseconds)
{
    std::int64_t seconds = nanoseconds / kNanosecondsPerSecond;
    std::int64_t rest = nanoseconds % kNanosecondsPerSecond;
    if (rest < 0) {
        rest += kNanosecondsPerSecond;
        --seconds;
    }
    return timespec{static_cast<time_t>(seconds), static_cast<long>(rest)};
}

FileState StateOf(const struct stat &status)
{
    FileState state;
    state.exists = true;
    state.regular = S_ISREG(status.st_mode);
    state.size = static_cast<std::uint64_t>(status.st_size);
    state.modified = Nanoseconds(status.st_mtim);
    state.changedSeconds = static_cast<std::int64_t>(status.st_ctim.tv_sec);
    state.identity = {static_cast<std::uint64_t>(status.st_dev),
                      static_cast<std::uint64_t>(status.st_ino)};
    state.links = static_cast<std::uint64_t>(status.st_nlink);
    return state;
}

// Read with plain system calls: through file and string streams, the stamp that every journaled
// run reads as its pass begins took about 0.3 ms of it.
std::string FirstLineOf(const std::string &path)
{
    const int file = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (file < 0)
        return {};
    std::string text;
    char buffer[1024];
    for (;;) {
        const ssize_t got = read(file, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        text.append(buffer, static_cast<std::size_t>(got));
        if (text.find('\n') != std::string::npos)
            break;
    }
    close(file);
    return text.substr(0, text.find('\n'));
}

} // namespace

int ReadFileState(const std::string &path, FileState &state, bool followLinks)
{
    state = FileState{};
    struct stat status
    {
    };
    if ((followLinks ? stat(path.c_str(), &status) : lstat(path.c_str(), &status)) != 0)
        return errno;
    state = StateOf(status);
    return 0;
}

bool BornBefore(const std::string &path, FileIdentity identity, std::int64_t second)
{
    struct statfs system
    {
    };
    if (statfs(path.c_str(), &system) != 0)
        return false;
    switch (static_cast<unsigned long>(system.f_type)) {
    case EXT4_SUPER_MAGIC: // ext2 and ext3 share it
    case XFS_SUPER_MAGIC:
    case BTRFS_SUPER_MAGIC:
    case TMPFS_MAGIC:
    case F2FS_SUPER_MAGIC:
        break;
    default:
        return false;
    }
    struct statx status
    {
    };
    if (statx(AT_FDCWD, path.c_str(), 0, STATX_INO | STATX_BTIME, &status) != 0
        || !(status.stx_mask & STATX_BTIME))
        return false;
    const FileIdentity found{makedev(status.stx_dev_major, status.stx_dev_minor), status.stx_ino};
    return found == identity && status.stx_btime.tv_sec < second;
}

int SetModificationTime(const std::string &path, std::int64_t modified, bool followLinks,
                        int descriptor)
{
    struct stat status
    {
    };
    if ((descriptor >= 0 ? fstat(descriptor, &status)
         : followLinks   ? stat(path.c_str(), &status)
                         : lstat(path.c_str(), &status))
        != 0)
        return errno;
    // The access time is passed as it is, not omitted: some FUSE mounts ignore the whole call
    // when one of the times is omitted.
    const timespec times[2] = {status.st_atim, TimeSpec(modified)};
    if (const int fault = WriteFault(WriteStep::SetFileTime))
        return fault;
    const int set = descriptor >= 0 ? futimens(descriptor, times)
                                    : utimensat(AT_FDCWD, path.c_str(), times,
                                                followLinks ? 0 : AT_SYMLINK_NOFOLLOW);
    return set == 0 ? 0 : errno;
}

int RemoveEmptyFile(const std::string &path, std::int64_t notBefore)
{
    const int fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return errno == ELOOP ? EEXIST : errno;
    struct stat status
    {
    };
    // A placeholder was made between the pass's start and now: a file dated later is someone's
    // (an empty file named after a date, its time set to that date).
    const bool empty = fstat(fd, &status) == 0 && S_ISREG(status.st_mode) && status.st_size == 0
                       && Nanoseconds(status.st_mtim) >= notBefore
                       && status.st_mtim.tv_sec <= std::time(nullptr) + 2;
    close(fd);
    if (!empty)
        return EEXIST;
    // The name must still lead to the file just looked at.
    struct stat again
    {
    };
    if (lstat(path.c_str(), &again) != 0)
        return errno;
    if (again.st_dev != status.st_dev || again.st_ino != status.st_ino || again.st_size != 0)
        return EEXIST;
    return unlink(path.c_str()) == 0 ? 0 : errno;
}

int RemoveName(const std::string &path)
{
    return unlink(path.c_str()) == 0 ? 0 : errno;
}

std::string FileSystemUuid(std::uint64_t device)
{
    // Looked up once per device: a pass asks for every picture.
    static std::mutex lock;
    static std::map<std::uint64_t, std::string> known;
    const std::lock_guard<std::mutex> guard(lock);
    if (const auto found = known.find(device); found != known.end())
        return found->second;
    std::string uuid;
    const std::string folder = "/dev/disk/by-uuid/";
    if (DIR *stream = opendir(folder.c_str())) {
        while (const dirent *entry = readdir(stream)) {
            struct stat status
            {
            };
            if (entry->d_name[0] == '.' || stat((folder + entry->d_name).c_str(), &status) != 0)
                continue;
            if (S_ISBLK(status.st_mode) && static_cast<std::uint64_t>(status.st_rdev) == device) {
                uuid = entry->d_name;
                break;
            }
        }
        closedir(stream);
    }
    known.emplace(device, uuid);
    return uuid;
}

pid_t CurrentProcessId()
{
    return getpid();
}

std::string ProcessStamp(pid_t process)
{
    // Field 22 of /proc/PID/stat is the start time in clock ticks since boot; the fields before
    // it follow the command name, which ends at the last ')'.
    const std::string stat = FirstLineOf("/proc/" + std::to_string(process) + "/stat");
    const auto nameEnd = stat.rfind(')');
    if (nameEnd == std::string::npos)
        return {};
    const char *const blanks = " \t";
    std::size_t end = nameEnd + 1;
    for (int index = 3; index <= 22; ++index) {
        const std::size_t start = stat.find_first_not_of(blanks, end);
        if (start == std::string::npos)
            return {};
        end = std::min(stat.find_first_of(blanks, start), stat.size());
        if (index == 22) {
            const std::string boot = FirstLineOf("/proc/sys/kernel/random/boot_id");
            return boot.empty() ? std::string() : boot + "/" + stat.substr(start, end - start);
        }
    }
    return {};
}

} // namespace kronvik
