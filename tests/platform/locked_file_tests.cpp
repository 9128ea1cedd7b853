// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "locked_file.h"

#include "temp_dir.h"

#include <cerrno>
#include <cstdio>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using kronvik::LockedFile;
using kronvik::test::ReadBytes;
using kronvik::test::TempDir;
using kronvik::test::WriteBytes;

TEST(ALockedFile, refusesASecondLockUntilTheFirstIsClosed)
{
    TempDir dir;
    WriteBytes(dir / "picture.jpg", "picture");
    LockedFile first, second;
    ASSERT_EQ(first.OpenExistingForUpdate(dir / "picture.jpg"), 0);
    EXPECT_EQ(second.OpenExistingForUpdate(dir / "picture.jpg"), EWOULDBLOCK);
    EXPECT_FALSE(second.IsOpen());
    EXPECT_EQ(second.CreateAlways(dir / "picture.jpg"), EWOULDBLOCK);
    EXPECT_EQ(ReadBytes(dir / "picture.jpg"), "picture") << "emptied although locked";
    EXPECT_EQ(first.Close(), 0);
    EXPECT_EQ(second.OpenExistingForUpdate(dir / "picture.jpg"), 0);
}

TEST(ALockedFile, refusesAFifoWithoutHanging)
{
    TempDir dir;
    ASSERT_EQ(mkfifo((dir / "pipe.jpg").c_str(), 0600), 0);
    LockedFile file;
    EXPECT_EQ(file.OpenExistingForUpdate(dir / "pipe.jpg"), EINVAL);
    // Without a reader the kernel refuses the non-blocking open itself (ENXIO).
    EXPECT_NE(file.CreateAlways(dir / "pipe.jpg"), 0);
    EXPECT_FALSE(file.IsOpen());
}

TEST(ALockedFile, opensOnlyWhatExists)
{
    TempDir dir;
    LockedFile file;
    EXPECT_EQ(file.OpenExistingForUpdate(dir / "missing.jpg"), ENOENT);
    EXPECT_EQ(file.OpenExistingForUpdate(dir.Path().string()), EISDIR);
}

// Whoever asks, the superuser included: a file that grants no one a write is read-only.
TEST(ALockedFile, opensForUpdateOnlyAFileSomeoneMayWrite)
{
    struct Row
    {
        mode_t mode;
        int error;
    } const rows[] = {{0644, 0}, {0200, 0}, {0444, EACCES}, {0400, EACCES}, {0, EACCES}};
    TempDir dir;
    for (const Row &row : rows) {
        const std::string path = dir / ("picture" + std::to_string(row.mode) + ".jpg");
        WriteBytes(path, "picture");
        ASSERT_EQ(chmod(path.c_str(), row.mode), 0);
        // Reading is asked for too; the owner without a read permission is refused by the
        // kernel only when it is not the superuser.
        const bool readable = (row.mode & 0400) != 0 || geteuid() == 0;
        const int expected = row.error != 0 ? row.error : readable ? 0 : EACCES;
        LockedFile file;
        EXPECT_EQ(file.OpenExistingForUpdate(path), expected) << std::oct << row.mode;
        EXPECT_EQ(file.IsOpen(), expected == 0);
        EXPECT_EQ(kronvik::CheckUpdateAccess(path), expected) << std::oct << row.mode;
        EXPECT_EQ(kronvik::CheckUpdateAccess(path, (row.mode & 0222) == 0), expected)
                << std::oct << row.mode;
        EXPECT_EQ(ReadBytes(path), "picture");
    }
}

TEST(ALockedFile, readsAndWritesAtPositionsWithoutChangingTheLength)
{
    TempDir dir;
    WriteBytes(dir / "picture.jpg", "0123456789");
    LockedFile file;
    ASSERT_EQ(file.OpenExistingForUpdate(dir / "picture.jpg"), 0);
    char buffer[16] = {};
    EXPECT_EQ(file.ReadAt(buffer, sizeof buffer, 6), 4);
    EXPECT_EQ(std::string(buffer, 4), "6789");
    EXPECT_EQ(file.ReadAt(buffer, sizeof buffer, 20), 0);
    EXPECT_EQ(file.WriteAt("ab", 2, 3), 0);
    EXPECT_EQ(file.Close(), 0);
    EXPECT_EQ(file.Close(), EBADF);
    EXPECT_EQ(ReadBytes(dir / "picture.jpg"), "012ab56789");
}

TEST(ALockedFile, createsAnewAndWritesInSequence)
{
    TempDir dir;
    WriteBytes(dir / "Kronvik.log", "an older and longer run log");
    LockedFile file;
    ASSERT_EQ(file.CreateAlways(dir / "Kronvik.log"), 0);
    EXPECT_EQ(file.Write("line 1\r\n", 8), 0);
    EXPECT_EQ(file.Write("line 2\r\n", 8), 0);
    LockedFile moved = std::move(file);
    EXPECT_FALSE(file.IsOpen());
    EXPECT_EQ(moved.Close(), 0);
    EXPECT_EQ(ReadBytes(dir / "Kronvik.log"), "line 1\r\nline 2\r\n");
    ASSERT_EQ(file.CreateAlways(dir / "new.log"), 0);
    EXPECT_EQ(file.Close(), 0);
    EXPECT_EQ(ReadBytes(dir / "new.log"), "");
}

TEST(ALockedFile, writesAtAPositionIntoTheFileItOpenedEvenWhenItsNameNowNamesAnother)
{
    TempDir dir;
    WriteBytes(dir / "picture.jpg", "0123456789");
    ASSERT_EQ(link((dir / "picture.jpg").c_str(), (dir / "kept.jpg").c_str()), 0);
    LockedFile file;
    ASSERT_EQ(file.OpenExistingForUpdate(dir / "picture.jpg"), 0);
    char buffer[16] = {};
    EXPECT_EQ(file.ReadAt(buffer, sizeof buffer, 0), 10);
    WriteBytes(dir / "other.jpg", "other bytes");
    ASSERT_EQ(rename((dir / "other.jpg").c_str(), (dir / "picture.jpg").c_str()), 0);
    EXPECT_EQ(file.WriteAt("ab", 2, 3), 0);
    EXPECT_EQ(file.Close(), 0);
    EXPECT_EQ(ReadBytes(dir / "kept.jpg"), "012ab56789");
    EXPECT_EQ(ReadBytes(dir / "picture.jpg"), "other bytes");
}
