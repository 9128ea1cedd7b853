// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <string>

namespace kronvik::test {

// `folder` shown also at `at` (an empty folder) by a bind mount, in a mount namespace of the test
// process's own, made at the first one; the processes it starts see it too. Undone as it goes.
class BindMount
{
public:
    BindMount(const std::string &folder, const std::string &at);
    // A small memory file system of its own at `at` instead.
    explicit BindMount(const std::string &at);
    ~BindMount();
    BindMount(const BindMount &) = delete;
    BindMount &operator=(const BindMount &) = delete;

    // False where the process may not make a mount namespace or a mount: the test then skips.
    bool Mounted() const { return m_mounted; }

private:
    std::string m_at;
    bool m_mounted = false;
};

} // namespace kronvik::test
