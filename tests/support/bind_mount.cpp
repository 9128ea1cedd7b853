// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "bind_mount.h"

#include <sched.h>
#include <sys/mount.h>

namespace kronvik::test {

namespace {

// Private, so that no mount of the test's reaches the machine's other processes.
bool InOwnNamespace()
{
    static const bool made = unshare(CLONE_NEWNS) == 0
                             && mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
    return made;
}

} // namespace

BindMount::BindMount(const std::string &folder, const std::string &at)
    : m_at(at)
{
    m_mounted =
            InOwnNamespace() && mount(folder.c_str(), at.c_str(), nullptr, MS_BIND, nullptr) == 0;
}

BindMount::BindMount(const std::string &at)
    : m_at(at)
{
    m_mounted = InOwnNamespace() && mount("tmpfs", at.c_str(), "tmpfs", 0, "size=1m") == 0;
}

BindMount::~BindMount()
{
    if (m_mounted)
        umount2(m_at.c_str(), MNT_DETACH);
}

} // namespace kronvik::test
