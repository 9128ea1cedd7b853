// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
// kronvik-cli --undo and --history as processes, over a real journal under a temporary state
// folder: their output, standard error, exit status and the pictures they leave.
#include "cli_process.h"
#include "journal.h"
#include "journaled_pass.h"
#include "jpeg_fixture.h"
#include "paused_child.h"
#include "state_home.h"
#include "temp_dir.h"

#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <regex>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace kronvik;
using namespace kronvik::test;
namespace fs = std::filesystem;

namespace {

constexpr std::int64_t kPinnedClock = 1136171045; // 2006-01-02 03:04:05 UTC
constexpr std::int64_t kOldTime = 978307200LL * 1000000000; // 2001-01-01 00:00:00 UTC
class TheCliJournal : public ::testing::Test
{
protected:
    TheCliJournal()
    {
        setenv("TZ", "UTC", 1);
        tzset();
    }
    ~TheCliJournal() override
    {
        unsetenv("TZ");
        tzset();
    }

    // Runs kronvik-cli with `args`; with `readOnly`, in a mount namespace of its own where the
    // journal's folder is mounted read-only (status kNoMount when that cannot be made).
    CliRun Run(const std::vector<std::string> &args, bool readOnly = false)
    {
        return RunCli(KRONVIK_CLI_PATH, args, output.Path(), stateHome.Folder().Path(),
                      readOnly ? Mount::ReadOnly : Mount::None);
    }

    std::string Picture(const std::string &name, const std::string &date)
    {
        const std::string path = pictures / name;
        WriteJpegWithExif(path, {{"Exif.Photo.DateTimeOriginal", date},
                                 {"Exif.Photo.DateTimeDigitized", date}});
        SetModificationTime(path, kOldTime);
        return path;
    }

    // A journaled pass over the folder of pictures, started at the pinned time.
    PassId DatePictures(const std::vector<std::string> &paths, int hours)
    {
        JournalOptions options;
        options.clock = [] { return kPinnedClock; };
        Journal journal(Journal::DefaultPath(), options);
        return DateJournaled(journal, pictures.Path(), paths, hours);
    }

    ScopedStateHome stateHome;
    TempDir pictures;
    TempDir output;
};

std::map<std::string, std::string> Contents(const fs::path &folder)
{
    std::map<std::string, std::string> contents;
    for (const auto &entry : fs::directory_iterator(folder))
        contents[entry.path().filename().string()] = ReadBytes(entry.path().string());
    return contents;
}

} // namespace

TEST_F(TheCliJournal, listsThePassesNewestFirstAndOnePassWithItsChanges)
{
    const std::string first = Picture("IMG_0001.JPG", "2005:07:14 09:03:27");
    const std::string second = Picture("IMG_0002.JPG", "2005:07:14 09:03:27");
    DatePictures({first, second}, 2);
    const std::string third = Picture("IMG_0003.JPG", "2004:12:31 23:30:00");
    DatePictures({third}, 0);
    const std::string folder = pictures.Path();

    const CliRun history = Run({"--history"});
    EXPECT_EQ(history.status, 0);
    EXPECT_EQ(history.out, "   2  2006-01-02 03:04:05  cli     " + folder
                                   + "  +0 hours  1 dated, 0 refused  finished\n"
                                     "   1  2006-01-02 03:04:05  cli     "
                                   + folder + "  +2 hours  1 dated, 1 refused  finished\n");
    EXPECT_EQ(history.err, "");

    const std::string dated = folder + "/2005-07-14 11.03.27.JPG";
    const std::size_t at = ReadBytes(dated).find(DateString("2005:07:14 11:03:27"));
    const CliRun pass = Run({"--history", "1"});
    EXPECT_EQ(pass.status, 0);
    const std::string shift = std::to_string(at) + ", 2005:07:14 09:03:27 -> 2005:07:14 11:03:27";
    const std::string time = ": 2001-01-01 00:00:00 -> 2005-07-14 11:03:27";
    EXPECT_EQ(pass.out, "   1  2006-01-02 03:04:05  cli     " + folder
                                + "  +2 hours  1 dated, 1 refused  finished"
                                + "\n    1  done        shift   " + first + ": +2 hours at byte "
                                + shift + "\n    2  done        rename  " + first + " -> " + dated
                                + "\n    3  done        time    " + dated + time
                                + "\n    4  done        shift   " + second + ": +2 hours at byte "
                                + shift + "\n    5  abandoned   rename  " + second + " -> " + dated
                                + "\n    6  abandoned   time    " + dated + time + "\n");

    const CliRun unknown = Run({"--history=9"});
    EXPECT_EQ(unknown.status, 2);
    EXPECT_EQ(unknown.out, "");
    EXPECT_EQ(unknown.err, "kronvik-cli: there is no pass 9 in the journal.\n");
}

TEST_F(TheCliJournal, listsAPassAsRunningOnlyWhileItsProcessRunsIt)
{
    // A process that gave its pass up lives on without it, as a window does whose pass a journal
    // error stopped; the journal it held is left open in the child until the child is killed.
    const struct
    {
        const char *name;
        bool givenUp;
        bool killed;
        const char *outcome;
    } rows[] = {
            {"running", false, false, "running"},
            {"given up", true, false, "unfinished"},
            {"killed", false, true, "unfinished"},
    };
    std::vector<pid_t> children;
    int number = 0;
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        const pid_t child = ForkPausedAfter([&] {
            JournalOptions options;
            options.clock = [] { return kPinnedClock; };
            auto *running = new Journal(Journal::DefaultPath(), options);
            running->BeginPass({JournalFrontEnd::Cli, pictures.Path(), 2, true, 0});
            if (row.givenUp)
                delete running;
        });
        ASSERT_GT(child, 0);
        children.push_back(child);
        if (row.killed) {
            kill(child, SIGKILL);
            waitpid(child, nullptr, 0);
        }
        const CliRun history = Run({"--history"});
        EXPECT_EQ(history.status, 0);
        const std::string newest = history.out.substr(0, history.out.find('\n') + 1);
        EXPECT_EQ(newest, "   " + std::to_string(++number) + "  2006-01-02 03:04:05  cli     "
                                  + pictures.Path().string() + "  +2 hours  0 dated, 0 refused  "
                                  + row.outcome + "\n");
    }
    for (const pid_t child : children) {
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
    }
}

TEST_F(TheCliJournal, undoesAPassAndTellsByItsStatusWhatBecameOfIt)
{
    const std::string first = Picture("IMG_0001.JPG", "2005:07:14 09:03:27");
    const std::string second = Picture("IMG_0002.JPG", "2005:07:15 10:00:00");
    const auto before = Contents(pictures.Path());
    DatePictures({first, second}, 2);

    const CliRun undo = Run({"--undo"});
    EXPECT_EQ(undo.status, 0) << undo.err;
    EXPECT_EQ(undo.Messages(),
              (std::vector<std::string>{
                      "Processing digital pictures in " + pictures.Path().string() + "...",
                      "   2005-07-15 12.00.00.JPG -> IMG_0002.JPG",
                      "   2005-07-14 11.03.27.JPG -> IMG_0001.JPG",
                      "Digital pictures restored: 2",
                      "Digital pictures left as they are: 0",
              }));
    EXPECT_EQ(Contents(pictures.Path()), before);
    EXPECT_EQ(undo.err, "");

    const CliRun again = Run({"--undo", "1"});
    EXPECT_EQ(again.status, 1);
    EXPECT_EQ(again.out, "");
    EXPECT_TRUE(std::regex_match(again.err,
                                 std::regex("kronvik-cli: pass 1 was already undone on "
                                            "\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\n")))
            << again.err;
    EXPECT_TRUE(Run({"--history"}).out.find("undo of 1  2 restored, 0 left  finished")
                != std::string::npos);

    // A picture renamed since the pass is left as it is, with status 1.
    DatePictures({first, second}, 0);
    fs::rename(pictures / "2005-07-14 09.03.27.JPG", pictures / "mine.JPG");
    const CliRun left = Run({"--undo"});
    EXPECT_EQ(left.status, 1);
    EXPECT_EQ(left.Messages().at(3), "Digital pictures restored: 1");
    EXPECT_EQ(left.Messages().at(4), "Digital pictures left as they are: 1");
    EXPECT_TRUE(
            std::regex_search(Run({"--history"}).out,
                              std::regex("  \\+0 hours  2 dated, 0 refused  finished, undone on "
                                         "[0-9: -]{19}, 1 left\n")));

    for (const char *unknown : {"--undo=7", "--undo=2"}) {
        const CliRun refused = Run({unknown});
        EXPECT_EQ(refused.status, 2) << unknown;
        EXPECT_NE(refused.err, "") << unknown;
    }
}

TEST_F(TheCliJournal, changesNothingWhenTheJournalCannotBeUsed)
{
    const std::string picture = Picture("IMG_0001.JPG", "2005:07:14 09:03:27");
    DatePictures({picture}, 2);
    const auto dated = Contents(pictures.Path());

    const CliRun readOnly = Run({"--undo"}, true);
    if (readOnly.status == kNoMount)
        GTEST_SKIP() << "cannot mount the journal's folder read-only (needs root)";
    EXPECT_EQ(readOnly.status, 3);
    EXPECT_EQ(readOnly.err, "kronvik-cli: The journal " + stateHome.JournalPath()
                                    + " cannot be used: it is read-only.\n");
    EXPECT_EQ(Contents(pictures.Path()), dated);

    fs::remove_all(stateHome.JournalFolder());
    WriteBytes(stateHome.JournalFolder(), "a file where the journal's folder belongs");
    for (const char *option : {"--undo", "--history"}) {
        const CliRun run = Run({option});
        EXPECT_EQ(run.status, 3) << option;
        EXPECT_EQ(run.err, "kronvik-cli: The journal " + stateHome.JournalPath()
                                   + " cannot be used: Not a directory.\n")
                << option;
    }
    EXPECT_EQ(Contents(pictures.Path()), dated);

    // A journal still to be made, in a folder that grants no one a write permission: read-only
    // to root too, and the preview ends as the run does.
    fs::remove_all(stateHome.JournalFolder());
    fs::create_directory(stateHome.JournalFolder());
    ASSERT_EQ(chmod(stateHome.JournalFolder().c_str(), 0555), 0);
    for (const char *option : {"--dry-run", "--quiet"}) {
        const CliRun run = Run({option, pictures.Path().string()});
        EXPECT_EQ(run.status, 3) << option;
        EXPECT_EQ(run.err, "kronvik-cli: The journal " + stateHome.JournalPath()
                                   + " cannot be used: unable to open database file (Permission "
                                     "denied).\n")
                << option;
    }
    EXPECT_FALSE(fs::exists(stateHome.JournalPath()));
    EXPECT_EQ(Contents(pictures.Path()), dated);
    chmod(stateHome.JournalFolder().c_str(), 0755);
}

// A reader that goes away (`--history 1 | head`) ends the listing, as it ends a pass's run log.
TEST_F(TheCliJournal, stopsListingWhenItsReaderGoesAwayAndExitsWith141)
{
    std::vector<std::string> paths;
    for (int i = 0; i < 100; ++i)
        paths.push_back(Picture("IMG_" + std::to_string(1000 + i) + ".JPG", "2005:07:14 09:03:27"));
    DatePictures(paths, 2);
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    // One page: the listing, about 30 of them, waits for its reader.
    fcntl(out[1], F_SETPIPE_SZ, 4096);
    const pid_t child = fork();
    if (child == 0) {
        dup2(out[1], STDOUT_FILENO);
        close(out[0]);
        execl(KRONVIK_CLI_PATH, KRONVIK_CLI_PATH, "--history", "1", nullptr);
        _exit(127);
    }
    close(out[1]);
    char page[4096];
    EXPECT_GT(read(out[0], page, sizeof page), 0);
    close(out[0]);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 141);
}

TEST_F(TheCliJournal, rejectsAPassThatIsNoNumberAndMixedCommands)
{
    struct Row
    {
        std::vector<std::string> args;
        std::string message;
    } const rows[] = {
            {{"--undo", "seven"}, "not a pass number: 'seven'"},
            {{"--history=0"}, "not a pass number: '0'"},
            {{"--undo", "1", "2"}, "--undo takes one PASS at most, and no SOURCE"},
            {{"--undo", "--history"}, "--undo and --history cannot be given together"},
            {{"--dry-run", "--undo"}, "--dry-run cannot be given with --undo"},
            {{"--undo=1", "-n"}, "--dry-run cannot be given with --undo"},
            // An undo is always journaled, and neither it nor a listing shifts or searches.
            {{"--undo", "--no-journal"}, "--no-journal cannot be given with --undo"},
            {{"-t", "2", "--history"}, "--time-adjust cannot be given with --history"},
            {{"--history", "--reshift", "-R"}, "--reshift cannot be given with --history"},
    };
    for (const Row &row : rows) {
        const CliRun run = Run(row.args);
        EXPECT_EQ(run.status, 2) << row.message;
        EXPECT_EQ(run.err, "kronvik-cli: " + row.message + "\nTry 'kronvik-cli --help'.\n");
    }
}
