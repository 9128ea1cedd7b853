// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "subdirectory_probe.h"

#include "temp_dir.h"

#include <climits>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <sys/stat.h>

using kronvik::HasSubdirectory;
using kronvik::test::TempDir;
using kronvik::test::WriteBytes;
namespace fs = std::filesystem;

TEST(ASubdirectoryProbe, answersByWhatTheDirectoryHolds)
{
    struct Case
    {
        const char *name;
        std::function<void(const fs::path &)> fill;
        bool expected;
    };
    const std::vector<Case> cases = {
            {"an empty directory", [](const fs::path &) {}, false},
            {"files only, hidden ones too",
             [](const fs::path &dir) {
                 WriteBytes(dir / "a.jpg", "x");
                 WriteBytes(dir / ".hidden", "x");
             },
             false},
            {"one subdirectory among many files",
             [](const fs::path &dir) {
                 for (int i = 0; i < 500; ++i)
                     WriteBytes(dir / ("IMG_" + std::to_string(i) + ".JPG"), "x");
                 fs::create_directory(dir / "2005");
             },
             true},
            {"a hidden subdirectory",
             [](const fs::path &dir) { fs::create_directory(dir / ".thumbnails"); }, true},
            {"a link to a directory elsewhere",
             [](const fs::path &dir) {
                 fs::create_directory_symlink(fs::temp_directory_path(), dir / "elsewhere");
             },
             true},
            {"links to a file, to nothing and to themselves",
             [](const fs::path &dir) {
                 WriteBytes(dir / "a.jpg", "x");
                 fs::create_symlink(dir / "a.jpg", dir / "to-file");
                 fs::create_symlink(dir / "gone", dir / "dangling");
                 fs::create_symlink(dir / "loop", dir / "loop");
             },
             false},
    };
    for (const Case &test : cases) {
        SCOPED_TRACE(test.name);
        TempDir dir;
        test.fill(dir.Path());
        EXPECT_EQ(HasSubdirectory(dir.Path().string()), test.expected);
    }
}

TEST(ASubdirectoryProbe, findsNothingWhereNoDirectoryCanBeRead)
{
    TempDir dir;
    WriteBytes(dir / "file", "x");
    EXPECT_FALSE(HasSubdirectory(dir / "missing"));
    EXPECT_FALSE(HasSubdirectory(dir / "file"));
    EXPECT_FALSE(HasSubdirectory(""));
}

TEST(ASubdirectoryProbe, refusesADirectoryWhoseSearchPatternReachesPathMax)
{
    // As for a listing: the pattern (directory, "/", "*.*") of `fits` is PATH_MAX - 1 bytes.
    TempDir dir;
    std::string path = dir.Path().string();
    const std::size_t longest = PATH_MAX - 5;
    while (path.size() + 1 + 200 < longest) {
        path += "/" + std::string(200, 'd');
        ASSERT_EQ(mkdir(path.c_str(), 0700), 0);
    }
    const std::string fits = path + "/" + std::string(longest - path.size() - 1, 'e');
    const std::string tooLong = fits + "f";
    ASSERT_EQ(mkdir(fits.c_str(), 0700), 0);
    ASSERT_EQ(mkdir(tooLong.c_str(), 0700), 0);
    ASSERT_EQ(mkdir((fits + "/s").c_str(), 0700), 0);
    ASSERT_EQ(mkdir((tooLong + "/s").c_str(), 0700), 0);
    EXPECT_TRUE(HasSubdirectory(fits));
    EXPECT_FALSE(HasSubdirectory(tooLong));
}
