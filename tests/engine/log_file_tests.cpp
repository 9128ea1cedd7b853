// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
// How a new log file takes the place of the old one: whole or not at all.
#include "file_error.h"
#include "log_file.h"
#include "run_as_nobody.h"
#include "run_log.h"
#include "temp_dir.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace kronvik;
using namespace kronvik::test;
namespace fs = std::filesystem;

namespace {

const std::string kOldLog = "2005-07-14 09:03:27: the previous run\r\n";

std::vector<std::string> NamesIn(const std::string &folder)
{
    std::vector<std::string> names;
    for (const auto &entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

RunLogLines LogOf(std::size_t lines)
{
    RunLogLines log;
    for (std::size_t i = 0; i < lines; ++i)
        log.AppendLogLine("2006-01-02 03:04:05:    IMG_" + std::to_string(i)
                          + ".JPG -> 2006-01-02 03.04.05.JPG");
    return log;
}

// What the log file of `log` holds.
std::string TextOf(const RunLogLines &log)
{
    std::string text;
    for (const std::string &line : log.Lines())
        text += line + "\r\n";
    return text;
}

// The message of the file error WriteLogFile raises, or "" when it raises none.
std::string FailureOf(const RunLog &log, std::string logDirectory)
{
    try {
        WriteLogFile(log, true, logDirectory);
    } catch (const FileError &error) {
        return error.Message();
    }
    return "";
}

// A tmpfs of `size` mounted on a fresh folder for as long as the object lives.
class SmallFileSystem
{
public:
    explicit SmallFileSystem(const std::string &size)
    {
        fs::create_directory(m_point);
        if (mount("tmpfs", m_point.c_str(), "tmpfs", 0, ("size=" + size).c_str()) != 0)
            m_error = errno;
    }
    ~SmallFileSystem()
    {
        if (m_error == 0)
            umount2(m_point.c_str(), MNT_DETACH);
    }
    int Error() const { return m_error; }
    const std::string &Path() const { return m_point; }

private:
    TempDir m_dir;
    std::string m_point = m_dir / "small";
    int m_error = 0;
};

TEST(ANewLogFile, leavesTheOldLogWholeAndNoTemporaryFileWhenTheDiskIsFull)
{
    SmallFileSystem disk("256k");
    if (disk.Error() != 0)
        GTEST_SKIP() << "cannot mount a small tmpfs to fill (needs root): "
                     << std::strerror(disk.Error());
    const std::string oldLog = kOldLog + std::string(20000, 'x') + "\r\n";
    WriteBytes(disk.Path() + "/Kronvik.log", oldLog);
    // Fill the disk but for a few pages, so the new log is cut off partway, not at its start.
    const std::string filler = disk.Path() + "/filler";
    {
        FILE *out = std::fopen(filler.c_str(), "wb");
        ASSERT_NE(out, nullptr);
        const std::string block(4096, 'f');
        while (std::fwrite(block.data(), 1, block.size(), out) == block.size()
               && std::fflush(out) == 0) { }
        std::fclose(out);
    }
    fs::resize_file(filler, fs::file_size(filler) - 3 * 4096);

    const RunLogLines log = LogOf(2000); // about 120 KB
    EXPECT_EQ(FailureOf(log, disk.Path()),
              "Disk full while accessing " + disk.Path() + "/Kronvik.log.");
    EXPECT_TRUE(ReadBytes(disk.Path() + "/Kronvik.log") == oldLog) << "the old log was changed";
    EXPECT_EQ(NamesIn(disk.Path()), (std::vector<std::string>{"Kronvik.log", "filler"}));

    // Once there is room again, the next close writes the log.
    fs::remove(filler);
    EXPECT_EQ(FailureOf(log, disk.Path()), "");
    EXPECT_TRUE(ReadBytes(disk.Path() + "/Kronvik.log") == TextOf(log)) << "not the new log";
    EXPECT_EQ(NamesIn(disk.Path()), (std::vector<std::string>{"Kronvik.log"}));
}

TEST(ANewLogFile, replacesALinkNamedKronvikLogInsteadOfWritingThroughIt)
{
    struct Row
    {
        const char *label;
        bool targetExists;
    } rows[] = {
            {"a link to another file", true},
            {"a dangling link", false},
    };
    for (const Row &row : rows) {
        TempDir dir;
        const std::string target = dir / "elsewhere.txt";
        if (row.targetExists)
            WriteBytes(target, "someone else's file");
        fs::create_symlink(target, dir / "Kronvik.log");

        const RunLogLines log = LogOf(2);
        EXPECT_EQ(FailureOf(log, dir.Path().string()), "") << row.label;
        EXPECT_FALSE(fs::is_symlink(dir / "Kronvik.log")) << row.label;
        EXPECT_EQ(ReadBytes(dir / "Kronvik.log"), TextOf(log)) << row.label;
        if (row.targetExists)
            EXPECT_EQ(ReadBytes(target), "someone else's file") << row.label;
        else
            EXPECT_FALSE(fs::exists(target)) << row.label;
    }
}

TEST(ANewLogFile, isASharingViolationWhileAnotherProcessHoldsTheOldLog)
{
    TempDir dir;
    const std::string path = dir / "Kronvik.log";
    WriteBytes(path, kOldLog);
    int locked[2], release[2];
    ASSERT_EQ(pipe(locked), 0);
    ASSERT_EQ(pipe(release), 0);
    const pid_t holder = fork();
    ASSERT_GE(holder, 0);
    if (holder == 0) {
        const int fd = open(path.c_str(), O_RDONLY);
        const bool held = fd >= 0 && flock(fd, LOCK_EX) == 0;
        char byte = held ? '1' : '0';
        if (write(locked[1], &byte, 1) != 1 || read(release[0], &byte, 1) < 0)
            _exit(2);
        _exit(held ? 0 : 1);
    }
    char byte = 0;
    ASSERT_EQ(read(locked[0], &byte, 1), 1);
    ASSERT_EQ(byte, '1');

    EXPECT_EQ(FailureOf(LogOf(3), dir.Path().string()),
              "Encountered a sharing violation while accessing " + path + ".");
    EXPECT_EQ(ReadBytes(path), kOldLog);
    EXPECT_EQ(NamesIn(dir.Path().string()), (std::vector<std::string>{"Kronvik.log"}));

    ASSERT_EQ(write(release[1], "x", 1), 1);
    int status = 0;
    waitpid(holder, &status, 0);
    EXPECT_EQ(FailureOf(LogOf(3), dir.Path().string()), "") << "the lock is gone with its holder";
    for (int fd : {locked[0], locked[1], release[0], release[1]})
        close(fd);
}

TEST(ANewLogFile, isAccessDeniedForAReadOnlyLogOrLogsDirectory)
{
    struct Row
    {
        const char *label;
        bool oldLog;
        mode_t logMode;
        mode_t folderMode;
    } rows[] = {
            {"a read-only log in a writable folder", true, 0444, 0777},
            {"a writable log in a read-only folder", true, 0666, 0555},
            {"no log yet in a read-only folder", false, 0, 0555},
    };
    for (const Row &row : rows) {
        TempDir dir;
        const std::string logs = dir / "logs";
        fs::create_directory(logs);
        const std::string path = logs + "/Kronvik.log";
        if (row.oldLog) {
            WriteBytes(path, kOldLog);
            chmod(path.c_str(), row.logMode);
        }
        chmod(dir.Path().c_str(), 0755);
        chmod(logs.c_str(), row.folderMode);
        const auto closeRefused = [&] {
            const std::string message = FailureOf(LogOf(3), logs);
            return message == "Access to " + path + " was denied." ? 0 : 1;
        };
        // The kernel lets the superuser write them; the close refuses it all the same.
        EXPECT_EQ(RunAsNobody(closeRefused), 0) << row.label;
        EXPECT_EQ(closeRefused(), 0) << row.label << ", by whoever runs the tests";
        if (row.oldLog) {
            EXPECT_EQ(ReadBytes(path), kOldLog) << row.label;
            EXPECT_EQ(NamesIn(logs), (std::vector<std::string>{"Kronvik.log"})) << row.label;
        } else {
            EXPECT_TRUE(NamesIn(logs).empty()) << row.label;
        }
    }
}

TEST(ANewLogFile, keepsThePermissionsOfTheLogItReplaces)
{
    TempDir dir;
    const std::string path = dir / "Kronvik.log";
    WriteBytes(path, kOldLog);
    chmod(path.c_str(), 0640);
    ASSERT_EQ(FailureOf(LogOf(1), dir.Path().string()), "");
    struct stat status
    {
    };
    ASSERT_EQ(stat(path.c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0640u);
}

TEST(ANewLogFile, isWrittenUpToTheLongestPathTheSystemTakes)
{
    struct Row
    {
        std::size_t pathBytes;
        bool written;
    } rows[] = {
            {PATH_MAX - 20, true},
            {PATH_MAX - 1, true}, // the longest path the system opens
            {PATH_MAX, false},
    };
    for (const Row &row : rows) {
        TempDir dir;
        // The logs directory is padded with "/." (and one more "/" where the length is odd).
        std::string logs = dir.Path().string();
        const std::size_t tail = 1 + std::strlen(kLogFileName);
        if ((row.pathBytes - tail - logs.size()) % 2 != 0)
            logs += "/";
        while (logs.size() + tail < row.pathBytes)
            logs += "/.";
        const std::string path = logs + "/" + kLogFileName;
        ASSERT_EQ(path.size(), row.pathBytes);
        const std::string failure = FailureOf(LogOf(2), logs);
        if (row.written) {
            ASSERT_EQ(failure, "") << row.pathBytes;
            EXPECT_EQ(ReadBytes(dir / kLogFileName), TextOf(LogOf(2))) << row.pathBytes;
        } else {
            EXPECT_EQ(failure, path + " contains an incorrect path.") << row.pathBytes;
        }
        EXPECT_EQ(NamesIn(dir.Path().string()).size(), row.written ? 1u : 0u) << row.pathBytes;
    }
}

} // namespace
