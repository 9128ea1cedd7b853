// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "file_error.h"
#include "log_file.h"
#include "recording_front_end.h"
#include "run_log.h"
#include "temp_dir.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <set>

using namespace kronvik;
using namespace kronvik::test;
namespace fs = std::filesystem;

namespace {

TEST(ALogLinePrefix, padsTheYearWithBlanksAndTheOtherFieldsWithZeros)
{
    const char *format = "%4d-%02d-%02d %02d:%02d:%02d: %s";
    EXPECT_EQ(FormatLogLine({2005, 7, 14, 9, 3, 27}, format, "x"), "2005-07-14 09:03:27: x");
    EXPECT_EQ(FormatLogLine({999, 1, 2, 0, 0, 0}, format, "x"), " 999-01-02 00:00:00: x");
    EXPECT_EQ(FormatLogLine({0, 0, 0, -1, -1, -1}, format, "x"), "   0-00-00 -1:-1:-1: x");
}

TEST(ALogLinePrefix, takesItsFieldsFromOneReadingOfThePinnedClock)
{
    EngineSandbox sandbox;
    EXPECT_EQ(ReadLogTime(sandbox.session.clock), (CalendarTime{2006, 1, 2, 3, 4, 5}));
}

TEST(ALogLine, neverReadsItsValuesAsAFormat)
{
    EXPECT_EQ(FormatLogLine({2005, 7, 14, 9, 3, 27}, "%4d-%02d-%02d %02d:%02d:%02d:    %s -> %s",
                            "%s%n.jpg", "%d"),
              "2005-07-14 09:03:27:    %s%n.jpg -> %d");
}

TEST(AFileError, namesThePathInTheMessageOfItsKind)
{
    EXPECT_EQ(FileError(FileErrorKind::BadPath, "/x/Kronvik.log").Message(),
              "/x/Kronvik.log contains an incorrect path.");
    EXPECT_EQ(FileError(FileErrorKind::AccessDenied, "/p/x.jpg").Message(),
              "Access to /p/x.jpg was denied.");
    EXPECT_EQ(FileError(FileErrorKind::Generic, "a%1").Message(),
              "An unknown error occurred while accessing a%1.");
    EXPECT_EQ(FileError(FileErrorKind::BadSeek, "f").Message(), "Seek failed on f");
}

class ALogFile : public ::testing::Test
{
protected:
    ALogFile()
    {
        log.AppendLogLine("2005-07-14 09:03:27: Digital pictures found in /p: 1");
        log.AppendLogLine("2005-07-14 09:03:28:    a.jpg -> 2005-07-14 09.03.27.JPG");
    }

    TempDir dir;
    RunLogLines log;
};

TEST_F(ALogFile, holdsEveryLineEndedByCarriageReturnAndLineFeed)
{
    std::string logDir = dir.Path().string();
    WriteLogFile(log, true, logDir);
    EXPECT_EQ(logDir, dir.Path().string() + "/");
    EXPECT_EQ(ReadBytes(dir / "Kronvik.log"),
              "2005-07-14 09:03:27: Digital pictures found in /p: 1\r\n"
              "2005-07-14 09:03:28:    a.jpg -> 2005-07-14 09.03.27.JPG\r\n");
}

TEST_F(ALogFile, isCreatedAnewAndKeepsADirectoryThatEndsInASeparator)
{
    WriteBytes(dir / "Kronvik.log", std::string(1000, 'x'));
    RunLogLines second;
    second.AppendLogLine("second run");
    std::string logDir = dir.Path().string() + "/";
    WriteLogFile(second, true, logDir);
    EXPECT_EQ(logDir, dir.Path().string() + "/");
    EXPECT_EQ(ReadBytes(dir / "Kronvik.log"), "second run\r\n");
}

TEST_F(ALogFile, clearsTheTemporaryFilesThatKilledWritersLeftButNotALiveOnes)
{
    const auto twoHoursAgo = fs::file_time_type::clock::now() - std::chrono::hours(2);
    for (const char *name : {"Kronvik.log.tmp.a1B2c3", "Kronvik.log.tmp", "Kronvik.log.tmp.d4E5f6",
                             "notes.tmp.a1B2c3", "Kronvik.log.tmp.toolong"}) {
        WriteBytes(dir / name, "x");
        if (std::string(name) != "Kronvik.log.tmp.d4E5f6")
            fs::last_write_time(dir / name, twoHoursAgo);
    }
    std::string logDir = dir.Path().string();
    WriteLogFile(log, true, logDir);
    std::set<std::string> left;
    for (const auto &entry : fs::directory_iterator(dir.Path()))
        left.insert(entry.path().filename());
    // The fresh one may belong to a log being written at this moment; the log writer never
    // made a "Kronvik.log.tmp".
    EXPECT_EQ(left,
              (std::set<std::string>{"Kronvik.log", "Kronvik.log.tmp", "Kronvik.log.tmp.d4E5f6",
                                     "notes.tmp.a1B2c3", "Kronvik.log.tmp.toolong"}));
}

TEST_F(ALogFile, isLeftAloneWhenSavingIsOffOrTheLogIsEmpty)
{
    WriteBytes(dir / "Kronvik.log", "earlier");
    std::string logDir = dir.Path().string();
    WriteLogFile(log, false, logDir);
    RunLogLines empty;
    WriteLogFile(empty, true, logDir);
    EXPECT_EQ(ReadBytes(dir / "Kronvik.log"), "earlier");
    EXPECT_EQ(logDir, dir.Path().string());
}

TEST_F(ALogFile, inAMissingDirectoryIsAFileErrorNamingThePathAsBuilt)
{
    std::string logDir = dir / "missing";
    try {
        WriteLogFile(log, true, logDir);
        FAIL() << "no error";
    } catch (const FileError &error) {
        EXPECT_EQ(error.Message(), dir / "missing" + "/Kronvik.log contains an incorrect path.");
    }
    EXPECT_EQ(logDir, dir / "missing" + "/");
}

TEST_F(ALogFile, withoutALogsDirectoryGoesToThePerUserStateFolder)
{
    const char *old = std::getenv("XDG_STATE_HOME");
    const std::string saved = old ? old : "";
    setenv("XDG_STATE_HOME", (dir / "state").c_str(), 1);
    std::string logDir;
    WriteLogFile(log, true, logDir);
    old ? setenv("XDG_STATE_HOME", saved.c_str(), 1) : unsetenv("XDG_STATE_HOME");
    EXPECT_TRUE(logDir.empty());
    EXPECT_TRUE(fs::exists(dir / "state/kronvik/Kronvik.log"));
    for (const char *made : {"state", "state/kronvik"})
        EXPECT_EQ(fs::status(dir / made).permissions() & fs::perms::all, fs::perms::owner_all)
                << made;
}

} // namespace
