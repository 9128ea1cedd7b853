// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "small_disk.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <sys/mount.h>

namespace kronvik::test {

SmallDisk::SmallDisk(std::string folder, const char *size)
    : m_folder(std::move(folder))
{
    const std::string options = std::string("size=") + size;
    m_mounted = mount("tmpfs", m_folder.c_str(), "tmpfs", 0, options.c_str()) == 0;
    if (!m_mounted)
        m_problem = std::string("cannot mount a small tmpfs to fill (needs root): ")
                    + std::strerror(errno);
}

SmallDisk::~SmallDisk()
{
    if (m_mounted)
        umount2(m_folder.c_str(), MNT_DETACH);
}

void SmallDisk::Fill()
{
    FILE *out = std::fopen((m_folder + "/filler").c_str(), "wb");
    const std::string block(1024, 'f');
    while (out && std::fwrite(block.data(), 1, block.size(), out) == block.size()
           && std::fflush(out) == 0) { }
    if (out)
        std::fclose(out);
}

void SmallDisk::Empty()
{
    std::filesystem::remove(m_folder + "/filler");
}

} // namespace kronvik::test
