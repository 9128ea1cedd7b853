// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "mount_types.h"

#include "temp_dir.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

using kronvik::MountEntry;

namespace {

// Lines as the kernel writes them for the file systems a camera card or a shared disk carries,
// and for the ones a picture folder usually lies on.
struct MountRow
{
    const char *name;
    const char *line;
    MountEntry expected;
    bool twoSecondTimes;
    bool placeholdersLoseFiles = false;
};

const MountRow kMountRows[] = {
        {"a camera card through the kernel's vfat",
         "52 29 8:17 / /media/anna/CAMERA rw,nosuid,nodev,relatime shared:281 - vfat /dev/sdb1 "
         "rw,uid=1000,gid=1000,fmask=0022,dmask=0022,codepage=437,iocharset=ascii,shortname=mixed,"
         "showexec,utf8,flush,errors=remount-ro",
         {8, 17, "/media/anna/CAMERA", "vfat", "", "/dev/sdb1", 52, "/"},
         true},
        {"a floppy image through msdos",
         "60 29 7:1 / /mnt/floppy rw,relatime - msdos /dev/loop1 "
         "rw,fmask=0022,dmask=0022,codepage=437,errors=remount-ro",
         {7, 1, "/mnt/floppy", "msdos", "", "/dev/loop1", 60, "/"},
         true},
        {"an SD card through the kernel's exfat",
         "61 29 179:1 / /media/anna/SDCARD rw,nosuid,nodev,relatime shared:300 - exfat "
         "/dev/mmcblk0p1 rw,uid=1000,gid=1000,fmask=0022,dmask=0022,iocharset=utf8,"
         "errors=remount-ro",
         {179, 1, "/media/anna/SDCARD", "exfat", "", "/dev/mmcblk0p1", 61, "/"},
         true},
        {"a FUSE block mount whose subtype is exfat",
         "62 29 8:33 / /media/anna/USB rw,nosuid,nodev,relatime shared:310 - fuseblk.exfat "
         "/dev/sdc1 rw,user_id=0,group_id=0,default_permissions,allow_other,blksize=4096",
         {8, 33, "/media/anna/USB", "fuseblk", "exfat", "/dev/sdc1", 62, "/"},
         true},
        {"an image mounted by fusefat",
         "45 44 0:39 / /media/anna/CARD rw,nosuid,nodev,relatime - fuse.fusefat fusefat "
         "rw,user_id=0,group_id=0",
         {0, 39, "/media/anna/CARD", "fuse", "fusefat", "fusefat", 45, "/"},
         true,
         true},
        {"an NTFS disk mounted by ntfs-3g",
         "44 26 7:0 / /media/anna/Windows rw,relatime shared:12 - fuseblk /dev/loop0 "
         "rw,user_id=0,group_id=0,allow_other,blksize=4096",
         {7, 0, "/media/anna/Windows", "fuseblk", "", "/dev/loop0", 44, "/"},
         false},
        {"an ssh folder, a FUSE mount of another kind",
         "90 29 0:52 / /home/anna/remote rw,nosuid,nodev,relatime shared:400 - fuse.sshfs "
         "anna@host:/srv rw,user_id=1000,group_id=1000",
         {0, 52, "/home/anna/remote", "fuse", "sshfs", "anna@host:/srv", 90, "/"},
         false},
        {"the root file system on ext4",
         "26 1 254:0 / / rw,relatime - ext4 /dev/vda rw,discard",
         {254, 0, "/", "ext4", "", "/dev/vda", 26, "/"},
         false},
        {"a tmpfs without optional fields",
         "24 23 0:22 / /dev/shm rw,relatime - tmpfs tmpfs rw,size=24683716k",
         {0, 22, "/dev/shm", "tmpfs", "", "tmpfs", 24, "/"},
         false},
        {"a card whose label holds blanks and a backslash",
         "70 29 8:17 / /media/anna/MY\\040CAMERA\\134A rw,relatime shared:5 master:2 - vfat "
         "/dev/sdb1 rw",
         {8, 17, "/media/anna/MY CAMERA\\A", "vfat", "", "/dev/sdb1", 70, "/"},
         true},
        {"a mount point ending in a backslash that escapes nothing",
         "71 29 8:18 / /media/x\\ rw - vfat /dev/sdb2 rw",
         {8, 18, "/media/x\\", "vfat", "", "/dev/sdb2", 71, "/"},
         true},
        {"a folder of the root file system bound elsewhere",
         "45 27 254:0 /home/anna/Pictures\\0402005 /mnt/pictures rw,relatime - ext4 /dev/vda rw",
         {254, 0, "/mnt/pictures", "ext4", "", "/dev/vda", 45, "/home/anna/Pictures 2005"},
         false},
};

} // namespace

TEST(AMountInfoLine, givesTheMountDeviceRootMountPointTypeAndSubtype)
{
    for (const MountRow &row : kMountRows) {
        SCOPED_TRACE(row.name);
        MountEntry entry;
        ASSERT_TRUE(kronvik::ParseMountInfoLine(row.line, entry));
        EXPECT_EQ(entry.major, row.expected.major);
        EXPECT_EQ(entry.minor, row.expected.minor);
        EXPECT_EQ(entry.mountPoint, row.expected.mountPoint);
        EXPECT_EQ(entry.type, row.expected.type);
        EXPECT_EQ(entry.subtype, row.expected.subtype);
        EXPECT_EQ(entry.source, row.expected.source);
        EXPECT_EQ(entry.id, row.expected.id);
        EXPECT_EQ(entry.root, row.expected.root);
    }
}

TEST(AMountInfoLine, tellsTheFileSystemsThatKeepTwoSecondTimes)
{
    for (const MountRow &row : kMountRows) {
        SCOPED_TRACE(row.name);
        MountEntry entry;
        ASSERT_TRUE(kronvik::ParseMountInfoLine(row.line, entry));
        EXPECT_EQ(kronvik::HasTwoSecondTimes(entry), row.twoSecondTimes);
    }
}

TEST(AMountInfoLine, tellsTheFileSystemWherePlaceholdersLoseFiles)
{
    for (const MountRow &row : kMountRows) {
        SCOPED_TRACE(row.name);
        MountEntry entry;
        ASSERT_TRUE(kronvik::ParseMountInfoLine(row.line, entry));
        EXPECT_EQ(kronvik::LosesFilesRenamedOverPlaceholders(entry), row.placeholdersLoseFiles);
    }
}

TEST(AMountInfoLine, withoutItsFieldsIsRefused)
{
    const struct
    {
        const char *name;
        const char *line;
    } rows[] = {
            {"empty", ""},
            {"no separator before the type", "26 1 254:0 / / rw,relatime ext4 /dev/vda rw"},
            {"nothing after the separator", "26 1 254:0 / / rw,relatime -"},
            {"no source after the type", "26 1 254:0 / / rw,relatime - ext4"},
            {"a device without its minor", "26 1 254 / / rw,relatime - ext4 /dev/vda rw"},
            {"a device that is no number", "26 1 a:b / / rw,relatime - ext4 /dev/vda rw"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        MountEntry entry;
        EXPECT_FALSE(kronvik::ParseMountInfoLine(row.line, entry));
    }
}

TEST(AMountTable, givesTheMountOfADeviceAndTheLastOfSeveral)
{
    const std::string table = "26 1 254:0 / / rw,relatime - ext4 /dev/vda rw\n"
                              "garbage that is no mount\n"
                              "52 29 8:17 / /media/anna/CAMERA rw - vfat /dev/sdb1 rw\n"
                              "53 26 8:17 /DCIM /srv/pictures rw - vfat /dev/sdb1 rw\n"
                              "54 26 8:1 / /home rw - ext4 /dev/sda1 rw";
    const auto card = kronvik::FindMountOfDevice(table, 8, 17);
    ASSERT_TRUE(card);
    EXPECT_EQ(card->mountPoint, "/srv/pictures");
    EXPECT_EQ(card->type, "vfat");
    const auto home = kronvik::FindMountOfDevice(table, 8, 1);
    ASSERT_TRUE(home);
    EXPECT_EQ(home->mountPoint, "/home");
    EXPECT_FALSE(kronvik::FindMountOfDevice(table, 8, 2));
    EXPECT_FALSE(kronvik::FindMountOfDevice(table, 254, 1));
}

TEST(AMountTable, holdsTheMountOfARealFolder)
{
    kronvik::test::TempDir dir;
    struct stat status
    {
    };
    ASSERT_EQ(stat(dir.Path().c_str(), &status), 0);
    const auto mount = kronvik::MountHolding(dir.Path().string());
    ASSERT_TRUE(mount);
    EXPECT_EQ(mount->major, major(status.st_dev));
    EXPECT_EQ(mount->minor, minor(status.st_dev));
    EXPECT_FALSE(mount->type.empty());
    EXPECT_FALSE(kronvik::MountHolding(dir / "missing"));
}

TEST(AMountRoot, isShownAlsoWhereverAnotherMountOfItsFileSystemShowsItsFolder)
{
    const std::string table = "27 1 254:0 / / rw - ext4 /dev/vda rw\n"
                              "30 27 8:1 / /srv rw - ext4 /dev/sda1 rw\n"
                              "31 27 8:1 /photos /media/photos rw - ext4 /dev/sda1 rw\n"
                              "40 27 254:0 /data/B /mnt/b rw - ext4 /dev/vda rw\n"
                              "41 27 254:0 /B /mnt/top rw - ext4 /dev/vda rw\n"
                              "42 27 8:1 /photos/2005/july /mnt/july rw - ext4 /dev/sda1 rw\n"
                              "43 27 8:1 /photosX/a /mnt/x rw - ext4 /dev/sda1 rw\n"
                              "44 27 8:2 /cards/c1 /mnt/c1 rw - ext4 /dev/sda2 rw\n"
                              "45 27 254:0 /my\\040data/B /mnt/blank rw - ext4 /dev/vda rw\n"
                              "46 27 8:1 / /two/srv rw - ext4 /dev/sda1 rw\n";
    using Places = std::vector<std::string>;
    const struct
    {
        const char *name;
        std::uint64_t id;
        Places places;
    } rows[] = {
            {"a folder of the root file system bound", 40, {"/data/B"}},
            {"a folder at the top of it bound", 41, {"/B"}},
            {"a folder three mounts show",
             42,
             {"/srv/photos/2005/july", "/media/photos/2005/july", "/two/srv/photos/2005/july"}},
            {"a root that only starts like another mount's",
             43,
             {"/srv/photosX/a", "/two/srv/photosX/a"}},
            {"a file system no other mount shows", 44, {}},
            {"a path with a blank", 45, {"/my data/B"}},
            {"a disk mounted twice", 30, {"/two/srv"}},
            {"the root, bound nowhere", 27, {}},
            {"a mount the table does not list", 99, {}},
    };
    const std::vector<kronvik::MountEntry> mounts = kronvik::ParseMountInfo(table);
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(kronvik::OtherPlacesOfMountRoot(mounts, row.id), row.places);
    }
}
