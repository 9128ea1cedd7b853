// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kronvik {

// Identity of a file or directory on this machine: two paths name the same object exactly when
// their identities are equal. Used to end directory-link loops and to shift a file only once.
struct FileIdentity
{
    std::uint64_t device = 0;
    std::uint64_t inode = 0;

    friend bool operator==(const FileIdentity &, const FileIdentity &) = default;
    friend auto operator<=>(const FileIdentity &, const FileIdentity &) = default;
};

// The identity of what `path` names, following symbolic links. False when it cannot be read.
bool IdentifyFile(const std::string &path, FileIdentity &identity);

struct DirectoryEntry
{
    std::string name; // as the kernel returns it, bytes unchanged
    bool isDirectory = false; // true also for a link that leads to a directory
};

// Lists a directory's entries in the order the kernel returns them, "." and ".." left out and
// hidden entries kept. False (and no entries) when the directory cannot be read, or when its
// search pattern, the directory, a separator and "*.*", would be PATH_MAX bytes or longer.
bool ListDirectory(const std::string &directory, std::vector<DirectoryEntry> &entries);

} // namespace kronvik
