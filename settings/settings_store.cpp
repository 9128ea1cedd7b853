// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "settings_store.h"

#include "registry_key.h"

#include <array>
#include <cstdint>

namespace kronvik {

namespace {

// The stored values, in the order they are read and written.
enum SettingsValue { kRecurse, kSaveLog, kSaveDir, kSourceDir, kLogDir, kSettingsValueCount };

struct SettingsValueRow
{
    const char *name;
    const char *defaultText; // taken when the value is missing, unreadable or empty
};

constexpr std::array<SettingsValueRow, kSettingsValueCount> kSettingsValues{{
        {"Recurse", "1"},
        {"SaveLog", "1"},
        {"SaveDir", "1"},
        {"SourceDir", ""},
        {"LogDir", ""},
}};

const char *FlagText(bool flag)
{
    return flag ? "1" : "0";
}

} // namespace

void LoadSettings(SettingsRecord &record, SourceListControls &controls)
{
    std::array<std::string, kSettingsValueCount> texts;
    CRegistryKey key(kHkeyCurrentUser, kSettingsKeyPath);
    if (key.Open() != kErrorSuccess)
        return;
    for (std::size_t row = 0; row < kSettingsValueCount; ++row) {
        key.SetValueName(kSettingsValues[row].name);
        std::uint32_t byteCount = 0;
        if (key.QueryValue(byteCount) == kErrorSuccess)
            texts[row] = key.GetData();
        if (texts[row].empty())
            texts[row] = kSettingsValues[row].defaultText;
    }
    key.Close();

    // Only the exact text "1" is on: "yes", "true", " 1" and a REG_DWORD 1 are all off.
    record.m_bRecurse = texts[kRecurse] == "1";
    record.m_bSaveLog = texts[kSaveLog] == "1";
    record.m_bSaveSourceDirs = texts[kSaveDir] == "1";
    if (record.m_bSaveSourceDirs) {
        record.m_strSourceDirs = texts[kSourceDir];
        controls.SetSourceDirectoryText(record.m_strSourceDirs);
        if (!record.m_strSourceDirs.empty())
            controls.EnableRetrieveFileList();
    }
    if (record.m_bSaveLog)
        record.m_strLogDir = texts[kLogDir];
}

void SaveSettings(const SettingsRecord &record, SourceListControls &controls)
{
    std::string sourceText = controls.SourceDirectoryText();
    CRegistryKey key(kHkeyCurrentUser, kSettingsKeyPath);
    if (key.Open() != kErrorSuccess && key.Create() != kErrorSuccess)
        return;
    std::array<std::string, kSettingsValueCount> texts;
    texts[kRecurse] = FlagText(record.m_bRecurse);
    texts[kSaveLog] = FlagText(record.m_bSaveLog);
    texts[kSaveDir] = FlagText(record.m_bSaveSourceDirs);
    texts[kSourceDir] = record.m_bSaveSourceDirs ? sourceText : std::string();
    texts[kLogDir] = record.m_bSaveLog ? record.m_strLogDir : std::string();
    for (std::size_t row = 0; row < kSettingsValueCount; ++row) {
        key.SetValueName(kSettingsValues[row].name);
        // The text with its terminating zero, as Windows stores REG_SZ.
        key.SetValue(texts[row].c_str(), kRegSz, static_cast<std::uint32_t>(texts[row].size() + 1));
    }
    key.Close();
}

} // namespace kronvik
