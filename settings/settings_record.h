// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <string>

namespace kronvik {

// The preferences of the main window. The values here are those of a first run, and stay in
// force when no settings are stored. The dating pass reads m_bRecurse and m_nTimeAdjust through
// references into the window's record.
struct SettingsRecord
{
    bool m_bRecurse = true; // search source directories recursively
    bool m_bSaveLog = true; // write the run log to the log file on exit
    bool m_bSaveSourceDirs = true; // keep the source directory list between runs
    std::string m_strSourceDirs; // the source directory list as loaded
    std::string m_strLogDir; // the logs directory; empty means the per-user log folder
    int m_nTimeAdjust = 0; // hours added to the EXIF dates; never stored, 0 at every start
};

} // namespace kronvik
