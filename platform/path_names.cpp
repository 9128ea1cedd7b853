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
    if (path.empty() || path.front() == kPathSeparator)
        return path;
    std::string directory = CurrentDirectory();
    // Without a current directory there is nothing to join to; the path stays as the user gave it.
    if (directory.empty())
        return path;
    if (directory.back() != kPathSeparator)
        directory += kPathSeparator;
    return directory + path;
}

} // namespace kronvik
