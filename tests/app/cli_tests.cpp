// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
// kronvik-cli as a process: its standard output, standard error, exit status and the files it
// leaves behind.
#include "file_services.h"
#include "jpeg_fixture.h"
#include "run_as_nobody.h"
#include "temp_dir.h"

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <iostream>
#include <map>
#include <regex>
#include <sched.h>
#include <sstream>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace kronvik;
using namespace kronvik::test;
namespace fs = std::filesystem;

namespace {

struct CliRun
{
    int status = -1;
    std::string out;
    std::string err;

    std::vector<std::string> Lines() const
    {
        std::vector<std::string> lines;
        std::istringstream stream(out);
        for (std::string line; std::getline(stream, line);)
            lines.push_back(line);
        return lines;
    }
    // The lines without their time prefix.
    std::vector<std::string> Messages() const
    {
        std::vector<std::string> messages;
        for (const auto &line : Lines())
            messages.push_back(line.size() > 21 ? line.substr(21) : line);
        return messages;
    }
};

[[noreturn]] void ExecCli(const std::vector<std::string> &args, const std::string &out,
                          const std::string &err)
{
    std::vector<char *> argv{const_cast<char *>(KRONVIK_CLI_PATH)};
    for (const auto &arg : args)
        argv.push_back(const_cast<char *>(arg.c_str()));
    argv.push_back(nullptr);
    int outFd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    int errFd = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    dup2(outFd, STDOUT_FILENO);
    dup2(errFd, STDERR_FILENO);
    setenv("TZ", "UTC", 1);
    execv(KRONVIK_CLI_PATH, argv.data());
    _exit(127);
}

class TheCli : public ::testing::Test
{
protected:
    CliRun Run(const std::vector<std::string> &args, bool asNobody = false)
    {
        const std::string out = output / "out", err = output / "err";
        CliRun run;
        if (asNobody) {
            chmod(output.Path().c_str(), 0777);
            run.status = RunAsNobody([&]() -> int { ExecCli(args, out, err); });
        } else {
            pid_t child = fork();
            if (child == 0)
                ExecCli(args, out, err);
            int status = 0;
            waitpid(child, &status, 0);
            run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }
        run.out = ReadBytes(out);
        run.err = ReadBytes(err);
        return run;
    }

    static constexpr int kNoMount = 77;

    // Runs the tool in a mount namespace of its own where `folder` is mounted read-only. Gives
    // the status kNoMount when that cannot be made (not root, no namespaces).
    CliRun RunOnReadOnlyMount(const std::string &folder, const std::vector<std::string> &args)
    {
        const std::string out = output / "out", err = output / "err";
        CliRun run;
        pid_t child = fork();
        if (child == 0) {
            if (unshare(CLONE_NEWNS) != 0
                || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0
                || mount(folder.c_str(), folder.c_str(), nullptr, MS_BIND, nullptr) != 0
                || mount(nullptr, folder.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY,
                         nullptr)
                           != 0)
                _exit(kNoMount);
            ExecCli(args, out, err);
        }
        int status = 0;
        waitpid(child, &status, 0);
        run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        if (run.status != kNoMount) {
            run.out = ReadBytes(out);
            run.err = ReadBytes(err);
        }
        return run;
    }

    std::string Picture(const std::string &name, const std::string &date)
    {
        fs::create_directories(fs::path(pictures / name).parent_path());
        WriteJpegWithExif(pictures / name, {{"Exif.Photo.DateTimeOriginal", date},
                                            {"Exif.Photo.DateTimeDigitized", date}});
        return pictures / name;
    }

    TempDir pictures;
    TempDir output;
};

TEST_F(TheCli, showsItsUsageAndVersion)
{
    CliRun help = Run({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("Usage: kronvik-cli [OPTION]... SOURCE..."), std::string::npos);
    CliRun version = Run({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "kronvik-cli (Kronvik) 2.0.0.0\n");
}

TEST_F(TheCli, rejectsBadUsageWithStatus2)
{
    for (const auto &args : std::vector<std::vector<std::string>>{{},
                                                                  {"--bogus", "x"},
                                                                  {"-t", "1.5", "x"},
                                                                  {"-t", "two", "x"},
                                                                  {"-t", "", "x"},
                                                                  {"-t"}}) {
        CliRun run = Run(args);
        EXPECT_EQ(run.status, 2) << (args.empty() ? "" : args[0]);
        EXPECT_NE(run.err.find("Usage:"), std::string::npos);
        EXPECT_TRUE(run.out.empty());
    }
}

TEST_F(TheCli, datesATreeAndPrintsTheRunLogAsItGrows)
{
    Picture("2005/IMG_0001.JPG", "2005:07:14 09:03:27");
    Picture("2005/img_0002.jpg", "2005:07:14 10:00:00");
    WriteJpegWithExif(pictures / "bare.jpg", {});

    CliRun run = Run({pictures.Path().string()});
    EXPECT_EQ(run.status, 0) << run.err;
    const std::regex prefix(R"(^[ 0-9]{4}-\d\d-\d\d \d\d:\d\d:\d\d: .*)");
    for (const auto &line : run.Lines())
        EXPECT_TRUE(std::regex_match(line, prefix)) << line;

    const std::string root = pictures.Path().string();
    auto messages = run.Messages();
    ASSERT_EQ(messages.size(), 9u);
    // Two scan lines (post-order, the order within a folder is the kernel's), then the pass.
    EXPECT_EQ(messages[0], "Digital pictures found in " + root + "/2005: 2");
    EXPECT_EQ(messages[1], "Digital pictures found in " + root + ": 1");
    EXPECT_EQ(messages[7], "Digital pictures dated successfully: 2");
    EXPECT_EQ(messages[8], "Digital pictures dated unsuccessfully: 0");
    EXPECT_NE(std::find(messages.begin(), messages.end(),
                        "   IMG_0001.JPG -> 2005-07-14 09.03.27.JPG"),
              messages.end());
    EXPECT_NE(std::find(messages.begin(), messages.end(),
                        "   No EXIF data found in " + root + "/bare.jpg."),
              messages.end());

    CalendarTime time;
    setenv("TZ", "UTC", 1);
    tzset();
    ASSERT_TRUE(ReadLastWriteTime(pictures / "2005/2005-07-14 10.00.00.JPG", time));
    EXPECT_EQ(time, (CalendarTime{2005, 7, 14, 10, 0, 0}));
    unsetenv("TZ");
    tzset();
}

TEST_F(TheCli, exitsWith1WhenARenameIsRefusedAndKeepsBothFiles)
{
    Picture("a.jpg", "2005:07:14 09:03:27");
    const std::string second = Picture("b.jpg", "2005:07:14 09:03:27");
    CliRun run = Run({"-q", pictures.Path().string()});
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(run.out.empty());
    EXPECT_TRUE(fs::exists(second) || fs::exists(pictures / "a.jpg"));
    EXPECT_EQ(std::distance(fs::directory_iterator(pictures.Path()), fs::directory_iterator()), 2);
}

TEST_F(TheCli, refusesToRenameOneFileOntoItsOtherNameAndNeverClaimsItDid)
{
    const std::string first = Picture("IMG_0001.JPG", "2008:05:08 09:54:28");
    ASSERT_EQ(link(first.c_str(), (pictures / "IMG_0002.JPG").c_str()), 0);
    const std::string dated = pictures / "2008-05-08 09.54.28.JPG";

    // Whichever name comes first gets the date's name; the other is refused, at every run.
    for (const char *runName : {"first run", "second run"}) {
        SCOPED_TRACE(runName);
        CliRun run = Run({pictures.Path().string()});
        EXPECT_EQ(run.status, 1);
        std::size_t refusals = 0;
        for (const auto &message : run.Messages()) {
            if (message.find(" -> ") == std::string::npos)
                continue;
            const bool refused = message.ends_with(": File already exists!");
            refusals += refused;
            EXPECT_TRUE(refused || std::string(runName) == "first run") << message;
        }
        EXPECT_EQ(refusals, 1u);
        struct stat status
        {
        };
        ASSERT_EQ(stat(dated.c_str(), &status), 0);
        EXPECT_EQ(status.st_nlink, 2u);
        EXPECT_EQ(std::distance(fs::directory_iterator(pictures.Path()), fs::directory_iterator()),
                  2);
    }
}

TEST_F(TheCli, namesTheReasonWhenARenameFailsForAnyCauseButATakenName)
{
    struct Row
    {
        const char *name;
        bool asNobody;
        bool readOnlyMount;
        const char *reason;
    } const rows[] = {
            {"a folder the user may not write", true, false, "Permission denied"},
            {"a read-only file system", false, true, "Read-only file system"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        TempDir tree;
        ASSERT_EQ(chmod(tree.Path().c_str(), 0755), 0);
        const std::string picture = tree / "IMG_0001.JPG";
        WriteJpegWithExif(picture, {{"Exif.Photo.DateTimeDigitized", "2005:07:14 09:03:27"}});
        const std::string bytes = ReadBytes(picture);
        // Root writes anywhere: the tool then runs as nobody.
        if (row.asNobody) {
            ASSERT_EQ(chmod(tree.Path().c_str(), 0555), 0);
        }
        CliRun run;
        if (row.readOnlyMount) {
            run = RunOnReadOnlyMount(tree.Path().string(), {tree.Path().string()});
            if (run.status == kNoMount) {
                std::cerr << "skipped: cannot make a read-only mount without root\n";
                continue;
            }
        } else {
            run = Run({tree.Path().string()}, row.asNobody);
        }
        EXPECT_EQ(run.status, 1) << run.err;
        const auto messages = run.Messages();
        ASSERT_GE(messages.size(), 3u);
        EXPECT_EQ(messages[messages.size() - 3],
                  "   IMG_0001.JPG -> 2005-07-14 09.03.27.JPG: " + std::string(row.reason) + ".");
        EXPECT_EQ(messages.back(), "Digital pictures dated unsuccessfully: 1");
        EXPECT_EQ(ReadBytes(picture), bytes);
    }
}

TEST_F(TheCli, warnsOfATimeItCannotSetAndStillCountsThePictureDated)
{
    // Only the owner may set a file's times: nobody renames root's picture in a folder open to
    // all, but cannot set its time.
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root, to own a picture that the tool's user does not";
    ASSERT_EQ(chmod(pictures.Path().c_str(), 0777), 0);
    Picture("IMG_0001.JPG", "2005:07:14 09:03:27");
    CliRun run = Run({pictures.Path().string()}, true);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "kronvik-cli: could not set the time of "
                               + pictures / "2005-07-14 09.03.27.JPG"
                               + ": Operation not permitted\n");
    const auto messages = run.Messages();
    ASSERT_GE(messages.size(), 2u);
    EXPECT_EQ(messages[messages.size() - 2], "Digital pictures dated successfully: 1");
}

TEST_F(TheCli, joinsItsSourcesAndHonoursNoRecurse)
{
    Picture("A/a.jpg", "2005:07:14 09:03:27");
    Picture("A/S/s.jpg", "2005:07:14 09:03:28");
    Picture("B/b.jpg", "2005:07:14 09:03:29");
    CliRun run = Run({"-R", pictures / "A", pictures / "B" + ";;"});
    EXPECT_EQ(run.status, 0);
    auto messages = run.Messages();
    ASSERT_GE(messages.size(), 2u);
    EXPECT_EQ(messages[0], "Digital pictures found in " + pictures / "A" + ": 1");
    EXPECT_EQ(messages[1], "Digital pictures found in " + pictures / "B" + ": 1");
    EXPECT_TRUE(fs::exists(pictures / "A/S/s.jpg"));
}

TEST_F(TheCli, writesTheLogFileItPrinted)
{
    Picture("a.jpg", "2005:07:14 09:03:27");
    CliRun run = Run({"--log-dir", output.Path().string(), pictures.Path().string()});
    EXPECT_EQ(run.status, 0);
    std::string expected;
    for (const auto &line : run.Lines())
        expected += line + "\r\n";
    EXPECT_EQ(ReadBytes(output / "Kronvik.log"), expected);
}

TEST_F(TheCli, shiftsDatesByTheGivenHours)
{
    Picture("a.jpg", "2005:07:14 09:03:27");
    CliRun run = Run({"-t", "-10", pictures.Path().string()});
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_TRUE(fs::exists(pictures / "2005-07-13 23.03.27.JPG"));
}

TEST_F(TheCli, reportsAFileErrorWithStatus3AndStillWritesTheLog)
{
    Picture("a.jpg", "2005:07:14 09:03:27");
    const std::string locked = Picture("b.jpg", "2005:07:14 09:03:28");
    chmod(pictures.Path().c_str(), 0777);
    chmod((pictures / "a.jpg").c_str(), 0666);
    chmod(locked.c_str(), 0444);
    CliRun run = Run({"-t", "1", "-l", output.Path().string(), pictures.Path().string()}, true);
    EXPECT_EQ(run.status, 3);
    EXPECT_NE(run.err.find("Access to " + locked + " was denied."), std::string::npos) << run.err;
    for (const auto &message : run.Messages())
        EXPECT_EQ(message.find("Digital pictures dated"), std::string::npos);
    EXPECT_TRUE(fs::exists(output / "Kronvik.log"));
}

TEST_F(TheCli, shiftsEveryPictureOnceAndGoesOnPastEntriesThatAreNoPictures)
{
    struct Row
    {
        const char *name;
        std::function<std::string(const TempDir &)> prepare; // gives the source list
        std::size_t unreadableLines;
    } const rows[] = {
            {"a folder listed twice",
             [](const TempDir &tree) { return tree / "A" + ";" + tree / "A"; }, 3},
            {"a folder and its own subfolder",
             [](const TempDir &tree) { return tree / "A" + ";" + tree / "A/S"; }, 1},
            {"a dangling link, a link loop and a link to /dev/null",
             [](const TempDir &tree) {
                 fs::create_symlink("gone.jpg", tree / "A/dangling.jpg");
                 fs::create_symlink("loop2.jpg", tree / "A/loop1.jpg");
                 fs::create_symlink("loop1.jpg", tree / "A/loop2.jpg");
                 fs::create_symlink("/dev/null", tree / "A/null.jpg");
                 return tree / "A";
             },
             4},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        TempDir tree;
        const std::map<std::string, std::string> pictures = {
                {"A/IMG_0001.JPG", "2005:07:14 09:03:27"},
                {"A/IMG_0002.JPG", "2005:07:14 10:03:27"},
                {"A/S/IMG_0003.JPG", "2005:07:14 11:03:27"},
        };
        for (const auto &[name, date] : pictures) {
            fs::create_directories(fs::path(tree / name).parent_path());
            WriteJpegWithExif(tree / name, {{"Exif.Photo.DateTimeOriginal", date},
                                            {"Exif.Photo.DateTimeDigitized", date}});
        }
        CliRun run = Run({"-t", "2", row.prepare(tree)});
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.err, "");
        const auto messages = run.Messages();
        ASSERT_GE(messages.size(), 2u);
        EXPECT_EQ(messages[messages.size() - 2], "Digital pictures dated successfully: 3");
        std::size_t unreadable = 0;
        for (const auto &message : messages)
            unreadable += message.find(" not renamed; unreadable picture (") != std::string::npos;
        EXPECT_EQ(unreadable, row.unreadableLines);
        // Shifted once: named after, and holding, the date two hours on, never four.
        for (const char *name : {"A/2005-07-14 11.03.27.JPG", "A/2005-07-14 12.03.27.JPG",
                                 "A/S/2005-07-14 13.03.27.JPG"}) {
            const std::string bytes = ReadBytes(tree / name);
            const std::string date = std::string(name).substr(std::string(name).rfind('/') + 1);
            std::string exifDate = date.substr(0, 19);
            std::replace(exifDate.begin(), exifDate.end(), '-', ':');
            std::replace(exifDate.begin(), exifDate.end(), '.', ':');
            EXPECT_NE(bytes.find(exifDate), std::string::npos) << name;
        }
    }
}

TEST_F(TheCli, reportsALogDirectoryItCannotWriteTo)
{
    Picture("a.jpg", "2005:07:14 09:03:27");
    CliRun run = Run({"-l", output / "missing", pictures.Path().string()});
    EXPECT_EQ(run.status, 3);
    EXPECT_NE(run.err.find(output / "missing" + "/Kronvik.log contains an incorrect path."),
              std::string::npos);
}

TEST_F(TheCli, finishesThePictureAtHandOnCtrlCAndExitsWith130)
{
    for (int i = 0; i < 300; ++i)
        WriteJpegWithExif(pictures / ("p" + std::to_string(i) + ".jpg"), {});
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    pid_t child = fork();
    if (child == 0) {
        dup2(pipeFds[1], STDOUT_FILENO);
        close(pipeFds[0]);
        execl(KRONVIK_CLI_PATH, KRONVIK_CLI_PATH, pictures.Path().c_str(), nullptr);
        _exit(127);
    }
    close(pipeFds[1]);
    std::string out;
    char buffer[4096];
    bool signalled = false;
    for (ssize_t got; (got = read(pipeFds[0], buffer, sizeof buffer)) > 0;) {
        out.append(buffer, static_cast<std::size_t>(got));
        if (!signalled && out.find("Processing") != std::string::npos) {
            kill(child, SIGINT);
            signalled = true;
        }
    }
    close(pipeFds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 130);
    EXPECT_NE(out.find(": Digital pictures dated successfully: 0\n"), std::string::npos);
    EXPECT_NE(out.find(": Digital pictures dated unsuccessfully: 0\n"), std::string::npos) << out;
}

} // namespace
