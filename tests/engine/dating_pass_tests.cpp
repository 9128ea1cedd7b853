// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "dating_pass.h"
#include "file_error.h"
#include "file_services.h"
#include "jpeg_fixture.h"
#include "recording_front_end.h"
#include "run_as_nobody.h"
#include "temp_dir.h"

#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace kronvik;
using namespace kronvik::test;
namespace fs = std::filesystem;

namespace {

TEST(TheProgressPercentage, formsTheQuotientFirstInDoublePrecision)
{
    EXPECT_EQ(ProgressPercent(0, 3), 33);
    EXPECT_EQ(ProgressPercent(1, 3), 66);
    EXPECT_EQ(ProgressPercent(2, 3), 100);
    EXPECT_EQ(ProgressPercent(28, 100), 28); // 29 of 100
    EXPECT_EQ(ProgressPercent(56, 100), 56); // 57 of 100
    EXPECT_EQ(ProgressPercent(0, 1), 100);
}

class ADatingPass : public ::testing::Test
{
protected:
    std::string AddPicture(const std::string &name, const std::string &date)
    {
        const std::string path = dir / name;
        WriteJpegWithExif(path, {{"Exif.Photo.DateTimeOriginal", date},
                                 {"Exif.Photo.DateTimeDigitized", date}});
        sandbox.state.pictureList.push_back(path);
        return path;
    }

    std::vector<std::string> Summary() const
    {
        const auto messages = sandbox.Messages();
        return {messages.end() - 2, messages.end()};
    }

    static std::vector<std::string> SummaryOf(int good, int bad)
    {
        return {"Digital pictures dated successfully: " + std::to_string(good),
                "Digital pictures dated unsuccessfully: " + std::to_string(bad)};
    }

    TempDir dir;
    EngineSandbox sandbox;
};

TEST_F(ADatingPass, showsProgressAfterEachPicture)
{
    AddPicture("a.jpg", "2005:07:14 09:03:27");
    AddPicture("b.jpg", "2005:07:14 09:03:28");
    AddPicture("c.jpg", "2005:07:14 09:03:29");
    DatePictures(sandbox.session);
    EXPECT_EQ(sandbox.front.currentHistory, (std::vector<std::string>{"1", "2", "3"}));
    EXPECT_EQ(sandbox.front.progressHistory, (std::vector<int>{33, 66, 100}));
    EXPECT_EQ(sandbox.front.percentHistory, (std::vector<std::string>{"33%", "66%", "100%"}));
    EXPECT_EQ(sandbox.front.labels[StatusLabel::Caption], "Dating:");
    EXPECT_EQ(sandbox.front.labels[StatusLabel::Of], "of");
    EXPECT_EQ(sandbox.front.labels[StatusLabel::File], dir / "c.jpg");
    EXPECT_EQ(Summary(), SummaryOf(3, 0));
}

TEST_F(ADatingPass, countsOnlyRenamesInItsSummary)
{
    AddPicture("new.jpg", "2005:07:14 09:03:27");
    AddPicture("clash.jpg", "2005:07:14 09:03:27");
    const std::string bare = dir / "bare.jpg";
    WriteJpegWithExif(bare, {});
    sandbox.state.pictureList.push_back(bare);
    const std::string dated = AddPicture("2001-02-03 04.05.06.JPG", "2001:02:03 04:05:06");
    ASSERT_TRUE(SetLastWriteTime(dated, {2001, 2, 3, 4, 5, 6}));
    DatePictures(sandbox.session);
    EXPECT_EQ(Summary(), SummaryOf(1, 1));
    // Both summary lines carry one reading of the clock and the top-level prefix.
    EXPECT_EQ(sandbox.front.Lines().back().substr(0, 21), kTopPrefix);
}

TEST_F(ADatingPass, leavesEachPictureTheAccessTimeItHadBeforeThePass)
{
    // Older than the files' modification times: reading them moves it, even under relatime.
    const timespec accessed{978307200, 123456789}; // 2001-01-01
    for (const int hours : {0, 2}) {
        SCOPED_TRACE(hours);
        EngineSandbox run;
        run.timeAdjust = hours;
        const std::string path = dir / ("IMG_" + std::to_string(hours) + ".JPG");
        WriteJpegWithExif(path, {{"Exif.Photo.DateTimeOriginal", "2005:07:14 09:03:27"},
                                 {"Exif.Photo.DateTimeDigitized", "2005:07:14 09:03:27"}});
        const timespec times[2] = {accessed, {0, UTIME_OMIT}};
        ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
        run.state.pictureList.push_back(path);
        DatePictures(run.session);

        const std::string dated =
                dir / (hours == 0 ? "2005-07-14 09.03.27.JPG" : "2005-07-14 11.03.27.JPG");
        struct stat status
        {
        };
        ASSERT_EQ(stat(dated.c_str(), &status), 0);
        EXPECT_EQ(status.st_atim.tv_sec, accessed.tv_sec);
        EXPECT_EQ(status.st_atim.tv_nsec, accessed.tv_nsec);
    }
}

TEST_F(ADatingPass, overAnEmptyListWritesOnlyTheSummary)
{
    sandbox.state.datedSuccessfully = 7;
    DatePictures(sandbox.session);
    EXPECT_EQ(sandbox.Messages(), SummaryOf(0, 0));
    EXPECT_TRUE(sandbox.front.progressHistory.empty());
}

TEST_F(ADatingPass, finishesThePictureAtHandWhenCancelledAndTouchesNoOther)
{
    for (int i = 0; i < 10; ++i)
        AddPicture("p" + std::to_string(i) + ".jpg", "2005:07:14 09:03:1" + std::to_string(i));
    int drains = 0;
    sandbox.front.onDrain = [&] {
        if (++drains == 5)
            sandbox.cancel = true; // the window closed while the fifth picture was dated
        return true;
    };
    DatePictures(sandbox.session);
    EXPECT_EQ(sandbox.front.labels[StatusLabel::Current], "5");
    EXPECT_EQ(sandbox.front.progressHistory.back(), 50);
    EXPECT_TRUE(fs::exists(dir / "2005-07-14 09.03.14.JPG"));
    EXPECT_TRUE(fs::exists(dir / "p5.jpg"));
    EXPECT_EQ(Summary(), SummaryOf(5, 0));
}

TEST_F(ADatingPass, endsWhenTheApplicationQuits)
{
    AddPicture("a.jpg", "2005:07:14 09:03:27");
    AddPicture("b.jpg", "2005:07:14 09:03:28");
    sandbox.front.onDrain = [] { return false; };
    DatePictures(sandbox.session);
    EXPECT_TRUE(fs::exists(dir / "b.jpg"));
    EXPECT_EQ(Summary(), SummaryOf(1, 0));
}

TEST_F(ADatingPass, startsItsCountersAndCancelFlagAfreshEachTime)
{
    AddPicture("a.jpg", "2005:07:14 09:03:27");
    DatePictures(sandbox.session);
    sandbox.cancel = true;
    DatePictures(sandbox.session);
    // The second pass meets the picture already dated: nothing counts.
    EXPECT_EQ(Summary(), SummaryOf(0, 0));
    EXPECT_FALSE(sandbox.cancel);
}

// A second pass meets every picture of the first already dated, in the hours that the clocks
// change as well: the skipped hour names no moment of its own, and its picture keeps the moment
// that time becomes.
TEST_F(ADatingPass, passesOverItsOwnPicturesAgainAroundTheChangesOfTheClocks)
{
    setenv("TZ", "Europe/Berlin", 1);
    tzset();
    struct Row
    {
        const char *name;
        const char *date;
    } const rows[] = {
            {"summer", "2005:07:14 09:03:27"},
            {"the hour skipped in spring", "2005:03:27 02:30:00"},
            {"the hour repeated in autumn", "2005:10:30 02:30:00"},
    };
    // "2005:07:14 09:03:27" names "2005-07-14 09.03.27.JPG".
    const auto namedAfter = [](std::string date) {
        for (const std::size_t at : {4, 7})
            date[at] = '-';
        for (const std::size_t at : {13, 16})
            date[at] = '.';
        return date + ".JPG";
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        sandbox.state.pictureList.clear();
        AddPicture("IMG.JPG", row.date);
        DatePictures(sandbox.session);
        EXPECT_EQ(Summary(), SummaryOf(1, 0));
        sandbox.state.pictureList = {dir / namedAfter(row.date)};
        const std::size_t lines = sandbox.Messages().size();
        DatePictures(sandbox.session);
        EXPECT_EQ(sandbox.Messages().size(), lines + 2); // the summary alone
        EXPECT_EQ(Summary(), SummaryOf(0, 0));
        fs::remove(dir / namedAfter(row.date));
    }
}

// Read-only files stop an unprivileged user, and the superuser too, whom the kernel would let
// write them.
TEST_F(ADatingPass, stopsWithoutSummaryAtAPictureItMayNotShift)
{
    const std::function<int(const std::function<int()> &)> runs[] = {
            RunAsNobody, [](const std::function<int()> &body) { return body(); }};
    int run = 0;
    for (const auto &runAs : runs) {
        SCOPED_TRACE(run == 0 ? "as nobody" : "as whoever runs the tests");
        const std::string name = "run" + std::to_string(run++);
        const std::string folder = dir / name;
        fs::create_directory(folder);
        sandbox.state.pictureList.clear();
        const std::size_t linesBefore = sandbox.front.LineCount();
        const std::string open = AddPicture(name + "/a.jpg", "2005:07:14 09:03:27");
        const std::string locked = AddPicture(name + "/b.jpg", "2005:07:14 09:03:28");
        const std::string after = AddPicture(name + "/c.jpg", "2005:07:14 09:03:29");
        chmod(dir.Path().c_str(), 0777);
        chmod(folder.c_str(), 0777);
        chmod(open.c_str(), 0666);
        chmod(after.c_str(), 0666);
        chmod(locked.c_str(), 0444);
        sandbox.timeAdjust = 1;
        const int outcome = runAs([&] {
            try {
                DatePictures(sandbox.session);
            } catch (const FileError &error) {
                const bool named = error.Message() == "Access to " + locked + " was denied.";
                const bool untouched =
                        fs::exists(after) && sandbox.front.LineCount() == linesBefore + 2;
                return named && untouched ? 0 : 2;
            }
            return 1;
        });
        EXPECT_EQ(outcome, 0);
        EXPECT_TRUE(fs::exists(locked));
    }
}

} // namespace
