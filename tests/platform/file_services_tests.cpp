// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "file_services.h"

#include "directory_listing.h"
#include "exfat_mount.h"
#include "file_stamp.h"
#include "local_clock.h"
#include "temp_dir.h"

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

using kronvik::CalendarTime;
using kronvik::test::ReadBytes;
using kronvik::test::TempDir;
using kronvik::test::WriteBytes;

namespace {

struct RenameWay
{
    const char *name;
    std::function<int(const std::string &, const std::string &)> rename;
};

// The full rename and each of its fallbacks must keep the same promise.
const RenameWay kRenameWays[] = {
        {"renameat2", kronvik::RenameNoReplace},
        {"link and unlink", kronvik::detail::RenameByLink},
        {"placeholder", kronvik::detail::RenameOverPlaceholder},
        {"free name", kronvik::detail::RenameToFreeName},
};

// Pins the time zone for one test and restores the one in force before.
class TimeZone
{
public:
    explicit TimeZone(const char *zone)
    {
        if (const char *old = std::getenv("TZ"))
            m_old = old;
        m_hadOld = std::getenv("TZ") != nullptr;
        setenv("TZ", zone, 1);
        tzset();
    }
    ~TimeZone()
    {
        if (m_hadOld)
            setenv("TZ", m_old.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }

private:
    std::string m_old;
    bool m_hadOld = false;
};

struct stat StatusOf(const std::string &path)
{
    struct stat status
    {
    };
    EXPECT_EQ(stat(path.c_str(), &status), 0) << path;
    return status;
}

std::time_t Utc(int year, int month, int day, int hour, int minute, int second)
{
    std::tm utc{};
    utc.tm_year = year - 1900;
    utc.tm_mon = month - 1;
    utc.tm_mday = day;
    utc.tm_hour = hour;
    utc.tm_min = minute;
    utc.tm_sec = second;
    return timegm(&utc);
}

} // namespace

TEST(ARenameThatNeverReplaces, movesTheFileToAFreeName)
{
    for (const RenameWay &way : kRenameWays) {
        SCOPED_TRACE(way.name);
        TempDir dir;
        WriteBytes(dir / "IMG_0001.JPG", "picture");
        EXPECT_EQ(way.rename(dir / "IMG_0001.JPG", dir / "2005-07-14 09.03.27.JPG"), 0);
        EXPECT_FALSE(std::filesystem::exists(dir / "IMG_0001.JPG"));
        EXPECT_EQ(ReadBytes(dir / "2005-07-14 09.03.27.JPG"), "picture");
    }
}

TEST(ARenameThatNeverReplaces, refusesAnExistingTargetAndKeepsBothFiles)
{
    for (const RenameWay &way : kRenameWays) {
        SCOPED_TRACE(way.name);
        TempDir dir;
        WriteBytes(dir / "IMG_0001.JPG", "new");
        WriteBytes(dir / "2005-07-14 09.03.27.JPG", "already there");
        EXPECT_EQ(way.rename(dir / "IMG_0001.JPG", dir / "2005-07-14 09.03.27.JPG"), EEXIST);
        EXPECT_EQ(ReadBytes(dir / "IMG_0001.JPG"), "new");
        EXPECT_EQ(ReadBytes(dir / "2005-07-14 09.03.27.JPG"), "already there");
    }
}

TEST(ARenameThatNeverReplaces, refusesAnotherNameOfTheSameFile)
{
    // Two hard links of one file: rename(2) between them would do nothing and report success.
    struct Row
    {
        const char *name;
        const char *from;
        const char *to;
    } const rows[] = {
            {"names that differ by more than letter case", "IMG_0002.JPG",
             "2005-07-14 09.03.27.JPG"},
            {"names that differ only in letter case", "img_0001.jpg", "IMG_0001.JPG"},
    };
    for (const RenameWay &way : kRenameWays) {
        for (const Row &row : rows) {
            SCOPED_TRACE(std::string(way.name) + ", " + row.name);
            TempDir dir;
            WriteBytes(dir / row.from, "picture");
            ASSERT_EQ(link((dir / row.from).c_str(), (dir / row.to).c_str()), 0);
            EXPECT_EQ(way.rename(dir / row.from, dir / row.to), EEXIST);
            EXPECT_EQ(StatusOf(dir / row.from).st_nlink, 2u);
            EXPECT_EQ(ReadBytes(dir / row.to), "picture");
        }
    }
}

TEST(ARenameThatNeverReplaces, changesOnlyTheLetterCaseOnACaseInsensitiveFileSystem)
{
    kronvik::test::ExfatMount exfat;
    if (!exfat.IsMounted())
        GTEST_SKIP() << "no exFAT file system: " << exfat.Problem();
    WriteBytes(exfat / "img_0001.jpg", "picture");
    WriteBytes(exfat / "img_0002.jpg", "other");
    // The full rename and the placeholder: exFAT refuses links.
    EXPECT_EQ(kronvik::RenameNoReplace(exfat / "img_0001.jpg", exfat / "IMG_0001.JPG"), 0);
    EXPECT_EQ(
            kronvik::detail::RenameOverPlaceholder(exfat / "IMG_0001.JPG", exfat / "Img_0001.Jpg"),
            0);
    EXPECT_EQ(kronvik::RenameNoReplace(exfat / "Img_0001.Jpg", exfat / "IMG_0002.JPG"), EEXIST);
    std::vector<kronvik::DirectoryEntry> entries;
    ASSERT_TRUE(kronvik::ListDirectory(exfat / "", entries));
    std::set<std::string> names;
    for (const auto &entry : entries)
        names.insert(entry.name);
    EXPECT_EQ(names, (std::set<std::string>{"Img_0001.Jpg", "img_0002.jpg"}));
    EXPECT_EQ(ReadBytes(exfat / "img_0001.jpg"), "picture");
    EXPECT_EQ(ReadBytes(exfat / "img_0002.jpg"), "other");
}

TEST(ARenameThatNeverReplaces, keepsNamesThatAreNotUtf8ByteForByte)
{
    TempDir dir;
    const std::string latin1 = "Ferien \xe9t\xe9 \xff.jpg";
    WriteBytes(dir / latin1, "picture");
    ASSERT_EQ(kronvik::RenameNoReplace(dir / latin1, dir / "2005-07-14 09.03.27.JPG"), 0);
    ASSERT_EQ(kronvik::RenameNoReplace(dir / "2005-07-14 09.03.27.JPG", dir / ("\x80" + latin1)),
              0);
    std::vector<kronvik::DirectoryEntry> entries;
    ASSERT_TRUE(kronvik::ListDirectory(dir.Path().string(), entries));
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].name, "\x80" + latin1);
    EXPECT_EQ(ReadBytes(dir / ("\x80" + latin1)), "picture");
}

TEST(ARenameThatNeverReplaces, reportsAMissingSourceAndLeavesNoPlaceholder)
{
    for (const RenameWay &way : kRenameWays) {
        SCOPED_TRACE(way.name);
        TempDir dir;
        EXPECT_EQ(way.rename(dir / "missing.jpg", dir / "2005-07-14 09.03.27.JPG"), ENOENT);
        EXPECT_FALSE(std::filesystem::exists(dir / "2005-07-14 09.03.27.JPG"));
    }
}

TEST(AFileTime, roundTripsInLocalTimeIncludingSummerTime)
{
    TimeZone berlin("Europe/Berlin");
    TempDir dir;
    const std::string path = dir / "picture.jpg";
    WriteBytes(path, "picture");
    struct Row
    {
        const char *name;
        CalendarTime local;
        std::time_t utc;
    } const rows[] = {
            {"summer", {2005, 7, 14, 9, 3, 27}, Utc(2005, 7, 14, 7, 3, 27)},
            // The hour the clocks go back names two moments: always the first, whatever time
            // was converted before (mktime leans on the previous call's offset).
            {"the repeated hour after summer",
             {2005, 10, 30, 2, 30, 0},
             Utc(2005, 10, 30, 0, 30, 0)},
            {"winter", {2004, 12, 31, 23, 30, 0}, Utc(2004, 12, 31, 22, 30, 0)},
            {"the repeated hour after winter",
             {2005, 10, 30, 2, 30, 0},
             Utc(2005, 10, 30, 0, 30, 0)},
            {"before the epoch", {1969, 12, 31, 23, 0, 0}, Utc(1969, 12, 31, 22, 0, 0)},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        ASSERT_TRUE(kronvik::SetLastWriteTime(path, row.local));
        EXPECT_EQ(StatusOf(path).st_mtim.tv_sec, row.utc);
        EXPECT_EQ(StatusOf(path).st_mtim.tv_nsec, 0);
        CalendarTime read;
        ASSERT_TRUE(kronvik::ReadLastWriteTime(path, read));
        EXPECT_EQ(read, row.local);
    }
}

TEST(AFileTime, isReadInTheZoneInForceAtTheCall)
{
    // TZ changes without a call to tzset: every way to read a time must follow mktime, which
    // sets times in the zone in force at the call.
    TimeZone berlin("Europe/Berlin");
    TempDir dir;
    const std::string path = dir / "picture.jpg";
    WriteBytes(path, "picture");
    const std::time_t moment = Utc(2005, 7, 14, 7, 3, 27);
    const timespec times[2] = {{moment, 0}, {moment, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
    const CalendarTime inBerlin{2005, 7, 14, 9, 3, 27};
    const CalendarTime inTokyo{2005, 7, 14, 16, 3, 27};
    CalendarTime read;
    ASSERT_TRUE(kronvik::ReadLastWriteTime(path, read));
    ASSERT_EQ(read, inBerlin);
    setenv("TZ", "Asia/Tokyo", 1);

    struct Row
    {
        const char *name;
        std::function<CalendarTime()> read;
    } const rows[] = {
            {"last-write time",
             [&] {
                 CalendarTime local;
                 EXPECT_TRUE(kronvik::ReadLastWriteTime(path, local));
                 return local;
             }},
            {"file stamp",
             [&] {
                 kronvik::FileStamp stamp;
                 EXPECT_EQ(kronvik::StampFile(path, stamp), 0);
                 CalendarTime local;
                 EXPECT_TRUE(kronvik::LocalModificationTime(stamp, local));
                 return local;
             }},
            {"clock reading", [&] { return kronvik::BreakDownLocalTime(moment); }},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(row.read(), inTokyo);
    }
    EXPECT_EQ(kronvik::LocalTimeToSeconds(inTokyo), moment);
}

TEST(AFileTime, keepsTheAccessTime)
{
    TempDir dir;
    const std::string path = dir / "picture.jpg";
    WriteBytes(path, "picture");
    const timespec times[2] = {{1000000000, 123456789}, {1000000000, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
    ASSERT_TRUE(kronvik::SetLastWriteTime(path, {2005, 7, 14, 9, 3, 27}));
    EXPECT_EQ(StatusOf(path).st_atim.tv_sec, 1000000000);
    EXPECT_EQ(StatusOf(path).st_atim.tv_nsec, 123456789);
}

TEST(AFileTime, refusesAnInvalidCalendarTimeAndLeavesTheFileAlone)
{
    TempDir dir;
    const std::string path = dir / "picture.jpg";
    WriteBytes(path, "picture");
    ASSERT_TRUE(kronvik::SetLastWriteTime(path, {2005, 7, 14, 9, 3, 27}));
    const std::time_t before = StatusOf(path).st_mtime;
    for (const CalendarTime &invalid :
         {CalendarTime{2005, 13, 1, 0, 0, 0}, CalendarTime{2005, 2, 29, 0, 0, 0},
          CalendarTime{0, 0, 0, 0, 0, 0}}) {
        int error = -1;
        EXPECT_FALSE(kronvik::SetLastWriteTime(path, invalid, &error));
        EXPECT_EQ(error, 0); // no failed call to report
        EXPECT_EQ(StatusOf(path).st_mtime, before);
    }
}

TEST(AFileTime, thatTheFileSystemOrTheJournalCannotHoldLeavesTheFileAlone)
{
    // ext4 holds 1901 to 2446 and clamps other times without an error: a file left with the
    // clamped time would look modified since to an undo. The journal records 1677 to 2262.
    struct Row
    {
        CalendarTime time;
        bool refused; // always; else refused or held exactly, as the file system can
    } const rows[] = {
            {{9999, 12, 31, 23, 0, 0}, true},
            {{100, 1, 1, 0, 30, 0}, true},
            {{2300, 1, 1, 0, 0, 0}, true},
            {{1800, 1, 1, 0, 0, 0}, false},
    };
    TempDir dir;
    const std::string path = dir / "picture.jpg";
    WriteBytes(path, "picture");
    ASSERT_TRUE(kronvik::SetLastWriteTime(path, {2005, 7, 14, 9, 3, 27}));
    const timespec before = StatusOf(path).st_mtim;
    for (const Row &row : rows) {
        int error = 0;
        const bool set = kronvik::SetLastWriteTime(path, row.time, &error);
        if (set && !row.refused) {
            CalendarTime read;
            ASSERT_TRUE(kronvik::ReadLastWriteTime(path, read));
            EXPECT_EQ(read.year, row.time.year);
            ASSERT_TRUE(kronvik::SetLastWriteTime(path, {2005, 7, 14, 9, 3, 27}));
            continue;
        }
        EXPECT_FALSE(set) << row.time.year;
        EXPECT_EQ(error, EOVERFLOW) << row.time.year;
        EXPECT_EQ(StatusOf(path).st_mtim.tv_sec, before.tv_sec) << row.time.year;
        EXPECT_EQ(StatusOf(path).st_mtim.tv_nsec, before.tv_nsec) << row.time.year;
    }
}

TEST(AFileTime, cannotBeReadOrSetOnAMissingFile)
{
    TempDir dir;
    CalendarTime read;
    EXPECT_FALSE(kronvik::ReadLastWriteTime(dir / "missing.jpg", read));
    int error = 0;
    EXPECT_FALSE(kronvik::SetLastWriteTime(dir / "missing.jpg", {2005, 7, 14, 9, 3, 27}, &error));
    EXPECT_EQ(error, ENOENT);
}

TEST(AFileSystem, withOneSecondTimesIsNotTakenForFat)
{
    TempDir dir;
    EXPECT_FALSE(kronvik::KeepsTwoSecondTimes(dir.Path().string()));
    EXPECT_FALSE(kronvik::KeepsTwoSecondTimes(dir / "missing"));
}
