// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
// The journal on a real database under a temporary state folder: what a pass records and when it
// is committed, the journals it refuses, pruning, two processes at once, and the lookup that keeps
// a picture from being shifted twice.
#include "journal.h"
#include "journal_store.h"
#include "journaled_pass.h"
#include "jpeg_fixture.h"
#include "run_as_nobody.h"
#include "small_disk.h"
#include "state_home.h"
#include "temp_dir.h"

#include <chrono>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <random>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace kronvik;
using namespace kronvik::test;
namespace fs = std::filesystem;

namespace {

constexpr std::int64_t kPinnedClock = 1136171045; // 2006-01-02 03:04:05 UTC

JournalOptions PinnedOptions()
{
    JournalOptions options;
    options.clock = [] { return kPinnedClock; };
    return options;
}

// The message of the journal error `body` raises, or "" when it raises none.
std::string JournalFailure(const std::function<void()> &body)
{
    try {
        body();
    } catch (const JournalError &error) {
        return error.what();
    }
    return "";
}

PlannedPicture RenameOf(const std::string &from, const std::string &to)
{
    return PlannedPicture{{JournalChange::Rename(from, to, 1000)}};
}

// A pass that a killed process left without an end, with one change planned: the journal keeps
// it for its recovery.
PassId UnfinishedPass()
{
    Journal killed;
    const PassId pass = killed.BeginPass({JournalFrontEnd::Cli, "/k", 0, true, 0});
    killed.PlanBatch({RenameOf("/k/a.jpg", "/k/b.jpg")});
    return pass;
}

std::vector<ChangeState> StatesOf(const std::vector<ChangeRecord> &changes)
{
    std::vector<ChangeState> states;
    for (const ChangeRecord &change : changes)
        states.push_back(change.state);
    return states;
}

} // namespace

// Read back as one lookup each, marks that overlap: the newest that covers a change decides.
TEST(TheStatesOfChanges, followTheNewestMarkThatCoversEachChange)
{
    struct Mark
    {
        ChangeId first, last;
        ChangeState state;
    };
    std::mt19937 random(20261209);
    for (int round = 0; round < 200; ++round) {
        std::vector<Mark> marks;
        ChangeStates states;
        for (int i = 0, count = 1 + static_cast<int>(random() % 12); i < count; ++i) {
            const ChangeId first = 1 + static_cast<ChangeId>(random() % 30);
            const Mark mark{first, first + static_cast<ChangeId>(random() % 8),
                            static_cast<ChangeState>(random() % 4)};
            marks.push_back(mark);
            states.Mark(mark.first, mark.last, mark.state);
        }
        for (ChangeId change = 0; change <= 40; ++change) {
            ChangeState expected = ChangeState::Planned;
            for (auto mark = marks.rbegin(); mark != marks.rend(); ++mark) {
                if (mark->first <= change && change <= mark->last) {
                    expected = mark->state;
                    break;
                }
            }
            ASSERT_EQ(states.StateOf(change), expected)
                    << "round " << round << ", change " << change;
        }
    }
}

TEST(TheJournal, livesInTheStateFolderOfTheUser)
{
    ScopedStateHome state;
    EXPECT_EQ(Journal::DefaultPath(), state.JournalPath());
    const std::string home = std::getenv("HOME") ? std::getenv("HOME") : "";
    unsetenv("XDG_STATE_HOME");
    if (!home.empty()) {
        EXPECT_EQ(Journal::DefaultPath(), home + "/.local/state/kronvik/journal.sqlite3");
    }
}

TEST(AJournaledPass, commitsItsPlanBeforeAnyChangeAndItsMarksWithTheNextBatch)
{
    ScopedStateHome state;
    Journal pass(Journal::DefaultPath(), PinnedOptions());
    // Another connection sees only what is committed: what a process killed now would leave.
    Journal observer;
    const PassId id = pass.BeginPass({JournalFrontEnd::Window, "/p;/q", -3, false, 0});

    const std::string oddPath = std::string("/p/%s\xff name.jpg");
    const std::string before =
            DateString("2005:07:14 09:03:27") + DateString("2005:07:14 09:03:27");
    const std::string after = DateString("2005:07:14 06:03:27") + DateString("2005:07:14 06:03:27");
    const std::vector<ChangeId> first = pass.PlanBatch({PlannedPicture{
            {JournalChange::Shift(oddPath, 5000, 314, before, after, -3, 1234567890123456789,
                                  {7, 8}),
             JournalChange::Rename(oddPath, "/p/2005-07-14 06.03.27.JPG", 5000, {7, 8}),
             JournalChange::Time("/p/2005-07-14 06.03.27.JPG", 5000, 1234567890123456789,
                                 1121320999000000000, {7, 8})}}});
    ASSERT_EQ(first.size(), 3u);
    std::vector<ChangeRecord> seen = observer.Changes(id);
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(StatesOf(seen), std::vector<ChangeState>(3, ChangeState::Planned));
    EXPECT_EQ(seen[0].change.path, oddPath);
    EXPECT_EQ(seen[0].change.bytesBefore, before) << "the NULs of the pair must survive";
    EXPECT_EQ(seen[0].change.bytesAfter, after);
    EXPECT_EQ(seen[0].change.offset, 314u);
    EXPECT_EQ(seen[0].change.hours, -3);
    EXPECT_EQ(seen[0].change.timeBefore, 1234567890123456789);
    EXPECT_EQ(seen[1].change.newPath, "/p/2005-07-14 06.03.27.JPG");
    EXPECT_EQ(seen[2].change.timeAfter, 1121320999000000000);
    EXPECT_EQ(seen[2].change.identity, (FileIdentity{7, 8}));
    EXPECT_EQ(seen[0].picture, seen[2].picture);

    for (ChangeId change : first)
        pass.MarkDone(change);
    EXPECT_EQ(StatesOf(observer.Changes(id)), std::vector<ChangeState>(3, ChangeState::Planned))
            << "a mark waits for the next commit";

    const std::vector<ChangeId> second = pass.PlanBatch({RenameOf("/q/a.jpg", "/q/b.jpg")});
    seen = observer.Changes(id);
    EXPECT_EQ(StatesOf(seen), (std::vector<ChangeState>{ChangeState::Done, ChangeState::Done,
                                                        ChangeState::Done, ChangeState::Planned}));
    EXPECT_NE(seen[3].picture, seen[0].picture);

    pass.MarkAbandoned(second[0]);
    EXPECT_EQ(observer.FindPass(id)->ended, 0);
    pass.EndPass({1, 2, PassOutcome::Cancelled});
    EXPECT_EQ(observer.Changes(id).back().state, ChangeState::Abandoned);
    const JournaledPass record = *observer.FindPass(id);
    EXPECT_EQ(record.started, kPinnedClock);
    EXPECT_EQ(record.ended, kPinnedClock);
    EXPECT_EQ(record.frontEnd, JournalFrontEnd::Window);
    EXPECT_EQ(record.sources, "/p;/q");
    EXPECT_EQ(record.timeAdjust, -3);
    EXPECT_FALSE(record.recurse);
    EXPECT_EQ(record.datedSuccessfully, 1);
    EXPECT_EQ(record.datedUnsuccessfully, 2);
    EXPECT_EQ(record.outcome, PassOutcome::Cancelled);
    EXPECT_EQ(record.process, getpid());
}

TEST(AJournaledPass, recordsItsSourceFoldersAsAbsolutePaths)
{
    ScopedStateHome state;
    TempDir work;
    const fs::path old = fs::current_path();
    fs::current_path(work.Path());
    Journal journal;
    const PassId id = journal.BeginPass({JournalFrontEnd::Cli, ";Camera;;/abs/x/;", 0, true, 0});
    fs::current_path(old);
    EXPECT_EQ(journal.FindPass(id)->sources, work.Path().string() + "/Camera;/abs/x/");
}

TEST(TheJournal, cannotBeUsedWhenItCannotBeOpenedOrWritten)
{
    struct Row
    {
        const char *name;
        // Makes the journal at `path` unusable.
        std::function<void(const std::string &path)> spoil;
        std::string reason;
        // What raises the error once it is spoiled.
        std::function<void(const std::string &path)> use;
    };
    const auto open = [](const std::string &path) { Journal journal(path); };
    // `act` on the journal while another connection holds its write lock.
    const auto whileLocked = [](void (*act)(Journal &)) {
        return [act](const std::string &path) {
            JournalStore holder(path, 0);
            holder.BeginImmediate();
            JournalOptions options;
            options.busyMilliseconds = 100;
            Journal journal(path, options);
            act(journal);
        };
    };
    const auto beginWhileLocked = whileLocked([](Journal &journal) { journal.BeginPass({}); });
    // A preview writes nothing, and must still end where its run would.
    const auto checkWhileLocked = whileLocked([](Journal &journal) { journal.CheckWritable(); });
    const Row rows[] = {
            {"a file that is no database",
             [](const std::string &path) { WriteBytes(path, std::string(4096, 'x')); },
             "file is not a database", open},
            {"a journal of a newer version",
             [](const std::string &path) {
                 JournalStore store(path, 0);
                 store.SetUserVersion(7);
             },
             "it was written by a newer version of Kronvik (journal version 7, this version reads "
             "up to 4)",
             open},
            {"a file where its folder belongs",
             [](const std::string &path) {
                 fs::remove(fs::path(path).parent_path());
                 WriteBytes(fs::path(path).parent_path().string(), "");
             },
             "Not a directory", open},
            {"another program holding its write lock", [](const std::string &) {},
             "database is locked", beginWhileLocked},
            {"another program holding its write lock, to a preview", [](const std::string &) {},
             "database is locked", checkWhileLocked},
            // Read-only to root too, who runs this test: the kernel would let root write them.
            {"a journal that grants no one a write permission",
             [](const std::string &path) {
                 {
                     Journal journal(path);
                 }
                 chmod(path.c_str(), 0444);
             },
             "it is read-only", open},
            {"a new journal in a folder that grants no one a write permission",
             [](const std::string &path) { chmod(fs::path(path).parent_path().c_str(), 0555); },
             "unable to open database file (Permission denied)", open},
    };
    for (const Row &row : rows) {
        TempDir state;
        const std::string path = state / "kronvik/journal.sqlite3";
        fs::create_directories(fs::path(path).parent_path());
        row.spoil(path);
        EXPECT_EQ(JournalFailure([&] { row.use(path); }),
                  "The journal " + path + " cannot be used: " + row.reason + ".")
                << row.name;
    }
}

TEST(TheJournal, cannotBeUsedInAFolderTheUserMayNotWrite)
{
    TempDir state;
    ASSERT_EQ(chmod(state.Path().c_str(), 0555), 0);
    const std::string path = state / "journal.sqlite3";
    // chmod does not stop root: the journal is opened by a child that gives up root first.
    const int result = RunAsNobody([&] {
        const std::string failure = JournalFailure([&] { Journal journal(path); });
        return failure.rfind("The journal " + path + " cannot be used: unable to open database", 0)
                               == 0
                       ? 0
                       : 1;
    });
    EXPECT_EQ(result, 0);

    // A journal already there, in a folder and file the user cannot write.
    ASSERT_EQ(chmod(state.Path().c_str(), 0755), 0);
    {
        Journal journal(path);
    }
    ASSERT_EQ(chmod(state.Path().c_str(), 0555), 0);
    EXPECT_EQ(RunAsNobody([&] {
                  return JournalFailure([&] {
                             Journal journal(path);
                         }) == "The journal " + path + " cannot be used: it is read-only."
                                 ? 0
                                 : 1;
              }),
              0);
}

TEST(TheJournal, cannotBeWrittenOnAFullDiskAndKeepsWhatItHad)
{
    TempDir dir;
    const std::string point = dir / "small";
    fs::create_directory(point);
    SmallDisk disk(point, "512k");
    if (!disk.IsMounted())
        GTEST_SKIP() << disk.Problem();
    const std::string path = point + "/kronvik/journal.sqlite3";
    std::string failure;
    {
        Journal journal(path);
        const PassId id = journal.BeginPass({JournalFrontEnd::Cli, "/p", 0, true, 0});
        journal.PlanBatch({RenameOf("/p/a.jpg", "/p/b.jpg")});
        disk.Fill();
        std::vector<PlannedPicture> many;
        for (int i = 0; i < 2000; ++i)
            many.push_back(RenameOf("/p/" + std::string(200, 'a') + std::to_string(i), "/p/x"));
        failure = JournalFailure([&] { journal.PlanBatch(many); });
        EXPECT_EQ(journal.Changes(id).size(), 1u) << "the failed batch left rows behind";
        disk.Empty();
    }
    EXPECT_EQ(failure.rfind("The journal " + path + " cannot be used: database or disk is full", 0),
              0u)
            << failure;
}

TEST(TheJournal, keepsTheLastHundredPassesAndTheirChanges)
{
    ScopedStateHome state;
    const PassId unfinished = UnfinishedPass();
    Journal journal;
    std::vector<PassId> ids;
    for (int i = 0; i < 103; ++i) {
        ids.push_back(journal.BeginPass({JournalFrontEnd::Cli, "/p", 0, true, 0}));
        journal.PlanBatch({RenameOf("/p/" + std::to_string(i), "/p/x")});
        journal.EndPass({});
    }
    const std::vector<JournaledPass> kept = journal.Passes();
    ASSERT_EQ(kept.size(), 101u);
    EXPECT_EQ(kept.front().id, ids.back()) << "newest first";
    EXPECT_EQ(kept[99].id, ids[3]);
    EXPECT_EQ(kept.back().id, unfinished);
    for (int i = 0; i < 3; ++i) {
        EXPECT_FALSE(journal.FindPass(ids[i])) << i;
        EXPECT_TRUE(journal.Changes(ids[i]).empty()) << i;
    }
    EXPECT_EQ(journal.Changes(ids[3]).size(), 1u);
    EXPECT_EQ(journal.Changes(unfinished).size(), 1u);
    // Numbers are never given twice, so a number once shown keeps naming its pass.
    EXPECT_GT(journal.BeginPass({}), ids.back());
}

// The rows a table holds for `pass`, as they are stored, on a connection of its own.
std::int64_t StoredRows(const std::string &path, const char *table, PassId pass)
{
    JournalStore store(path, 1000);
    JournalStatement count = store.Prepare(
            (std::string("SELECT count(*) FROM ") + table + " WHERE pass = ?1").c_str());
    count.Bind(1, pass);
    EXPECT_TRUE(count.Step());
    return count.Integer(0);
}

TEST(TheJournal, leavesAPrunedPassesChangesForTheBatchesOfLaterPassesToDelete)
{
    ScopedStateHome state;
    // Kept for its recovery, before every pass that is pruned.
    const PassId unfinished = UnfinishedPass();
    JournalOptions options;
    options.keptPasses = 2;
    Journal journal(Journal::DefaultPath(), options);
    const auto pass = [&](const std::string &folder, int pictures) {
        const PassId id = journal.BeginPass({JournalFrontEnd::Cli, folder, 0, true, 0});
        std::vector<PlannedPicture> batch;
        for (int i = 0; i < pictures; ++i)
            batch.push_back(RenameOf(folder + "/" + std::to_string(i), folder + "/x"));
        for (const ChangeId change : journal.PlanBatch(batch))
            journal.MarkDone(change);
        journal.EndPass({pictures, 0, PassOutcome::Finished});
        return id;
    };
    const PassId first = pass("/a", 600);
    const PassId second = pass("/b", 600);
    const PassId third = pass("/c", 10);
    const auto stored = [&](PassId id) { return StoredRows(journal.Path(), "changes", id); };

    // The third pass's end pruned the first: gone for every reader at once, with its marks, but
    // its changes not deleted by that end.
    EXPECT_FALSE(journal.FindPass(first));
    EXPECT_TRUE(journal.Changes(first).empty());
    EXPECT_EQ(StoredRows(journal.Path(), "marks", first), 0);
    EXPECT_EQ(stored(first), 600);

    // The batches of the next pass delete them, 256 a batch, and nothing of the passes kept.
    journal.BeginPass({JournalFrontEnd::Cli, "/d", 0, true, 0});
    journal.PlanBatch({RenameOf("/d/1", "/d/x")});
    EXPECT_EQ(stored(first), 600 - 256);
    journal.PlanBatch({RenameOf("/d/2", "/d/y")});
    journal.PlanBatch({RenameOf("/d/3", "/d/z")});
    EXPECT_EQ(stored(first), 0);
    EXPECT_EQ(stored(second), 600);
    EXPECT_EQ(stored(third), 10);
    EXPECT_EQ(stored(unfinished), 1);
    EXPECT_EQ(StatesOf(journal.Changes(second)), std::vector<ChangeState>(600, ChangeState::Done));
}

TEST(AJournalStatement, keepsNoBytesBoundInPlaceByAUseThatFailed)
{
    TempDir folder;
    JournalStore store(folder / "journal.sqlite3", 1000);
    store.Execute("CREATE TABLE t(a INTEGER UNIQUE, b BLOB)");
    JournalStatement insert = store.Prepare("INSERT INTO t VALUES (?1, ?2)");
    {
        const std::string bytes = "kept";
        insert.Bind(1, 1).BindKeptBytes(2, bytes).Run();
    }
    {
        const std::string bytes = "refused";
        insert.Bind(1, 1).BindKeptBytes(2, bytes);
        EXPECT_THROW(insert.Run(), JournalError);
    }
    // The refused use's bytes went with it: a use that binds less stores nothing of them.
    insert.Bind(1, 2).Run();
    JournalStatement rows = store.Prepare("SELECT a, b FROM t ORDER BY a");
    ASSERT_TRUE(rows.Step());
    EXPECT_EQ(rows.Bytes(1), "kept");
    ASSERT_TRUE(rows.Step());
    EXPECT_EQ(rows.Integer(0), 2);
    EXPECT_TRUE(rows.IsNull(1));
    EXPECT_FALSE(rows.Step());
}

TEST(TheJournal, copiesItsLogIntoTheDatabaseAlongsideItsCommits)
{
    TempDir folder;
    const std::string path = folder / "journal.sqlite3";
    {
        JournalStore store(path, 1000);
        store.Execute("CREATE TABLE t(b BLOB)");
        JournalStatement insert = store.Prepare("INSERT INTO t VALUES (zeroblob(3000))");
        const auto commit = [&] {
            store.BeginImmediate();
            insert.Run();
            store.Commit();
        };
        // Once the log is long enough, its copy is made with no commit waiting for it.
        for (int i = 0; i < 1000; ++i)
            commit();
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (fs::file_size(path) < 1000 * 4096u && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        EXPECT_GE(fs::file_size(path), 1000 * 4096u);
        // Commits without a pause, faster than the copies that run alongside.
        for (int i = 0; i < 5000; ++i)
            commit();
    }
    // Uncopied, the log would hold three pages for each commit since the copy above, 15,000.
    // Copied, it restarts before 4,000 and one commit.
    constexpr std::uintmax_t kPage = 4096 + 24;
    EXPECT_LT(fs::file_size(path + "-wal"), 4010 * kPage);
    EXPECT_GT(fs::file_size(path), 1000 * 4096u);
    JournalStore reopened(path, 1000);
    JournalStatement count = reopened.Prepare("SELECT count(*) FROM t");
    ASSERT_TRUE(count.Step());
    EXPECT_EQ(count.Integer(0), 6000);
}

TEST(TwoProcesses, writingPassesAtOnceKeepTheirOwnRowsIntact)
{
    ScopedStateHome state;
    {
        Journal create;
    }
    constexpr int kProcesses = 3, kPasses = 6, kBatches = 5, kPictures = 20;
    std::vector<pid_t> children;
    for (int process = 0; process < kProcesses; ++process) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            try {
                Journal journal;
                for (int p = 0; p < kPasses; ++p) {
                    const std::string folder = "/process" + std::to_string(process);
                    journal.BeginPass({JournalFrontEnd::Cli, folder, process, true, 0});
                    std::vector<ChangeId> last;
                    for (int batch = 0; batch < kBatches; ++batch) {
                        std::vector<PlannedPicture> pictures;
                        for (int i = 0; i < kPictures; ++i) {
                            const std::string name = folder + "/" + std::to_string(batch * 100 + i);
                            pictures.push_back(RenameOf(name, name + ".JPG"));
                        }
                        for (ChangeId id : last)
                            journal.MarkDone(id);
                        last = journal.PlanBatch(pictures);
                    }
                    for (ChangeId id : last)
                        journal.MarkDone(id);
                    journal.EndPass({kBatches * kPictures, 0, PassOutcome::Finished});
                }
            } catch (...) {
                _exit(1);
            }
            _exit(0);
        }
        children.push_back(child);
    }
    for (pid_t child : children) {
        int status = 0;
        waitpid(child, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }

    Journal journal;
    const std::vector<JournaledPass> passes = journal.Passes();
    ASSERT_EQ(passes.size(), static_cast<std::size_t>(kProcesses * kPasses));
    for (const JournaledPass &pass : passes) {
        EXPECT_EQ(pass.outcome, PassOutcome::Finished);
        const std::string folder = "/process" + std::to_string(pass.timeAdjust);
        ASSERT_EQ(pass.sources, folder);
        const std::vector<ChangeRecord> changes = journal.Changes(pass.id);
        ASSERT_EQ(changes.size(), static_cast<std::size_t>(kBatches * kPictures)) << pass.id;
        for (std::size_t i = 0; i < changes.size(); ++i) {
            const std::string name =
                    folder + "/" + std::to_string(i / kPictures * 100 + i % kPictures);
            EXPECT_EQ(changes[i].change.path, name) << "pass " << pass.id << " change " << i;
            EXPECT_EQ(changes[i].picture, static_cast<std::int64_t>(i));
            EXPECT_EQ(changes[i].state, ChangeState::Done);
        }
    }
}

TEST(TwoProcesses, openingANewJournalAtOnceBothUseIt)
{
    // The window and kronvik-cli started together on a first run: the journal is made by both.
    constexpr int kRounds = 20, kProcesses = 4;
    for (int round = 0; round < kRounds; ++round) {
        ScopedStateHome state;
        int start[2];
        ASSERT_EQ(pipe(start), 0);
        std::vector<pid_t> children;
        for (int process = 0; process < kProcesses; ++process) {
            const pid_t child = fork();
            ASSERT_GE(child, 0);
            if (child == 0) {
                close(start[1]);
                char byte;
                (void)!read(start[0], &byte, 1); // all released at once, when the pipe closes
                try {
                    Journal journal;
                    journal.BeginPass({});
                } catch (...) {
                    _exit(1);
                }
                _exit(0);
            }
            children.push_back(child);
        }
        close(start[0]);
        close(start[1]);
        for (pid_t child : children) {
            int status = 0;
            waitpid(child, &status, 0);
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "round " << round;
        }
        EXPECT_EQ(Journal().Passes().size(), static_cast<std::size_t>(kProcesses));
    }
}

TEST(TheShiftLookup, knowsOnlyTheSameFileShiftedByTheSameHours)
{
    ScopedStateHome state;
    TempDir pictures;
    const std::string shared = "2005:07:14 09:03:27";
    const std::string a = pictures / "IMG_0001.JPG", b = pictures / "IMG_0002.JPG";
    WriteJpegWithExif(
            a, {{"Exif.Photo.DateTimeOriginal", shared}, {"Exif.Photo.DateTimeDigitized", shared}});
    WriteJpegWithExif(
            b, {{"Exif.Photo.DateTimeOriginal", shared}, {"Exif.Photo.DateTimeDigitized", shared}});
    Journal journal(Journal::DefaultPath(), PinnedOptions());
    // The second picture shares the date: its rename is refused and it keeps its name.
    const PassId pass = DateJournaled(journal, pictures.Path(), {a, b}, 2);
    const std::string dated = pictures / "2005-07-14 11.03.27.JPG";
    ASSERT_TRUE(fs::exists(dated));
    ASSERT_TRUE(fs::exists(b));
    const std::string bytes = ReadBytes(dated);
    const std::size_t at = bytes.find(DateString("2005:07:14 11:03:27"));
    ASSERT_NE(at, std::string::npos);
    const std::string pair = bytes.substr(at, kShiftedPairBytes);

    struct Row
    {
        const char *name;
        std::string path;
        std::uint64_t size;
        std::uint64_t offset;
        int hours;
        bool known;
    } const rows[] = {
            {"the dated picture at its new name", dated, bytes.size(), at, 2, true},
            {"the picture whose rename was refused, at its own name", b, bytes.size(), at, 2, true},
            {"the dated picture's old name", a, bytes.size(), at, 2, false},
            {"another picture with the same date", pictures / "IMG_0003.JPG", bytes.size(), at, 2,
             false},
            {"the same bytes by other hours", dated, bytes.size(), at, -2, false},
            {"a file of another size", dated, bytes.size() + 1, at, 2, false},
            {"the pair at another offset", dated, bytes.size(), at + 1, 2, false},
    };
    for (const Row &row : rows) {
        const std::optional<EarlierShift> found =
                journal.FindEarlierShift(row.path, row.size, row.offset, pair, row.hours);
        EXPECT_EQ(found.has_value(), row.known) << row.name;
        if (found && row.known) {
            EXPECT_EQ(found->pass, pass) << row.name;
            EXPECT_EQ(found->started, kPinnedClock) << row.name;
        }
    }
    // Another name of the dated picture is the same file, shifted already; a copy is not.
    const std::string linked = pictures / "linked.jpg";
    ASSERT_EQ(link(dated.c_str(), linked.c_str()), 0);
    FileState file;
    ASSERT_EQ(ReadFileState(linked, file), 0);
    EXPECT_TRUE(journal.FindEarlierShift(linked, bytes.size(), at, pair, 2, file.identity));
    const std::string copy = pictures / "copy.jpg";
    WriteBytes(copy, bytes);
    ASSERT_EQ(ReadFileState(copy, file), 0);
    EXPECT_FALSE(journal.FindEarlierShift(copy, bytes.size(), at, pair, 2, file.identity));
    // Once the shifted file is gone, its inode number, given again to another file, is no proof.
    ASSERT_EQ(ReadFileState(linked, file), 0);
    fs::remove(dated);
    fs::remove(linked);
    EXPECT_FALSE(journal.FindEarlierShift(copy, bytes.size(), at, pair, 2, file.identity));

    // A pass asks first whether any pass shifted by its hours at all.
    EXPECT_TRUE(journal.HasShiftsBy(2));
    EXPECT_FALSE(journal.HasShiftsBy(-2));

    // A shift committed by another connection after the lookups above is found as well.
    const std::string c = pictures / "IMG_0004.JPG";
    WriteJpegWithExif(c, {{"Exif.Photo.DateTimeOriginal", "2006:01:01 10:00:00"},
                          {"Exif.Photo.DateTimeDigitized", "2006:01:01 10:00:00"}});
    {
        Journal other(Journal::DefaultPath(), PinnedOptions());
        DateJournaled(other, pictures.Path(), {c}, 2);
    }
    const std::string later = pictures / "2006-01-01 12.00.00.JPG";
    const std::string laterBytes = ReadBytes(later);
    const std::size_t laterAt = laterBytes.find(DateString("2006:01:01 12:00:00"));
    ASSERT_NE(laterAt, std::string::npos);
    const std::string laterPair = laterBytes.substr(laterAt, kShiftedPairBytes);
    EXPECT_TRUE(journal.FindEarlierShift(later, laterBytes.size(), laterAt, laterPair, 2));

    // A journal of the first version is brought up to date on opening, and keeps what it knew.
    {
        JournalStore store(Journal::DefaultPath(), 0);
        store.Execute("DROP TABLE shift_keys;"
                      "CREATE INDEX shifts_by_bytes ON changes(bytes_after) WHERE kind = 1;");
        store.SetUserVersion(1);
    }
    Journal upgraded(Journal::DefaultPath(), PinnedOptions());
    EXPECT_TRUE(upgraded.HasShiftsBy(2));
    EXPECT_TRUE(upgraded.FindEarlierShift(dated, bytes.size(), at, pair, 2).has_value());
    EXPECT_TRUE(upgraded.FindEarlierShift(later, laterBytes.size(), laterAt, laterPair, 2));
    EXPECT_FALSE(upgraded.FindEarlierShift(later, laterBytes.size(), laterAt, pair, 2));
    EXPECT_EQ(JournalStore(Journal::DefaultPath(), 0).UserVersion(), 4);
}
