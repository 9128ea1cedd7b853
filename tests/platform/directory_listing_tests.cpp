// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "directory_listing.h"

#include "temp_dir.h"

#include <algorithm>
#include <climits>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using kronvik::DirectoryEntry;
using kronvik::test::TempDir;
using kronvik::test::WriteBytes;

namespace {

const DirectoryEntry *Find(const std::vector<DirectoryEntry> &entries, const std::string &name)
{
    auto it = std::find_if(entries.begin(), entries.end(),
                           [&](const DirectoryEntry &entry) { return entry.name == name; });
    return it == entries.end() ? nullptr : &*it;
}

} // namespace

TEST(ADirectoryListing, keepsTheKernelsOrderAndHiddenEntries)
{
    TempDir dir;
    for (const char *name : {"b.jpg", ".hidden.jpg", "a.JPG", "notes.txt", "c.jpg"})
        WriteBytes(dir / name, "x");
    std::vector<std::string> kernelOrder;
    for (const auto &entry : std::filesystem::directory_iterator(dir.Path()))
        kernelOrder.push_back(entry.path().filename().string());

    std::vector<DirectoryEntry> entries;
    ASSERT_TRUE(kronvik::ListDirectory(dir.Path().string(), entries));
    std::vector<std::string> names;
    for (const DirectoryEntry &entry : entries)
        names.push_back(entry.name);
    EXPECT_EQ(names, kernelOrder);
    EXPECT_NE(Find(entries, ".hidden.jpg"), nullptr);
    EXPECT_EQ(Find(entries, "."), nullptr);
    EXPECT_EQ(Find(entries, ".."), nullptr);
}

TEST(ADirectoryListing, flagsDirectoriesAndLinksThatLeadToThem)
{
    TempDir dir;
    std::filesystem::create_directory(dir / "2005");
    WriteBytes(dir / "picture.jpg", "x");
    std::filesystem::create_directory_symlink(dir / "2005", dir / "link to 2005");
    std::filesystem::create_symlink(dir / "picture.jpg", dir / "link to picture.jpg");
    std::filesystem::create_symlink(dir / "gone", dir / "dangling.jpg");

    std::vector<DirectoryEntry> entries;
    ASSERT_TRUE(kronvik::ListDirectory(dir.Path().string(), entries));
    ASSERT_EQ(entries.size(), 5u);
    EXPECT_TRUE(Find(entries, "2005")->isDirectory);
    EXPECT_TRUE(Find(entries, "link to 2005")->isDirectory);
    EXPECT_FALSE(Find(entries, "picture.jpg")->isDirectory);
    EXPECT_FALSE(Find(entries, "link to picture.jpg")->isDirectory);
    EXPECT_FALSE(Find(entries, "dangling.jpg")->isDirectory);
}

TEST(ADirectoryListing, failsWhenTheSearchPatternReachesPathMax)
{
    // Two real directories: one whose pattern (directory, "/", "*.*") is PATH_MAX - 1 bytes, and
    // one a byte longer.
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
    WriteBytes(fits + "/x", "x");

    std::vector<DirectoryEntry> entries{{"stale", false}};
    EXPECT_TRUE(kronvik::ListDirectory(fits, entries));
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].name, "x");
    entries = {{"stale", false}};
    EXPECT_FALSE(kronvik::ListDirectory(tooLong, entries));
    EXPECT_TRUE(entries.empty());
}

TEST(ADirectoryListing, failsWithoutEntriesOnAMissingDirectory)
{
    TempDir dir;
    std::vector<DirectoryEntry> entries{{"stale", false}};
    EXPECT_FALSE(kronvik::ListDirectory(dir / "missing", entries));
    EXPECT_TRUE(entries.empty());
}

TEST(AFileIdentity, isSharedByAFileAndALinkToItAndNoOtherFile)
{
    TempDir dir;
    WriteBytes(dir / "a.jpg", "x");
    WriteBytes(dir / "b.jpg", "x");
    std::filesystem::create_symlink(dir / "a.jpg", dir / "link.jpg");
    kronvik::FileIdentity a, b, link, missing;
    ASSERT_TRUE(kronvik::IdentifyFile(dir / "a.jpg", a));
    ASSERT_TRUE(kronvik::IdentifyFile(dir / "b.jpg", b));
    ASSERT_TRUE(kronvik::IdentifyFile(dir / "link.jpg", link));
    EXPECT_EQ(a, link);
    EXPECT_NE(a, b);
    EXPECT_FALSE(kronvik::IdentifyFile(dir / "missing.jpg", missing));
}
