// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "change_checks.h"

#include "open_keeping_access_time.h"

#include <cerrno>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kronvik {

namespace {

// Taken for the capability to act as any owner: a root process has it unless it was dropped.
bool MayActAsAnyOwner()
{
    return geteuid() == 0;
}

// A link has no such marks; a file that cannot be opened to ask is taken as unmarked.
bool MarkedUnchangeable(const std::string &path)
{
    const int file = OpenKeepingAccessTime(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW
                                                                 | O_NOCTTY | O_CLOEXEC);
    if (file < 0)
        return false;
    int flags = 0;
    const bool marked = ioctl(file, FS_IOC_GETFLAGS, &flags) == 0
                        && (flags & (FS_IMMUTABLE_FL | FS_APPEND_FL)) != 0;
    close(file);
    return marked;
}

} // namespace

int CheckRenameOf(const std::string &path, const std::string &directory)
{
    struct stat entry
    {
    }, folder{};
    if (lstat(path.c_str(), &entry) != 0 || stat(directory.c_str(), &folder) != 0)
        return 0; // the rename itself says
    const uid_t user = geteuid();
    if ((folder.st_mode & S_ISVTX) != 0 && user != entry.st_uid && user != folder.st_uid
        && !MayActAsAnyOwner())
        return EPERM;
    return S_ISREG(entry.st_mode) && MarkedUnchangeable(path) ? EPERM : 0;
}

int CheckTimeSetOf(const std::string &path)
{
    struct stat file
    {
    };
    if (stat(path.c_str(), &file) != 0)
        return 0;
    if (geteuid() != file.st_uid && !MayActAsAnyOwner())
        return EPERM;
    return S_ISREG(file.st_mode) && MarkedUnchangeable(path) ? EPERM : 0;
}

} // namespace kronvik
