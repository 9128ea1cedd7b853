// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "directory_lock.h"
#include "mount_types.h"

#include <optional>
#include <string>
#include <vector>

namespace kronvik {

// The mount table, read at its first need and kept until Forget.
class MountTable
{
public:
    // The places where mounts other than `mountId` show its root (OtherPlacesOfMountRoot). A
    // mount the table read does not list was made since: the table is read again.
    std::vector<std::string> OtherPlaces(std::uint64_t mountId);
    void Forget() { m_mounts.reset(); }

private:
    std::optional<std::vector<MountEntry>> m_mounts;
};

// A directory, or one above it: `covers` where holding it exclusively keeps every other run out
// of the directory, since each way into the directory passes it and every run takes it.
struct FolderAbove
{
    DirectoryLock lock;
    bool covers = true;
};
using FolderChain = std::vector<FolderAbove>;

// `directory`, opened following links, then every directory above it, each once: those that ".."
// leads to up to the root, as the file system links them (not as the path spells them), and, where
// a folder on the way is the root of a mount that some other mount shows too, the folders above
// the folder it shows as its own file system holds it (a bind mount of /data/B at /mnt/b: /data
// as well as /mnt). A run may come into the directory by any of those ways, so above such a
// mount's root only the folders of its own file system cover it, and none where it is that file
// system's top. Empty when `directory` cannot be opened.
FolderChain DirectoryAndAbove(const std::string &directory, MountTable &mounts);

} // namespace kronvik
