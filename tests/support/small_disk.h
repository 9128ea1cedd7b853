// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <string>

namespace kronvik::test {

// A tmpfs of `size` (as the mount option says it, "64k") mounted on an existing folder for as long
// as the object lives: a disk a test can fill. Needs root; where the mount fails, IsMounted() is
// false and Problem() says why.
class SmallDisk
{
public:
    SmallDisk(std::string folder, const char *size);
    ~SmallDisk();
    SmallDisk(const SmallDisk &) = delete;
    SmallDisk &operator=(const SmallDisk &) = delete;

    bool IsMounted() const { return m_mounted; }
    const std::string &Problem() const { return m_problem; }
    // Writes a filler file until the disk has no room left; Empty takes it away again.
    void Fill();
    void Empty();

private:
    std::string m_folder;
    bool m_mounted = false;
    std::string m_problem;
};

} // namespace kronvik::test
