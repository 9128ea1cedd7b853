// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kronvik {

// One mount as a line of /proc/self/mountinfo describes it.
struct MountEntry
{
    unsigned major = 0; // the device that files on the mount report as their st_dev
    unsigned minor = 0;
    std::string mountPoint; // with the kernel's octal escapes (\040 for a blank) undone
    std::string type; // "vfat", "ext4", or "fuse" / "fuseblk" for a FUSE mount
    std::string subtype; // what a FUSE mount calls itself ("fusefat"); empty when it says nothing
    std::string source;
    std::uint64_t id = 0; // as statx gives it (STATX_MNT_ID)
    std::string root; // the folder of the file system shown at the mount point: "/" but for a bind
};

// Reads one line of mountinfo. False for a line without the fields every mount has.
bool ParseMountInfoLine(std::string_view line, MountEntry &entry);

// Every mount of mountinfo text, in its order; lines without the fields every mount has are
// left out.
std::vector<MountEntry> ParseMountInfo(std::string_view mountInfo);

// The mount of the device major:minor in mountinfo text. All mounts of one device share its
// file system; when several are listed, the last one is given.
std::optional<MountEntry> FindMountOfDevice(std::string_view mountInfo, unsigned major,
                                            unsigned minor);

// True for FAT and exFAT, which store file times in 2-second steps (exFAT its access times at
// least), whether the kernel or a FUSE program drives them.
bool HasTwoSecondTimes(const MountEntry &mount);

// True for fusefat, which corrupts a directory when it takes away an entry with a long name that
// it created shortly before: the file renamed over such a placeholder is lost. A rename that never
// replaces must not reserve names there.
bool LosesFilesRenamedOverPlaceholders(const MountEntry &mount);

// The mount that holds `path` (following links), from /proc/self/mountinfo. Empty when the path
// or the mount table cannot be read.
std::optional<MountEntry> MountHolding(const std::string &path);

// The text of /proc/self/mountinfo; empty when it cannot be read.
std::string ReadMountInfo();

// The paths under which mounts other than `mountId` show the folder at that mount's root: a
// second mount of the same file system, a bind mount of the same folder, or a mount that shows
// the folder below its own root (what a bind mount of /data/B at /mnt/b shows is also /data/B,
// whose parent is /data, while ".." of /mnt/b is /mnt). Each path once; what mounts hide since is
// not looked at here.
std::vector<std::string> OtherPlacesOfMountRoot(const std::vector<MountEntry> &mounts,
                                                std::uint64_t mountId);

} // namespace kronvik
