// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "running_pass_mark.h"

#include <cerrno>
#include <fcntl.h>
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

int RunningPassMark::Take(const std::string &path, std::int64_t pass)
{
    Release();
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return errno;
    struct flock byte = ByteOf(pass, F_WRLCK);
    if (fcntl(fd, F_OFD_SETLK, &byte) != 0) {
        const int error = errno;
        close(fd);
        return error;
    }
    m_fd = fd;
    return 0;
}

void RunningPassMark::Release()
{
    if (m_fd >= 0)
        close(m_fd); // closing the only descriptor of the open file releases its locks
    m_fd = -1;
}

RunningPassState ReadRunningPassMark(const std::string &path, std::int64_t pass)
{
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return RunningPassState::Unknown;
    struct flock byte = ByteOf(pass, F_RDLCK);
    const int result = fcntl(fd, F_OFD_GETLK, &byte);
    close(fd);
    if (result != 0)
        return RunningPassState::Unknown;
    return byte.l_type == F_UNLCK ? RunningPassState::Unmarked : RunningPassState::Marked;
}

} // namespace kronvik
