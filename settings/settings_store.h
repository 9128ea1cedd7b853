// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "settings_record.h"

#include <string>

namespace kronvik {

// Where the settings are kept: this key of the current user's registry, which holds the values
// "Recurse", "SaveLog", "SaveDir", "SourceDir" and "LogDir", each as REG_SZ text.
inline constexpr char kSettingsKeyPath[] = "Software\\Veltmark, Inc.\\Kronvik";

// The controls of the main window that loading and saving the settings reach.
class SourceListControls
{
public:
    virtual ~SourceListControls() = default;
    // The whole text of the source directory edit box.
    virtual std::string SourceDirectoryText() const = 0;
    virtual void SetSourceDirectoryText(const std::string &text) = 0;
    // Enables "&Retrieve File List".
    virtual void EnableRetrieveFileList() = 0;
};

// Reads the stored settings into the record, once, when the main window opens. Without a stored
// key nothing changes, neither the record nor the controls. A flag is on only when its text is
// exactly "1"; a missing or empty value takes its default ("1" for the flags, empty for the
// paths). The source list and the logs directory are taken only when "SaveDir" and "SaveLog" are
// on; the source list then goes into the edit box and, when not empty, enables
// "&Retrieve File List". The time adjustment is never touched. Registry failures are silent.
void LoadSettings(SettingsRecord &record, SourceListControls &controls);

// Writes the five values, once, when the main window closes, creating the key and its parents on
// the first save. The source list is saved from the live text of the edit box (a list typed by
// hand is saved as typed) and only when "SaveDir" is on; the logs directory only when "SaveLog"
// is on; otherwise each is written as the empty text. Failures are silent, and a failed value
// does not stop the others.
void SaveSettings(const SettingsRecord &record, SourceListControls &controls);

} // namespace kronvik
