// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "user_folders.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kronvik {

std::string UserStateHome()
{
    const char *state = std::getenv("XDG_STATE_HOME");
    if (state && *state == '/')
        return state;
    const char *home = std::getenv("HOME");
    if (!home || !*home) {
        const passwd *user = getpwuid(getuid());
        home = user ? user->pw_dir : nullptr;
    }
    if (!home || !*home)
        return {};
    return std::string(home) + "/.local/state";
}

int MakeDirectories(const std::string &path)
{
    if (path.empty())
        return ENOENT;
    // The folder is there on every run but the first: one look instead of a mkdir a level.
    struct stat status;
    if (stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode))
        return 0;
    for (std::size_t at = 1; at <= path.size(); ++at) {
        if (at != path.size() && path[at] != '/')
            continue;
        const std::string prefix = path.substr(0, at);
        // The run log and the journal name the user's folders and pictures: folders made for
        // them are the user's alone, as the base-directory rules ask.
        if (mkdir(prefix.c_str(), 0700) != 0 && errno != EEXIST)
            return errno;
    }
    if (stat(path.c_str(), &status) != 0)
        return errno;
    return S_ISDIR(status.st_mode) ? 0 : ENOTDIR;
}

int CheckCreatableDirectory(const std::string &path)
{
    if (path.empty())
        return ENOENT;
    // The deepest part of the path that exists decides: the rest would be made in it.
    std::string existing = path;
    struct stat status;
    while (stat(existing.c_str(), &status) != 0) {
        const int error = errno;
        if (error != ENOENT || existing == "." || existing == "/")
            return error;
        const auto slash = existing.find_last_of('/');
        const auto end = slash == std::string::npos ? slash : existing.find_last_not_of('/', slash);
        existing = slash == std::string::npos ? "."
                   : end == std::string::npos ? "/"
                                              : existing.substr(0, end + 1);
    }
    if (!S_ISDIR(status.st_mode))
        return ENOTDIR;
    return faccessat(AT_FDCWD, existing.c_str(), W_OK | X_OK, AT_EACCESS) == 0 ? 0 : errno;
}

} // namespace kronvik
