// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <string>

namespace kronvik {

// The per-user folder for state files: $XDG_STATE_HOME, else $HOME/.local/state. Empty when
// neither is known.
std::string UserStateHome();

// Creates the directory and its missing parents (mode 0777 less the umask). Returns 0 or an errno
// value; an existing directory is success.
int MakeDirectories(const std::string &path);

// The errno value that MakeDirectories(path) and then creating a file in the directory would
// meet, found without making anything. 0 when both would succeed.
int CheckCreatableDirectory(const std::string &path);

} // namespace kronvik
