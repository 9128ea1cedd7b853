// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "registry_types.h"

#include <cstdint>
#include <string>
#include <vector>

namespace kronvik {

// One value of a registry key: its type and its bytes, kept exactly as they were set.
struct RegistryValue
{
    std::string name; // empty for the key's default value, written "@"
    std::uint32_t type = kRegNone;
    std::string data;
};

// One section of the hive file: a key named by its full path from the root
// ("HKEY_CURRENT_USER\Software\...") and the values it holds.
struct RegistryKeyEntry
{
    std::string path;
    std::vector<RegistryValue> values;
};

// Everything a hive file holds, keys in file order.
struct RegistryHiveContents
{
    std::vector<RegistryKeyEntry> keys;
};

// Key and value names compare as the Windows registry compares them: ignoring letter case.
bool SameRegistryName(const std::string &a, const std::string &b);

RegistryKeyEntry *FindRegistryKey(RegistryHiveContents &contents, const std::string &path);
RegistryValue *FindRegistryValue(RegistryKeyEntry &key, const std::string &name);

// A key exists when it has a section of its own or when a section lies beneath it, as importing a
// REGEDIT4 file creates the parents of every key it names.
bool RegistryKeyExists(const RegistryHiveContents &contents, const std::string &path);

// True when the name can be written on one line of the hive file.
bool IsWritableRegistryName(const std::string &name);

// Reads REGEDIT4 text: the "REGEDIT4" line, "[path]" sections, and values written as "text",
// dword:xxxxxxxx, hex:.. or hex(N):.. (with "\" line continuations); blank lines and ";" comments
// are skipped, CR LF line ends accepted. Empty text is an empty hive. False, with `contents`
// left empty, for anything else.
bool ParseRegistryHiveText(const std::string &text, RegistryHiveContents &contents);

// Writes the hive as REGEDIT4 text that ParseRegistryHiveText reads back to the same keys, types
// and bytes. A REG_SZ value is written as quoted text only when its bytes are one line of text
// and a single terminating zero, a REG_DWORD as dword: only when it has exactly four bytes;
// everything else is written as hex(N): bytes.
std::string FormatRegistryHiveText(const RegistryHiveContents &contents);

} // namespace kronvik
