// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "picture_plan.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <functional>

using namespace kronvik;

namespace {

const CalendarTime kNow{2026, 1, 2, 3, 4, 5};
const char *const kPrefix = "2026-01-02 03:04:05:    ";
const FileIdentity kFile{1, 42};

// A read of a picture in /camera/ whose date text is `date`, written in 2010.
PictureRead Read(const std::string &name, const std::string &date)
{
    PictureRead read;
    read.path = "/camera/" + name;
    read.stamp.identity = kFile;
    read.lastWriteKnown = true;
    read.lastWrite = {2010, 1, 1, 12, 0, 0};
    read.exif.outcome = ExifDateResult::Outcome::Searched;
    read.exif.dateText = date;
    return read;
}

// The same read made for a shift of `hours` that finds a pair.
PictureRead Shifted(PictureRead read, int hours)
{
    read.shiftHours = hours;
    read.pairOffset = 200;
    read.shiftedPair = std::string(40, 'p');
    return read;
}

struct Row
{
    const char *name;
    PictureRead read;
    std::function<void(PassRecord &)> pass; // what the pass did before
    std::string lastDirectory;
    int adjustment;
    // What the plan is expected to be:
    PictureOutcome outcome;
    std::string line; // without the prefix; empty for none
    bool directoryLine;
    std::string renamedTo; // empty: no rename
    bool timeSet;
    bool shifted; // a shift, with its write
};

TEST(APicturePlan, decidesEachPictureFromItsReadAndThePass)
{
    auto none = [](PassRecord &) {};
    PictureRead dated = Read("2005-07-14 09.03.27.JPG", "2005:07:14 09:03:27");
    dated.lastWrite = {2005, 7, 14, 9, 3, 27};
    PictureRead evenSecond = Read("2005-07-14 09.03.27.JPG", "2005:07:14 09:03:27");
    evenSecond.lastWrite = {2005, 7, 14, 9, 3, 26};
    evenSecond.twoSecondTimes = true;
    PictureRead oneSecondOff = evenSecond;
    oneSecondOff.twoSecondTimes = false;
    PictureRead unreadable = Read("fifo.jpg", "");
    unreadable.exif = {ExifDateResult::Outcome::Unreadable, "", "not a regular file"};
    PictureRead bare = Read("bare.jpg", "");
    bare.exif.outcome = ExifDateResult::Outcome::NoExif;
    PictureRead locked = Shifted(Read("IMG.JPG", "2005:07:14 11:03:27"), 2);
    locked.updateError = EACCES;
    PictureRead video = Read("clip.jpg", "");
    video.exif = {ExifDateResult::Outcome::Unreadable, "", "not a JPEG file"};
    video.shiftHours = 2;
    video.shiftPassesOver = true;
    video.updateError = EACCES;
    PictureRead noPair = Read("2005-07-14 09.03.27.JPG", "2005:07:14 09:03:27");
    noPair.lastWrite = {2005, 7, 14, 9, 3, 27};
    noPair.shiftHours = 2;

    const Row rows[] = {
            {"a picture is renamed after its date and given its time",
             Read("IMG_0001.JPG", "2005:07:14 09:03:27"), none, "/elsewhere/", 0,
             PictureOutcome::Dated, "IMG_0001.JPG -> 2005-07-14 09.03.27.JPG", true,
             "/camera/2005-07-14 09.03.27.JPG", true, false},
            {"no directory line for the directory of the picture before",
             Read("IMG_0001.JPG", "2005:07:14 09:03:27"), none, "/camera/", 0,
             PictureOutcome::Dated, "IMG_0001.JPG -> 2005-07-14 09.03.27.JPG", false,
             "/camera/2005-07-14 09.03.27.JPG", true, false},
            {"a picture named after its time is passed over without a line", dated, none,
             "/camera/", 0, PictureOutcome::AlreadyDated, "", false, "", false, false},
            {"one second off is dated again, under the name it has", oneSecondOff, none, "/camera/",
             0, PictureOutcome::Dated, "2005-07-14 09.03.27.JPG -> 2005-07-14 09.03.27.JPG", false,
             "", true, false},
            {"where times go in 2-second steps the even second is dated", evenSecond, none,
             "/camera/", 0, PictureOutcome::AlreadyDated, "", false, "", false, false},
            {"an unreadable picture gets the reason", unreadable, none, "/camera/", 0,
             PictureOutcome::Unreadable,
             "/camera/fifo.jpg not renamed; unreadable picture (not a regular file).", false, "",
             false, false},
            {"a picture without EXIF entries", bare, none, "/camera/", 0, PictureOutcome::NoExif,
             "No EXIF data found in /camera/bare.jpg.", false, "", false, false},
            {"a date text that does not scan", Read("blank.jpg", "    :  :  "), none, "/camera/", 0,
             PictureOutcome::BadDate, "/camera/blank.jpg not renamed; incorrect date format.",
             false, "", false, false},
            {"no date text at all", Read("nodate.jpg", ""), none, "/camera/", 0,
             PictureOutcome::BadDate, "/camera/nodate.jpg not renamed; incorrect date format.",
             false, "", false, false},
            {"month 13 is renamed but keeps its time", Read("odd.jpg", "2005:13:14 09:03:27"), none,
             "/camera/", 0, PictureOutcome::Dated, "odd.jpg -> 2005-13-14 09.03.27.JPG", false,
             "/camera/2005-13-14 09.03.27.JPG", false, false},
            {"a partial date fills the rest with zeros", Read("short.jpg", "2005:07:14"), none,
             "/camera/", 0, PictureOutcome::Dated, "short.jpg -> 2005-07-14 00.00.00.JPG", false,
             "/camera/2005-07-14 00.00.00.JPG", true, false},
            {"a name the pass gave an earlier picture is planned as refused",
             Read("b.jpg", "2005:07:14 09:03:27"),
             [](PassRecord &record) {
                 NoteRename(record, {"/camera/a.jpg", "/camera/2005-07-14 09.03.27.JPG"});
             },
             "/camera/", 0, PictureOutcome::Refused,
             "b.jpg -> 2005-07-14 09.03.27.JPG: File already exists!", false,
             "/camera/2005-07-14 09.03.27.JPG", false, false},
            {"a name freed again by the pass is planned as free",
             Read("b.jpg", "2005:07:14 09:03:27"),
             [](PassRecord &record) {
                 NoteRename(record, {"/camera/a.jpg", "/camera/2005-07-14 09.03.27.JPG"});
                 NoteRename(record, {"/camera/2005-07-14 09.03.27.JPG", "/camera/x.JPG"});
             },
             "/camera/", 0, PictureOutcome::Dated, "b.jpg -> 2005-07-14 09.03.27.JPG", false,
             "/camera/2005-07-14 09.03.27.JPG", true, false},
            {"the shift comes first, and its write makes a dated picture new", Shifted(dated, 2),
             none, "/camera/", 2, PictureOutcome::Dated,
             "2005-07-14 09.03.27.JPG -> 2005-07-14 09.03.27.JPG", false, "", true, true},
            {"a shift without a pair leaves a dated picture dated", noPair, none, "/camera/", 2,
             PictureOutcome::AlreadyDated, "", false, "", false, true},
            {"a picture that cannot be written ends the pass before its directory line", locked,
             none, "/elsewhere/", 2, PictureOutcome::PassEnds, "", false, "", false, true},
            {"what the shift passes over is read as it is", video, none, "/camera/", 2,
             PictureOutcome::Unreadable,
             "/camera/clip.jpg not renamed; unreadable picture (not a JPEG file).", false, "",
             false, true},
            {"a path the pass shifted under is not shifted again",
             Read("IMG.JPG", "2005:07:14 11:03:27"),
             [](PassRecord &record) { NoteShift(record, "/camera/IMG.JPG", std::nullopt); },
             "/camera/", 2, PictureOutcome::Dated, "IMG.JPG -> 2005-07-14 11.03.27.JPG", false,
             "/camera/2005-07-14 11.03.27.JPG", true, false},
            {"a file the pass shifted under another path is not shifted again",
             Read("IMG.JPG", "2005:07:14 11:03:27"),
             [](PassRecord &record) { NoteShift(record, "/again/IMG.JPG", kFile); }, "/camera/", 2,
             PictureOutcome::Dated, "IMG.JPG -> 2005-07-14 11.03.27.JPG", false,
             "/camera/2005-07-14 11.03.27.JPG", true, false},
            {"a path the pass renamed away is not shifted", unreadable,
             [](PassRecord &record) {
                 NoteRename(record, {"/camera/fifo.jpg", "/camera/2005-07-14 09.03.27.JPG"});
             },
             "/camera/", 2, PictureOutcome::Unreadable,
             "/camera/fifo.jpg not renamed; unreadable picture (not a regular file).", false, "",
             false, false},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        PassRecord record;
        row.pass(record);
        const PicturePlan plan =
                PlanPicture(row.read, record, row.lastDirectory, row.adjustment, kNow);
        EXPECT_EQ(plan.outcome, row.outcome);
        EXPECT_EQ(plan.line, row.line.empty() ? "" : kPrefix + row.line);
        EXPECT_EQ(plan.directoryLine.has_value(), row.directoryLine);
        if (plan.directoryLine) {
            EXPECT_EQ(*plan.directoryLine,
                      "2026-01-02 03:04:05: Processing digital pictures in /camera...");
        }
        EXPECT_EQ(plan.rename ? plan.rename->to : "", row.renamedTo);
        EXPECT_EQ(plan.time.has_value(), row.timeSet);
        EXPECT_EQ(plan.shift.has_value(), row.shifted);
        EXPECT_EQ(plan.datedSuccessfully, row.outcome == PictureOutcome::Dated ? 1 : 0);
        EXPECT_EQ(plan.datedUnsuccessfully, row.outcome == PictureOutcome::Refused ? 1 : 0);
        // A plan made ahead, without its lines, decides alike.
        const PicturePlan ahead = PlanPicture(row.read, record, row.lastDirectory, row.adjustment,
                                              kNow, std::nullopt, false);
        EXPECT_EQ(ahead.outcome, plan.outcome);
        EXPECT_EQ(ahead.rename, plan.rename);
        EXPECT_EQ(ahead.time, plan.time);
        EXPECT_EQ(ahead.shift, plan.shift);
        EXPECT_TRUE(ahead.line.empty() && !ahead.directoryLine && !ahead.shiftedBeforeLine);
    }
}

TEST(APicturePlan, namesThePictureInTheRootWithAnEmptyDirectory)
{
    PictureRead read = Read("", "2005:07:14 09:03:27");
    read.path = "/IMG.JPG";
    const PicturePlan plan = PlanPicture(read, {}, "/camera/", 0, kNow);
    ASSERT_TRUE(plan.directoryLine);
    EXPECT_EQ(*plan.directoryLine, "2026-01-02 03:04:05: Processing digital pictures in ...");
    ASSERT_TRUE(plan.time);
    EXPECT_EQ(plan.time->path, "/2005-07-14 09.03.27.JPG");
    EXPECT_EQ(plan.time->time, (CalendarTime{2005, 7, 14, 9, 3, 27}));
}

TEST(APicturePlan, carriesTheShiftsPairAndOffsetIntoItsChange)
{
    const PicturePlan plan = PlanPicture(Shifted(Read("IMG.JPG", "2005:07:14 11:03:27"), 2), {},
                                         "/camera/", 2, kNow);
    ASSERT_TRUE(plan.shift);
    EXPECT_EQ(plan.shift->path, "/camera/IMG.JPG");
    EXPECT_EQ(plan.shift->hours, 2);
    EXPECT_EQ(plan.shift->offset, std::optional<std::size_t>(200));
    EXPECT_EQ(plan.shift->pair, std::string(40, 'p'));
}

TEST(TheHoursAReadIsMadeFor, areTheAdjustmentUnlessThePassShiftedOrRenamedTheFile)
{
    PassRecord record;
    NoteShift(record, "/a/shifted.jpg", FileIdentity{1, 7});
    NoteRename(record, {"/a/old.jpg", "/a/new.JPG"});
    EXPECT_EQ(ShiftHoursFor("/a/x.jpg", FileIdentity{1, 8}, record, 3), 3);
    EXPECT_EQ(ShiftHoursFor("/a/x.jpg", FileIdentity{1, 8}, record, 0), 0);
    EXPECT_EQ(ShiftHoursFor("/a/shifted.jpg", std::nullopt, record, 3), 0);
    EXPECT_EQ(ShiftHoursFor("/b/link.jpg", FileIdentity{1, 7}, record, 3), 0);
    EXPECT_EQ(ShiftHoursFor("/a/old.jpg", std::nullopt, record, 3), 0);
    // The name a picture was given is still shifted when the list names it.
    EXPECT_EQ(ShiftHoursFor("/a/new.JPG", std::nullopt, record, 3), 3);
}

} // namespace
