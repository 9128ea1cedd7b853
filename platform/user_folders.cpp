// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "user_folders.h"

#include <cerrno>
#include <cstdlib>
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
    for (std::size_t at = 1; at <= path.size(); ++at) {
        if (at != path.size() && path[at] != '/')
            continue;
        const std::string prefix = path.substr(0, at);
        if (mkdir(prefix.c_str(), 0777) != 0 && errno != EEXIST)
            return errno;
    }
    struct stat status;
    if (stat(path.c_str(), &status) != 0)
        return errno;
    return S_ISDIR(status.st_mode) ? 0 : ENOTDIR;
}

} // namespace kronvik
