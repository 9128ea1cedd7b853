// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
// kronvik-cli as a process: its standard output, standard error, exit status and the files it
// leaves behind.
#include "failing_listing_mount.h"
#include "file_services.h"
#include "jpeg_fixture.h"
#include "run_as_nobody.h"
#include "temp_dir.h"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <iostream>
#include <map>
#include <pwd.h>
#include <regex>
#include <sched.h>
#include <sstream>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/resource.h>
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

[[noreturn]] void ExecCli(const std::string &program, const std::vector<std::string> &args,
                          const std::string &out, const std::string &err)
{
    std::vector<char *> argv{const_cast<char *>(program.c_str())};
    for (const auto &arg : args)
        argv.push_back(const_cast<char *>(arg.c_str()));
    argv.push_back(nullptr);
    int outFd = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    int errFd = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    dup2(outFd, STDOUT_FILENO);
    dup2(errFd, STDERR_FILENO);
    setenv("TZ", "UTC", 1);
    execv(program.c_str(), argv.data());
    _exit(127);
}

// Makes `path` nobody's own, so that a run as nobody may also set its time.
void GiveToNobody(const std::string &path)
{
    const passwd *nobody = getpwnam("nobody");
    ASSERT_NE(nobody, nullptr);
    ASSERT_EQ(chown(path.c_str(), nobody->pw_uid, nobody->pw_gid), 0);
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
            // The user's own journal, as every user has one of their own.
            const std::string state = output / "state";
            mkdir(state.c_str(), 0777);
            chmod(state.c_str(), 0777);
            const ProgramCopyForNobody cli(KRONVIK_CLI_PATH);
            run.status = RunAsNobody([&]() -> int {
                setenv("XDG_STATE_HOME", state.c_str(), 1);
                ExecCli(cli.Path(), args, out, err);
            });
        } else {
            pid_t child = fork();
            if (child == 0)
                ExecCli(KRONVIK_CLI_PATH, args, out, err);
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
            ExecCli(KRONVIK_CLI_PATH, args, out, err);
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

    // `count` pictures p1000.jpg on, each dated 2005-07-14 at its own time from 00:10:10 on.
    void DatedPictures(int count)
    {
        for (int i = 0; i < count; ++i)
            Picture("p" + std::to_string(1000 + i) + ".jpg",
                    "2005:07:14 0" + std::to_string(i / 60) + ":" + std::to_string(10 + i % 60 / 2)
                            + ":" + std::to_string(10 + i % 2 * 20));
    }

    TempDir pictures;
    TempDir output;
};

TEST_F(TheCli, showsItsHelpForBothSpellingsAndItsVersionInTheGnuForm)
{
    CliRun help = Run({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("Usage: kronvik-cli [OPTION]... SOURCE...\n", 0), 0u) << help.out;
    EXPECT_NE(help.out.find("  -h, --help "), std::string::npos);
    EXPECT_TRUE(help.err.empty());
    CliRun shortHelp = Run({"-h"});
    EXPECT_EQ(shortHelp.status, 0);
    EXPECT_EQ(shortHelp.out, help.out);

    CliRun version = Run({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "kronvik-cli (Kronvik) 2.0.0.0\n"
                           "Copyright (C) 2026 The Kronvik developers\n"
                           "License GPL-2.0-or-later: GNU GPL version 2 or later "
                           "<https://gnu.org/licenses/gpl.html>.\n"
                           "This is free software: you are free to change and redistribute it.\n"
                           "There is NO WARRANTY, to the extent permitted by law.\n");
}

TEST_F(TheCli, rejectsBadUsageWithOneLineAndAPointerToItsHelp)
{
    const std::string hours = "the time adjustment must be a whole number of hours: ";
    struct Row
    {
        const char *name;
        std::vector<std::string> args;
        std::string message;
    } const rows[] = {
            {"no SOURCE", {}, "no SOURCE directory given"},
            {"an unknown long option", {"--bogus", "x"}, "unknown option '--bogus'"},
            {"an unknown long option with a value", {"--bogus=1", "x"}, "unknown option '--bogus'"},
            {"an unknown letter ending a group", {"-qx", "x"}, "unknown option '-x'"},
            {"an unknown letter after a long option",
             {"--quiet", "-xq", "x"},
             "unknown option '-x'"},
            {"a value for an option that takes none",
             {"--quiet=1", "x"},
             "option '--quiet' takes no value"},
            {"a fractional hour count", {"-t", "1.5", "x"}, hours + "'1.5'"},
            {"a word for the hours", {"--time-adjust=two", "x"}, hours + "'two'"},
            {"an empty hour count", {"-t", "", "x"}, hours + "''"},
            {"a letter without its value", {"-qt"}, "option '-t' needs a value"},
            {"a long option without its value", {"--log-dir"}, "option '--log-dir' needs a value"},
    };
    for (const Row &row : rows) {
        CliRun run = Run(row.args);
        EXPECT_EQ(run.status, 2) << row.name;
        EXPECT_EQ(run.err, "kronvik-cli: " + row.message + "\nTry 'kronvik-cli --help'.\n")
                << row.name;
        EXPECT_TRUE(run.out.empty()) << row.name;
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
    // Two scan lines (post-order), then the pass, each folder in name order.
    EXPECT_EQ(run.Messages(), (std::vector<std::string>{
                                      "Digital pictures found in " + root + "/2005: 2",
                                      "Digital pictures found in " + root + ": 1",
                                      "Processing digital pictures in " + root + "/2005...",
                                      "   IMG_0001.JPG -> 2005-07-14 09.03.27.JPG",
                                      "   img_0002.jpg -> 2005-07-14 10.00.00.JPG",
                                      "Processing digital pictures in " + root + "...",
                                      "   No EXIF data found in " + root + "/bare.jpg.",
                                      "Digital pictures dated successfully: 2",
                                      "Digital pictures dated unsuccessfully: 0",
                              }));
    EXPECT_TRUE(run.err.empty()) << run.err;

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

TEST_F(TheCli, shiftsEveryPictureWhenItMayHaveFewFilesOpen)
{
    // The reads made ahead keep the pictures they read open for their shifts, as many as the
    // limit on open files leaves room for beside the folders the pass holds open; the soft limit
    // is raised to the hard one first.
    struct Row
    {
        const char *name;
        rlim_t soft, hard;
        int folders; // of one picture each, else 300 pictures in one
    } const rows[] = {
            {"one folder", 64, 64, 0},
            {"a folder each, with no room to raise the limit", 256, 256, 230},
            {"a folder each, a few files held near the limit", 288, 288, 230},
            {"a folder each, more than the soft limit", 256, 4096, 400},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        fs::remove_all(pictures.Path());
        fs::create_directory(pictures.Path());
        std::string sources = pictures.Path().string();
        int count = 300;
        if (row.folders == 0) {
            DatedPictures(count);
        } else {
            count = row.folders;
            sources.clear();
            for (int i = 0; i < row.folders; ++i) {
                const std::string folder = pictures / ("d" + std::to_string(i));
                fs::create_directory(folder);
                const auto two = [](int value) {
                    return (value < 10 ? "0" : "") + std::to_string(value);
                };
                const std::string date =
                        "2005:07:14 " + two(i / 3600) + ":" + two(i / 60 % 60) + ":" + two(i % 60);
                WriteJpegWithExif(folder + "/p.jpg", {{"Exif.Photo.DateTimeOriginal", date},
                                                      {"Exif.Photo.DateTimeDigitized", date}});
                sources += (i ? ";" : "") + folder;
            }
        }
        const pid_t child = fork();
        if (child == 0) {
            const rlimit few{row.soft, row.hard};
            setrlimit(RLIMIT_NOFILE, &few);
            ExecCli(KRONVIK_CLI_PATH, {"-t", "2", sources}, output / "out", output / "err");
        }
        int status = 0;
        waitpid(child, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << ReadBytes(output / "err");
        EXPECT_NE(ReadBytes(output / "out")
                          .find(": Digital pictures dated successfully: " + std::to_string(count)
                                + "\n"),
                  std::string::npos)
                << ReadBytes(output / "out").substr(0, 2000);
    }
    EXPECT_TRUE(fs::exists(pictures / "d399/2005-07-14 02.06.39.JPG"));
}

TEST_F(TheCli, leavesTheAccessTimesOfThePicturesItReadsAsTheyWere)
{
    // Read before their modification time, as relatime would move them at a read. The second
    // picture ends the pass: those after it were read ahead and never reached.
    constexpr std::time_t kRead = 978307200, kModified = 1104537600; // 2001, 2005
    for (int i = 0; i < 40; ++i) {
        const std::string path = Picture("p" + std::to_string(10 + i) + ".jpg",
                                         "2005:07:14 09:03:" + std::to_string(10 + i));
        const timespec times[2] = {{kRead, 0}, {kModified, 0}};
        ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
    }
    chmod((pictures / "p11.jpg").c_str(), 0444);
    for (const char *preview : {"", "-n"}) {
        SCOPED_TRACE(*preview ? "the preview" : "the run");
        std::vector<std::string> args{"-t", "2", pictures.Path().string()};
        if (*preview)
            args.insert(args.begin(), preview);
        EXPECT_EQ(Run(args).status, 3);
        int files = 0;
        for (const auto &entry : fs::directory_iterator(pictures.Path())) {
            ++files;
            struct stat status
            {
            };
            ASSERT_EQ(stat(entry.path().c_str(), &status), 0);
            EXPECT_EQ(status.st_atim.tv_sec, kRead) << entry.path();
        }
        EXPECT_EQ(files, 40);
    }
}

TEST_F(TheCli, reportsAFileErrorWithStatus3AndStillWritesTheLog)
{
    Picture("a.jpg", "2005:07:14 09:03:27");
    const std::string locked = Picture("b.jpg", "2005:07:14 09:03:28");
    chmod(pictures.Path().c_str(), 0777);
    GiveToNobody(pictures / "a.jpg");
    chmod(locked.c_str(), 0444);
    CliRun run = Run({"-t", "1", "-l", output.Path().string(), pictures.Path().string()}, true);
    EXPECT_EQ(run.status, 3);
    EXPECT_EQ(run.err, "kronvik-cli: Access to " + locked + " was denied.\n");
    for (const auto &message : run.Messages())
        EXPECT_EQ(message.find("Digital pictures dated"), std::string::npos);
    EXPECT_TRUE(fs::exists(output / "Kronvik.log"));
}

// The user may not write the folder the journal is to be made in: the preview ends with the run's
// own message, and both with status 3.
TEST_F(TheCli, previewsAJournalThatCannotBeMadeWithTheRunsMessage)
{
    Picture("a.jpg", "2005:07:14 09:03:27");
    chmod(pictures.Path().c_str(), 0777);
    const std::string folder = output / "state/kronvik"; // the journal's, for nobody's runs
    fs::create_directories(folder);
    chmod(fs::path(folder).parent_path().c_str(), 0777);
    chmod(folder.c_str(), 0755); // root's own
    const CliRun previewed = Run({"--dry-run", pictures.Path().string()}, true);
    const CliRun ran = Run({pictures.Path().string()}, true);
    EXPECT_EQ(ran.status, 3);
    EXPECT_EQ(ran.err, "kronvik-cli: The journal " + folder
                               + "/journal.sqlite3 cannot be used: unable to open database file "
                                 "(Permission denied).\n");
    EXPECT_EQ(previewed.status, ran.status);
    EXPECT_EQ(previewed.err, ran.err);
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
    // Programs other than this one may lock /dev, as on some build machines: the link to
    // /dev/null above must not take the folder for a run's.
    const int dev = open("/dev", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(dev, 0);
    // Where one holds it exclusively already, the run meets that lock instead.
    flock(dev, LOCK_SH | LOCK_NB);
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
    close(dev);
}

TEST_F(TheCli, reportsALogDirectoryItCannotWriteTo)
{
    Picture("a.jpg", "2005:07:14 09:03:27");
    CliRun run = Run({"-l", output / "missing", pictures.Path().string()});
    EXPECT_EQ(run.status, 3);
    EXPECT_EQ(run.err,
              "kronvik-cli: " + output / "missing" + "/Kronvik.log contains an incorrect path.\n");
}

// Runs kronvik-cli with `options` on `source` and sends it `signal` once its pass has begun (the
// first "Processing" line is out); SIGPIPE is sent as a reader sends it, by closing its end of
// the output. With `ignored`, the signal is ignored in the tool from its start, as nohup leaves
// SIGHUP. The status is -1 when the tool did not exit by itself.
CliRun SignalMidPass(const std::string &source, int signal, bool ignored, const std::string &err,
                     std::vector<std::string> options = {})
{
    std::vector<char *> argv{const_cast<char *>(KRONVIK_CLI_PATH)};
    options.push_back(source);
    for (std::string &option : options)
        argv.push_back(option.data());
    argv.push_back(nullptr);
    int pipeFds[2];
    if (pipe(pipeFds) != 0)
        return {};
    // A pipe of one page holds the run mid-pass until the signal is sent, however busy the
    // machine: its output is many pages.
    fcntl(pipeFds[1], F_SETPIPE_SZ, 4096);
    pid_t child = fork();
    if (child == 0) {
        if (ignored)
            std::signal(signal, SIG_IGN);
        setenv("TZ", "UTC", 1);
        dup2(pipeFds[1], STDOUT_FILENO);
        close(pipeFds[0]);
        const int errFd = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
        dup2(errFd, STDERR_FILENO);
        execv(KRONVIK_CLI_PATH, argv.data());
        _exit(127);
    }
    close(pipeFds[1]);
    CliRun run;
    char buffer[4096];
    bool signalled = false;
    for (ssize_t got; (got = read(pipeFds[0], buffer, sizeof buffer)) > 0;) {
        run.out.append(buffer, static_cast<std::size_t>(got));
        if (!signalled && run.out.find("Processing") != std::string::npos) {
            signalled = true;
            if (signal == SIGPIPE)
                break;
            kill(child, signal);
        }
    }
    close(pipeFds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.err = ReadBytes(err);
    return run;
}

TEST_F(TheCli, finishesThePictureAtHandOnAStopSignalAndExitsWith128PlusIt)
{
    for (int i = 0; i < 300; ++i)
        WriteJpegWithExif(pictures / ("p" + std::to_string(i) + ".jpg"), {});
    struct Row
    {
        const char *name;
        int signal;
        int status;
    } const rows[] = {
            {"Ctrl-C", SIGINT, 130},
            {"SIGHUP", SIGHUP, 129},
            {"SIGTERM", SIGTERM, 143},
    };
    // A source that cannot be searched asks for status 1 as well; the signal's status wins.
    const std::string missing = output / "missing";
    for (const Row &row : rows) {
        CliRun run = SignalMidPass(missing + ";" + pictures.Path().string(), row.signal, false,
                                   output / "err");
        EXPECT_EQ(run.status, row.status) << row.name;
        EXPECT_NE(run.out.find(": Digital pictures dated successfully: 0\n"), std::string::npos)
                << row.name;
        EXPECT_NE(run.out.find(": Digital pictures dated unsuccessfully: 0\n"), std::string::npos)
                << row.name << run.out;
        EXPECT_EQ(run.err,
                  "kronvik-cli: cannot search '" + missing + "': No such file or directory\n")
                << row.name;
    }
}

TEST_F(TheCli, finishesThePictureAtHandWhenItsOutputPipeIsClosedAndStillWritesItsLog)
{
    // Dated pictures, so that a picture cut short would be renamed without its time.
    DatedPictures(300);
    fs::create_directory(output / "logs");
    const CliRun run = SignalMidPass(pictures.Path().string(), SIGPIPE, false, output / "err",
                                     {"-l", output / "logs"});
    EXPECT_EQ(run.status, 141);
    EXPECT_EQ(run.err, "");
    EXPECT_TRUE(fs::is_regular_file(output / "logs/Kronvik.log"));
    int renamed = 0;
    for (const auto &entry : fs::directory_iterator(pictures.Path())) {
        const std::string name = entry.path().filename();
        if (name[0] == 'p')
            continue;
        ++renamed;
        std::tm named{};
        ASSERT_NE(strptime(name.c_str(), "%Y-%m-%d %H.%M.%S.JPG", &named), nullptr) << name;
        struct stat status
        {
        };
        ASSERT_EQ(stat(entry.path().c_str(), &status), 0);
        EXPECT_EQ(status.st_mtim.tv_sec, timegm(&named)) << name;
    }
    EXPECT_GT(renamed, 0);
    EXPECT_LT(renamed, 300);
}

// A run log that standard output does not take (a full disk) ends the run as a file error before
// it changes anything; a run that prints nothing there goes on, and a history that cannot be
// printed fails too.
TEST_F(TheCli, endsAsAFileErrorWhenStandardOutputDoesNotTakeTheRunLog)
{
    const std::string picture = pictures / "IMG_0001.JPG";
    WriteJpegWithExif(picture, {{"Exif.Photo.DateTimeDigitized", "2005:07:14 09:03:27"}});
    const std::string err = output / "err";
    const auto runIntoAFullDisk = [&](const std::vector<std::string> &args) {
        const pid_t child = fork();
        if (child == 0)
            ExecCli(KRONVIK_CLI_PATH, args, "/dev/full", err);
        int status = 0;
        waitpid(child, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    };
    const std::string message =
            "kronvik-cli: cannot write to standard output: No space left on device\n";
    EXPECT_EQ(runIntoAFullDisk({pictures.Path()}), 3);
    EXPECT_EQ(ReadBytes(err), message);
    EXPECT_TRUE(fs::exists(picture));

    EXPECT_EQ(runIntoAFullDisk({"-q", pictures.Path()}), 0);
    EXPECT_EQ(ReadBytes(err), "");
    EXPECT_FALSE(fs::exists(picture));

    EXPECT_EQ(runIntoAFullDisk({"--history"}), 3);
    EXPECT_EQ(ReadBytes(err), message);
}

TEST_F(TheCli, runsToItsEndThroughAHangupThatNohupIgnores)
{
    for (int i = 0; i < 50; ++i)
        WriteJpegWithExif(pictures / ("p" + std::to_string(i) + ".jpg"), {});
    CliRun run = SignalMidPass(pictures.Path().string(), SIGHUP, true, output / "err");
    EXPECT_EQ(run.status, 0);
    const auto messages = run.Messages();
    EXPECT_EQ(std::count_if(messages.begin(), messages.end(),
                            [](const std::string &message) {
                                return message.find("No EXIF data found") != std::string::npos;
                            }),
              50);
}

TEST_F(TheCli, warnsAboutEachSourceItCannotSearchAndDatesTheRest)
{
    Picture("a.jpg", "2005:07:14 09:03:27");
    WriteBytes(output / "notes.txt", "x");
    const std::string missing = output / "missing", file = output / "notes.txt";
    CliRun run = Run({missing, file + ";" + pictures.Path().string()});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "kronvik-cli: cannot search '" + missing
                               + "': No such file or directory\n"
                                 "kronvik-cli: cannot search '"
                               + file + "': Not a directory\n");
    // The run log is as it always was: each such directory has its line with 0.
    const auto messages = run.Messages();
    ASSERT_GE(messages.size(), 3u);
    EXPECT_EQ(messages[0], "Digital pictures found in " + missing + ": 0");
    EXPECT_EQ(messages[1], "Digital pictures found in " + file + ": 0");
    EXPECT_TRUE(fs::exists(pictures / "2005-07-14 09.03.27.JPG"));
}

TEST_F(TheCli, keepsItsLinesAndWarningsInTheirOrderOnOneStream)
{
    Picture("a.jpg", "2005:07:14 09:03:27");
    const std::string missing = output / "missing", both = output / "both";
    const std::string empty = output / "empty";
    fs::create_directory(empty);
    pid_t child = fork();
    if (child == 0) {
        const int fd = open(both.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
        dup2(fd, STDOUT_FILENO);
        dup2(fd, STDERR_FILENO);
        setenv("TZ", "UTC", 1);
        execl(KRONVIK_CLI_PATH, KRONVIK_CLI_PATH, "--", pictures.Path().c_str(), empty.c_str(),
              missing.c_str(), nullptr);
        _exit(127);
    }
    int status = 0;
    waitpid(child, &status, 0);
    std::vector<std::string> lines;
    std::istringstream stream(ReadBytes(both));
    for (std::string line; std::getline(stream, line);)
        lines.push_back(line.size() > 21 && line[0] != 'k' ? line.substr(21) : line);
    const std::string root = pictures.Path().string();
    EXPECT_EQ(lines,
              (std::vector<std::string>{
                      "Digital pictures found in " + root + ": 1",
                      "Digital pictures found in " + empty + ": 0",
                      "kronvik-cli: cannot search '" + missing + "': No such file or directory",
                      "Digital pictures found in " + missing + ": 0",
                      "Processing digital pictures in " + root + "...",
                      "   a.jpg -> 2005-07-14 09.03.27.JPG",
                      "Digital pictures dated successfully: 1",
                      "Digital pictures dated unsuccessfully: 0",
              }));
}

TEST_F(TheCli, warnsAboutUnreadableDirectoriesWhenRunByAUser)
{
    Picture("a.jpg", "2005:07:14 09:03:27");
    fs::create_directory(pictures / "locked");
    chmod(pictures.Path().c_str(), 0777);
    GiveToNobody(pictures / "a.jpg");
    chmod((pictures / "locked").c_str(), 0);
    const std::string locked = pictures / "locked";
    CliRun run = Run({"-q", locked, pictures.Path().string()}, true);
    EXPECT_EQ(run.status, 1);
    // The source itself, then the same folder met again as a subdirectory.
    EXPECT_EQ(run.err, "kronvik-cli: cannot search '" + locked
                               + "': Permission denied\n"
                                 "kronvik-cli: cannot search '"
                               + locked + "': Permission denied\n");
    EXPECT_TRUE(fs::exists(pictures / "2005-07-14 09.03.27.JPG"));
}

TEST_F(TheCli, warnsAboutADirectoryReadOnlyInPartAndGoesOnWithWhatItListed)
{
    FailingListingMount mount({"b.jpg", "a.jpg"});
    if (!mount.SkipReason().empty())
        GTEST_SKIP() << mount.SkipReason();
    CliRun run = Run({mount.Path()});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err,
              "kronvik-cli: cannot search all of '" + mount.Path() + "': Input/output error\n");
    const auto messages = run.Messages();
    ASSERT_EQ(messages.size(), 6u);
    EXPECT_EQ(messages[0], "Digital pictures found in " + mount.Path() + ": 2");
    EXPECT_EQ(messages[2],
              "   " + mount.Path() + "/a.jpg not renamed; unreadable picture (not a JPEG file).");
}

TEST_F(TheCli, endsWithTheHighestOfTheStatusesThatApply)
{
    struct Row
    {
        const char *name;
        int pictures; // all of one date: every one after the first is refused
        bool missingSource;
        bool logToMissingFolder;
        int status;
    } const rows[] = {
            {"a missing source and a refused rename", 2, true, false, 1},
            {"a missing source and a file error", 1, true, true, 3},
            {"a refused rename and a file error", 2, false, true, 3},
    };
    for (const Row &row : rows) {
        TempDir folder;
        for (int i = 0; i < row.pictures; ++i)
            WriteJpegWithExif(folder / ("p" + std::to_string(i) + ".jpg"),
                              {{"Exif.Photo.DateTimeDigitized", "2005:07:14 09:03:27"}});
        std::vector<std::string> args{"-q", folder.Path().string()};
        if (row.missingSource)
            args.push_back(folder / "missing");
        if (row.logToMissingFolder)
            args.insert(args.end(), {"-l", output / "missing"});
        EXPECT_EQ(Run(args).status, row.status) << row.name;
    }
}

} // namespace
