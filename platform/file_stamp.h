// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "calendar_time.h"
#include "directory_listing.h"

#include <cstdint>
#include <limits>
#include <string>

namespace kronvik {

// What the file system says about a file at one moment: which file it is, and enough of its
// status to tell that it changed since (a write moves the modification time, a rename, a new link
// or a change of permissions the change time).
struct FileStamp
{
    FileIdentity identity;
    bool isRegular = false;
    std::uint64_t size = 0;
    std::int64_t modifiedSeconds = 0;
    std::int64_t modifiedNanoseconds = 0;
    std::int64_t changedSeconds = 0;
    std::int64_t changedNanoseconds = 0;
    // When the file was last read. No part of a change: reading the file moves it.
    std::int64_t accessedSeconds = 0;
    std::int64_t accessedNanoseconds = 0;

    friend bool operator==(const FileStamp &a, const FileStamp &b)
    {
        return a.identity == b.identity && a.isRegular == b.isRegular && a.size == b.size
               && a.modifiedSeconds == b.modifiedSeconds
               && a.modifiedNanoseconds == b.modifiedNanoseconds
               && a.changedSeconds == b.changedSeconds
               && a.changedNanoseconds == b.changedNanoseconds;
    }
};

// A file time as nanoseconds since 1970, as the journal keeps times. A time beyond them (before
// 1677 or after 2262, which ext4 and tmpfs hold) becomes the nearest they hold.
inline std::int64_t FileTimeNanoseconds(std::int64_t seconds, std::int64_t nanoseconds)
{
    std::int64_t whole = 0;
    std::int64_t total = 0;
    if (__builtin_mul_overflow(seconds, std::int64_t{1000000000}, &whole)
        || __builtin_add_overflow(whole, nanoseconds, &total))
        return seconds < 0 ? std::numeric_limits<std::int64_t>::min()
                           : std::numeric_limits<std::int64_t>::max();
    return total;
}

// The stamp of what `path` names, following symbolic links. Returns 0 or an errno value.
int StampFile(const std::string &path, FileStamp &stamp);

// The modification time of a stamp as local calendar time. False when it cannot be broken down.
bool LocalModificationTime(const FileStamp &stamp, CalendarTime &localTime);

} // namespace kronvik
