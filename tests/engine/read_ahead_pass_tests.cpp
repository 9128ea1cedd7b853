// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
// A dating pass whose pictures are read ahead on worker threads does exactly what a pass that
// reads each picture at its turn does: the same lines, counts and files.
#include "dating_pass.h"
#include "file_error.h"
#include "file_services.h"
#include "jpeg_fixture.h"
#include "recording_front_end.h"
#include "run_as_nobody.h"
#include "temp_dir.h"

#include <ctime>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/resource.h>
#include <sys/stat.h>

using namespace kronvik;
using namespace kronvik::test;
namespace fs = std::filesystem;

namespace {

const char *const kOriginal = "Exif.Photo.DateTimeOriginal";
const char *const kDigitized = "Exif.Photo.DateTimeDigitized";

void WritePicture(const std::string &path, const std::string &date)
{
    WriteJpegWithExif(path, {{kOriginal, date}, {kDigitized, date}});
}

// A tree that exercises what a read made ahead can miss: pictures sharing a date, one already
// dated, one whose shifted date is taken, files that are no picture, and a folder that the list
// names twice, once through a link.
std::vector<std::string> MakeTree(const fs::path &root)
{
    fs::create_directories(root / "A");
    fs::create_directories(root / "B");
    const std::string a = (root / "A/").string();
    const std::string b = (root / "B/").string();
    std::vector<std::string> list;
    for (int i = 0; i < 12; ++i) {
        const std::string name = a + "IMG_" + std::to_string(100 + i) + ".JPG";
        WritePicture(name, "2005:07:14 09:03:" + std::to_string(10 + i % 10)); // 2 collisions
        list.push_back(name);
    }
    const std::string dated = a + "2005-07-14 09.03.40.JPG";
    WritePicture(dated, "2005:07:14 09:03:40");
    EXPECT_TRUE(SetLastWriteTime(dated, {2005, 7, 14, 9, 3, 40}));
    list.push_back(dated);
    WriteBytes(a + "text.jpg", "not a picture");
    list.push_back(a + "text.jpg");
    fs::create_directory(a + "folder.jpg");
    list.push_back(a + "folder.jpg");
    list.push_back(a + "missing.jpg");
    WritePicture(b + "other.jpg", "2005:07:14 11:03:10"); // taken by A's first after +2 hours
    WritePicture(b + "2005-07-14 11.03.10.JPG", "2005:07:14 09:03:10");
    list.push_back(b + "other.jpg");
    list.push_back(b + "2005-07-14 11.03.10.JPG");
    fs::create_directory_symlink(root / "A", root / "B/again");
    for (int i = 0; i < 12; i += 2) {
        list.push_back(a + "IMG_" + std::to_string(100 + i) + ".JPG");
        list.push_back(b + "again/IMG_" + std::to_string(101 + i) + ".JPG");
    }
    // More pictures than the reads a pass keeps in hand: their ring of slots comes round.
    for (int i = 0; i < 100; ++i) {
        const std::string name = b + "late_" + std::to_string(i) + ".jpg";
        WritePicture(name, "2006:01:01 00:" + std::to_string(10 + i / 50) + ":"
                                   + std::to_string(10 + i % 50));
        list.push_back(name);
    }
    return list;
}

// Every file of the tree: its name, bytes and modification time (a shift that refused a rename
// leaves the time of its write: "now"), in one text.
std::string Describe(const fs::path &root)
{
    const std::time_t hourAgo = std::time(nullptr) - 3600;
    std::vector<std::string> entries;
    for (const auto &entry : fs::recursive_directory_iterator(root)) {
        if (!entry.is_regular_file() || entry.is_symlink())
            continue;
        struct stat status
        {
        };
        stat(entry.path().c_str(), &status);
        entries.push_back(fs::relative(entry.path(), root).string() + " "
                          + std::to_string(std::hash<std::string>{}(ReadBytes(entry.path()))) + " "
                          + (status.st_mtime > hourAgo ? "now" : std::to_string(status.st_mtime)));
    }
    std::sort(entries.begin(), entries.end());
    std::ostringstream text;
    for (const auto &entry : entries)
        text << entry << "\n";
    return text.str();
}

struct Outcome
{
    std::vector<std::string> lines; // the root replaced by "ROOT"
    std::int32_t dated = 0, refused = 0;
    std::string error;
    std::string files;
    std::string lastDirectory;

    friend bool operator==(const Outcome &, const Outcome &) = default;
};

std::string Relative(std::string text, const std::string &root)
{
    for (std::size_t at; (at = text.find(root)) != std::string::npos;)
        text.replace(at, root.size(), "ROOT");
    return text;
}

// One pass over a fresh tree, its pictures read with `threads` workers; `onDrain` runs after each
// picture with the number of pictures done and the sandbox.
Outcome RunPass(const fs::path &root, int threads, int adjustment,
                const std::function<void(int, EngineSandbox &)> &onDrain = {},
                const std::function<void(const fs::path &)> &prepare = {})
{
    EngineSandbox sandbox;
    sandbox.state.pictureList = MakeTree(root);
    if (prepare)
        prepare(root);
    sandbox.timeAdjust = adjustment;
    sandbox.session.readAheadThreads = threads;
    int drains = 0;
    sandbox.front.onDrain = [&] {
        if (onDrain)
            onDrain(++drains, sandbox);
        return true;
    };
    Outcome outcome;
    try {
        DatePictures(sandbox.session);
    } catch (const FileError &error) {
        outcome.error = Relative(error.Message(), root.string());
    }
    for (const std::string &line : sandbox.front.Lines())
        outcome.lines.push_back(Relative(line, root.string()));
    outcome.dated = sandbox.state.datedSuccessfully;
    outcome.refused = sandbox.state.datedUnsuccessfully;
    outcome.files = Describe(root);
    outcome.lastDirectory = Relative(sandbox.state.lastDirectory, root.string());
    return outcome;
}

void ExpectSame(const Outcome &atTurn, const Outcome &ahead)
{
    EXPECT_EQ(atTurn.lines, ahead.lines);
    EXPECT_EQ(atTurn.dated, ahead.dated);
    EXPECT_EQ(atTurn.refused, ahead.refused);
    EXPECT_EQ(atTurn.error, ahead.error);
    EXPECT_EQ(atTurn.files, ahead.files);
    EXPECT_EQ(atTurn.lastDirectory, ahead.lastDirectory);
}

TEST(ADatingPassReadingAhead, doesWhatAPassReadingAtEachTurnDoes)
{
    struct Row
    {
        const char *name;
        int adjustment;
        std::function<void(int, EngineSandbox &)> onDrain;
    } const rows[] = {
            {"no adjustment", 0, {}},
            {"shifted by +2 hours", 2, {}},
            {"shifted by -1 hour", -1, {}},
            {"cancelled after the seventh picture", 0,
             [](int done, EngineSandbox &sandbox) { sandbox.cancel = done == 7; }},
            {"an adjustment set during the pass applies to the pictures after it", 0,
             [](int done, EngineSandbox &sandbox) {
                 if (done == 4)
                     sandbox.timeAdjust = 3;
                 if (done == 20)
                     sandbox.timeAdjust = 0;
             }},
            {"an adjustment changed during the pass", 2,
             [](int done, EngineSandbox &sandbox) {
                 if (done == 3)
                     sandbox.timeAdjust = -2;
             }},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        TempDir atTurn, ahead;
        const Outcome expected = RunPass(atTurn.Path(), 0, row.adjustment, row.onDrain);
        const Outcome got = RunPass(ahead.Path(), 3, row.adjustment, row.onDrain);
        ExpectSame(expected, got);
        EXPECT_GT(expected.dated, 4);
    }
}

TEST(ADatingPassReadingAhead, readsAgainAFileChangedAfterItWasRead)
{
    // Pictures change after the workers read them: the pass must date them as they are at their
    // turn.
    auto change = [](int done, EngineSandbox &sandbox) {
        if (done == 2) {
            WritePicture(sandbox.state.pictureList[5], "2007:08:09 10:11:12");
            fs::remove(sandbox.state.pictureList[6]);
        }
    };
    TempDir atTurn, ahead;
    const Outcome expected = RunPass(atTurn.Path(), 0, 0, change);
    const Outcome got = RunPass(ahead.Path(), 3, 0, change);
    ExpectSame(expected, got);
    EXPECT_NE(got.files.find("2007-08-09 10.11.12.JPG"), std::string::npos);
}

TEST(ADatingPassReadingAhead, endsAtAPictureItMayNotShiftAsAPassReadingAtEachTurn)
{
    TempDir atTurn, ahead;
    for (const TempDir *dir : {&atTurn, &ahead})
        fs::permissions(dir->Path(), fs::perms::all);
    // A's ninth picture is read-only; an unprivileged user may not shift it.
    auto lock = [](const fs::path &root) {
        for (const auto &entry : fs::recursive_directory_iterator(root)) {
            if (!entry.is_symlink())
                fs::permissions(entry.path(),
                                entry.is_directory() ? fs::perms::all : fs::perms(0666));
        }
        fs::permissions(root / "A/IMG_108.JPG", fs::perms(0444));
    };
    const int outcome = RunAsNobody([&] {
        const Outcome expected = RunPass(atTurn.Path(), 0, 1, {}, lock);
        const Outcome got = RunPass(ahead.Path(), 3, 1, {}, lock);
        if (expected.error != "Access to ROOT/A/IMG_108.JPG was denied.")
            return 2;
        return expected == got ? 0 : 1;
    });
    EXPECT_EQ(outcome, 0);
}

TEST(ADatingPassReadingAhead, readsEachPictureAtItsTurnWhenNoThreadCanStart)
{
    TempDir atTurn, ahead;
    for (const TempDir *dir : {&atTurn, &ahead})
        fs::permissions(dir->Path(), fs::perms::all);
    const int outcome = RunAsNobody([&] {
        // Threads count as the user's processes: with none to spare, no worker can start.
        const rlimit none{1, 1};
        if (setrlimit(RLIMIT_NPROC, &none) != 0)
            return 3;
        const Outcome expected = RunPass(atTurn.Path(), 0, 2);
        const Outcome got = RunPass(ahead.Path(), 3, 2);
        if (expected.dated < 10)
            return 2;
        return expected == got ? 0 : 1;
    });
    EXPECT_EQ(outcome, 0);
}

} // namespace
