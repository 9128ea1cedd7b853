// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "exif_time_shift.h"

#include "file_error.h"
#include "jpeg_fixture.h"
#include "picture_reader.h"
#include "run_as_nobody.h"
#include "temp_dir.h"

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using kronvik::FileError;
using kronvik::FileErrorKind;
using kronvik::ShiftExifTime;
using kronvik::test::DateString;
using kronvik::test::ReadBytes;
using kronvik::test::TempDir;
using kronvik::test::WriteBytes;
namespace fs = std::filesystem;

namespace {

std::string Pair(const std::string &date)
{
    return DateString(date) + DateString(date);
}

// Bytes that never hold a NUL, so no date string can form in them by chance, behind the JPEG
// start bytes that the shift requires.
std::string Filler(std::size_t size)
{
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>(1 + (i * 37) % 250);
    return bytes.replace(0, std::min<std::size_t>(size, 3), "\xff\xd8\xff",
                         std::min<std::size_t>(size, 3));
}

std::string Place(std::string bytes, std::size_t at, const std::string &part)
{
    bytes.replace(at, part.size(), part);
    return bytes;
}

} // namespace

TEST(ATimeShift, movesBothStringsOfThePairByCalendarArithmetic)
{
    struct Row
    {
        const char *name;
        int hours;
        const char *before;
        const char *after;
    } const rows[] = {
            {"+2 hours on a summer morning", 2, "2005:07:14 09:03:27", "2005:07:14 11:03:27"},
            {"-10 hours rolls the day back", -10, "2005:07:14 09:03:27", "2005:07:13 23:03:27"},
            {"+1 hour crosses New Year", 1, "2004:12:31 23:30:00", "2005:01:01 00:30:00"},
            {"+24 hours reaches the leap day", 24, "2004:02:28 10:00:00", "2004:02:29 10:00:00"},
            {"+24 hours skips February 29 in 2005", 24, "2005:02:28 10:00:00",
             "2005:03:01 10:00:00"},
            {"-1 hour crosses New Year backwards", -1, "2005:01:01 00:30:00",
             "2004:12:31 23:30:00"},
            {"+25 hours across a century year", 25, "2100:02:28 23:00:00", "2100:03:02 00:00:00"},
            {"year 100 is written with four digits", 1, "0100:01:01 00:30:00",
             "0100:01:01 01:30:00"},
            {"blanks and signs scan as numbers", 2, "+2005:07:14  9:3:27", "2005:07:14 11:03:27"},
            {"fields are taken modulo 65536", 2, "2005:65543:1 9:3:27", "2005:07:01 11:03:27"},
    };
    TempDir dir;
    const std::string path = dir / "picture.jpg";
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        const std::string original = Place(Filler(2000), 100, Pair(row.before));
        WriteBytes(path, original);
        ShiftExifTime(path, row.hours);
        EXPECT_EQ(ReadBytes(path), Place(original, 100, Pair(row.after)));
    }
}

TEST(ATimeShift, changesOnlyTheFirstValidPairInTheWindow)
{
    const std::string date = "2005:07:14 09:03:27";
    const std::string shifted = "2005:07:14 11:03:27";
    struct Row
    {
        const char *name;
        std::size_t fileSize;
        std::vector<std::pair<std::size_t, std::string>> parts;
        std::vector<std::pair<std::size_t, std::string>> expectedChanges;
    } const rows[] = {
            {"a pair at the last offset of the window",
             10300,
             {{10239, Pair(date)}},
             {{10239, Pair(shifted)}}},
            {"a pair just past the window", 10300, {{10240, Pair(date)}}, {}},
            {"a pair ending where a short file ends",
             500,
             {{460, Pair(date)}},
             {{460, Pair(shifted)}}},
            {"a pair cut short by the end of the file", 479, {{460, Pair(date).substr(0, 19)}}, {}},
            {"only the lowest of several pairs",
             2000,
             {{300, Pair(date)}, {900, Pair(date)}},
             {{300, Pair(shifted)}}},
            {"a single string", 2000, {{300, DateString(date)}}, {}},
            {"two different strings, then a pair",
             2000,
             {{100, DateString(date) + DateString("2005:07:14 09:03:28")}, {500, Pair(date)}},
             {{500, Pair(shifted)}}},
            {"strings without numbers, then a pair",
             2000,
             {{100, Pair("Canon PowerShot G2 ")}, {500, Pair(date)}},
             {{500, Pair(shifted)}}},
            {"a partly scanning string", 2000, {{100, Pair("2005:07            ")}}, {}},
            {"an all-zero date, then a pair",
             2000,
             {{100, Pair("0000:00:00 00:00:00")}, {500, Pair(date)}},
             {{500, Pair(shifted)}}},
            {"a date with month 13", 2000, {{100, Pair("2005:13:14 09:03:27")}}, {}},
            {"a shift past the year 9999", 2000, {{100, Pair("9999:12:31 22:30:00")}}, {}},
            {"a year before 100", 2000, {{100, Pair("0099:12:31 23:30:00")}}, {}},
            {"a file without any pair", 300, {}, {}},
            {"an empty file", 0, {}, {}},
    };
    TempDir dir;
    const std::string path = dir / "picture.jpg";
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        std::string original = Filler(row.fileSize);
        for (const auto &[at, bytes] : row.parts)
            original = Place(original, at, bytes);
        std::string expected = original;
        for (const auto &[at, bytes] : row.expectedChanges)
            expected = Place(expected, at, bytes);
        WriteBytes(path, original);
        ShiftExifTime(path, 2);
        EXPECT_EQ(ReadBytes(path), expected);
    }
}

TEST(ATimeShift, refusesAShiftThatLeavesTheYears100To9999)
{
    EXPECT_EQ(kronvik::ShiftDateString("9999:12:31 23:00:00", 1), std::nullopt);
    EXPECT_EQ(kronvik::ShiftDateString("0100:01:01 00:30:00", -1), std::nullopt);
    EXPECT_EQ(kronvik::ShiftDateString("9999:12:31 22:00:00", 1), "9999:12:31 23:00:00");
}

TEST(ATimeShift, movesTheCaptureDatesOfARealPicture)
{
    TempDir dir;
    const std::string path = dir / "IMG_0001.JPG";
    kronvik::test::WriteJpegWithExif(path,
                                     {{"Exif.Photo.DateTimeOriginal", "2005:07:14 09:03:27"},
                                      {"Exif.Photo.DateTimeDigitized", "2005:07:14 09:03:27"}});
    const std::string before = ReadBytes(path);
    const auto at = before.find(Pair("2005:07:14 09:03:27"));
    ASSERT_NE(at, std::string::npos) << "the fixture holds no date pair";
    ShiftExifTime(path, -10);
    EXPECT_EQ(ReadBytes(path), Place(before, at, Pair("2005:07:13 23:03:27")));
}

TEST(ATimeShift, reportsAPictureLockedByAnotherOpenAsASharingViolation)
{
    TempDir dir;
    const std::string path = dir / "picture.jpg";
    const std::string original = Place(Filler(500), 10, Pair("2005:07:14 09:03:27"));
    WriteBytes(path, original);
    const int holder = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(flock(holder, LOCK_EX | LOCK_NB), 0);
    // The shift's own open, and the open of a read made ahead, which the shift locks at its turn.
    for (const bool readOpened : {false, true}) {
        SCOPED_TRACE(readOpened ? "opened by the read" : "opened by the shift");
        kronvik::PlannedShift plan{
                original.substr(0, 50), 10, Pair("2005:07:14 11:03:27"), {}, false, {}, {}};
        plan.stamp.emplace();
        if (readOpened) {
            ASSERT_EQ(plan.opened.OpenExistingUnlocked(path, &*plan.stamp), 0);
        }
        try {
            ShiftExifTime(path, 2, plan);
            ADD_FAILURE() << "no file error";
        } catch (const FileError &error) {
            EXPECT_EQ(error.Kind(), FileErrorKind::SharingViolation);
            EXPECT_EQ(error.Message(),
                      "Encountered a sharing violation while accessing " + path + ".");
        }
    }
    close(holder);
    EXPECT_EQ(ReadBytes(path), original);
}

TEST(ATimeShift, isNotKeptFromAFileByAReadHoldingAnotherNameOfItOpen)
{
    TempDir dir;
    const std::string path = dir / "picture.jpg";
    WriteBytes(path, Place(Filler(500), 10, Pair("2005:07:14 09:03:27")));
    ASSERT_EQ(link(path.c_str(), (dir / "again.jpg").c_str()), 0);
    // A read of the second name, made ahead while the first waits for its turn.
    const kronvik::PictureRead read = kronvik::ReadPicture(dir / "again.jpg", 2, true);
    ASSERT_TRUE(read.update.IsOpen());
    EXPECT_NO_THROW(ShiftExifTime(path, 2));
    EXPECT_EQ(ReadBytes(path).substr(10, 40), Pair("2005:07:14 11:03:27"));
}

TEST(ATimeShift, reportsAReadOnlyPictureAsAccessDenied)
{
    // chmod does not stop root: the shift runs in a child process that gives up root first.
    TempDir dir;
    ASSERT_EQ(chmod(dir.Path().c_str(), 0755), 0);
    const std::string path = dir / "picture.jpg";
    const std::string original = Place(Filler(500), 10, Pair("2005:07:14 09:03:27"));
    WriteBytes(path, original);
    ASSERT_EQ(chmod(path.c_str(), 0444), 0);
    const std::string expected = "Access to " + path + " was denied.";
    EXPECT_EXIT(
            {
                if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
                    std::_Exit(3);
                try {
                    ShiftExifTime(path, 2);
                } catch (const FileError &error) {
                    std::fprintf(stderr, "%s\n", error.Message().c_str());
                    std::_Exit(error.Kind() == FileErrorKind::AccessDenied
                                               && error.Message() == expected
                                       ? 0
                                       : 1);
                }
                std::_Exit(2);
            },
            ::testing::ExitedWithCode(0), "Access to .* was denied\\.");
    EXPECT_EQ(ReadBytes(path), original);
}

TEST(ATimeShift, reportsAFailedWriteByItsCauseNotAsAFullDisk)
{
    // A file-size limit below the pair's offset makes the write fail with EFBIG, an error of no
    // listed kind; the limit is set in a child process so that the tests go on without it.
    TempDir dir;
    const std::string path = dir / "picture.jpg";
    const std::string original = Place(Filler(5000), 4000, Pair("2005:07:14 09:03:27"));
    WriteBytes(path, original);
    const std::string expected = "An unknown error occurred while accessing " + path + ".";
    EXPECT_EXIT(
            {
                std::signal(SIGXFSZ, SIG_IGN);
                rlimit limit{};
                limit.rlim_cur = limit.rlim_max = 100;
                if (setrlimit(RLIMIT_FSIZE, &limit) != 0)
                    std::_Exit(3);
                try {
                    ShiftExifTime(path, 2);
                } catch (const FileError &error) {
                    std::fprintf(stderr, "%s\n", error.Message().c_str());
                    std::_Exit(error.Kind() == FileErrorKind::Generic && error.Message() == expected
                                       ? 0
                                       : 1);
                }
                std::_Exit(2);
            },
            ::testing::ExitedWithCode(0), "An unknown error occurred while accessing .*");
    EXPECT_EQ(ReadBytes(path), original);
}

TEST(ATimeShift, passesOverEntriesThatAreMissingOrNoRegularFile)
{
    struct Row
    {
        const char *name;
        std::function<void(const std::string &path)> make;
    } const rows[] = {
            {"a vanished file", [](const std::string &) {}},
            {"a dangling link",
             [](const std::string &path) { fs::create_symlink("nowhere.jpg", path); }},
            {"a link loop",
             [](const std::string &path) {
                 fs::create_symlink(path + ".other", path);
                 fs::create_symlink(path, path + ".other");
             }},
            {"a link to /dev/null",
             [](const std::string &path) { fs::create_symlink("/dev/null", path); }},
            {"a FIFO", [](const std::string &path) { ASSERT_EQ(mkfifo(path.c_str(), 0600), 0); }},
            {"a directory", [](const std::string &path) { fs::create_directory(path); }},
            {"a link into a file as if it were a folder",
             [](const std::string &path) {
                 WriteBytes(path + ".file", "text");
                 fs::create_directory_symlink(path + ".file/sub", path);
             }},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        TempDir dir;
        const std::string path = dir / "IMG_0001.JPG";
        row.make(path);
        EXPECT_NO_THROW(ShiftExifTime(path, 2));
    }
}

TEST(ATimeShift, passesOverAReadOnlyFileThatIsNotAJpeg)
{
    // It would never be written, so that it cannot be opened for writing is no file error.
    TempDir dir;
    ASSERT_EQ(chmod(dir.Path().c_str(), 0755), 0);
    const std::string text = dir / "notes.jpg";
    WriteBytes(text, "taken at " + Pair("2005:07:14 09:03:27"));
    ASSERT_EQ(chmod(text.c_str(), 0444), 0);
    const int outcome = kronvik::test::RunAsNobody([&] {
        try {
            ShiftExifTime(text, 2);
        } catch (const FileError &) {
            return 1;
        }
        return 0;
    });
    EXPECT_EQ(outcome, 0);
}

// A read keeps the file's bytes up to the end of the pair it found: at the picture's turn a change
// after them leaves the plan standing, and any change before its end sends the shift through the
// whole window again.
TEST(ATimeShift, tellsAWriteItsPlanDidNotForeseeBeforeMakingIt)
{
    TempDir dir;
    const std::string path = dir / "p.jpg";
    const std::string planned = Place(Filler(4096), 100, Pair("2005:07:14 09:03:27"));
    const std::string found = Place(Filler(4096), 100, Pair("2006:01:01 10:00:00"));
    const std::string moved = Place(Filler(4096), 3000, Pair("2006:01:01 10:00:00"));
    const std::string changedAfter = Place(planned, 2000, "\xff\xe1");
    const std::size_t whole = kronvik::kShiftReadBytes;
    const std::size_t toPairEnd = 140;
    const struct
    {
        const std::string &onDisk;
        std::size_t planKeeps; // bytes of the file the plan holds
        bool refuse; // the one told throws
        std::string told; // what it was told: offset, 40 bytes before, 40 after
        std::size_t at;
        std::string left; // the pair the file holds there afterwards
    } rows[] = {
            {planned, whole, false, "", 100, Pair("2005:07:14 11:03:27")},
            {found, whole, false,
             "100 " + Pair("2006:01:01 10:00:00") + " " + Pair("2006:01:01 12:00:00"), 100,
             Pair("2006:01:01 12:00:00")},
            {found, whole, true,
             "100 " + Pair("2006:01:01 10:00:00") + " " + Pair("2006:01:01 12:00:00"), 100,
             Pair("2006:01:01 10:00:00")},
            {changedAfter, toPairEnd, false, "", 100, Pair("2005:07:14 11:03:27")},
            {moved, toPairEnd, false,
             "3000 " + Pair("2006:01:01 10:00:00") + " " + Pair("2006:01:01 12:00:00"), 3000,
             Pair("2006:01:01 12:00:00")},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.told);
        WriteBytes(path, row.onDisk);
        kronvik::PlannedShift plan{planned.substr(0, row.planKeeps),
                                   100,
                                   Pair("2005:07:14 11:03:27"),
                                   std::nullopt,
                                   false,
                                   {},
                                   {}};
        std::string told;
        plan.beforeUnforeseenWrite = [&](std::size_t offset, std::string_view before,
                                         std::string_view after) {
            told = std::to_string(offset) + " " + std::string(before) + " " + std::string(after);
            if (row.refuse)
                throw std::runtime_error("no row");
        };
        if (row.refuse)
            EXPECT_THROW(ShiftExifTime(path, 2, plan), std::runtime_error);
        else
            EXPECT_NO_THROW(ShiftExifTime(path, 2, plan));
        EXPECT_EQ(told, row.told);
        EXPECT_EQ(ReadBytes(path).substr(row.at, 40), row.left);
    }
}

// The status the file was read with is part of the plan: a file with the same first bytes that
// was touched or replaced since is not the one planned, and is left for its caller to read again.
// A write tells the status it gave the file.
TEST(ATimeShift, writesAsPlannedOnlyAFileWithTheStatusItWasReadWith)
{
    TempDir dir;
    const std::string path = dir / "p.jpg";
    const std::string bytes = Place(Filler(4096), 100, Pair("2005:07:14 09:03:27"));
    const struct
    {
        const char *change; // made between the read and the shift
        bool asPlanned;
    } rows[] = {{"none", true}, {"touched", false}, {"replaced", false}};
    // The read may have kept the file open for the shift: the shift then writes through that open
    // only while the path still names the same file, unchanged.
    for (const bool readOpened : {false, true}) {
        for (const auto &row : rows) {
            SCOPED_TRACE(std::string(row.change) + (readOpened ? ", opened by the read" : ""));
            fs::remove(dir / "old.jpg");
            WriteBytes(path, bytes);
            kronvik::FileStamp read;
            ASSERT_EQ(kronvik::StampFile(path, read), 0);
            kronvik::LockedFile opened;
            if (readOpened) {
                ASSERT_EQ(opened.OpenExistingUnlocked(path), 0);
            }
            if (std::string(row.change) == "touched") {
                const timespec times[2] = {{0, UTIME_OMIT}, {1000000000, 0}};
                ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
            } else if (std::string(row.change) == "replaced") {
                ASSERT_EQ(link(path.c_str(), (dir / "old.jpg").c_str()), 0);
                WriteBytes(dir / "new.jpg", bytes);
                fs::rename(dir / "new.jpg", path);
            }
            const kronvik::PlannedShift plan{bytes.substr(0, kronvik::kShiftReadBytes),
                                             100,
                                             Pair("2005:07:14 11:03:27"),
                                             read,
                                             true,
                                             {},
                                             std::move(opened)};
            const kronvik::ShiftMade made = ShiftExifTime(path, 2, plan);
            if (std::string(row.change) == "replaced") {
                EXPECT_EQ(ReadBytes(dir / "old.jpg"), bytes);
            }
            EXPECT_EQ(made.asPlanned, row.asPlanned);
            EXPECT_EQ(ReadBytes(path).substr(100, 40),
                      Pair(row.asPlanned ? "2005:07:14 11:03:27" : "2005:07:14 09:03:27"));
            kronvik::FileStamp after;
            ASSERT_EQ(kronvik::StampFile(path, after), 0);
            EXPECT_EQ(made.written.has_value(), row.asPlanned);
            if (made.written) {
                EXPECT_TRUE(*made.written == after);
            }
        }
    }
}
