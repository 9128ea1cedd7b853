// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace kronvik {

// What kind of place a top-level item of the source directory browser stands for; it decides
// the item's image and whether the place is read when the browser opens.
enum class BrowseRootKind {
    Fixed, // a disk that is always there: probed for a first subdirectory
    Removable, // USB stick, SD card: never read before the user expands it
    Optical, // CD, DVD, Blu-ray: never read before the user expands it
    Network, // NFS, SMB, SSHFS: probed
    RamDisk, // tmpfs, ramfs: probed
};

struct BrowseRoot
{
    std::string path; // bytes, as the system names the place
    BrowseRootKind kind = BrowseRootKind::Fixed;

    friend bool operator==(const BrowseRoot &, const BrowseRoot &) = default;
};

// The places the browser offers at its top level, in the order shown.
using BrowseRootLister = std::function<std::vector<BrowseRoot>()>;

// The places a Linux user picks from: the home folder, the root "/", then every volume mounted
// under /media, /run/media and /mnt, sorted by path.
std::vector<BrowseRoot> SystemBrowseRoots();

// The mounted volumes of a mount table in the format of /proc/self/mounts that lie below /media,
// /run/media or /mnt, sorted by path, each named once. `isRemovableDevice` tells whether a
// device such as /dev/sdb1 is a removable one.
std::vector<BrowseRoot>
MountedVolumes(std::string_view mountTable,
               const std::function<bool(const std::string &)> &isRemovableDevice);

} // namespace kronvik
