// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
// Trees a thousand folders deep and paths at the length the system stops accepting, through a
// whole scan and pass: no stack runs out, every folder searched has its line, the search ends
// where paths grow too long, and a picture the system cannot reach by its path is reported.
#include "dating_pass.h"
#include "file_error.h"
#include "jpeg_fixture.h"
#include "picture_scan.h"
#include "recording_front_end.h"
#include "temp_dir.h"

#include <cerrno>
#include <climits>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace kronvik;
using namespace kronvik::test;
namespace fs = std::filesystem;

namespace {

// Removes everything inside the folder open at `fd`, through file descriptors, so that no path
// grows past what the system accepts however deep the tree.
void RemoveContents(int fd)
{
    DIR *listing = fdopendir(dup(fd));
    if (!listing)
        return;
    std::vector<std::pair<std::string, bool>> entries;
    while (const dirent *entry = readdir(listing)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..")
            entries.emplace_back(name, entry->d_type == DT_DIR);
    }
    closedir(listing);
    for (const auto &[name, isDirectory] : entries) {
        if (isDirectory) {
            const int child = openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
            if (child >= 0) {
                RemoveContents(child);
                close(child);
            }
        }
        unlinkat(fd, name.c_str(), isDirectory ? AT_REMOVEDIR : 0);
    }
}

// A temporary folder whose tree may go deeper than any path can name; emptied through file
// descriptors before the folder itself goes.
class DeepTempDir : public TempDir
{
public:
    ~DeepTempDir()
    {
        const int fd = open(Path().c_str(), O_RDONLY | O_DIRECTORY);
        if (fd >= 0) {
            RemoveContents(fd);
            close(fd);
        }
    }

    // Makes the folders of `parts` below the root, each inside the one before it, so that their
    // path may outgrow PATH_MAX. Returns the path of the deepest, as text.
    std::string MakeFolders(const std::vector<std::string> &parts)
    {
        int fd = open(Path().c_str(), O_RDONLY | O_DIRECTORY);
        std::string path = Path().string();
        for (const std::string &part : parts) {
            if (mkdirat(fd, part.c_str(), 0755) != 0 && errno != EEXIST)
                ADD_FAILURE() << "cannot make folder " << part.size() << " bytes deep";
            const int child = openat(fd, part.c_str(), O_RDONLY | O_DIRECTORY);
            close(fd);
            fd = child;
            path += "/" + part;
        }
        close(fd);
        return path;
    }

    // Writes `bytes` as `name` in the folder of `parts`, however long its path.
    void WriteFileIn(const std::vector<std::string> &parts, const std::string &name,
                     const std::string &bytes)
    {
        int fd = open(Path().c_str(), O_RDONLY | O_DIRECTORY);
        for (const std::string &part : parts) {
            const int child = openat(fd, part.c_str(), O_RDONLY | O_DIRECTORY);
            close(fd);
            fd = child;
        }
        const int file = openat(fd, name.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ASSERT_GE(file, 0);
        ASSERT_EQ(write(file, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
        close(file);
        close(fd);
    }
};

std::string PictureBytes(const std::string &date)
{
    TempDir scratch;
    WriteJpegWithExif(scratch / "p.jpg", {{"Exif.Photo.DateTimeDigitized", date}});
    return ReadBytes(scratch / "p.jpg");
}

std::string FoundLine(const std::string &directory, int count)
{
    return "Digital pictures found in " + directory + ": " + std::to_string(count);
}

// Folder names that bring a folder below `root` to exactly `length` bytes of path.
std::vector<std::string> FoldersReaching(const std::string &root, std::size_t length)
{
    std::vector<std::string> parts;
    std::size_t at = root.size();
    while (at < length) {
        // A separator and at least one byte each; never leave a single byte for the last.
        const std::size_t left = length - at - 1;
        const std::size_t part = left <= 200 ? left : left - 200 >= 2 ? 200 : 150;
        parts.push_back(std::string(part, 'd'));
        at += part + 1;
    }
    return parts;
}

TEST(AThousandFoldersDeepTree, isSearchedToItsBottomWithOneLinePerFolderDeepestFirst)
{
    DeepTempDir root;
    const std::vector<std::string> parts(1000, "d");
    const std::string bottom = root.MakeFolders(parts);
    root.WriteFileIn(parts, "deep.jpg", PictureBytes("2005:07:14 09:03:27"));
    root.WriteFileIn({}, "top.jpg", PictureBytes("2005:07:14 09:03:28"));

    EngineSandbox sandbox;
    sandbox.front.sourceText = root.Path().string();
    RetrieveFileList(sandbox.session);
    const auto scanned = sandbox.Messages();
    ASSERT_EQ(scanned.size(), 1001u);
    std::string directory = bottom;
    for (std::size_t level = 0; level <= 1000; ++level) {
        ASSERT_EQ(scanned[level], FoundLine(directory, level == 0 || level == 1000 ? 1 : 0));
        directory.resize(directory.size() - 2);
    }
    EXPECT_TRUE(sandbox.front.unsearched.empty());

    DatePictures(sandbox.session);
    EXPECT_EQ(sandbox.state.datedSuccessfully, 2);
    EXPECT_TRUE(fs::exists(bottom + "/2005-07-14 09.03.27.JPG"));
}

TEST(ATreeDeeperThanTheLongestPath, isSearchedDownToTheFolderWhosePatternReachesPathMax)
{
    DeepTempDir root;
    // Folders of 100 bytes, far past PATH_MAX.
    const std::vector<std::string> parts(60, std::string(100, 'd'));
    root.MakeFolders(parts);
    root.WriteFileIn(parts, "lost.jpg", PictureBytes("2005:07:14 09:03:27"));
    root.WriteFileIn({}, "top.jpg", PictureBytes("2005:07:14 09:03:28"));

    EngineSandbox sandbox;
    sandbox.front.sourceText = root.Path().string();
    RetrieveFileList(sandbox.session);
    // The first folder whose pattern "FOLDER/*.*" takes PATH_MAX bytes or more is the last one
    // searched, in vain.
    std::string tooLong = root.Path().string();
    while (tooLong.size() + 4 < PATH_MAX)
        tooLong += "/" + parts[0];
    const auto scanned = sandbox.Messages();
    ASSERT_FALSE(scanned.empty());
    EXPECT_EQ(scanned.front(), FoundLine(tooLong, 0));
    EXPECT_EQ(scanned.back(), FoundLine(root.Path().string(), 1));
    EXPECT_EQ(scanned.size(), 1 + (tooLong.size() - root.Path().string().size()) / 101);
    EXPECT_EQ(sandbox.front.unsearched,
              (std::vector<RecordingFrontEnd::Unsearched>{{tooLong, ENAMETOOLONG, false}}));
    EXPECT_EQ(sandbox.state.pictureList, (std::vector<std::string>{root / "top.jpg"}));
}

// A picture whose path is as long as the system takes can be read and shifted, but its dated
// name is longer; one a byte longer cannot be reached at all.
TEST(APictureAtTheLongestPath, isReportedByWhatTheSystemRefuses)
{
    const std::size_t longest = PATH_MAX - 1; // bytes of path before the terminating NUL
    struct Row
    {
        const char *name;
        std::size_t pathLength;
        int adjustment;
        std::string outcome; // the picture's line after its prefix, %p for its path
        std::string fileError;
        int datedUnsuccessfully;
    } const rows[] = {
            {"the longest path", longest, 0,
             "x.jpg -> 2005-07-14 09.03.27.JPG: File name too long.", "", 1},
            {"the longest path, shifted", longest, 2,
             "x.jpg -> 2005-07-14 11.03.27.JPG: File name too long.", "", 1},
            {"one byte longer", longest + 1, 0,
             "%p not renamed; unreadable picture (File name too long).", "", 0},
            {"one byte longer, shifted", longest + 1, 2, "", "%p contains an incorrect path.", 0},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        DeepTempDir root;
        const auto parts = FoldersReaching(root.Path().string(), row.pathLength - 6);
        const std::string folder = root.MakeFolders(parts);
        const std::string path = folder + "/x.jpg";
        ASSERT_EQ(path.size(), row.pathLength);
        TempDir scratch;
        WriteJpegWithExif(scratch / "p.jpg",
                          {{"Exif.Photo.DateTimeOriginal", "2005:07:14 09:03:27"},
                           {"Exif.Photo.DateTimeDigitized", "2005:07:14 09:03:27"}});
        root.WriteFileIn(parts, "x.jpg", ReadBytes(scratch / "p.jpg"));

        EngineSandbox sandbox;
        sandbox.timeAdjust = row.adjustment;
        sandbox.front.sourceText = root.Path().string();
        RetrieveFileList(sandbox.session);
        ASSERT_EQ(sandbox.state.pictureList, (std::vector<std::string>{path}));
        const auto withPath = [&](std::string text) {
            if (const auto at = text.find("%p"); at != std::string::npos)
                text.replace(at, 2, path);
            return text;
        };
        try {
            DatePictures(sandbox.session);
            EXPECT_EQ(row.fileError, "") << "the pass went on";
        } catch (const FileError &error) {
            EXPECT_EQ(error.Message(), withPath(row.fileError));
            continue;
        }
        const auto lines = sandbox.front.Lines();
        ASSERT_GE(lines.size(), 3u);
        EXPECT_EQ(lines[lines.size() - 3], kPicturePrefix + withPath(row.outcome));
        EXPECT_EQ(sandbox.state.datedUnsuccessfully, row.datedUnsuccessfully);
    }
}

} // namespace
