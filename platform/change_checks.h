// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <string>

namespace kronvik {

// What a change would meet beyond the modes that access(2) tells, found without making it, for a
// preview whose lines must be its run's. 0 or an errno value.

// A rename of the entry `path` out of `directory`, which the user may write: a sticky directory
// (as /tmp is) lets only the owner of the entry or of the directory take it away, and no one
// renames a file marked immutable or append-only.
int CheckRenameOf(const std::string &path, const std::string &directory);

// Setting the modification time of the file `path` to a given moment (not to now): only its owner
// may, or a process that may act as any owner, and on a file marked immutable or append-only no
// one may.
int CheckTimeSetOf(const std::string &path);

} // namespace kronvik
