// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
// kronvik-cli's dating pass with its journal, as processes over real trees and a real journal
// under a temporary state folder: a shift not made twice, a journal that cannot be used, the
// preview against the run.
#include "cli_process.h"
#include "exfat_mount.h"
#include "file_state.h"
#include "journal.h"
#include "journal_store.h"
#include "jpeg_fixture.h"
#include "state_home.h"
#include "temp_dir.h"

#include <chrono>
#include <climits>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <iostream>
#include <map>
#include <regex>
#include <sstream>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace kronvik;
using namespace kronvik::test;
namespace fs = std::filesystem;

namespace {

constexpr std::int64_t kOldTime = 978307200LL * 1000000000; // 2001-01-01 00:00:00 UTC
// Every file of a tree, by its path within it, with its bytes and modification time.
std::map<std::string, std::string> Snapshot(const fs::path &root)
{
    std::map<std::string, std::string> files;
    for (const auto &entry : fs::recursive_directory_iterator(root)) {
        struct stat status
        {
        };
        if (!entry.is_regular_file() || stat(entry.path().c_str(), &status) != 0)
            continue;
        files[fs::relative(entry.path(), root).string()] =
                ReadBytes(entry.path().string()) + "@" + std::to_string(status.st_mtim.tv_sec);
    }
    return files;
}

// Makes a journal under `state` and overwrites the first page of its table `table` with bytes
// that are no page, as a disk error might.
void DamageTable(const ScopedStateHome &state, const std::string &table)
{
    std::int64_t page = 0;
    std::int64_t pageSize = 0;
    {
        kronvik::Journal made(state.JournalPath());
        JournalStore store(state.JournalPath(), 1000);
        store.Execute("PRAGMA wal_checkpoint(TRUNCATE)");
        JournalStatement root = store.Prepare(
                ("SELECT rootpage FROM sqlite_master WHERE name = '" + table + "'").c_str());
        ASSERT_TRUE(root.Step());
        page = root.Integer(0);
        JournalStatement size = store.Prepare("PRAGMA page_size");
        ASSERT_TRUE(size.Step());
        pageSize = size.Integer(0);
    }
    const int fd = open(state.JournalPath().c_str(), O_WRONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    const std::string garbage(static_cast<std::size_t>(pageSize), '\x5a');
    EXPECT_EQ(pwrite(fd, garbage.data(), garbage.size(), (page - 1) * pageSize),
              static_cast<ssize_t>(garbage.size()));
    close(fd);
}

class TheJournaledPass : public ::testing::Test
{
protected:
    TheJournaledPass()
    {
        setenv("TZ", "UTC", 1);
        tzset();
    }
    ~TheJournaledPass() override
    {
        unsetenv("TZ");
        tzset();
    }

    // Runs kronvik-cli with `args`, in a mount namespace of its own where `folder` is mounted as
    // `mount` says (status kNoMount when that cannot be made).
    CliRun Run(const std::vector<std::string> &args, const std::string &folder = {},
               Mount mount = Mount::None)
    {
        return RunCli(KRONVIK_CLI_PATH, args, output.Path(), folder, mount);
    }

    std::string Picture(const std::string &name, const std::string &date,
                        std::int64_t modified = kOldTime)
    {
        const std::string path = pictures / name;
        fs::create_directories(fs::path(path).parent_path());
        WriteJpegWithExif(path, {{"Exif.Image.ImageDescription", name},
                                 {"Exif.Photo.DateTimeOriginal", date},
                                 {"Exif.Photo.DateTimeDigitized", date}});
        SetModificationTime(path, modified);
        return path;
    }

    // Whether the picture now named `name` holds `date` as its EXIF dates.
    bool Holds(const std::string &name, const std::string &date)
    {
        return ReadBytes(pictures / name).find(DateString(date)) != std::string::npos;
    }

    ScopedStateHome stateHome;
    TempDir pictures;
    TempDir output;
};

} // namespace

TEST_F(TheJournaledPass, shiftsNoPictureTwiceByTheSameHours)
{
    Picture("IMG_0001.JPG", "2005:07:14 09:03:27");
    Picture("IMG_0002.JPG", "2005:12:31 23:30:00");
    const std::string folder = pictures.Path();

    const CliRun first = Run({"-t", "2", folder});
    ASSERT_EQ(first.status, 0) << first.err;
    ASSERT_TRUE(Holds("2005-07-14 11.03.27.JPG", "2005:07:14 11:03:27")) << first.out;

    // The names and times are the dated ones again; only the shift is to be refused.
    const CliRun second = Run({"-t", "2", folder});
    EXPECT_EQ(second.status, 0) << second.err;
    const std::vector<std::string> lines = second.Messages();
    ASSERT_EQ(lines.size(), 6u) << second.out;
    EXPECT_EQ(lines[1], "Processing digital pictures in " + folder + "...");
    EXPECT_EQ(lines[2].substr(0, 3 + folder.size()), "   " + folder);
    EXPECT_NE(lines[2].find("/2005-07-14 11.03.27.JPG: EXIF dates already shifted by +2 hours on "),
              std::string::npos)
            << lines[2];
    EXPECT_NE(lines[3].find("/2006-01-01 01.30.00.JPG: EXIF dates already shifted by +2 hours"),
              std::string::npos)
            << lines[3];
    EXPECT_EQ(lines[4], "Digital pictures dated successfully: 0");
    EXPECT_TRUE(Holds("2005-07-14 11.03.27.JPG", "2005:07:14 11:03:27"));
    EXPECT_TRUE(Holds("2006-01-01 01.30.00.JPG", "2006:01:01 01:30:00"));

    // Another adjustment goes ahead; so does the same one when asked for on purpose.
    const CliRun back = Run({"-t", "-2", folder});
    EXPECT_EQ(back.status, 0) << back.err;
    EXPECT_TRUE(Holds("2005-07-14 09.03.27.JPG", "2005:07:14 09:03:27")) << back.out;
    const CliRun again = Run({"-t", "-2", "--reshift", folder});
    EXPECT_EQ(again.status, 0) << again.err;
    EXPECT_TRUE(Holds("2005-07-14 07.03.27.JPG", "2005:07:14 07:03:27")) << again.out;
    EXPECT_EQ(again.out.find("already shifted"), std::string::npos) << again.out;
}

// The owner renamed a shifted picture by hand, or moved it into a folder of its own, and runs the
// same adjustment over the tree again: it is the very file shifted, and is not shifted twice.
TEST_F(TheJournaledPass, shiftsNoPictureTwiceThatItsOwnerRenamedOrMovedSince)
{
    const std::string first = Picture("IMG_0001.JPG", "2005:07:14 09:03:27");
    Picture("IMG_0002.JPG", "2006:03:01 10:00:00");
    struct statx made
    {
    };
    if (statx(AT_FDCWD, first.c_str(), 0, STATX_BTIME, &made) != 0
        || !(made.stx_mask & STATX_BTIME))
        GTEST_SKIP() << "the temporary folder's file system keeps no birth times";
    const std::string folder = pictures.Path();
    // Pictures made in the second the pass starts in are not told from others given their
    // inodes: the pictures of a camera are older.
    std::this_thread::sleep_for(std::chrono::milliseconds(1050));
    ASSERT_EQ(Run({"-t", "2", folder}).status, 0);
    fs::rename(pictures / "2005-07-14 11.03.27.JPG", pictures / "own name.jpg");
    fs::create_directories(pictures / "sorted");
    fs::rename(pictures / "2006-03-01 12.00.00.JPG", pictures / "sorted/2006-03-01 12.00.00.JPG");

    for (const bool preview : {true, false}) {
        std::vector<std::string> args = {"-t", "2", folder};
        if (preview)
            args.insert(args.begin(), "--dry-run");
        const CliRun again = Run(args);
        EXPECT_EQ(again.status, 0) << again.err;
        for (const char *name : {"/own name.jpg", "/sorted/2006-03-01 12.00.00.JPG"})
            EXPECT_NE(again.out.find(name + std::string(": EXIF dates already shifted by +2")),
                      std::string::npos)
                    << name << again.out;
    }
    EXPECT_TRUE(Holds("2005-07-14 11.03.27.JPG", "2005:07:14 11:03:27"));
    EXPECT_TRUE(Holds("sorted/2006-03-01 12.00.00.JPG", "2006:03:01 12:00:00"));
}

// +2 typed where -2 was meant: the undo writes the pictures' own dates back, which is no shift by
// -2 hours, and the pass by -2 that follows shifts every picture from its own dates.
TEST_F(TheJournaledPass, shiftsByTheMeantHoursAfterAnUndoOfTheMistypedOnes)
{
    Picture("IMG_0001.JPG", "2005:07:14 09:03:27");
    Picture("IMG_0002.JPG", "2006:01:01 01:30:00");
    const std::string folder = pictures.Path();
    ASSERT_EQ(Run({"-t", "2", folder}).status, 0);
    const CliRun undo = Run({"--undo"});
    ASSERT_EQ(undo.status, 0) << undo.out << undo.err;
    ASSERT_TRUE(Holds("IMG_0001.JPG", "2005:07:14 09:03:27")) << undo.out;

    for (const bool preview : {true, false}) {
        std::vector<std::string> args = {"-t", "-2", folder};
        if (preview)
            args.insert(args.begin(), "--dry-run");
        const CliRun meant = Run(args);
        EXPECT_EQ(meant.status, 0) << meant.err;
        EXPECT_EQ(meant.out.find("already shifted"), std::string::npos) << meant.out;
        EXPECT_NE(meant.out.find("IMG_0001.JPG -> 2005-07-14 07.03.27.JPG"), std::string::npos)
                << meant.out;
        EXPECT_NE(meant.out.find("IMG_0002.JPG -> 2005-12-31 23.30.00.JPG"), std::string::npos)
                << meant.out;
    }
    EXPECT_TRUE(Holds("2005-07-14 07.03.27.JPG", "2005:07:14 07:03:27"));
    EXPECT_TRUE(Holds("2005-12-31 23.30.00.JPG", "2005:12:31 23:30:00"));
}

TEST_F(TheJournaledPass, shiftsNoPictureTwiceThatItShiftedThroughASymbolicLink)
{
    // The link, listed first, is renamed, and the picture shifted through it; the picture is then
    // renamed under its own name, and the link dangles.
    Picture("B/IMG_0009.JPG", "2029:03:06 07:49:50");
    fs::create_directories(pictures / "A");
    fs::create_symlink("../B/IMG_0009.JPG", pictures / "A/link.jpg");
    const std::vector<std::string> args = {"-t", "24", pictures / "A", pictures / "B"};
    const CliRun first = Run(args);
    ASSERT_EQ(first.status, 0) << first.err;
    ASSERT_TRUE(Holds("B/2029-03-07 07.49.50.JPG", "2029:03:07 07:49:50")) << first.out;

    const CliRun second = Run(args);
    EXPECT_NE(second.out.find("/B/2029-03-07 07.49.50.JPG: EXIF dates already shifted by +24 "
                              "hours on "),
              std::string::npos)
            << second.out;
    EXPECT_TRUE(Holds("B/2029-03-07 07.49.50.JPG", "2029:03:07 07:49:50")) << second.out;
}

TEST_F(TheJournaledPass, thatCannotBeRecordedChangesNothing)
{
    Picture("IMG_0001.JPG", "2005:07:14 09:03:27");
    Picture("IMG_0002.JPG", "2005:07:15 10:00:00");
    const auto before = Snapshot(pictures.Path());
    const std::string state = stateHome.Folder().Path();

    struct Row
    {
        const char *name;
        Mount mount;
    };
    for (const Row &row : {Row{"read-only", Mount::ReadOnly}, Row{"full", Mount::Full}}) {
        const CliRun run = Run({"-t", "2", pictures.Path()}, state, row.mount);
        if (run.status == kNoMount)
            GTEST_SKIP() << "no mount namespace here";
        EXPECT_EQ(run.status, 3) << row.name << ": " << run.out;
        EXPECT_EQ(run.out, "") << row.name;
        EXPECT_EQ(run.err.rfind("kronvik-cli: The journal ", 0), 0u) << row.name << ": " << run.err;
        EXPECT_NE(run.err.find("cannot be used"), std::string::npos) << row.name << ": " << run.err;
        EXPECT_EQ(Snapshot(pictures.Path()), before) << row.name;
    }

    // On purpose, without one.
    const CliRun run = Run({"--no-journal", "-t", "2", pictures.Path()}, state, Mount::ReadOnly);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(Holds("2005-07-14 11.03.27.JPG", "2005:07:14 11:03:27")) << run.out;
}

TEST_F(TheJournaledPass, previewPrintsTheLinesOfTheRunAndChangesNothing)
{
    // One tree a case; each is previewed, then run, with the same arguments.
    struct Row
    {
        const char *name;
        std::vector<std::string> args; // before the folders
        std::vector<std::string> folders; // within the tree
        Mount mount = Mount::None; // of the whole tree
        void (*extra)(const fs::path &tree) = nullptr; // more names in the tree
        const char *zone = "UTC";
    };
    const std::vector<Row> rows = {
            {"collisions and a picture already dated", {}, {"."}},
            {"a folder listed twice", {}, {"A", "A"}},
            {"a folder and its subfolder, shifted", {"-t", "2"}, {"A", "A/S"}},
            {"shifts across midnight and the year's end", {"-t", "2"}, {"."}},
            {"shifts back across the year's start", {"-t", "-3"}, {"."}},
            {"a read-only picture under an adjustment", {"-t", "1"}, {"."}, Mount::ReadOnly},
            {"a read-only folder without one", {}, {"."}, Mount::ReadOnly},
            // Dated before the picture it names: the run renames the link and leaves the
            // picture's own name to be dated in its turn.
            {"a symbolic link to a picture",
             {},
             {"."},
             Mount::None,
             [](const fs::path &tree) {
                 fs::create_symlink("../IMG_0001.JPG", tree / "A/link.jpg");
             }},
            // The run renames the picture first, and the link then dangles.
            {"a symbolic link to a picture renamed before it",
             {},
             {"."},
             Mount::None,
             [](const fs::path &tree) { fs::create_symlink("A/IMG_0003.JPG", tree / "link.jpg"); }},
            // The run renames the link's target away and gives its name to another picture:
            // the link then reads that one.
            {"a symbolic link to a name the run gives another picture",
             {},
             {"."},
             Mount::None,
             [](const fs::path &tree) {
                 WriteJpegWithExif(tree / "A/2005-07-15 10.00.00.JPG",
                                   {{"Exif.Photo.DateTimeOriginal", "2006:02:02 10:00:00"},
                                    {"Exif.Photo.DateTimeDigitized", "2006:02:02 10:00:00"}});
                 WriteJpegWithExif(tree / "A/IMG_0006.JPG",
                                   {{"Exif.Photo.DateTimeOriginal", "2005:07:15 10:00:00"},
                                    {"Exif.Photo.DateTimeDigitized", "2005:07:15 10:00:00"}});
                 fs::create_symlink("A/2005-07-15 10.00.00.JPG", tree / "link2.jpg");
             }},
            // The second picture's name is taken under the folder's other spelling.
            {"a folder and a link to it, with two pictures of one moment",
             {},
             {"A", "L"},
             Mount::None,
             [](const fs::path &tree) {
                 fs::create_directory_symlink("A", tree / "L");
                 WriteJpegWithExif(tree / "A/same.jpg",
                                   {{"Exif.Photo.DateTimeOriginal", "2005:12:31 23:30:00"},
                                    {"Exif.Photo.DateTimeDigitized", "2005:12:31 23:30:00"}});
             }},
            // Named after its date already, its time set to the moment 02:30 becomes (it reads
            // 03:30): passed over under the folder's second listing.
            {"a picture taken in the hour the clocks skip, its folder listed twice",
             {},
             {".", "."},
             Mount::None,
             [](const fs::path &tree) {
                 WriteJpegWithExif(tree / "2005-03-27 02.30.00.JPG",
                                   {{"Exif.Photo.DateTimeOriginal", "2005:03:27 02:30:00"},
                                    {"Exif.Photo.DateTimeDigitized", "2005:03:27 02:30:00"}});
             },
             "Europe/Berlin"},
            // Its time is refused at every entry, so it is dated at every entry.
            {"a picture of the year 9999, its folder listed twice",
             {},
             {".", "."},
             Mount::None,
             [](const fs::path &tree) {
                 WriteJpegWithExif(tree / "9999-12-31 23.00.00.JPG",
                                   {{"Exif.Photo.DateTimeOriginal", "9999:12:31 23:00:00"},
                                    {"Exif.Photo.DateTimeDigitized", "9999:12:31 23:00:00"}});
             }},
            // A name the first spelling freed is given to another picture under the second.
            {"a folder given with and without a separator after it",
             {},
             {"A", "A/", "A"},
             Mount::None,
             [](const fs::path &tree) {
                 WriteJpegWithExif(tree / "A/S/1.jpg",
                                   {{"Exif.Photo.DateTimeOriginal", "2005:01:01 10:00:00"},
                                    {"Exif.Photo.DateTimeDigitized", "2005:01:01 10:00:00"}});
                 WriteJpegWithExif(tree / "A/S/2005-01-01 10.00.00.JPG",
                                   {{"Exif.Photo.DateTimeOriginal", "2005:01:01 11:00:00"},
                                    {"Exif.Photo.DateTimeDigitized", "2005:01:01 11:00:00"}});
             }},
            // Its path fits, and its date name no longer does.
            {"a picture whose date name is past the longest path",
             {},
             {"."},
             Mount::None,
             [](const fs::path &tree) {
                 std::string deep = tree.string();
                 while (deep.size() < PATH_MAX - 270)
                     deep += "/" + std::string(250, 'd');
                 deep += "/" + std::string(PATH_MAX - 16 - deep.size() - 1, 'e');
                 fs::create_directories(deep);
                 WriteJpegWithExif(deep + "/a.jpg",
                                   {{"Exif.Photo.DateTimeOriginal", "2006:03:03 10:00:00"},
                                    {"Exif.Photo.DateTimeDigitized", "2006:03:03 10:00:00"}});
             }},
            {"a hard link to a picture, shifted",
             {"-t", "2"},
             {"."},
             Mount::None,
             [](const fs::path &tree) {
                 fs::create_hard_link(tree / "IMG_0001.JPG", tree / "A/hard.jpg");
             }},
    };
    for (const Row &row : rows) {
        const TempDir tree;
        const auto picture = [&](const std::string &name, const std::string &date) {
            const std::string path = tree / name;
            fs::create_directories(fs::path(path).parent_path());
            WriteJpegWithExif(path, {{"Exif.Image.ImageDescription", name},
                                     {"Exif.Photo.DateTimeOriginal", date},
                                     {"Exif.Photo.DateTimeDigitized", date}});
            SetModificationTime(path, kOldTime);
        };
        picture("IMG_0001.JPG", "2005:07:14 09:03:27");
        picture("IMG_0002.JPG", "2005:07:14 09:03:27"); // the same moment
        picture("A/IMG_0003.JPG", "2005:12:31 23:30:00");
        picture("A/S/IMG_0004.JPG", "2006:01:01 01:15:00");
        picture("A/S/IMG_0005.JPG", "2005:07:14 23:59:59");
        // Named after its date, and with it as its time: already dated.
        picture("2004-02-29 12.00.00.JPG", "2004:02:29 12:00:00");
        SetModificationTime(tree / "2004-02-29 12.00.00.JPG", 1078056000LL * 1000000000);
        WriteBytes(tree / "broken.jpg", "not a picture at all");
        picture("A/no date.jpg", "");
        if (row.extra)
            row.extra(tree.Path());
        setenv("TZ", row.zone, 1);

        std::vector<std::string> args = row.args;
        for (const std::string &folder : row.folders)
            args.push_back(folder == "." ? tree.Path().string() : tree / folder);
        std::vector<std::string> preview = args;
        preview.insert(preview.begin(), "--dry-run");

        const auto before = Snapshot(tree.Path());
        const CliRun previewed = Run(preview, tree.Path(), row.mount);
        if (previewed.status == kNoMount)
            GTEST_SKIP() << "no mount namespace here";
        EXPECT_EQ(Snapshot(tree.Path()), before) << row.name << ": the preview changed the tree";
        const CliRun ran = Run(args, tree.Path(), row.mount);

        EXPECT_EQ(previewed.Messages(), ran.Messages()) << row.name << "\n" << ran.out;
        EXPECT_EQ(previewed.status, ran.status) << row.name << "\n" << ran.err;
        EXPECT_EQ(previewed.err, ran.err) << row.name;
        EXPECT_GT(ran.Messages().size(), 2u) << row.name;
    }
    // Only the runs are in the journal.
    const CliRun history = Run({"--history"});
    std::istringstream lines(history.out);
    int passes = 0;
    for (std::string line; std::getline(lines, line);)
        ++passes;
    EXPECT_EQ(passes, static_cast<int>(rows.size())) << history.out;
}

// On a card that ignores letter case, a picture named after its date with ".jpg" is renamed to
// ".JPG", and a name freed under one spelling is free under another.
TEST_F(TheJournaledPass, previewOnACardThatIgnoresLetterCasePrintsTheLinesOfTheRun)
{
    const ExfatMount card;
    if (!card.IsMounted())
        GTEST_SKIP() << "no exFAT file system: " << card.Problem();
    const auto picture = [&](const std::string &name, const std::string &date) {
        WriteJpegWithExif(card / name, {{"Exif.Photo.DateTimeOriginal", date},
                                        {"Exif.Photo.DateTimeDigitized", date}});
    };
    picture("2005-07-14 09.03.29.jpg", "2005:07:14 09:03:29");
    picture("2005-07-14 09.03.31.jpg", "2005:07:14 10:00:00"); // renamed away first
    picture("a.jpg", "2005:07:14 09:03:31");
    const std::string folder = card / "";
    const auto before = Snapshot(folder);
    const CliRun previewed = Run({"--dry-run", folder});
    EXPECT_EQ(Snapshot(folder), before);
    const CliRun ran = Run({folder});
    EXPECT_EQ(ran.status, 0) << ran.out;
    EXPECT_EQ(previewed.Messages(), ran.Messages()) << ran.out;
    EXPECT_EQ(previewed.status, ran.status);
    EXPECT_TRUE(fs::exists(card / "2005-07-14 09.03.31.JPG"));
}

TEST_F(TheJournaledPass, previewEndsAsTheRunWouldWhereTheRunCannotWriteItsFiles)
{
    Picture("IMG_0001.JPG", "2005:07:14 09:03:27");
    const std::string aFile = output / "a file";
    WriteBytes(aFile, "x");
    const std::string logs = output / "logs";
    fs::create_directory(logs);
    enum class Held { Nothing, Log, Picture }; // what another process holds locked
    enum class Journal {
        New,
        FolderIsAFile,
        OnAFullDisk,
        MarksDamaged,
        LinkAhead,
        LinkNowhere,
        LinksNowhere,
        LinkUnderAFile
    };
    struct Row
    {
        const char *name;
        std::vector<std::string> args; // before the folder
        Journal journal;
        Held held;
        int status;
    } const rows[] = {
            {"a logs directory that is missing",
             {"-l", output / "missing"},
             Journal::New,
             Held::Nothing,
             3},
            {"a logs directory that is a file", {"-l", aFile}, Journal::New, Held::Nothing, 3},
            {"the default logs directory under a file",
             {"--no-journal", "-l", ""},
             Journal::FolderIsAFile,
             Held::Nothing,
             3},
            {"a journal that cannot be made", {}, Journal::FolderIsAFile, Held::Nothing, 3},
            {"a journal with no room to be made", {}, Journal::OnAFullDisk, Held::Nothing, 3},
            {"a journal damaged where a pass marks its changes",
             {"-t", "1"},
             Journal::MarksDamaged,
             Held::Nothing,
             3},
            {"a log another process holds", {"-l", logs}, Journal::New, Held::Log, 3},
            {"a shifted picture another process holds",
             {"-l", logs, "-t", "1"},
             Journal::New,
             Held::Picture,
             3},
            {"a logs directory that takes the log", {"-l", logs}, Journal::New, Held::Nothing, 0},
            {"a journal linked to a file still to be made",
             {},
             Journal::LinkAhead,
             Held::Nothing,
             0},
            {"a journal linked into a folder that is missing",
             {},
             Journal::LinkNowhere,
             Held::Nothing,
             3},
            {"a journal linked through a link into a folder that is missing",
             {},
             Journal::LinksNowhere,
             Held::Nothing,
             3},
            {"a journal linked to a name under a file",
             {},
             Journal::LinkUnderAFile,
             Held::Nothing,
             3},
    };
    for (const Row &row : rows) {
        const ScopedStateHome state;
        if (row.journal == Journal::FolderIsAFile)
            WriteBytes(state.JournalFolder(), "x");
        if (row.journal == Journal::MarksDamaged)
            DamageTable(state, "marks");
        const std::map<Journal, std::string> links = {
                {Journal::LinkAhead, "elsewhere.sqlite3"},
                {Journal::LinkNowhere, "missing/journal.sqlite3"},
                {Journal::LinksNowhere, "second link"},
                {Journal::LinkUnderAFile, aFile + "/journal.sqlite3"},
        };
        if (const auto link = links.find(row.journal); link != links.end()) {
            fs::create_directory(state.JournalFolder());
            fs::create_symlink(link->second, state.JournalFolder() + "/journal.sqlite3");
            fs::create_symlink("missing/journal.sqlite3", state.JournalFolder() + "/second link");
        }
        fs::remove(logs + "/Kronvik.log");
        const bool logHeld = row.held == Held::Log;
        if (logHeld)
            WriteBytes(logs + "/Kronvik.log", "the last run's log\r\n");
        int holder = -1;
        if (row.held != Held::Nothing) {
            // The picture goes by its date name once an earlier row's run has dated it.
            const std::string held =
                    logHeld ? logs + "/Kronvik.log"
                            : fs::directory_iterator(pictures.Path())->path().string();
            holder = open(held.c_str(), O_RDONLY | O_CLOEXEC);
            ASSERT_EQ(flock(holder, LOCK_EX | LOCK_NB), 0);
        }
        std::vector<std::string> args = row.args;
        args.push_back(pictures.Path());
        std::vector<std::string> preview = args;
        preview.insert(preview.begin(), "--dry-run");
        const auto before = Snapshot(pictures.Path());
        // The journal's folder on a file system of its own, with no room left.
        const std::string mountPoint =
                row.journal == Journal::OnAFullDisk ? state.Folder().Path().string() : "";
        const Mount mount = row.journal == Journal::OnAFullDisk ? Mount::Full : Mount::None;

        const CliRun previewed = Run(preview, mountPoint, mount);
        if (previewed.status == kNoMount) {
            std::cout << "[  SKIPPED ] " << row.name << ": no mount namespace here\n";
            continue;
        }
        EXPECT_EQ(fs::exists(logs + "/Kronvik.log"), logHeld)
                << row.name << ": the preview wrote a log";
        const CliRun ran = Run(args, mountPoint, mount);
        if (holder >= 0)
            close(holder);
        EXPECT_EQ(ran.status, row.status) << row.name << ": " << ran.err;
        EXPECT_EQ(previewed.status, ran.status) << row.name;
        EXPECT_EQ(previewed.err, ran.err) << row.name;
        EXPECT_EQ(previewed.Messages(), ran.Messages()) << row.name;
        if (row.journal == Journal::MarksDamaged) {
            EXPECT_EQ(Snapshot(pictures.Path()), before) << row.name << ": the run changed them";
        }
    }
}

TEST_F(TheJournaledPass, recoversWhatAKilledPassLeftBeforeItsScanAndThePreviewOnlySaysSo)
{
    const std::string picture = Picture("IMG_0001.JPG", "2005:07:14 09:03:27");
    const std::string dated = pictures / "2005-07-14 09.03.27.JPG";
    const std::string folder = pictures.Path();
    // A pass killed between reserving the new name on a FAT card (an empty placeholder) and the
    // rename over it: the picture untouched, the placeholder beside it.
    const pid_t child = fork();
    if (child == 0) {
        Journal journal;
        journal.BeginPass({JournalFrontEnd::Cli, folder, 0, true, 0});
        journal.PlanBatch({{{JournalChange::Rename(picture, dated, fs::file_size(picture))}}});
        WriteBytes(dated, "");
        _exit(0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    const auto before = Snapshot(pictures.Path());

    const CliRun preview = Run({"--dry-run", folder});
    EXPECT_EQ(Snapshot(pictures.Path()), before) << "the preview recovered";
    EXPECT_NE(preview.err.find("1 unfinished pass"), std::string::npos) << preview.err;

    const CliRun run = Run({folder});
    EXPECT_EQ(run.status, 0) << run.err;
    const std::vector<std::string> lines = run.Messages();
    ASSERT_FALSE(lines.empty());
    EXPECT_TRUE(
            std::regex_match(run.out.substr(0, run.out.find('\n')),
                             std::regex("\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d: Recovered the "
                                        "unfinished pass of \\d{4}-\\d\\d-\\d\\d "
                                        "\\d\\d:\\d\\d:\\d\\d: 1 changes taken back\\.")))
            << run.out;
    EXPECT_NE(run.out.find("   IMG_0001.JPG -> 2005-07-14 09.03.27.JPG\n"), std::string::npos)
            << run.out;
    EXPECT_TRUE(fs::exists(dated));
    EXPECT_FALSE(fs::exists(picture));
}
