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
    const auto [idEnd, idError] =
            std::from_chars(fields[0].data(), fields[0].data() + fields[0].size(), parsed.id);
    if (idError != std::errc() || idEnd != fields[0].data() + fields[0].size()
        || !ParseDevice(fields[2], parsed.major, parsed.minor))
        return false;
    parsed.root = Unescape(fields[3]);
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

namespace {

// Whether the folder `path` of a file system lies in or below `folder` of the same one.
bool IsWithin(std::string_view path, std::string_view folder)
{
    if (folder == "/")
        return true;
    return path.substr(0, folder.size()) == folder
           && (path.size() == folder.size() || path[folder.size()] == '/');
}

} // namespace

std::vector<MountEntry> ParseMountInfo(std::string_view mountInfo)
{
    std::vector<MountEntry> mounts;
    while (!mountInfo.empty()) {
        const auto end = mountInfo.find('\n');
        MountEntry entry;
        if (ParseMountInfoLine(mountInfo.substr(0, end), entry))
            mounts.push_back(std::move(entry));
        if (end == std::string_view::npos)
            break;
        mountInfo.remove_prefix(end + 1);
    }
    return mounts;
}

std::optional<MountEntry> FindMountOfDevice(std::string_view mountInfo, unsigned major,
                                            unsigned minor)
{
    std::optional<MountEntry> found;
    for (MountEntry &entry : ParseMountInfo(mountInfo)) {
        if (entry.major == major && entry.minor == minor)
            found = std::move(entry);
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

std::string ReadMountInfo()
{
    std::ifstream file("/proc/self/mountinfo");
    if (!file)
        return {};
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

std::vector<std::string> OtherPlacesOfMountRoot(const std::vector<MountEntry> &mounts,
                                                std::uint64_t mountId)
{
    const auto shown = std::find_if(mounts.begin(), mounts.end(),
                                    [&](const MountEntry &m) { return m.id == mountId; });
    if (shown == mounts.end() || shown->root.empty())
        return {};
    std::vector<std::string> places;
    for (const MountEntry &m : mounts) {
        if (m.id == mountId || m.major != shown->major || m.minor != shown->minor
            || !IsWithin(shown->root, m.root))
            continue;
        std::string_view below =
                std::string_view(shown->root).substr(m.root == "/" ? 0 : m.root.size());
        std::string place = m.mountPoint;
        if (!below.empty() && below != "/") {
            if (!place.empty() && place.back() == '/')
                below.remove_prefix(1);
            place += below;
        }
        if (std::find(places.begin(), places.end(), place) == places.end())
            places.push_back(std::move(place));
    }
    return places;
}

std::optional<MountEntry> MountHolding(const std::string &path)
{
    struct stat status
    {
    };
    if (stat(path.c_str(), &status) != 0)
        return std::nullopt;
    const std::string text = ReadMountInfo();
    if (text.empty())
        return std::nullopt;
    return FindMountOfDevice(text, major(status.st_dev), minor(status.st_dev));
}

} // namespace kronvik
