// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "directory_listing.h"

#include <cstdint>
#include <string>

namespace kronvik {

struct FileStamp;
struct FileState;

// A file as a caller checked it before changing it by path: which file, and enough of its status
// to tell another one from it.
struct CheckedFile
{
    FileIdentity identity;
    bool regular = false;
    std::uint64_t size = 0;
    std::int64_t modified = 0; // nanoseconds since the epoch
};

CheckedFile CheckedFileOf(const FileStamp &stamp);
CheckedFile CheckedFileOf(const FileState &state);

enum class PathHolds {
    TheFile, // the name itself
    TheFileThroughALink, // a symbolic link that leads to it
    AnotherFile, // or nothing
};

// What `path` names now, against the file a caller checked: a rename and a time set go by path,
// and another program may swap, replace or link files between the check and the change. The same
// device, kind, size, inode number and modification time; on FUSE and SMB mounts, which may number
// a file anew at each lookup and time a write at its close, the same device, kind and size. A time
// set through a name that holds the file itself must not follow a link put there since
// (AT_SYMLINK_NOFOLLOW).
PathHolds LookAgain(const std::string &path, const CheckedFile &checked);

} // namespace kronvik
