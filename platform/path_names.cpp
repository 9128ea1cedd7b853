// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "path_names.h"

#include <cerrno>
#include <climits>
#include <unistd.h>
#include <vector>

namespace kronvik {

namespace {

std::string CurrentDirectory()
{
    std::vector<char> buffer(PATH_MAX);
    while (!getcwd(buffer.data(), buffer.size())) {
        if (errno != ERANGE)
            return std::string();
        buffer.resize(buffer.size() * 2);
    }
    return std::string(buffer.data());
}

} // namespace

std::string AbsolutePath(const std::string &path)
{
    if (path.empty())
        return path;
    std::string joined = path;
    if (path.front() != kPathSeparator) {
        // Without a current directory there is nothing to join to; the path stays as given.
        const std::string directory = CurrentDirectory();
        if (directory.empty())
            return path;
        joined = directory + kPathSeparator + path;
    }

    // "." and ".." and repeated separators go by the names alone, links are not followed, so
    // "." names the current directory itself and not "/home/me/.".
    std::vector<std::string> names;
    std::size_t start = 0;
    while (start <= joined.size()) {
        std::size_t end = joined.find(kPathSeparator, start);
        if (end == std::string::npos)
            end = joined.size();
        const std::string name = joined.substr(start, end - start);
        if (name == "..") {
            if (!names.empty())
                names.pop_back();
        } else if (!name.empty() && name != ".") {
            names.push_back(name);
        }
        start = end + 1;
    }
    std::string absolute;
    for (const std::string &name : names)
        absolute += kPathSeparator + name;
    // A path typed with a separator at its end keeps it.
    if (absolute.empty() || path.back() == kPathSeparator)
        absolute += kPathSeparator;
    return absolute;
}

} // namespace kronvik
