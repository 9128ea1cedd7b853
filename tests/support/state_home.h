// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "temp_dir.h"

#include <cstdlib>
#include <optional>
#include <string>

namespace kronvik::test {

// Points XDG_STATE_HOME at a fresh temporary folder for as long as the object lives, so the
// journal of a test (and of the processes it starts) never touches the real one; the previous
// value comes back after.
class ScopedStateHome
{
public:
    ScopedStateHome()
    {
        if (const char *old = std::getenv("XDG_STATE_HOME"))
            m_old = old;
        setenv("XDG_STATE_HOME", m_folder.Path().c_str(), 1);
    }
    ~ScopedStateHome()
    {
        if (m_old)
            setenv("XDG_STATE_HOME", m_old->c_str(), 1);
        else
            unsetenv("XDG_STATE_HOME");
    }
    ScopedStateHome(const ScopedStateHome &) = delete;
    ScopedStateHome &operator=(const ScopedStateHome &) = delete;

    const TempDir &Folder() const { return m_folder; }
    std::string JournalFolder() const { return m_folder / "kronvik"; }
    std::string JournalPath() const { return m_folder / "kronvik/journal.sqlite3"; }

private:
    TempDir m_folder;
    std::optional<std::string> m_old;
};

} // namespace kronvik::test
