// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "picture_file.h"

#include "temp_dir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

using kronvik::PictureFile;
using kronvik::test::TempDir;
using kronvik::test::WriteBytes;

TEST(APictureFile, readsAtAnOffsetAndShortOnlyAtTheEnd)
{
    TempDir dir;
    WriteBytes(dir / "a.jpg", "0123456789");
    PictureFile file;
    ASSERT_EQ(file.Open(dir / "a.jpg"), 0);
    EXPECT_EQ(file.Size(), 10u);
    char buffer[8] = {};
    EXPECT_EQ(file.ReadAt(6, buffer, sizeof buffer), 4);
    EXPECT_EQ(std::string(buffer, 4), "6789");
    EXPECT_EQ(file.ReadAt(2, buffer, 3), 3);
    EXPECT_EQ(std::string(buffer, 3), "234");
    EXPECT_EQ(file.ReadAt(10, buffer, 1), 0);
}

TEST(APictureFile, refusesWhatIsNotARegularFileWithoutBlocking)
{
    TempDir dir;
    ASSERT_EQ(::mkfifo((dir / "fifo.jpg").c_str(), 0600), 0);
    std::filesystem::create_directory(dir / "folder.jpg");
    PictureFile file;
    EXPECT_EQ(file.Open(dir / "fifo.jpg"), PictureFile::kNotRegularFile);
    EXPECT_EQ(file.Open(dir / "folder.jpg"), PictureFile::kNotRegularFile);
    EXPECT_EQ(file.Open(dir / "missing.jpg"), ENOENT);
    EXPECT_FALSE(file.IsOpen());
    EXPECT_EQ(file.ReadAt(0, nullptr, 0), -EBADF);
}

TEST(APictureFile, takesASocketOrADeviceItCannotOpenForNoRegularFileRatherThanAFailure)
{
    TempDir dir;
    const std::string socketPath = dir / "socket.jpg";
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    socketPath.copy(address.sun_path, sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address), 0);
    ::close(fd);
    PictureFile file;
    EXPECT_EQ(file.Open(socketPath), PictureFile::kNotRegularFile);
    // A block device whose driver does not exist: the open fails with ENXIO.
    if (::mknod((dir / "device.jpg").c_str(), S_IFBLK | 0600, makedev(4095, 4095)) == 0) {
        EXPECT_EQ(file.Open(dir / "device.jpg"), PictureFile::kNotRegularFile);
    }
    EXPECT_FALSE(file.IsOpen());
}
