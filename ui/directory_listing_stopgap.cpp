// Stopgap for the platform layer's directory listing, with the same contract, so the browser can
// run before that layer provides it. Delete this file once platform/ defines ListDirectory: the
// two definitions cannot be linked together.
#include "directory_listing.h"

#include "path_names.h"

#include <climits>
#include <cstring>
#include <dirent.h>
#include <sys/stat.h>

namespace kronvik {

bool ListDirectory(const std::string &directory, std::vector<DirectoryEntry> &entries)
{
    entries.clear();
    std::string pattern = directory;
    if (pattern.empty() || pattern.back() != kPathSeparator)
        pattern += kPathSeparator;
    pattern += "*.*";
    if (pattern.size() >= PATH_MAX)
        return false;
    DIR *stream = opendir(directory.c_str());
    if (!stream)
        return false;
    while (const dirent *entry = readdir(stream)) {
        if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0)
            continue;
        bool isDirectory = entry->d_type == DT_DIR;
        if (entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN) {
            struct stat status
            {
            };
            isDirectory = fstatat(dirfd(stream), entry->d_name, &status, 0) == 0
                          && S_ISDIR(status.st_mode);
        }
        entries.push_back({entry->d_name, isDirectory});
    }
    closedir(stream);
    return true;
}

} // namespace kronvik
