// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "browse_roots.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <array>

namespace kronvik {

namespace {

// The mount table writes blanks, tabs, new lines and backslashes in paths as \ooo.
std::string Unescape(std::string_view field)
{
    std::string bytes;
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()
            && std::all_of(field.begin() + i + 1, field.begin() + i + 4,
                           [](char c) { return c >= '0' && c <= '7'; })) {
            bytes += static_cast<char>((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8
                                       + (field[i + 3] - '0'));
            i += 3;
        } else {
            bytes += field[i];
        }
    }
    return bytes;
}

std::vector<std::string_view> Fields(std::string_view line)
{
    std::vector<std::string_view> fields;
    std::size_t at = 0;
    while (at < line.size()) {
        const std::size_t start = line.find_first_not_of(" \t", at);
        if (start == std::string_view::npos)
            break;
        const std::size_t end = std::min(line.find_first_of(" \t", start), line.size());
        fields.push_back(line.substr(start, end - start));
        at = end;
    }
    return fields;
}

bool IsBelowVolumeFolder(const std::string &mountPoint)
{
    for (std::string_view folder : {"/media/", "/run/media/", "/mnt/"}) {
        if (mountPoint.size() > folder.size() && mountPoint.compare(0, folder.size(), folder) == 0)
            return true;
    }
    return false;
}

BrowseRootKind KindOf(std::string_view type, const std::string &device,
                      const std::function<bool(const std::string &)> &isRemovableDevice)
{
    constexpr std::array optical{std::string_view("iso9660"), std::string_view("udf")};
    constexpr std::array network{std::string_view("nfs"),   std::string_view("nfs4"),
                                 std::string_view("cifs"),  std::string_view("smb3"),
                                 std::string_view("smbfs"), std::string_view("fuse.sshfs"),
                                 std::string_view("sshfs")};
    constexpr std::array ram{std::string_view("tmpfs"), std::string_view("ramfs")};
    if (std::find(optical.begin(), optical.end(), type) != optical.end())
        return BrowseRootKind::Optical;
    if (std::find(network.begin(), network.end(), type) != network.end())
        return BrowseRootKind::Network;
    if (std::find(ram.begin(), ram.end(), type) != ram.end())
        return BrowseRootKind::RamDisk;
    if (isRemovableDevice(device))
        return BrowseRootKind::Removable;
    return BrowseRootKind::Fixed;
}

// A block device counts as removable when the kernel marks its disk removable, when it is an
// SD or MMC card, or when it hangs off a USB bus (USB disks often do not carry the mark).
bool IsRemovableBlockDevice(const std::string &device)
{
    const QString devicePath = QFile::decodeName(QByteArray::fromStdString(device));
    if (!devicePath.startsWith(QLatin1String("/dev/")))
        return false;
    const QString name = QFileInfo(devicePath).canonicalFilePath().section(QLatin1Char('/'), -1);
    if (name.isEmpty())
        return false;
    if (name.startsWith(QLatin1String("mmcblk")))
        return true;
    const QString sysEntry = QStringLiteral("/sys/class/block/") + name;
    const QString sysDevice = QFileInfo(sysEntry).canonicalFilePath();
    if (sysDevice.contains(QLatin1String("/usb")))
        return true;
    // A partition's own entry has no "removable" file; its disk is the folder above it.
    for (const QString &candidate :
         {sysEntry + QStringLiteral("/removable"), sysDevice + QStringLiteral("/../removable")}) {
        QFile flag(candidate);
        if (flag.open(QIODevice::ReadOnly))
            return flag.readAll().trimmed() == "1";
    }
    return false;
}

} // namespace

std::vector<BrowseRoot>
MountedVolumes(std::string_view mountTable,
               const std::function<bool(const std::string &)> &isRemovableDevice)
{
    std::vector<BrowseRoot> volumes;
    std::size_t at = 0;
    while (at < mountTable.size()) {
        const std::size_t end = std::min(mountTable.find('\n', at), mountTable.size());
        const std::vector<std::string_view> fields = Fields(mountTable.substr(at, end - at));
        at = end + 1;
        if (fields.size() < 3)
            continue;
        const std::string device = Unescape(fields[0]);
        const std::string mountPoint = Unescape(fields[1]);
        if (!IsBelowVolumeFolder(mountPoint))
            continue;
        const BrowseRoot volume{mountPoint, KindOf(fields[2], device, isRemovableDevice)};
        // A place mounted over again shows what was mounted last.
        const auto same = std::find_if(volumes.begin(), volumes.end(),
                                       [&](const BrowseRoot &r) { return r.path == mountPoint; });
        if (same != volumes.end())
            *same = volume;
        else
            volumes.push_back(volume);
    }
    std::sort(volumes.begin(), volumes.end(),
              [](const BrowseRoot &a, const BrowseRoot &b) { return a.path < b.path; });
    return volumes;
}

std::vector<BrowseRoot> SystemBrowseRoots()
{
    std::vector<BrowseRoot> roots;
    // Without a home folder of its own (HOME unset or "/"), the root is named once.
    const std::string home = QFile::encodeName(QDir::homePath()).toStdString();
    if (home != "/")
        roots.push_back({home, BrowseRootKind::Fixed});
    roots.push_back({"/", BrowseRootKind::Fixed});
    QFile mounts(QStringLiteral("/proc/self/mounts"));
    if (mounts.open(QIODevice::ReadOnly)) {
        const QByteArray table = mounts.readAll();
        for (BrowseRoot &volume : MountedVolumes(std::string_view(table.constData(), table.size()),
                                                 IsRemovableBlockDevice))
            roots.push_back(std::move(volume));
    }
    return roots;
}

} // namespace kronvik
