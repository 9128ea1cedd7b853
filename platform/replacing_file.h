// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstddef>
#include <string>
#include <sys/types.h>

namespace kronvik {

// Whether the file being replaced is locked (flock, exclusive, not waiting) from Create until the
// replacement is in place, as a non-shared open of it would be.
enum class ReplacedFileLock { Unlocked, LockedWhileWriting };

// A new version of a file, written under a unique temporary name in the same folder
// ("<name>.tmp.XXXXXX") and renamed over the file only once it is whole and flushed, so that the
// file is always either the old version or the new one. A temporary file that is not renamed is
// removed when the object goes. A file that is a symbolic link is replaced by the new file, not
// written through.
class ReplacingFile
{
public:
    ReplacingFile() = default;
    ~ReplacingFile();
    ReplacingFile(const ReplacingFile &) = delete;
    ReplacingFile &operator=(const ReplacingFile &) = delete;

    // Locks the file at `path` when asked (a missing file or a link has nothing to lock; anything
    // else that is not a regular file is EINVAL) and creates the temporary file. The new file gets
    // the permission bits of the regular file it replaces where the file system keeps them, else
    // `newFileMode` less the umask.
    // Returns 0 or an errno value: EWOULDBLOCK when another process holds the lock, EACCES when
    // the file or the folder is read-only.
    int Create(const std::string &path, mode_t newFileMode, ReplacedFileLock lock);

    // Writes all bytes after those written before. Returns 0 or an errno value.
    int Write(const void *buffer, std::size_t size);

    // Flushes the new file to the device and closes it. Returns 0 or an errno value.
    int Flush();

    // Renames the flushed new file over the file and flushes the folder. Returns 0 or an errno
    // value of the rename.
    int Replace();

    const std::string &TemporaryPath() const { return m_temporaryPath; }

private:
    void Discard();

    std::string m_path;
    std::string m_temporaryPath;
    std::string m_temporaryName;
    int m_folderFd = -1; // the temporary file is named relative to its folder
    int m_fd = -1;
    int m_lockFd = -1;
    bool m_flushed = false;
};

// The errno value that ReplacingFile::Create(path, ..., lock) would return, found without making
// or changing any file: the file is opened for writing and locked only for a moment. 0 when the
// new version could be begun.
int CheckReplacing(const std::string &path, ReplacedFileLock lock);

// True when `name` is the name a ReplacingFile of `fileName` gives its temporary file, or the
// fixed "<fileName>.tmp" of earlier versions: what a writer killed midway leaves behind.
bool IsTemporaryNameOf(const std::string &name, const std::string &fileName);

// Removes the temporary files of `path` (IsTemporaryNameOf; the fixed name of earlier versions
// only with `withFixedName`) last modified at or before `notAfter`, seconds since the epoch: what
// writers killed midway left behind.
void RemoveLeftTemporaries(const std::string &path, time_t notAfter, bool withFixedName);

} // namespace kronvik
