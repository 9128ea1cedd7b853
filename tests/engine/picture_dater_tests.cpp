// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "exfat_mount.h"
#include "exif_time_shift.h"
#include "file_services.h"
#include "jpeg_fixture.h"
#include "picture_dater.h"
#include "recording_front_end.h"
#include "temp_dir.h"

#include <exiv2/exiv2.hpp>
#include <filesystem>
#include <gtest/gtest.h>

using namespace kronvik;
using namespace kronvik::test;
namespace fs = std::filesystem;

namespace {

const char *const kDigitized = "Exif.Photo.DateTimeDigitized";
const char *const kDateTime = "Exif.Image.DateTime";
const char *const kOriginal = "Exif.Photo.DateTimeOriginal";

// An EXIF sidecar as Exiv2 writes it, holding the capture date twice.
std::string ExvSidecarBytes(const std::string &scratch)
{
    auto sidecar = Exiv2::ImageFactory::create(Exiv2::ImageType::exv, scratch);
    Exiv2::ExifData exif;
    exif["Exif.Photo.DateTimeOriginal"] = "2005:07:14 09:03:27";
    exif["Exif.Photo.DateTimeDigitized"] = "2005:07:14 09:03:27";
    sidecar->setExifData(exif);
    sidecar->writeMetadata();
    return ReadBytes(scratch);
}

// A video of the test corpus (or, without the corpus, the box that opens an MP4 file) with a date
// pair after it, within the shift's reach.
std::string VideoBytes()
{
    const fs::path video = fs::path(KRONVIK_CORPUS_DIR) / "hostile-nonjpeg/issue_2366_poc.mp4";
    const std::string start = fs::exists(video) ? ReadBytes(video.string())
                                                : std::string("\0\0\0\x10"
                                                              "ftypisom\0\0\0\0",
                                                              16);
    return start + DateString("2005:07:14 09:03:27") + DateString("2005:07:14 09:03:27");
}

class APictureDater : public ::testing::Test
{
protected:
    // Adds a picture to the list and returns its path.
    std::string AddPicture(const std::string &name, const ExifTags &tags)
    {
        const std::string path = dir / name;
        WriteJpegWithExif(path, tags);
        sandbox.state.pictureList.push_back(path);
        return path;
    }

    void DateAll()
    {
        for (std::size_t i = 0; i < sandbox.state.pictureList.size(); ++i)
            DatePicture(sandbox.session, i, shifted);
    }

    CalendarTime WriteTime(const std::string &path)
    {
        CalendarTime time;
        EXPECT_TRUE(ReadLastWriteTime(path, time));
        return time;
    }

    TempDir dir;
    EngineSandbox sandbox;
    PassRecord shifted;
};

TEST_F(APictureDater, namesThePictureAfterItsDigitizedDateAndSetsItsTime)
{
    const std::string old = AddPicture("IMG_0001.JPG", {{kDigitized, "2005:07:14 09:03:27"}});
    DateAll();

    const std::string renamed = dir / "2005-07-14 09.03.27.JPG";
    EXPECT_FALSE(fs::exists(old));
    ASSERT_TRUE(fs::exists(renamed));
    EXPECT_EQ(WriteTime(renamed), (CalendarTime{2005, 7, 14, 9, 3, 27}));
    EXPECT_EQ(sandbox.state.pictureList[0], renamed);
    EXPECT_EQ(sandbox.state.datedSuccessfully, 1);
    EXPECT_EQ(sandbox.state.datedUnsuccessfully, 0);
    ASSERT_EQ(sandbox.front.LineCount(), 2u);
    EXPECT_EQ(sandbox.front.Line(0), std::string(kTopPrefix) + "Processing digital pictures in "
                                             + dir.Path().string() + "...");
    EXPECT_EQ(sandbox.front.Line(1),
              std::string(kPicturePrefix) + "IMG_0001.JPG -> 2005-07-14 09.03.27.JPG");
}

TEST_F(APictureDater, prefersTheDigitizedDateOverTheImageDate)
{
    AddPicture("both.jpg",
               {{kDateTime, "2001:01:01 01:01:01"}, {kDigitized, "2005:07:14 09:03:27"}});
    AddPicture("only.jpg", {{kDateTime, "2001:01:01 01:01:01"}});
    DateAll();
    EXPECT_TRUE(fs::exists(dir / "2005-07-14 09.03.27.JPG"));
    EXPECT_TRUE(fs::exists(dir / "2001-01-01 01.01.01.JPG"));
}

TEST_F(APictureDater, namesAPictureAfterItsOriginalDateOnlyWhenItHasNoOtherDate)
{
    AddPicture("sony.jpg", {{kOriginal, "2005:07:14 09:03:27"}});
    AddPicture("both.jpg",
               {{kOriginal, "2005:07:14 09:03:28"}, {kDateTime, "2001:01:01 01:01:01"}});
    DateAll();
    EXPECT_TRUE(fs::exists(dir / "2005-07-14 09.03.27.JPG"));
    EXPECT_TRUE(fs::exists(dir / "2001-01-01 01.01.01.JPG"));
    EXPECT_EQ(sandbox.state.datedSuccessfully, 2);
}

TEST_F(APictureDater, reportsADigitizedDateOfBlanksAndColonsEvenWithAGoodImageDate)
{
    const std::string path = AddPicture(
            "blank.jpg", {{kDateTime, "2005:07:14 09:03:27"}, {kDigitized, "    :  :     :  :  "}});
    DateAll();
    EXPECT_TRUE(fs::exists(path));
    EXPECT_EQ(sandbox.Messages().back(), "   " + path + " not renamed; incorrect date format.");
    EXPECT_EQ(sandbox.state.datedSuccessfully + sandbox.state.datedUnsuccessfully, 0);
}

TEST_F(APictureDater, reportsPicturesWithoutExifOrWithoutADateTag)
{
    const std::string bare = AddPicture("bare.jpg", {});
    const std::string other = AddPicture("other.jpg", {{"Exif.Image.Make", "Camera"}});
    DateAll();
    const auto messages = sandbox.Messages();
    ASSERT_EQ(messages.size(), 3u);
    EXPECT_EQ(messages[1], "   No EXIF data found in " + bare + ".");
    EXPECT_EQ(messages[2], "   " + other + " not renamed; incorrect date format.");
    EXPECT_EQ(sandbox.state.datedSuccessfully + sandbox.state.datedUnsuccessfully, 0);
}

TEST_F(APictureDater, refusesASecondPictureOfTheSameMomentAndReplacesNothing)
{
    AddPicture("a.jpg", {{kDigitized, "2005:07:14 09:03:27"}});
    const std::string second = AddPicture("b.jpg", {{kDigitized, "2005:07:14 09:03:27"}});
    const std::string secondBytes = ReadBytes(second);
    const std::string firstBytes = ReadBytes(sandbox.state.pictureList[0]);
    DateAll();

    EXPECT_EQ(ReadBytes(dir / "2005-07-14 09.03.27.JPG"), firstBytes);
    EXPECT_EQ(ReadBytes(second), secondBytes);
    EXPECT_EQ(sandbox.state.pictureList[1], second);
    EXPECT_EQ(sandbox.state.datedSuccessfully, 1);
    EXPECT_EQ(sandbox.state.datedUnsuccessfully, 1);
    EXPECT_EQ(sandbox.front.Lines().back(),
              std::string(kPicturePrefix)
                      + "b.jpg -> 2005-07-14 09.03.27.JPG: File already exists!");
}

TEST_F(APictureDater, passesOverAPictureAlreadyDatedButNotOneSecondOff)
{
    const std::string dated =
            AddPicture("2005-07-14 09.03.27.JPG", {{kDigitized, "2005:07:14 09:03:27"}});
    ASSERT_TRUE(SetLastWriteTime(dated, {2005, 7, 14, 9, 3, 27}));
    // Unreadable if it were opened: the test proves that a dated picture is never read.
    const std::string fake = dir / "2006-01-01 00.00.00.JPG";
    WriteBytes(fake, "not a picture");
    ASSERT_TRUE(SetLastWriteTime(fake, {2006, 1, 1, 0, 0, 0}));
    sandbox.state.pictureList.push_back(fake);
    const std::string off =
            AddPicture("2007-03-04 05.06.07.JPG", {{kDigitized, "2007:03:04 05:06:07"}});
    ASSERT_TRUE(SetLastWriteTime(off, {2007, 3, 4, 5, 6, 8}));
    DateAll();

    const auto messages = sandbox.Messages();
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[1], "   2007-03-04 05.06.07.JPG -> 2007-03-04 05.06.07.JPG");
    EXPECT_EQ(WriteTime(off), (CalendarTime{2007, 3, 4, 5, 6, 7}));
    EXPECT_EQ(sandbox.state.datedSuccessfully, 1);
}

TEST_F(APictureDater, renamesAPictureWithMonth13ButLeavesItsTime)
{
    const std::string path = AddPicture("odd.jpg", {{kDigitized, "2005:13:14 09:03:27"}});
    ASSERT_TRUE(SetLastWriteTime(path, {2010, 1, 1, 12, 0, 0}));
    DateAll();
    const std::string renamed = dir / "2005-13-14 09.03.27.JPG";
    ASSERT_TRUE(fs::exists(renamed));
    EXPECT_EQ(WriteTime(renamed), (CalendarTime{2010, 1, 1, 12, 0, 0}));
    EXPECT_EQ(sandbox.state.datedSuccessfully, 1);
    EXPECT_TRUE(sandbox.front.timesNotSet.empty()); // no call failed
}

TEST_F(APictureDater, fillsTheMissingFieldsOfAPartialDateWithZeros)
{
    AddPicture("short.jpg", {{kDigitized, "2005:07:14"}});
    AddPicture("lower.jpg", {{kDigitized, "2004:02:29 23:59:59"}});
    DateAll();
    EXPECT_TRUE(fs::exists(dir / "2005-07-14 00.00.00.JPG"));
    EXPECT_TRUE(fs::exists(dir / "2004-02-29 23.59.59.JPG"));
}

TEST_F(APictureDater, writesTheDirectoryLineOnlyWhenTheDirectoryChanges)
{
    fs::create_directory(dir.Path() / "A");
    fs::create_directory(dir.Path() / "B");
    AddPicture("A/1.jpg", {});
    AddPicture("A/2.jpg", {});
    AddPicture("B/3.jpg", {});
    AddPicture("A/4.jpg", {});
    DateAll();
    std::vector<std::string> directories;
    for (const auto &message : sandbox.Messages()) {
        if (message.rfind("Processing", 0) == 0)
            directories.push_back(message);
    }
    const std::string a = "Processing digital pictures in " + dir / "A" + "...";
    const std::string b = "Processing digital pictures in " + dir / "B" + "...";
    EXPECT_EQ(directories, (std::vector<std::string>{a, b, a}));
    EXPECT_EQ(sandbox.state.lastDirectory, dir / "A" + "/");
}

TEST_F(APictureDater, logsNamesThatAreNotUtf8OrLookLikeFormatsByteForByte)
{
    const std::string latin = "caf\xe9.jpg";
    const std::string percent = "%s%n.jpg";
    AddPicture(latin, {{kDigitized, "2005:07:14 09:03:27"}});
    AddPicture(percent, {{kDigitized, "2005:07:14 09:03:28"}});
    const std::string bare = AddPicture("%s%n-bare.jpg", {});
    DateAll();
    const auto messages = sandbox.Messages();
    ASSERT_EQ(messages.size(), 4u);
    EXPECT_EQ(messages[1], "   " + latin + " -> 2005-07-14 09.03.27.JPG");
    EXPECT_EQ(messages[2], "   " + percent + " -> 2005-07-14 09.03.28.JPG");
    EXPECT_EQ(messages[3], "   No EXIF data found in " + bare + ".");
}

TEST_F(APictureDater, reportsAFileThatIsNoPictureAndGoesOn)
{
    const std::string path = dir / "text.jpg";
    WriteBytes(path, "hello");
    sandbox.state.pictureList.push_back(path);
    AddPicture("good.jpg", {{kDigitized, "2005:07:14 09:03:27"}});
    DateAll();
    const auto messages = sandbox.Messages();
    ASSERT_EQ(messages.size(), 3u);
    EXPECT_EQ(messages[1].rfind("   " + path + " not renamed; unreadable picture (", 0), 0u);
    EXPECT_EQ(messages[1].substr(messages[1].size() - 2), ").");
    EXPECT_EQ(ReadBytes(path), "hello");
    EXPECT_EQ(sandbox.state.datedSuccessfully, 1);
    EXPECT_EQ(sandbox.state.datedUnsuccessfully, 0);
}

TEST_F(APictureDater, keepsEveryByteOfFilesThatAreNoJpegUnderATimeAdjustment)
{
    sandbox.timeAdjust = 2;
    struct Row
    {
        const char *name;
        std::string bytes;
    } const rows[] = {
            {"a text file",
             "taken " + DateString("2005:07:14 09:03:27") + DateString("2005:07:14 09:03:27")},
            {"an EXIF sidecar", ExvSidecarBytes(dir / "scratch.exv")},
            {"a video", VideoBytes()},
            {"JPEG start bytes cut short",
             "\xff\xd8" + DateString("2005:07:14 09:03:27") + DateString("2005:07:14 09:03:27")},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        // Each would be shifted if it were a picture.
        ASSERT_TRUE(FindDatePair(row.bytes, 2));
        const std::string path = dir / (std::string(row.name) + ".jpg");
        WriteBytes(path, row.bytes);
        sandbox.state.pictureList = {path};
        DateAll();
        EXPECT_EQ(ReadBytes(path), row.bytes);
        EXPECT_EQ(sandbox.Messages().back(),
                  "   " + path + " not renamed; unreadable picture (not a JPEG file).");
    }
}

TEST_F(APictureDater, shiftsTheExifDateBeforeNamingThePicture)
{
    sandbox.timeAdjust = 2;
    AddPicture("IMG.JPG",
               {{kOriginal, "2005:07:14 09:03:27"}, {kDigitized, "2005:07:14 09:03:27"}});
    DateAll();
    EXPECT_TRUE(fs::exists(dir / "2005-07-14 11.03.27.JPG")) << sandbox.front.Lines().back();
}

TEST_F(APictureDater, shiftsAPictureListedTwiceOnlyOnce)
{
    sandbox.timeAdjust = 1;
    const std::string path = AddPicture(
            "IMG.JPG", {{kOriginal, "2005:07:14 09:03:27"}, {kDigitized, "2005:07:14 09:03:27"}});
    // The name it would get is taken, so the picture keeps its name and meets the pass again
    // under a second path, as a folder listed twice gives it.
    WriteBytes(dir / "2005-07-14 10.03.27.JPG", "taken");
    fs::create_directory_symlink(dir.Path(), dir.Path() / "again");
    sandbox.state.pictureList.push_back(dir / "again/IMG.JPG");
    DateAll();

    const std::string bytes = ReadBytes(path);
    EXPECT_NE(bytes.find("2005:07:14 10:03:27"), std::string::npos);
    EXPECT_EQ(bytes.find("2005:07:14 11:03:27"), std::string::npos);
    EXPECT_EQ(sandbox.state.datedUnsuccessfully, 2);
}

TEST_F(APictureDater, tellsWhatItsChangesDidAgainstItsPlan)
{
    AddPicture("free.jpg", {{kDigitized, "2005:07:14 09:03:27"}});
    AddPicture("taken.jpg", {{kDigitized, "2006:01:01 00:00:00"}});
    WriteBytes(dir / "2006-01-01 00.00.00.JPG", "someone else's"); // the plan cannot know
    AddPicture("shift.jpg",
               {{kOriginal, "2007:03:04 05:06:07"}, {kDigitized, "2007:03:04 05:06:07"}});

    AppliedChanges first = DatePicture(sandbox.session, 0, shifted);
    EXPECT_EQ(first.plan.outcome, PictureOutcome::Dated);
    EXPECT_EQ(first.outcome, PictureOutcome::Dated);
    EXPECT_TRUE(first.renamed);
    EXPECT_FALSE(first.shifted);

    AppliedChanges second = DatePicture(sandbox.session, 1, shifted);
    EXPECT_EQ(second.plan.outcome, PictureOutcome::Dated);
    EXPECT_EQ(second.outcome, PictureOutcome::Refused);
    EXPECT_EQ(second.renameError, EEXIST);
    EXPECT_FALSE(second.renamed);

    sandbox.timeAdjust = 1;
    AppliedChanges third = DatePicture(sandbox.session, 2, shifted);
    EXPECT_TRUE(third.plan.shift.has_value());
    EXPECT_TRUE(third.shifted);
    EXPECT_TRUE(third.shiftAsPlanned);
    ASSERT_TRUE(third.plan.rename);
    EXPECT_EQ(third.plan.rename->to, dir / "2007-03-04 06.06.07.JPG");
    EXPECT_EQ(third.outcome, PictureOutcome::Dated);
    EXPECT_TRUE(fs::exists(dir / "2007-03-04 06.06.07.JPG"));
}

TEST(APictureDaterOnExfat, shiftsAPictureListedTwiceOnceThoughItsNameChangedOnlyInCase)
{
    // Named after its shifted date already, it is renamed only from ".jpg" to ".JPG"; on exFAT the
    // old name still reaches it, under another inode number.
    ExfatMount exfat;
    if (!exfat.IsMounted())
        GTEST_SKIP() << "no exFAT file system: " << exfat.Problem();
    const std::string path = exfat / "2005-07-14 11.03.27.jpg";
    WriteJpegWithExif(path,
                      {{kOriginal, "2005:07:14 09:03:27"}, {kDigitized, "2005:07:14 09:03:27"}});
    EngineSandbox sandbox;
    sandbox.timeAdjust = 2;
    sandbox.state.pictureList = {path, path};
    PassRecord shifted;
    DatePicture(sandbox.session, 0, shifted);
    DatePicture(sandbox.session, 1, shifted);

    const std::string bytes = ReadBytes(exfat / "2005-07-14 11.03.27.JPG");
    EXPECT_NE(bytes.find("2005:07:14 11:03:27"), std::string::npos);
    EXPECT_EQ(bytes.find("2005:07:14 13:03:27"), std::string::npos);
}

} // namespace
