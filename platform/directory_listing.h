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

// Whether `path` (links followed) is the root of a mount, which another folder than the one above
// its mount point may hold (a bind mount's). False when it cannot be told.
bool IsMountRoot(const std::string &path);

struct DirectoryEntry
{
    std::string name; // as the kernel returns it, bytes unchanged
    bool isDirectory = false; // true also for a link that leads to a directory
    bool isLink = false; // a symbolic link, whatever it leads to
};

// True when `a` comes before `b` in a listing: compared with the ASCII letters upper-cased, and
// names equal that way by their bytes, as NTFS orders names ("IMGA.JPG" before "IMG_0001.JPG"
// before "img_0002.jpg", "B.jpg" before "b.jpg"). Runs over one tree are then reproducible
// whatever order the file system keeps.
bool ListsBefore(const std::string &a, const std::string &b);

// How a listing ended. `error` is 0 when every entry was read; otherwise the errno of opening the
// directory (`opened` false, no entries) or of the read that cut the listing short (`opened`
// true, the entries read before it kept). Tests true when the directory could be opened.
struct ListingResult
{
    bool opened = false;
    int error = 0;

    explicit operator bool() const { return opened; }
};

// Lists a directory's entries sorted by `ListsBefore`, "." and ".." left out and hidden entries
// kept. Fails to open, with ENAMETOOLONG, when its search pattern, the directory, a separator and
// "*.*", would be PATH_MAX bytes or longer.
ListingResult ListDirectory(const std::string &directory, std::vector<DirectoryEntry> &entries);

} // namespace kronvik
