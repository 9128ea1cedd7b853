// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "directory_listing.h"

#include "path_names.h"

#include <cerrno>
#include <climits>
#include <dirent.h>
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

bool ListDirectory(const std::string &directory, std::vector<DirectoryEntry> &entries)
{
    entries.clear();
    if (directory.size() + kPatternSuffixBytes >= PATH_MAX)
        return false;
    DIR *stream = opendir(directory.c_str());
    if (!stream)
        return false;
    const std::string prefix = directory + kPathSeparator;
    for (;;) {
        errno = 0;
        const dirent *entry = readdir(stream);
        if (!entry)
            break;
        const std::string name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        bool isDirectory = entry->d_type == DT_DIR;
        // A link counts by what it leads to; some file systems give no type at all.
        if (entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN)
            isDirectory = IsDirectoryFollowingLinks(prefix + name);
        entries.push_back(DirectoryEntry{name, isDirectory});
    }
    // A listing cut short by a read error would look complete; report it as unreadable instead.
    const bool complete = errno == 0;
    closedir(stream);
    if (!complete)
        entries.clear();
    return complete;
}

} // namespace kronvik
