// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "directory_listing.h"

#include "failing_listing_mount.h"
#include "temp_dir.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using kronvik::DirectoryEntry;
using kronvik::test::FailingListingMount;
using kronvik::test::TempDir;
using kronvik::test::WriteBytes;

namespace {

const DirectoryEntry *Find(const std::vector<DirectoryEntry> &entries, const std::string &name)
{
    auto it = std::find_if(entries.begin(), entries.end(),
                           [&](const DirectoryEntry &entry) { return entry.name == name; });
    return it == entries.end() ? nullptr : &*it;
}

std::vector<std::string> Names(const std::vector<DirectoryEntry> &entries)
{
    std::vector<std::string> names;
    for (const DirectoryEntry &entry : entries)
        names.push_back(entry.name);
    return names;
}

} // namespace

TEST(TheListingOrder, comparesAsciiLettersUpperCasedAndBreaksTiesByTheBytes)
{
    struct Row
    {
        const char *name;
        std::string first, second;
    } const rows[] = {
            {"letter case is ignored first", "IMG_0001.JPG", "img_0002.jpg"},
            {"an underscore sorts after upper-case letters", "IMGA.JPG", "IMG_0001.JPG"},
            {"an underscore sorts after lower-case letters too", "imga.jpg", "IMG_0001.JPG"},
            {"upper case breaks a tie", "B.jpg", "b.jpg"},
            {"a prefix comes first", "IMG", "img_0001.jpg"},
            {"digits come before letters", "2005", "a.jpg"},
            {"bytes above ASCII are not folded", "z.jpg", "\xe9.jpg"},
            {"bytes above ASCII compare unsigned", "\x7f.jpg", "\x80.jpg"},
    };
    for (const Row &row : rows) {
        EXPECT_TRUE(kronvik::ListsBefore(row.first, row.second)) << row.name;
        EXPECT_FALSE(kronvik::ListsBefore(row.second, row.first)) << row.name;
    }
    EXPECT_FALSE(kronvik::ListsBefore("a.jpg", "a.jpg"));
}

TEST(ADirectoryListing, sortsItsNamesAndKeepsHiddenEntries)
{
    TempDir dir;
    for (const char *name : {"b.jpg", ".hidden.jpg", "A.jpg", "c.JPG", "B.jpg", "IMG_0001.JPG",
                             "IMGA.JPG", "img_0002.jpg"})
        WriteBytes(dir / name, "x");
    std::filesystem::create_directory(dir / "a");

    std::vector<DirectoryEntry> entries;
    const kronvik::ListingResult result = kronvik::ListDirectory(dir.Path().string(), entries);
    EXPECT_TRUE(result.opened);
    EXPECT_EQ(result.error, 0);
    EXPECT_EQ(Names(entries),
              (std::vector<std::string>{".hidden.jpg", "a", "A.jpg", "B.jpg", "b.jpg", "c.JPG",
                                        "IMGA.JPG", "IMG_0001.JPG", "img_0002.jpg"}));
}

TEST(ADirectoryListing, keepsTheEntriesReadBeforeAReadErrorAndGivesItsErrno)
{
    FailingListingMount mount({"b.jpg", "A.jpg", "c.JPG"});
    if (!mount.SkipReason().empty())
        GTEST_SKIP() << mount.SkipReason();
    std::vector<DirectoryEntry> entries;
    const kronvik::ListingResult result = kronvik::ListDirectory(mount.Path(), entries);
    EXPECT_TRUE(result.opened);
    EXPECT_EQ(result.error, EIO);
    EXPECT_EQ(Names(entries), (std::vector<std::string>{"A.jpg", "b.jpg", "c.JPG"}));
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
    for (const char *name : {"link to 2005", "link to picture.jpg", "dangling.jpg"})
        EXPECT_TRUE(Find(entries, name)->isLink) << name;
    for (const char *name : {"2005", "picture.jpg"})
        EXPECT_FALSE(Find(entries, name)->isLink) << name;
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
    const kronvik::ListingResult result = kronvik::ListDirectory(tooLong, entries);
    EXPECT_FALSE(result.opened);
    EXPECT_EQ(result.error, ENAMETOOLONG);
    EXPECT_TRUE(entries.empty());
}

TEST(ADirectoryListing, failsWithoutEntriesAndWithTheReasonOnWhatItCannotOpen)
{
    TempDir dir;
    WriteBytes(dir / "picture.jpg", "x");
    struct Row
    {
        const char *name;
        std::string path;
        int error;
    } const rows[] = {
            {"a missing directory", dir / "missing", ENOENT},
            {"a file", dir / "picture.jpg", ENOTDIR},
            {"a path through a file", dir / "picture.jpg/x", ENOTDIR},
    };
    for (const Row &row : rows) {
        std::vector<DirectoryEntry> entries{{"stale", false}};
        const kronvik::ListingResult result = kronvik::ListDirectory(row.path, entries);
        EXPECT_FALSE(result.opened) << row.name;
        EXPECT_EQ(result.error, row.error) << row.name;
        EXPECT_TRUE(entries.empty()) << row.name;
    }
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
