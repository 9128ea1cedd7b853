// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "file_stamp.h"

#include "file_stamp_of_status.h"
#include "local_clock.h"

#include <cerrno>
#include <ctime>

namespace kronvik {

FileStamp StampOfStatus(const struct stat &status)
{
    FileStamp stamp;
    stamp.identity.device = static_cast<std::uint64_t>(status.st_dev);
    stamp.identity.inode = static_cast<std::uint64_t>(status.st_ino);
    stamp.isRegular = S_ISREG(status.st_mode);
    stamp.size = static_cast<std::uint64_t>(status.st_size);
    stamp.modifiedSeconds = status.st_mtim.tv_sec;
    stamp.modifiedNanoseconds = status.st_mtim.tv_nsec;
    stamp.changedSeconds = status.st_ctim.tv_sec;
    stamp.changedNanoseconds = status.st_ctim.tv_nsec;
    stamp.accessedSeconds = status.st_atim.tv_sec;
    stamp.accessedNanoseconds = status.st_atim.tv_nsec;
    return stamp;
}

int StampFile(const std::string &path, FileStamp &stamp)
{
    struct stat status
    {
    };
    if (stat(path.c_str(), &status) != 0)
        return errno;
    stamp = StampOfStatus(status);
    return 0;
}

bool LocalModificationTime(const FileStamp &stamp, CalendarTime &localTime)
{
    const std::time_t seconds = static_cast<std::time_t>(stamp.modifiedSeconds);
    std::tm local{};
    FollowTimeZoneInForce();
    if (!localtime_r(&seconds, &local))
        return false;
    localTime = CalendarTime{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                             local.tm_hour,        local.tm_min,     local.tm_sec};
    return true;
}

} // namespace kronvik
