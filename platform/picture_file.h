// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "file_stamp.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace kronvik {

// A picture file opened for reading only. It is opened non-blocking, so a FIFO or a device that
// carries a picture's name cannot hang the program, and anything but a regular file is refused
// before a byte of it is read.
class PictureFile
{
public:
    // Returned by Open for a path that names a directory, FIFO, device or socket; never an errno.
    static constexpr int kNotRegularFile = -1;

    PictureFile() = default;
    ~PictureFile();
    PictureFile(const PictureFile &) = delete;
    PictureFile &operator=(const PictureFile &) = delete;

    // Returns 0 when `path` is open, else an errno value or kNotRegularFile (and nothing is open).
    // `stamp`, when given, receives the status of what was opened, also of what is refused for not
    // being a regular file.
    int Open(const std::string &path, FileStamp *stamp = nullptr);
    // Reads through `fd`, a regular file that another object opened for update and keeps open
    // (LockedFile), whose status is `status`.
    void Borrow(int fd, const FileStamp &status);
    bool IsOpen() const { return m_fd >= 0; }
    // The size the file had when it was opened.
    std::uint64_t Size() const { return m_size; }
    // Whether the file, as opened, granted no one a write permission.
    bool ReadOnlyToAll() const { return m_readOnlyToAll; }

    // Reads up to `size` bytes at `offset` without moving any file position. Returns the count
    // read, short only at the end of the file, or a negated errno value.
    std::int64_t ReadAt(std::uint64_t offset, void *buffer, std::size_t size) const;

    void Close();
    // The descriptor of a file this object opened, now the caller's to close; -1 for none.
    int Release();

private:
    int m_fd = -1;
    bool m_owned = true;
    std::uint64_t m_size = 0;
    bool m_readOnlyToAll = false;
};

} // namespace kronvik
