// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "mount_types.h"

#include <algorithm>
#include <charconv>
#include <fstream>
#include <iterator>
#include <sstream>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <vector>

namespace kronvik {

namespace {

std::vector<std::string_view> SplitFields(std::string_view line)
{
    std::vector<std::string_view> fields;
    while (!line.empty()) {
        const auto end = line.find(' ');
        if (end != 0)
            fields.push_back(line.substr(0, end));
        if (end == std::string_view::npos)
            break;
        line.remove_prefix(end + 1);
    }
    return fields;
}

bool IsOctalDigit(char c)
{
    return c >= '0' && c <= '7';
}

// The kernel writes a blank, a tab, a newline and a backslash in a path as \040, \011, \012 and
// \134, so that the fields stay split by blanks.
std::string Unescape(std::string_view field)
{
    std::string text;
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size() && IsOctalDigit(field[i + 1])
            && IsOctalDigit(field[i + 2]) && IsOctalDigit(field[i + 3])) {
            text += static_cast<char>((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8
                                      + (field[i + 3] - '0'));
            i += 3;
        } else {
            text += field[i];
        }
    }
    return text;
}

bool ParseNumber(std::string_view text, unsigned &number)
{
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
    return error == std::errc() && end == text.data() + text.size() && !text.empty();
}

bool ParseDevice(std::string_view text, unsigned &major, unsigned &minor)
{
    const auto colon = text.find(':');
    return colon != std::string_view::npos && ParseNumber(text.substr(0, colon), major)
           && ParseNumber(text.substr(colon + 1), minor);
}

bool IsFatName(std::string_view name)
{
    return name == "vfat" || name == "msdos" || name == "exfat";
}

} // namespace

bool ParseMountInfoLine(std::string_view line, MountEntry &entry)
{
    if (!line.empty() && line.back() == '\n')
        line.remove_suffix(1);
    const std::vector<std::string_view> fields = SplitFields(line);
    // Mount id, parent id, device, root, mount point, options, then optional fields up to "-",
    // then file system type, source and the super block's options.
    constexpr std::size_t kFixedFields = 6;
    if (fields.size() < kFixedFields)
        return false;
    const auto separator = std::find(fields.begin() + kFixedFields, fields.end(), "-");
    if (std::distance(separator, fields.end()) < 3)
        return false;
    MountEntry parsed;
    if (!ParseDevice(fields[2], parsed.major, parsed.minor))
        return false;
    parsed.mountPoint = Unescape(fields[4]);
    // A FUSE mount shows as "fuse.<subtype>" or "fuseblk.<subtype>".
    const std::string type = Unescape(separator[1]);
    const auto dot = type.find('.');
    parsed.type = type.substr(0, dot);
    if (dot != std::string::npos)
        parsed.subtype = type.substr(dot + 1);
    parsed.source = Unescape(separator[2]);
    entry = std::move(parsed);
    return true;
}

std::optional<MountEntry> FindMountOfDevice(std::string_view mountInfo, unsigned major,
                                            unsigned minor)
{
    std::optional<MountEntry> found;
    while (!mountInfo.empty()) {
        const auto end = mountInfo.find('\n');
        MountEntry entry;
        if (ParseMountInfoLine(mountInfo.substr(0, end), entry) && entry.major == major
            && entry.minor == minor)
            found = std::move(entry);
        if (end == std::string_view::npos)
            break;
        mountInfo.remove_prefix(end + 1);
    }
    return found;
}

bool HasTwoSecondTimes(const MountEntry &mount)
{
    if (mount.type == "fuse" || mount.type == "fuseblk")
        return IsFatName(mount.subtype) || mount.subtype == "fusefat";
    return IsFatName(mount.type);
}

bool LosesFilesRenamedOverPlaceholders(const MountEntry &mount)
{
    return (mount.type == "fuse" || mount.type == "fuseblk") && mount.subtype == "fusefat";
}

std::optional<MountEntry> MountHolding(const std::string &path)
{
    struct stat status
    {
    };
    if (stat(path.c_str(), &status) != 0)
        return std::nullopt;
    std::ifstream file("/proc/self/mountinfo");
    if (!file)
        return std::nullopt;
    std::ostringstream text;
    text << file.rdbuf();
    return FindMountOfDevice(text.str(), major(status.st_dev), minor(status.st_dev));
}

} // namespace kronvik
