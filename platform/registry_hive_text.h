// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "registry_types.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace kronvik {

// One value of a registry key: its type and its bytes, kept exactly as they were set.
struct RegistryValue
{
    std::string name; // empty for the key's default value, written "@"
    std::uint32_t type = kRegNone;
    std::string data;
    std::vector<std::string> comments; // the ";" lines that stood right before it
};

// One section of the hive file: a key named by its full path from the root
// ("HKEY_CURRENT_USER\Software\...") and the values it holds. Values are added only through
// SetRegistryValue, which keeps the index by name.
struct RegistryKeyEntry
{
    std::string path;
    std::vector<RegistryValue> values;
    std::vector<std::string> comments; // the ";" lines that stood right before its header
    std::unordered_map<std::string, std::size_t> valueIndex; // folded name -> position in values
};

// Everything a hive file holds, keys in file order, with the comment lines a hand edit put in.
// Keys are added only through AddRegistryKey, which keeps the indexes, so that finding a key or a
// value costs the same in a hive of ten keys as in one of a hundred thousand.
struct RegistryHiveContents
{
    std::vector<RegistryKeyEntry> keys;
    std::vector<std::string> headerComments; // ";" lines before the "REGEDIT4" line
    std::vector<std::string> trailingComments; // ";" lines after the last value
    std::unordered_map<std::string, std::size_t> keyIndex; // folded path -> position in keys
    std::unordered_set<std::string> ancestors; // folded paths of every key above a section
};

// Key and value names compare as the Windows registry compares them: ignoring letter case.
bool SameRegistryName(const std::string &a, const std::string &b);

RegistryKeyEntry *FindRegistryKey(RegistryHiveContents &contents, const std::string &path);
RegistryValue *FindRegistryValue(RegistryKeyEntry &key, const std::string &name);

// The section of `path`, added at the end when there is none (its parents are not added). The
// reference lasts until the next key is added.
RegistryKeyEntry &AddRegistryKey(RegistryHiveContents &contents, const std::string &path);

// Gives the value `name` of `key` its type and bytes, adding it at the end when it is new; an
// existing value keeps its place, its spelling and its comments.
RegistryValue &SetRegistryValue(RegistryKeyEntry &key, const std::string &name, std::uint32_t type,
                                std::string data);

// A key exists when it has a section of its own or when a section lies beneath it, as importing a
// REGEDIT4 file creates the parents of every key it names.
bool RegistryKeyExists(const RegistryHiveContents &contents, const std::string &path);

// True when the name can be written on one line of the hive file.
bool IsWritableRegistryName(const std::string &name);

// Reads REGEDIT4 text in one pass: the "REGEDIT4" line, "[path]" sections, and values written as
// "text", dword:xxxxxxxx, hex:.. or hex(N):.. (with "\" line continuations); blank lines are
// skipped, ";" comment lines kept with what follows them (without stray CRs at their end), CR LF
// line ends accepted. A repeated key or value merges into the first, the last data winning. Empty
// text is an empty hive. False, with `contents` left empty, for anything else.
bool ParseRegistryHiveText(std::string_view text, RegistryHiveContents &contents);

// Writes the hive as REGEDIT4 text that ParseRegistryHiveText reads back to the same keys, types,
// bytes and comment lines. A REG_SZ value is written as quoted text only when its bytes are one
// line of text and a single terminating zero, a REG_DWORD as dword: only when it has exactly four
// bytes; everything else is written as hex(N): bytes.
std::string FormatRegistryHiveText(const RegistryHiveContents &contents);

} // namespace kronvik
