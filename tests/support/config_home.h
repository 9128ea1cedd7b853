// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "temp_dir.h"

#include <cstdlib>
#include <optional>
#include <string>

namespace kronvik::test {

// Points XDG_CONFIG_HOME at a fresh temporary folder for as long as the object lives, so the
// registry hive of a test never touches the real home; the previous value comes back after.
class ScopedConfigHome
{
public:
    ScopedConfigHome()
    {
        if (const char *old = std::getenv("XDG_CONFIG_HOME"))
            m_old = old;
        setenv("XDG_CONFIG_HOME", m_folder.Path().c_str(), 1);
    }
    ~ScopedConfigHome()
    {
        if (m_old)
            setenv("XDG_CONFIG_HOME", m_old->c_str(), 1);
        else
            unsetenv("XDG_CONFIG_HOME");
    }
    ScopedConfigHome(const ScopedConfigHome &) = delete;
    ScopedConfigHome &operator=(const ScopedConfigHome &) = delete;

    const TempDir &Folder() const { return m_folder; }
    std::string KronvikFolder() const { return m_folder / "kronvik"; }
    std::string HivePath() const { return m_folder / "kronvik/registry.reg"; }

private:
    TempDir m_folder;
    std::optional<std::string> m_old;
};

} // namespace kronvik::test
