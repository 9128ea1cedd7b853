// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "running_pass_mark.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kronvik {

namespace {

struct flock ByteOf(std::int64_t pass, short type)
{
    struct flock byte
    {
    };
    byte.l_type = type;
    byte.l_whence = SEEK_SET;
    byte.l_start = static_cast<off_t>(pass);
    byte.l_len = 1;
    return byte;
}

} // namespace

RunningPassMark::~RunningPassMark()
{
    Release();
}

bool RunningPassMark::Take(const std::string &path, std::int64_t pass)
{
    Release();
    // Read-only and readable by all: a file that a run as another user (root) made serves every
    // user's marks. Non-blocking and a regular file only: a FIFO of that name cannot hang a run.
    const int fd =
            open(path.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0644);
    if (fd < 0)
        return false;
    struct stat status
    {
    };
    struct flock byte = ByteOf(pass, F_RDLCK);
    if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) || fcntl(fd, F_OFD_SETLK, &byte) != 0) {
        close(fd);
        return false;
    }
    m_fd = fd;
    return true;
}

void RunningPassMark::Release()
{
    if (m_fd >= 0)
        close(m_fd); // closing the only descriptor of the open file releases its locks
    m_fd = -1;
}

RunningPassState ReadRunningPassMark(const std::string &path, std::int64_t pass)
{
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0)
        return RunningPassState::Unknown;
    struct stat status
    {
    };
    // Any lock on the byte stands in the way of a write lock.
    struct flock byte = ByteOf(pass, F_WRLCK);
    const bool asked = fstat(fd, &status) == 0 && S_ISREG(status.st_mode)
                       && fcntl(fd, F_OFD_GETLK, &byte) == 0;
    close(fd);
    if (!asked)
        return RunningPassState::Unknown;
    return byte.l_type == F_UNLCK ? RunningPassState::Unmarked : RunningPassState::Marked;
}

} // namespace kronvik
