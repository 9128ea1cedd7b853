// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "path_names.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <sys/stat.h>
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
    if (path.empty() || path.front() == kPathSeparator)
        return path;
    // Without a current directory there is nothing to join to; the path stays as given.
    std::string absolute = CurrentDirectory();
    if (absolute.empty())
        return path;
    if (absolute.back() != kPathSeparator)
        absolute += kPathSeparator;
    return absolute + path;
}

std::string FolderOfLinkedFile(const std::string &path)
{
    struct stat status
    {
    };
    if (lstat(path.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)
        || stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode))
        return {};
    char *resolved = realpath(path.c_str(), nullptr);
    if (!resolved)
        return {};
    std::string folder = resolved;
    std::free(resolved);
    folder.erase(std::max<std::size_t>(folder.rfind(kPathSeparator), 1));
    return folder;
}

namespace {

// The path that the symbolic link `link` names: its text, a relative one taken from the link's
// folder. Empty when it cannot be read.
std::string LinkTargetPath(const std::string &link)
{
    std::vector<char> text(PATH_MAX + 1);
    const ssize_t length = readlink(link.c_str(), text.data(), text.size() - 1);
    if (length <= 0)
        return {};
    std::string target(text.data(), static_cast<std::size_t>(length));
    if (target.front() == kPathSeparator)
        return target;
    const auto split = link.rfind(kPathSeparator);
    return (split == std::string::npos ? std::string() : link.substr(0, split + 1)) + target;
}

} // namespace

std::string MissingLinkEnd(const std::string &path)
{
    std::string name = path;
    // As many links as the system follows itself.
    for (int hop = 0; hop <= 40; ++hop) {
        struct stat status
        {
        };
        if (lstat(name.c_str(), &status) != 0)
            return hop > 0 && errno == ENOENT ? name : std::string();
        if (!S_ISLNK(status.st_mode))
            return {};
        name = LinkTargetPath(name);
        if (name.empty())
            return {};
    }
    return {};
}

std::string FolderOfMissingLinkTarget(const std::string &path)
{
    struct stat status
    {
    };
    if (lstat(path.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)
        || stat(path.c_str(), &status) == 0 || errno != ENOENT)
        return {};
    std::string target = LinkTargetPath(path);
    if (target.empty())
        return {};
    target.erase(std::max<std::size_t>(target.rfind(kPathSeparator), 1));
    char *resolved = realpath(target.c_str(), nullptr);
    if (!resolved)
        return {};
    std::string folder = resolved;
    std::free(resolved);
    return stat(folder.c_str(), &status) == 0 && S_ISDIR(status.st_mode) ? folder : std::string();
}

} // namespace kronvik
