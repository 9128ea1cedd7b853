// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
// The hive's text, as a hand edit or a damaged disk may leave it: a hive that parses is written
// back as text that parses to the same keys, values and comment lines in the same order, and the
// next save writes that text again unchanged. (A comment above the "REGEDIT4" line is written
// below it, where it then belongs to the first key: its order among the lines stays.)
#include "registry_hive_text.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace {

// Every line of the hive in file order, comments included, with what each holds.
std::vector<std::string> LinesOf(const kronvik::RegistryHiveContents &contents)
{
    std::vector<std::string> lines(contents.headerComments);
    for (const kronvik::RegistryKeyEntry &key : contents.keys) {
        lines.insert(lines.end(), key.comments.begin(), key.comments.end());
        lines.push_back("[" + key.path + "]");
        for (const kronvik::RegistryValue &value : key.values) {
            lines.insert(lines.end(), value.comments.begin(), value.comments.end());
            lines.push_back(value.name + '=' + std::to_string(value.type) + ':' + value.data);
        }
    }
    lines.insert(lines.end(), contents.trailingComments.begin(), contents.trailingComments.end());
    return lines;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char *>(data), size);
    kronvik::RegistryHiveContents contents;
    if (!kronvik::ParseRegistryHiveText(text, contents)) {
        if (!contents.keys.empty())
            std::abort(); // a hive that does not parse reads as holding no keys
        return 0;
    }
    const std::string written = kronvik::FormatRegistryHiveText(contents);
    kronvik::RegistryHiveContents again;
    if (!kronvik::ParseRegistryHiveText(written, again) || LinesOf(again) != LinesOf(contents))
        std::abort();
    const std::string rewritten = kronvik::FormatRegistryHiveText(again);
    kronvik::RegistryHiveContents third;
    if (!kronvik::ParseRegistryHiveText(rewritten, third)
        || kronvik::FormatRegistryHiveText(third) != rewritten)
        std::abort();
    return 0;
}
