// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "file_stamp.h"

#include <cstddef>
#include <string>
#include <sys/types.h>

namespace kronvik {

// A file descriptor opened with an exclusive advisory lock (flock), as the program's non-shared
// opens need. Closing releases the lock. Move-only.
class LockedFile
{
public:
    LockedFile() = default;
    ~LockedFile();
    LockedFile(LockedFile &&other) noexcept;
    LockedFile &operator=(LockedFile &&other) noexcept;
    LockedFile(const LockedFile &) = delete;
    LockedFile &operator=(const LockedFile &) = delete;

    // Opens an existing regular file for reading and writing, non-blocking (a FIFO cannot hang
    // the call), and locks it. Returns 0 or an errno value: ENOENT when missing, EACCES when
    // read-only, EWOULDBLOCK when another process holds the lock, EINVAL when it is not a regular
    // file. `opened`, when given, receives the status of the file opened.
    int OpenExistingForUpdate(const std::string &path, FileStamp *opened = nullptr);

    // OpenExistingForUpdate without the lock: for a read that hands the open file on to the
    // write it prepares, which takes the lock (Lock) only then. Another open of the same file
    // by this process may take the lock meanwhile, as for two names of one file.
    int OpenExistingUnlocked(const std::string &path, FileStamp *opened = nullptr);
    // Takes the exclusive lock of a file so opened. Returns 0 or an errno value: EWOULDBLOCK when
    // another open of the file holds it.
    int Lock() const;

    // Creates the file or opens it for writing only, locks it, and only then empties it, so a
    // file that another process is writing is never cut short. Returns 0 or an errno value.
    int CreateAlways(const std::string &path);

    // Reads up to `size` bytes at `offset`; returns the count read (short at the end of the
    // file) or -1 with errno set.
    ssize_t ReadAt(void *buffer, std::size_t size, off_t offset) const;

    // Writes all `size` bytes at `offset` in one positioned write and flushes them to the device.
    // Returns 0 or an errno value.
    int WriteAt(const void *buffer, std::size_t size, off_t offset) const;

    // Writes all bytes at the current end of what was written. Returns 0 or an errno value.
    int Write(const void *buffer, std::size_t size) const;

    // Flushes to the device (fsync) and closes. Returns 0 or an errno value; the file is closed
    // either way.
    int Close();
    // Closes without flushing: for a file that was only read, or written with WriteAt alone. A
    // flush of a file that holds nothing unwritten still costs the disk a cache flush.
    void CloseUnflushed();

    bool IsOpen() const { return m_fd >= 0; }
    // For reading through another object while this one stays open: -1 when closed.
    int Descriptor() const { return m_fd; }
    // The open file's status now. Returns 0 or an errno value.
    int Stamp(FileStamp &stamp) const;

private:
    int OpenForUpdate(const std::string &path, FileStamp *opened, bool lock);

    int m_fd = -1;
    bool m_fuse = false; // the file lies on a FUSE mount
};

// How many files the process may have open at once: its soft limit, or a large number when there
// is none.
std::size_t OpenFilesAllowed();

// Raises the process's soft limit on open files to its hard limit. A pass holds a directory open
// for each folder of its sources and each one above them, and a source list of a thousand
// folders is no rarity; the usual soft limit of 1,024 is there for programs that use select(),
// which neither front end does.
void RaiseOpenFilesAllowed();

// Whether LockedFile::OpenExistingForUpdate is expected to open `path`, asked without opening it:
// 0, or the errno it would meet for permissions, a read-only file system or a missing file. A lock
// that another process holds is not foreseen.
int CheckUpdateAccess(const std::string &path);
// The same for a file whose mode was just seen, by a descriptor open on it: whether it grants no
// one a write permission.
int CheckUpdateAccess(const std::string &path, bool readOnlyToAll);

} // namespace kronvik
