// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "picture_file.h"

#include "file_stamp_of_status.h"
#include "open_keeping_access_time.h"
#include "read_only.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kronvik {

PictureFile::~PictureFile()
{
    Close();
}

int PictureFile::Open(const std::string &path, FileStamp *stamp)
{
    Close();
    // O_NOCTTY: a terminal device named like a picture must not become our controlling terminal.
    int fd = OpenKeepingAccessTime(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    struct stat status
    {
    };
    if (fd < 0) {
        const int error = errno;
        // A socket cannot be opened at all, nor a device without its driver or on a mount that
        // allows no devices: still no regular file, and told as one rather than as a failure.
        if (::stat(path.c_str(), &status) == 0 && !S_ISREG(status.st_mode))
            return kNotRegularFile;
        return error;
    }
    if (::fstat(fd, &status) != 0) {
        int error = errno;
        ::close(fd);
        return error;
    }
    if (stamp)
        *stamp = StampOfStatus(status);
    if (!S_ISREG(status.st_mode)) {
        ::close(fd);
        return kNotRegularFile;
    }
    m_fd = fd;
    m_size = static_cast<std::uint64_t>(status.st_size);
    m_readOnlyToAll = IsReadOnlyToAll(status.st_mode);
    return 0;
}

std::int64_t PictureFile::ReadAt(std::uint64_t offset, void *buffer, std::size_t size) const
{
    if (m_fd < 0)
        return -EBADF;
    auto *bytes = static_cast<unsigned char *>(buffer);
    std::size_t done = 0;
    while (done < size) {
        ssize_t count = ::pread(m_fd, bytes + done, size - done, static_cast<off_t>(offset + done));
        if (count < 0) {
            if (errno == EINTR)
                continue;
            return -static_cast<std::int64_t>(errno);
        }
        if (count == 0)
            break;
        done += static_cast<std::size_t>(count);
    }
    return static_cast<std::int64_t>(done);
}

void PictureFile::Borrow(int fd, const FileStamp &status)
{
    Close();
    m_fd = fd;
    m_owned = false;
    m_size = status.size;
    // It opened for update: someone may write it.
    m_readOnlyToAll = false;
}

int PictureFile::Release()
{
    const int fd = m_owned ? m_fd : -1;
    if (m_owned)
        m_fd = -1;
    Close();
    return fd;
}

void PictureFile::Close()
{
    if (m_fd >= 0 && m_owned)
        ::close(m_fd);
    m_fd = -1;
    m_owned = true;
    m_size = 0;
}

} // namespace kronvik
