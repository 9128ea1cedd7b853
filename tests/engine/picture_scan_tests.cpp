// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "dating_pass.h"
#include "failing_listing_mount.h"
#include "jpeg_fixture.h"
#include "picture_scan.h"
#include "recording_front_end.h"
#include "temp_dir.h"

#include <cerrno>
#include <filesystem>
#include <gtest/gtest.h>

using namespace kronvik;
using namespace kronvik::test;
namespace fs = std::filesystem;

namespace {

class APictureScan : public ::testing::Test
{
protected:
    void Touch(const std::string &name) { WriteBytes(dir / name, SmallJpeg()); }
    void MakeDirectory(const std::string &name) { fs::create_directories(dir.Path() / name); }

    void Retrieve(const std::string &sourceText)
    {
        sandbox.front.sourceText = sourceText;
        RetrieveFileList(sandbox.session);
    }

    std::vector<std::string> Found(const std::string &directory, int count)
    {
        return {"Digital pictures found in " + directory + ": " + std::to_string(count)};
    }

    TempDir dir;
    EngineSandbox sandbox;
};

TEST_F(APictureScan, emptiesTheListAndWritesNothingForAnEmptyOrSeparatorOnlyText)
{
    for (const char *text : {"", ";", ";;;"}) {
        sandbox.state.pictureList = {"/old.jpg"};
        sandbox.front.labels[StatusLabel::Total] = "3";
        sandbox.front.datePicturesEnabled = false;
        Retrieve(text);
        EXPECT_TRUE(sandbox.state.pictureList.empty());
        EXPECT_EQ(sandbox.front.labels[StatusLabel::Caption], "Files found:");
        EXPECT_EQ(sandbox.front.labels[StatusLabel::Total], "0")
                << "not the last retrieval's count";
        EXPECT_TRUE(sandbox.front.datePicturesEnabled);
    }
    EXPECT_EQ(sandbox.front.LineCount(), 0u);
}

TEST_F(APictureScan, splitsTheListAsStrtokDoesAndKeepsBlanks)
{
    MakeDirectory("A");
    MakeDirectory("B");
    Touch("A/a.jpg");
    Touch("B/b.jpg");
    const std::string a = dir / "A", b = dir / "B";
    Retrieve(";" + a + ";;" + b + "; " + a);
    const auto messages = sandbox.Messages();
    ASSERT_EQ(messages.size(), 3u);
    EXPECT_EQ(messages[0], "Digital pictures found in " + a + ": 1");
    EXPECT_EQ(messages[1], "Digital pictures found in " + b + ": 1");
    EXPECT_EQ(messages[2], "Digital pictures found in  " + a + ": 0");
}

TEST_F(APictureScan, writesEachDirectoryLineAfterItsSubdirectoriesAndCountsOnlyItsOwnPictures)
{
    MakeDirectory("A/S/T");
    Touch("A/a.jpg");
    Touch("A/S/s1.jpg");
    Touch("A/S/s2.JPG");
    Touch("A/S/T/t.Jpg");
    Touch("A/t.jpg");
    Touch("A/notes.txt");
    Touch("A/photo.jpeg");
    Touch("A/photo.jpg.bak");
    const std::string a = dir / "A";
    Retrieve(a);

    const auto messages = sandbox.Messages();
    ASSERT_EQ(messages.size(), 3u);
    EXPECT_EQ(messages[0], "Digital pictures found in " + a + "/S/T: 1");
    EXPECT_EQ(messages[1], "Digital pictures found in " + a + "/S: 2");
    EXPECT_EQ(messages[2], "Digital pictures found in " + a + ": 2");
    EXPECT_EQ(sandbox.front.labels[StatusLabel::Total], "5");
    // A subdirectory's pictures come at the place where the listing, in name order, meets the
    // subdirectory: after a.jpg and before t.jpg.
    EXPECT_EQ(sandbox.state.pictureList,
              (std::vector<std::string>{a + "/a.jpg", a + "/S/s1.jpg", a + "/S/s2.JPG",
                                        a + "/S/T/t.Jpg", a + "/t.jpg"}));
}

// A stop asked of the command-line tool during its scan: the directory at hand is finished, and
// no further one is searched.
TEST_F(APictureScan, searchesNoFurtherDirectoryOnceAStopIsAsked)
{
    MakeDirectory("A/S");
    MakeDirectory("A/U");
    MakeDirectory("B");
    Touch("A/a.jpg");
    Touch("A/S/s.jpg");
    Touch("A/U/u.jpg");
    Touch("B/b.jpg");
    const std::string a = dir / "A";
    sandbox.front.onScanStop = [this] { return sandbox.front.LineCount() > 0; };
    Retrieve(a + ";" + (dir / "B"));
    EXPECT_EQ(sandbox.Messages(), (std::vector<std::string>{
                                          "Digital pictures found in " + a + "/S: 1",
                                          "Digital pictures found in " + a + ": 1",
                                  }));
    EXPECT_EQ(sandbox.state.pictureList, (std::vector<std::string>{a + "/a.jpg", a + "/S/s.jpg"}));
}

TEST_F(APictureScan, searchesADirectoryNamedLikeAPictureWithoutListingIt)
{
    MakeDirectory("A/X.jpg");
    Touch("A/X.jpg/inner.jpg");
    Retrieve(dir / "A");
    EXPECT_EQ(sandbox.state.pictureList, (std::vector<std::string>{dir / "A/X.jpg/inner.jpg"}));
}

TEST_F(APictureScan, withoutRecursionSkipsSubdirectoriesAndWritesOneLinePerDirectory)
{
    sandbox.recurse = false;
    MakeDirectory("A/S");
    Touch("A/photo.JPG");
    Touch("A/S/s.jpg");
    Touch("A/photo.jpeg");
    Retrieve(dir / "A");
    EXPECT_EQ(sandbox.state.pictureList, (std::vector<std::string>{dir / "A/photo.JPG"}));
    EXPECT_EQ(sandbox.Messages(), Found(dir / "A", 1));
}

TEST_F(APictureScan, logsATrailingSeparatorAsTypedAndItsSubdirectoriesWithTwo)
{
    MakeDirectory("A/S");
    Touch("A/S/s.jpg");
    Touch("A/a.jpg");
    const std::string typed = dir / "A" + "/";
    Retrieve(typed);
    const auto messages = sandbox.Messages();
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[0], "Digital pictures found in " + dir / "A" + "//S: 1");
    EXPECT_EQ(messages[1], "Digital pictures found in " + typed + ": 1");
    // A file's full path gets a separator only where its directory does not end in one.
    EXPECT_EQ(sandbox.state.pictureList,
              (std::vector<std::string>{dir / "A/a.jpg", dir / "A" + "//S/s.jpg"}));
}

TEST_F(APictureScan, listsADirectoryGivenTwiceTwiceAndAMissingOneWithZero)
{
    Touch("a.jpg");
    const std::string root = dir.Path().string();
    Retrieve(root + ";" + root + ";" + dir / "missing");
    EXPECT_EQ(sandbox.state.pictureList.size(), 2u);
    EXPECT_EQ(sandbox.front.labels[StatusLabel::Total], "2");
    EXPECT_EQ(sandbox.Messages().back(), "Digital pictures found in " + dir / "missing" + ": 0");
}

TEST_F(APictureScan, makesRelativeDirectoriesAbsoluteAndKeepsTheRestAsTyped)
{
    Touch("a.jpg");
    MakeDirectory("A");
    sandbox.recurse = false;
    const fs::path before = fs::current_path();
    fs::current_path(dir.Path());
    Retrieve(".;A/..//;" + dir / "A/./..");
    fs::current_path(before);
    EXPECT_EQ(
            sandbox.state.pictureList,
            (std::vector<std::string>{dir / "./a.jpg", dir / "A/..//a.jpg", dir / "A/./../a.jpg"}));
    EXPECT_EQ(sandbox.Messages(),
              (std::vector<std::string>{"Digital pictures found in .: 1",
                                        "Digital pictures found in A/..//: 1",
                                        "Digital pictures found in " + dir / "A/./..: 1"}));
}

TEST_F(APictureScan, followsDirectoryLinksButEndsALinkLoopAtOnce)
{
    MakeDirectory("A/S");
    MakeDirectory("elsewhere");
    Touch("elsewhere/e.jpg");
    fs::create_directory_symlink(dir.Path() / "A", dir.Path() / "A/S/loop");
    fs::create_directory_symlink(dir.Path() / "elsewhere", dir.Path() / "A/link");
    Retrieve(dir / "A");
    EXPECT_EQ(sandbox.state.pictureList, (std::vector<std::string>{dir / "A/link/e.jpg"}));
    // A, its subdirectory S and the linked folder: the loop back to A is not entered.
    EXPECT_EQ(sandbox.front.LineCount(), 3u);
}

TEST_F(APictureScan, findsNamesThatAreNotUtf8)
{
    Touch("caf\xe9.jpg");
    MakeDirectory("d\xff");
    Touch("d\xff/x.jpg");
    Retrieve(dir.Path().string());
    std::vector<std::string> sorted = sandbox.state.pictureList;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(sorted, (std::vector<std::string>{dir / "caf\xe9.jpg", dir / "d\xff/x.jpg"}));
}

TEST_F(APictureScan, reportsEachDirectoryItCannotSearchAndStillLogsItWithZero)
{
    Touch("a.jpg");
    Touch("file.jpg");
    const std::string missing = dir / "missing", file = dir / "file.jpg";
    Retrieve(missing + ";" + file + ";" + dir.Path().string());
    EXPECT_EQ(sandbox.front.unsearched, (std::vector<RecordingFrontEnd::Unsearched>{
                                                {missing, ENOENT, false}, {file, ENOTDIR, false}}));
    const auto messages = sandbox.Messages();
    ASSERT_EQ(messages.size(), 3u);
    EXPECT_EQ(messages[0], "Digital pictures found in " + missing + ": 0");
    EXPECT_EQ(messages[1], "Digital pictures found in " + file + ": 0");
    EXPECT_EQ(sandbox.state.pictureList.size(), 2u);
}

TEST_F(APictureScan, countsThePicturesListedBeforeAReadErrorAndGoesOn)
{
    FailingListingMount mount({"b.jpg", "notes.txt", "A.JPG"});
    if (!mount.SkipReason().empty())
        GTEST_SKIP() << mount.SkipReason();
    Touch("c.jpg");
    Retrieve(mount.Path() + ";" + dir.Path().string());
    EXPECT_EQ(sandbox.front.unsearched,
              (std::vector<RecordingFrontEnd::Unsearched>{{mount.Path(), EIO, true}}));
    EXPECT_EQ(
            sandbox.Messages(),
            (std::vector<std::string>{"Digital pictures found in " + mount.Path() + ": 2",
                                      "Digital pictures found in " + dir.Path().string() + ": 1"}));
    EXPECT_EQ(sandbox.state.pictureList,
              (std::vector<std::string>{mount.Path() + "/A.JPG", mount.Path() + "/b.jpg",
                                        dir / "c.jpg"}));
}

// The scan and the dating pass together, on real pictures.
class AScanAndPass : public ::testing::Test
{
protected:
    void Picture(const std::string &name, const std::string &date)
    {
        fs::create_directories(fs::path(dir / name).parent_path());
        WriteJpegWithExif(dir / name, {{"Exif.Photo.DateTimeDigitized", date}});
    }

    void RetrieveAndDate(const std::string &sourceText)
    {
        sandbox.front.sourceText = sourceText;
        RetrieveFileList(sandbox.session);
        DatePictures(sandbox.session);
    }

    TempDir dir;
    EngineSandbox sandbox;
};

TEST_F(AScanAndPass, listsAndDatesTheNamesOfAFolderInNameOrder)
{
    Picture("b.jpg", "2005:07:14 09:00:02");
    Picture("A.jpg", "2005:07:14 09:00:01");
    Picture("c.JPG", "2005:07:14 09:00:04");
    Picture("B.jpg", "2005:07:14 09:00:03");
    RetrieveAndDate(dir.Path().string());
    const auto messages = sandbox.Messages();
    ASSERT_EQ(messages.size(), 8u);
    EXPECT_EQ(std::vector<std::string>(messages.begin() + 2, messages.begin() + 6),
              (std::vector<std::string>{"   A.jpg -> 2005-07-14 09.00.01.JPG",
                                        "   B.jpg -> 2005-07-14 09.00.03.JPG",
                                        "   b.jpg -> 2005-07-14 09.00.02.JPG",
                                        "   c.JPG -> 2005-07-14 09.00.04.JPG"}));
}

TEST_F(AScanAndPass, touchesOnlyThePicturesTheKernelListsThroughALinkAndItsParent)
{
    // link/../pics is the pics beside the link's target, real/pics; the pics beside the link is
    // another folder with a picture of the same name.
    Picture("real/pics/IMG_0001.JPG", "2005:07:14 09:03:27");
    Picture("pics/IMG_0001.JPG", "2010:01:01 10:00:00");
    Picture("pics/IMG_0002.JPG", "2010:01:01 11:00:00");
    fs::create_directories(dir / "real/target");
    fs::create_directory_symlink(dir / "real/target", dir / "link");
    const std::string lexicalBytes = ReadBytes(dir / "pics/IMG_0001.JPG");

    const fs::path before = fs::current_path();
    fs::current_path(dir.Path());
    RetrieveAndDate("link/../pics");
    fs::current_path(before);

    EXPECT_EQ(sandbox.state.pictureList,
              (std::vector<std::string>{dir / "link/../pics/2005-07-14 09.03.27.JPG"}));
    EXPECT_TRUE(fs::exists(dir / "real/pics/2005-07-14 09.03.27.JPG"));
    EXPECT_FALSE(fs::exists(dir / "real/pics/IMG_0001.JPG"));
    EXPECT_EQ(ReadBytes(dir / "pics/IMG_0001.JPG"), lexicalBytes);
    EXPECT_TRUE(fs::exists(dir / "pics/IMG_0002.JPG"));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir / "pics"), fs::directory_iterator()), 2);
}

} // namespace
