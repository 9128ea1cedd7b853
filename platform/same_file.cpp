// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "same_file.h"

#include "file_stamp.h"
#include "file_state.h"

#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/vfs.h>

namespace kronvik {

namespace {

constexpr long kCifsMagic = 0xFF534D42;
constexpr long kSmb2Magic = 0xFE534D42;

bool NumbersFilesPerLookup(const std::string &path)
{
    struct statfs system
    {
    };
    if (statfs(path.c_str(), &system) != 0)
        return false;
    const long type = static_cast<long>(system.f_type);
    return type == FUSE_SUPER_MAGIC || type == kCifsMagic || type == kSmb2Magic;
}

bool Matches(const std::string &path, const struct stat &status, const CheckedFile &checked)
{
    if (static_cast<std::uint64_t>(status.st_dev) != checked.identity.device
        || S_ISREG(status.st_mode) != checked.regular
        || static_cast<std::uint64_t>(status.st_size) != checked.size)
        return false;
    if (static_cast<std::uint64_t>(status.st_ino) == checked.identity.inode
        && FileTimeNanoseconds(status.st_mtim.tv_sec, status.st_mtim.tv_nsec) == checked.modified)
        return true;
    // A FUSE server may also give the file the time of a write only when it is closed (fusefat),
    // after the status the write saw: there the size alone tells another file.
    return NumbersFilesPerLookup(path);
}

} // namespace

CheckedFile CheckedFileOf(const FileStamp &stamp)
{
    return CheckedFile{stamp.identity, stamp.isRegular, stamp.size,
                       FileTimeNanoseconds(stamp.modifiedSeconds, stamp.modifiedNanoseconds)};
}

CheckedFile CheckedFileOf(const FileState &state)
{
    return CheckedFile{state.identity, state.regular, state.size, state.modified};
}

PathHolds LookAgain(const std::string &path, const CheckedFile &checked)
{
    struct stat status
    {
    };
    if (lstat(path.c_str(), &status) != 0)
        return PathHolds::AnotherFile;
    if (!S_ISLNK(status.st_mode))
        return Matches(path, status, checked) ? PathHolds::TheFile : PathHolds::AnotherFile;
    if (stat(path.c_str(), &status) != 0)
        return PathHolds::AnotherFile;
    return Matches(path, status, checked) ? PathHolds::TheFileThroughALink : PathHolds::AnotherFile;
}

} // namespace kronvik
