// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "replacing_file.h"

#include "read_only.h"
#include "write_faults.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kronvik {

namespace {

constexpr char kTemporaryInfix[] = ".tmp";
constexpr std::size_t kSuffixLength = 6;
constexpr char kSuffixAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";

bool IsSuffixCharacter(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

std::string RandomSuffix()
{
    unsigned char bytes[kSuffixLength];
    if (getrandom(bytes, sizeof bytes, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof bytes)) {
        // Without entropy the clock and the process still make names that rarely meet; a name
        // that is taken is only tried again.
        auto seed = static_cast<unsigned long long>(
                            std::chrono::steady_clock::now().time_since_epoch().count())
                    ^ (static_cast<unsigned long long>(getpid()) << 20);
        for (unsigned char &byte : bytes) {
            seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
            byte = static_cast<unsigned char>(seed >> 56);
        }
    }
    std::string suffix;
    for (unsigned char byte : bytes)
        suffix += kSuffixAlphabet[byte % (sizeof kSuffixAlphabet - 1)];
    return suffix;
}

std::string FolderOf(const std::string &path)
{
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
}

std::string NameOf(const std::string &path)
{
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A rename is durable only once the folder that holds both names is flushed too.
void SyncFolder(const std::string &folder)
{
    const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        fsync(fd);
        close(fd);
    }
}

// Opens the file that `path` names for writing, never truncated, so that a read-only file is
// refused as a write to it would be, and locks it. O_NOFOLLOW: a link is replaced, so there is
// nothing of it to lock. `fd` stays -1 where there is no such file.
int OpenReplaced(const std::string &path, int &fd, struct stat &replaced)
{
    fd = open(path.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return errno != ENOENT && errno != ELOOP ? errno : 0;
    int error = 0;
    if (fstat(fd, &replaced) != 0)
        error = errno;
    else if (!S_ISREG(replaced.st_mode))
        error = EINVAL;
    else if (IsReadOnlyToAll(replaced.st_mode))
        error = EACCES;
    else if (flock(fd, LOCK_EX | LOCK_NB) != 0)
        error = errno;
    if (error != 0) {
        close(fd);
        fd = -1;
    }
    return error;
}

// EACCES for a folder that is read-only to all, as for such a file.
int ReadOnlyFolderError(const std::string &path)
{
    struct stat folder
    {
    };
    return stat(FolderOf(path).c_str(), &folder) == 0 && S_ISDIR(folder.st_mode)
                           && IsReadOnlyToAll(folder.st_mode)
                   ? EACCES
                   : 0;
}

} // namespace

int CheckReplacing(const std::string &path, ReplacedFileLock lock)
{
    if (lock == ReplacedFileLock::LockedWhileWriting) {
        int fd = -1;
        struct stat replaced
        {
        };
        if (const int error = OpenReplaced(path, fd, replaced))
            return error;
        if (fd >= 0)
            close(fd);
        if (const int error = ReadOnlyFolderError(path))
            return error;
    }
    // The temporary file is made in the same folder.
    return faccessat(AT_FDCWD, FolderOf(path).c_str(), W_OK | X_OK, AT_EACCESS) == 0 ? 0 : errno;
}

ReplacingFile::~ReplacingFile()
{
    Discard();
}

void ReplacingFile::Discard()
{
    if (m_fd >= 0)
        close(m_fd);
    m_fd = -1;
    if (!m_temporaryName.empty())
        unlinkat(m_folderFd, m_temporaryName.c_str(), 0);
    m_temporaryPath.clear();
    m_temporaryName.clear();
    if (m_folderFd >= 0)
        close(m_folderFd);
    m_folderFd = -1;
    if (m_lockFd >= 0)
        close(m_lockFd); // releases the lock
    m_lockFd = -1;
    m_flushed = false;
}

int ReplacingFile::Create(const std::string &path, mode_t newFileMode, ReplacedFileLock lock)
{
    Discard();
    m_path = path;
    // Every path the system opens can be replaced: the temporary file's longer name is made
    // relative to the folder, so only the path itself must stay below the limit.
    if (path.size() >= PATH_MAX)
        return ENAMETOOLONG;
    struct stat replaced
    {
    };
    bool keepMode = false;
    if (lock == ReplacedFileLock::LockedWhileWriting) {
        if (const int error = OpenReplaced(path, m_lockFd, replaced))
            return error;
        if (const int error = ReadOnlyFolderError(path)) {
            Discard();
            return error;
        }
        keepMode = m_lockFd >= 0;
    } else if (lstat(path.c_str(), &replaced) == 0 && S_ISREG(replaced.st_mode)) {
        keepMode = true;
    }

    int error = WriteFault(WriteStep::CreateTemporary);
    if (error == 0) {
        m_folderFd = open(FolderOf(path).c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        error = m_folderFd >= 0 ? EEXIST : errno;
    }
    for (int attempt = 0; attempt < 100 && error == EEXIST; ++attempt) {
        std::string candidate = NameOf(path) + kTemporaryInfix + "." + RandomSuffix();
        m_fd = openat(m_folderFd, candidate.c_str(),
                      O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, newFileMode);
        if (m_fd >= 0) {
            m_temporaryPath = path.substr(0, path.size() - NameOf(path).size()) + candidate;
            m_temporaryName = candidate;
            error = 0;
        } else {
            error = errno;
        }
    }
    // Keeping the permissions is worth a try, not a failure: FAT and other file systems without
    // Unix permissions refuse the change.
    if (error == 0 && keepMode)
        fchmod(m_fd, replaced.st_mode & 07777);
    if (error != 0)
        Discard();
    return error;
}

int ReplacingFile::Write(const void *buffer, std::size_t size)
{
    if (m_fd < 0)
        return EBADF;
    if (const int error = WriteFault(WriteStep::WriteTemporary))
        return error;
    const auto *bytes = static_cast<const char *>(buffer);
    std::size_t done = 0;
    while (done < size) {
        const ssize_t count = write(m_fd, bytes + done, size - done);
        if (count < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        if (count == 0)
            return ENOSPC;
        done += static_cast<std::size_t>(count);
    }
    return 0;
}

int ReplacingFile::Flush()
{
    if (m_fd < 0)
        return EBADF;
    int error = WriteFault(WriteStep::FlushTemporary);
    if (error == 0 && fsync(m_fd) != 0)
        error = errno;
    // close is not retried on EINTR: on Linux the descriptor is gone either way.
    if (close(m_fd) != 0 && error == 0)
        error = errno;
    m_fd = -1;
    m_flushed = error == 0;
    return error;
}

int ReplacingFile::Replace()
{
    if (!m_flushed || m_temporaryName.empty())
        return EBADF;
    if (const int error = WriteFault(WriteStep::ReplaceByRename))
        return error;
    if (renameat(m_folderFd, m_temporaryName.c_str(), m_folderFd, NameOf(m_path).c_str()) != 0)
        return errno;
    m_temporaryPath.clear();
    m_temporaryName.clear();
    SyncFolder(FolderOf(m_path));
    Discard();
    return 0;
}

void RemoveLeftTemporaries(const std::string &path, time_t notAfter, bool withFixedName)
{
    DIR *listing = opendir(FolderOf(path).c_str());
    if (!listing)
        return;
    const std::string name = NameOf(path);
    while (const dirent *entry = readdir(listing)) {
        struct stat status
        {
        };
        if (IsTemporaryNameOf(entry->d_name, name)
            && (withFixedName || entry->d_name != name + kTemporaryInfix)
            && fstatat(dirfd(listing), entry->d_name, &status, AT_SYMLINK_NOFOLLOW) == 0
            && status.st_mtime <= notAfter)
            unlinkat(dirfd(listing), entry->d_name, 0);
    }
    closedir(listing);
}

bool IsTemporaryNameOf(const std::string &name, const std::string &fileName)
{
    const std::string prefix = fileName + kTemporaryInfix;
    if (name.compare(0, prefix.size(), prefix) != 0)
        return false;
    if (name.size() == prefix.size())
        return true;
    return name.size() == prefix.size() + 1 + kSuffixLength && name[prefix.size()] == '.'
           && std::all_of(name.begin() + static_cast<std::ptrdiff_t>(prefix.size()) + 1, name.end(),
                          IsSuffixCharacter);
}

} // namespace kronvik
