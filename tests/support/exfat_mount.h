// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "temp_dir.h"

#include <string>

namespace kronvik::test {

// A small exFAT file system in an image file, attached to a loop device and mounted through FUSE
// (exfat-fuse) on a temporary folder for as long as the object lives: a real case-insensitive file
// system, which gives each name of a file its own inode number, as FUSE mounts of FAT do. Needs
// root; where that or a tool is missing, nothing is mounted and Problem() says why.
class ExfatMount
{
public:
    ExfatMount();
    ~ExfatMount();
    ExfatMount(const ExfatMount &) = delete;
    ExfatMount &operator=(const ExfatMount &) = delete;

    bool IsMounted() const { return m_mounted; }
    const std::string &Problem() const { return m_problem; }
    // The path of `name` on the mounted file system.
    std::string operator/(const std::string &name) const { return m_folder / ("mount/" + name); }

private:
    TempDir m_folder;
    std::string m_loopDevice;
    bool m_mounted = false;
    std::string m_problem;
};

} // namespace kronvik::test
