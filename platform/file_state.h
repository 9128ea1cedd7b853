// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "directory_listing.h"

#include <cstdint>
#include <string>
#include <sys/types.h>

namespace kronvik {

// What a name in the file system stands for at this moment, as far as taking a change back
// needs it.
struct FileState
{
    bool exists = false;
    bool regular = false;
    std::uint64_t size = 0;
    std::int64_t modified = 0; // nanoseconds since the epoch
    std::int64_t changedSeconds = 0; // the change time: a new link or name moves it
    FileIdentity identity;
    std::uint64_t links = 0;
};

// The state of what `path` names; with `followLinks` false, of a symbolic link itself. Returns 0,
// or the errno value of the failed call (ENOENT when nothing has that name; `state.exists` is
// false then).
int ReadFileState(const std::string &path, FileState &state, bool followLinks = true);

// True when `path` names the file `identity` and the file system says that file was made in a
// second before `second` (seconds since the epoch). False on file systems that may number a
// living file again (FAT and exFAT number them per mount, FUSE and SMB per lookup) or keep no
// birth time: only the local Linux ones count.
bool BornBefore(const std::string &path, FileIdentity identity, std::int64_t second);

// Sets the modification time of the file to `modified` nanoseconds since the epoch, keeping its
// access time. Returns 0 or an errno value. With `followLinks` false, or `descriptor`, as
// SetLastWriteTime.
int SetModificationTime(const std::string &path, std::int64_t modified, bool followLinks = true,
                        int descriptor = -1);

// Removes the name `path` when it names an empty regular file modified no earlier than
// `notBefore` (nanoseconds since the epoch) and not after now: a placeholder that a rename reserved
// and left behind, not a file of someone's. Returns 0 when removed, EEXIST when it is something
// else, or an errno value.
int RemoveEmptyFile(const std::string &path, std::int64_t notBefore);

// Removes the name `path` (one of several names of a file). Returns 0 or an errno value.
int RemoveName(const std::string &path);

// The UUID of the file system on `device`, as /dev/disk/by-uuid names it ("A1B2-C3D4" for FAT,
// a long one for ext4); empty when it has none there (tmpfs, most FUSE and network mounts).
std::string FileSystemUuid(std::uint64_t device);

// This process: its id, and a stamp of it that no later process with the same id shares (the
// boot and the moment the process started).
pid_t CurrentProcessId();
std::string ProcessStamp(pid_t process);

} // namespace kronvik
