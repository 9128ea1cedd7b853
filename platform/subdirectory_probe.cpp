// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "subdirectory_probe.h"

#include <climits>
#include <cstring>
#include <dirent.h>
#include <memory>
#include <sys/stat.h>

namespace kronvik {

namespace {

// A separator and "*.*": the pattern a directory listing is refused for, kept the same here so the
// probe and the listing agree on which directories can be read.
constexpr std::size_t kPatternSuffixBytes = 4;

struct DirectoryCloser
{
    void operator()(DIR *stream) const { closedir(stream); }
};

bool IsDot(const char *name)
{
    return std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0;
}

} // namespace

bool HasSubdirectory(const std::string &directory)
{
    if (directory.size() + kPatternSuffixBytes >= PATH_MAX)
        return false;
    const std::unique_ptr<DIR, DirectoryCloser> stream(opendir(directory.c_str()));
    if (!stream)
        return false;
    while (const dirent *entry = readdir(stream.get())) {
        if (IsDot(entry->d_name))
            continue;
        if (entry->d_type == DT_DIR)
            return true;
        // A link counts by what it leads to; some file systems give no type at all. Either is
        // looked up on its own, relative to the open directory.
        if (entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN) {
            struct stat status
            {
            };
            if (fstatat(dirfd(stream.get()), entry->d_name, &status, 0) == 0
                && S_ISDIR(status.st_mode))
                return true;
        }
    }
    // The end of the listing, or a read error before any subdirectory turned up.
    return false;
}

} // namespace kronvik
