// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "directory_listing.h"

#include "path_names.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

namespace kronvik {

namespace {

// The longest search pattern the program ever builds: the directory, a separator and "*.*".
constexpr std::size_t kPatternSuffixBytes = 4;

bool IsDirectoryFollowingLinks(const std::string &path)
{
    struct stat status
    {
    };
    return stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

bool IsLink(const std::string &path)
{
    struct stat status
    {
    };
    return lstat(path.c_str(), &status) == 0 && S_ISLNK(status.st_mode);
}

} // namespace

bool IdentifyFile(const std::string &path, FileIdentity &identity)
{
    struct stat status
    {
    };
    if (stat(path.c_str(), &status) != 0)
        return false;
    identity.device = static_cast<std::uint64_t>(status.st_dev);
    identity.inode = static_cast<std::uint64_t>(status.st_ino);
    return true;
}

bool IsMountRoot(const std::string &path)
{
    struct statx status
    {
    };
    return statx(AT_FDCWD, path.c_str(), 0, 0, &status) == 0
           && (status.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT)
           && (status.stx_attributes & STATX_ATTR_MOUNT_ROOT);
}

bool ListsBefore(const std::string &a, const std::string &b)
{
    // Only the 26 ASCII letters fold: bytes of other encodings compare as they are.
    const auto upper = [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte >= 'a' && byte <= 'z' ? static_cast<unsigned char>(byte - 'a' + 'A') : byte;
    };
    const auto folded = [&](char x, char y) { return upper(x) < upper(y); };
    if (std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), folded))
        return true;
    if (std::lexicographical_compare(b.begin(), b.end(), a.begin(), a.end(), folded))
        return false;
    const auto bytes = [](char x, char y) {
        return static_cast<unsigned char>(x) < static_cast<unsigned char>(y);
    };
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), bytes);
}

ListingResult ListDirectory(const std::string &directory, std::vector<DirectoryEntry> &entries)
{
    entries.clear();
    if (directory.size() + kPatternSuffixBytes >= PATH_MAX)
        return {false, ENAMETOOLONG};
    DIR *stream = opendir(directory.c_str());
    if (!stream)
        return {false, errno};
    const std::string prefix = directory + kPathSeparator;
    int error = 0;
    for (;;) {
        errno = 0;
        const dirent *entry = readdir(stream);
        if (!entry) {
            // A read error ends the listing; what came before it is kept for the caller.
            error = errno;
            break;
        }
        const std::string name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        bool isDirectory = entry->d_type == DT_DIR;
        bool isLink = entry->d_type == DT_LNK;
        // A link counts by what it leads to; some file systems give no type at all.
        if (entry->d_type == DT_UNKNOWN)
            isLink = IsLink(prefix + name);
        if (isLink || entry->d_type == DT_UNKNOWN)
            isDirectory = IsDirectoryFollowingLinks(prefix + name);
        entries.push_back(DirectoryEntry{name, isDirectory, isLink});
    }
    closedir(stream);
    std::sort(entries.begin(), entries.end(), [](const DirectoryEntry &a, const DirectoryEntry &b) {
        return ListsBefore(a.name, b.name);
    });
    return {true, error};
}

} // namespace kronvik
