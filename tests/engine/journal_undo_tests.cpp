// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
// The undo of a journaled pass on real files: every name, byte and time back as it was, pictures
// changed since left as they are, the passes it refuses, and a pass killed at any moment.
#include "journal_recovery.h"
#include "journal_sandbox.h"
#include "journal_undo.h"
#include "journaled_pass.h"

#include <chrono>
#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <random>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace kronvik;
using namespace kronvik::test;
namespace fs = std::filesystem;

namespace {

class AnUndo : public ::testing::Test, public JournalSandbox
{
protected:
    UndoResult Undo(std::optional<PassId> pass = std::nullopt)
    {
        const std::size_t from = front.LineCount();
        UndoResult result = UndoPass(*journal, pass, undoSession, waiter);
        lines.clear();
        for (std::size_t i = from; i < front.LineCount(); ++i)
            lines.push_back(front.Line(i).substr(21));
        return result;
    }

    UndoSession undoSession{front, front, cancel, session.clock, JournalFrontEnd::Cli};
    NoWait waiter;
    std::vector<std::string> lines; // of the last undo, without their time prefix
};

const std::string kJuly = "2005:07:14 09:03:27";

} // namespace

TEST_F(AnUndo, givesEveryPictureOfAPassItsNameBytesAndTimeBack)
{
    const std::string first = Picture("Camera/IMG_0001.JPG", kJuly);
    // The same date: its rename is refused, and only its shift is taken back.
    const std::string second = Picture("Camera/IMG_0002.JPG", kJuly);
    const std::string third = Picture("Camera/2005/IMG_0003.JPG", "2004:12:31 23:30:00");
    const Tree before = TreeOf(pictures.Path());
    const PassId pass = DateJournaled(*journal, pictures / "Camera", {first, second, third}, 2);
    ASSERT_TRUE(fs::exists(pictures / "Camera/2005/2005-01-01 01.30.00.JPG"));
    ASSERT_NE(TreeOf(pictures.Path()), before);

    const UndoResult result = Undo();
    EXPECT_EQ(result.outcome, UndoOutcome::Undone);
    EXPECT_EQ(result.pass, pass);
    EXPECT_EQ(TreeOf(pictures.Path()), before);
    const std::string camera = pictures / "Camera";
    EXPECT_EQ(lines, (std::vector<std::string>{
                             "Processing digital pictures in " + camera + "/2005...",
                             "   2005-01-01 01.30.00.JPG -> IMG_0003.JPG",
                             "Processing digital pictures in " + camera + "...",
                             "   2005-07-14 11.03.27.JPG -> IMG_0001.JPG",
                             "Digital pictures restored: 3",
                             "Digital pictures left as they are: 0",
                     }));
    EXPECT_EQ(result.restored, 3);
    EXPECT_EQ(result.left, 0);

    const JournaledPass undone = *journal->FindPass(pass);
    EXPECT_EQ(undone.undone, kPinnedClock);
    const JournaledPass undo = *journal->FindPass(undone.undoneBy);
    EXPECT_EQ(undo.undoes, pass);
    EXPECT_EQ(undo.outcome, PassOutcome::Finished);
    EXPECT_EQ(undo.datedSuccessfully, 3);
    EXPECT_EQ(journal->CountDoneChanges(pass).pictures, 0);
    for (const ChangeRecord &change : journal->Changes(undo.id))
        EXPECT_EQ(change.state, ChangeState::Done) << change.id;

    // Twice is refused, and changes nothing.
    const UndoResult again = Undo();
    EXPECT_EQ(again.outcome, UndoOutcome::AlreadyUndone);
    EXPECT_EQ(UndoRefusal(again),
              "pass " + std::to_string(pass) + " was already undone on 2006-01-02 03:04:05.");
    EXPECT_TRUE(lines.empty());
    EXPECT_EQ(TreeOf(pictures.Path()), before);
}

TEST_F(AnUndo, leavesAPictureChangedSinceThePassAsItIs)
{
    const auto write = [](const std::string &path, std::size_t at, const std::string &bytes) {
        std::string content = ReadBytes(path);
        content.replace(at, bytes.size(), bytes);
        FileState state;
        ReadFileState(path, state);
        WriteBytes(path, content);
        SetModificationTime(path, state.modified);
    };
    struct Row
    {
        const char *name;
        std::function<void(const std::string &path)> change;
        const char *why;
    } const rows[] = {
            {"renamed since",
             [](const std::string &path) { fs::rename(path, path + ".renamed.JPG"); },
             "it is no longer there"},
            {"deleted since", [](const std::string &path) { fs::remove(path); },
             "it is no longer there"},
            {"its dates rewritten since",
             [&](const std::string &path) {
                 const std::size_t at = ReadBytes(path).find(DateString("2005:07:14 11:03:27"));
                 write(path, at, DateString("2006:07:14 11:03:27"));
             },
             "its EXIF dates changed since"},
            {"grown since",
             [](const std::string &path) {
                 FileState state;
                 ReadFileState(path, state);
                 WriteBytes(path, ReadBytes(path) + "x");
                 SetModificationTime(path, state.modified);
             },
             "its size changed since"},
            {"touched since", [](const std::string &path) { SetModificationTime(path, kOldTime); },
             "it was modified since"},
            // Where another program holds /dev, as on some build machines, the undo must not
            // wait for it.
            {"replaced since by a link to a device",
             [](const std::string &path) {
                 fs::remove(path);
                 fs::create_symlink("/dev/null", path);
             },
             "it is no longer a regular file"},
    };
    const int dev = open("/dev", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    flock(dev, LOCK_SH | LOCK_NB);
    for (const Row &row : rows) {
        const std::string folder = pictures / row.name;
        const std::string changed = Picture(std::string(row.name) + "/IMG_0001.JPG", kJuly);
        const std::string other =
                Picture(std::string(row.name) + "/IMG_0002.JPG", "2005:07:14 10:00:00");
        const TreeEntry otherBefore = TreeOf(folder).at("IMG_0002.JPG");
        DateJournaled(*journal, folder, {changed, other}, 2);
        const std::string dated = folder + "/2005-07-14 11.03.27.JPG";
        row.change(dated);
        Tree expected = TreeOf(folder);
        expected.erase("2005-07-14 12.00.00.JPG");
        expected["IMG_0002.JPG"] = otherBefore;

        const UndoResult result = Undo();
        EXPECT_EQ(result.restored, 1) << row.name;
        EXPECT_EQ(result.left, 1) << row.name;
        EXPECT_EQ(TreeOf(folder), expected) << row.name;
        ASSERT_EQ(lines.size(), 5u) << row.name;
        EXPECT_EQ(lines[2], "   " + dated + " left as it is; " + row.why + ".") << row.name;
        EXPECT_EQ(lines[4], "Digital pictures left as they are: 1") << row.name;
    }
    close(dev);
}

TEST_F(AnUndo, givesBackInThePicturesOrderWhenOneWasPlannedAgainAfterTheNext)
{
    // The first picture frees its name, which the second one's date names. The first one's
    // batch plan no longer held at its turn: planned again, its rows come after the second's.
    const std::string first = Picture("Camera/2004-12-31 23.30.00.JPG", kJuly);
    const std::string second = Picture("Camera/IMG_0002.JPG", "2004:12:31 23:30:00");
    const Tree before = TreeOf(pictures.Path());
    journal->BeginPass({JournalFrontEnd::Cli, pictures / "Camera", 0, true, 0});
    PlannedPicture a = PlanDating(first, 0), b = PlanDating(second, 0);
    a.picture = 0;
    b.picture = 1;
    const std::vector<ChangeId> batch = journal->PlanBatch({a, b});
    for (std::size_t i = 0; i < a.changes.size(); ++i)
        journal->MarkAbandoned(batch[i]);
    const std::vector<ChangeId> again = journal->PlanBatch({a});
    for (std::size_t i = 0; i < a.changes.size(); ++i) {
        ASSERT_EQ(MakeChange(a.changes[i]), 0);
        journal->MarkDone(again[i]);
    }
    for (std::size_t i = 0; i < b.changes.size(); ++i) {
        ASSERT_EQ(MakeChange(b.changes[i]), 0);
        journal->MarkDone(batch[a.changes.size() + i]);
    }
    journal->EndPass({2, 0});

    const UndoResult result = Undo();
    EXPECT_EQ(result.outcome, UndoOutcome::Undone);
    EXPECT_EQ(result.left, 0);
    EXPECT_EQ(TreeOf(pictures.Path()), before);
}

TEST_F(AnUndo, refusesAPictureWhoseOldNameANewFileTookAndKeepsBoth)
{
    const std::string picture = Picture("IMG_0001.JPG", kJuly);
    DateJournaled(*journal, pictures.Path(), {picture}, 2);
    WriteBytes(picture, "a new picture under the old name");
    const Tree after = TreeOf(pictures.Path());

    const UndoResult result = Undo();
    EXPECT_EQ(result.left, 1);
    EXPECT_EQ(TreeOf(pictures.Path()), after);
    EXPECT_EQ(lines[1], "   " + (pictures / "2005-07-14 11.03.27.JPG")
                                + " left as it is; its old name IMG_0001.JPG is taken.");
    // Once the name is free again, the picture that was left can still be restored.
    fs::remove(picture);
    EXPECT_EQ(Undo().restored, 1);
    EXPECT_TRUE(fs::exists(picture));
}

TEST(AnUndoQuestion, countsOnePictureInTheSingular)
{
    JournaledPass pass;
    pass.started = 1136171045; // 2006-01-02 03:04:05 UTC
    pass.sources = "/photos";
    const std::string head =
            "Take back the dating pass of " + JournalTimeText(pass.started) + " in /photos?\n\n";
    EXPECT_EQ(DescribeUndo(pass, {1, 1, 0, 1}),
              head
                      + "1 picture gets back its name (1), its EXIF dates (0) and its "
                        "modification time (1).");
    EXPECT_EQ(DescribeUndo(pass, {3, 2, 3, 3}),
              head
                      + "3 pictures get back their names (2), their EXIF dates (3) and their "
                        "modification times (3).");
}

TEST_F(AnUndo, ofAPassThatChangedNothingShowsNoneOfNoneOnTheStatusRow)
{
    const PassId pass = DateJournaled(*journal, pictures.Path(), {}, 0);
    // As the pass before it left the row.
    front.labels[StatusLabel::Current] = "4";
    front.labels[StatusLabel::Percent] = "100%";
    ASSERT_EQ(Undo(pass).outcome, UndoOutcome::Undone);
    EXPECT_EQ(front.labels[StatusLabel::Current] + " of " + front.labels[StatusLabel::Total] + " "
                      + front.labels[StatusLabel::Percent],
              "0 of 0 0%");
}

TEST_F(AnUndo, isRefusedForAPassItCannotTakeBack)
{
    EXPECT_EQ(UndoRefusal(Undo()), "the journal holds no dating pass to undo.");
    const std::string picture = Picture("IMG_0001.JPG", kJuly);
    const PassId pass = DateJournaled(*journal, pictures.Path(), {picture}, 0);
    ASSERT_EQ(Undo(pass).outcome, UndoOutcome::Undone);
    const PassId undo = journal->FindPass(pass)->undoneBy;

    struct Row
    {
        PassId pass;
        UndoOutcome outcome;
        std::string refusal;
    } const rows[] = {
            {42, UndoOutcome::UnknownPass, "there is no pass 42 in the journal."},
            {undo, UndoOutcome::IsAnUndo,
             "pass " + std::to_string(undo) + " is itself an undo; it cannot be undone."},
            {pass, UndoOutcome::AlreadyUndone,
             "pass " + std::to_string(pass) + " was already undone on 2006-01-02 03:04:05."},
    };
    for (const Row &row : rows) {
        const UndoResult result = Undo(row.pass);
        EXPECT_EQ(result.outcome, row.outcome) << row.refusal;
        EXPECT_EQ(UndoRefusal(result), row.refusal);
    }
    // Without a number, the last pass that is not an undo.
    EXPECT_EQ(Undo().outcome, UndoOutcome::AlreadyUndone);
}

// Without a number, the undo passes over passes that changed nothing back to one over the same
// folders, so that a second pass over pictures already dated and shifted does not keep the one
// that changed them out of reach.
TEST_F(AnUndo, withoutANumberTakesBackTheLastPassThatChangedSomething)
{
    // Where no pass changed anything, the last one is taken back, with nothing to restore.
    const PassId empty = DateJournaled(*journal, pictures.Path(), {}, 0);
    const UndoResult first = Undo();
    EXPECT_EQ(first.outcome, UndoOutcome::Undone);
    EXPECT_EQ(first.pass, empty);

    const std::string picture = Picture("IMG_0001.JPG", kJuly);
    const PassId changed = DateJournaled(*journal, pictures.Path(), {picture}, 2);
    ASSERT_FALSE(fs::exists(picture));
    // A pass that finds nothing to change, as a second run over pictures dated already.
    DateJournaled(*journal, pictures.Path(), {}, 2);

    const UndoResult result = Undo();
    EXPECT_EQ(result.outcome, UndoOutcome::Undone);
    EXPECT_EQ(result.pass, changed);
    EXPECT_TRUE(fs::exists(picture));
    // Once undone, it is the one the refusal names.
    const UndoResult again = Undo();
    EXPECT_EQ(again.outcome, UndoOutcome::AlreadyUndone);
    EXPECT_EQ(again.pass, changed);

    // A pass over other folders that changed nothing is the one taken back: never a pass over
    // folders the user did not name last.
    const std::string other = Picture("Other/IMG_0002.JPG", kJuly);
    DateJournaled(*journal, pictures.Path(), {other}, 0);
    const PassId elsewhere = DateJournaled(*journal, pictures / "Other", {}, 0);
    const UndoResult last = Undo();
    EXPECT_EQ(last.pass, elsewhere);
    EXPECT_EQ(last.restored, 0);
    EXPECT_FALSE(fs::exists(other));
}

TEST_F(AnUndo, ofAPassPrunedWhileItWaitedForTheFolderKnowsItNoMoreAndChangesNothing)
{
    const std::string picture = Picture("IMG_0001.JPG", kJuly);
    const PassId pass = DateJournaled(*journal, pictures.Path(), {picture}, 2);
    const Tree dated = TreeOf(pictures.Path());

    // Another run holds the folder; when it lets go, its end has pruned every pass but its own.
    class PruningRun : public LockWaiter
    {
    public:
        bool WaitForLock(const std::string &, DirectoryLock &, LockMode) override
        {
            JournalOptions options = JournalSandbox::Options();
            options.keptPasses = 1;
            Journal other(Journal::DefaultPath(), options);
            other.BeginPass({JournalFrontEnd::Window, "/elsewhere", 0, false, 0});
            other.EndPass({0, 0, PassOutcome::Finished});
            held.Release();
            return true;
        }
        DirectoryLock held;
    } run;
    ASSERT_TRUE(run.held.Open(pictures.Path()));
    ASSERT_EQ(run.held.TryLock(LockMode::Exclusive), LockAttempt::Taken);

    const UndoResult result = UndoPass(*journal, pass, undoSession, run);
    EXPECT_EQ(result.outcome, UndoOutcome::UnknownPass);
    EXPECT_EQ(UndoRefusal(result), "there is no pass " + std::to_string(pass) + " in the journal.");
    EXPECT_EQ(TreeOf(pictures.Path()), dated);
}

TEST_F(AnUndo, waitsForARunInAFolderItsPassReachedThroughALink)
{
    struct Case
    {
        const char *name;
        const char *link, *target, *picture; // the link and the picture, as A names them
        const char *waitedFor; // below A
    };
    const std::vector<Case> cases = {
            {"to the folder", "L", "../B", "L/IMG_0001.JPG", "L"},
            {"to the picture", "IMG_0001.JPG", "../B/IMG_0001.JPG", "IMG_0001.JPG", ""},
    };
    for (const Case &c : cases) {
        fs::remove_all(pictures.Path());
        Picture("B/IMG_0001.JPG", kJuly);
        const std::string source = pictures / "A";
        fs::create_directories(source);
        fs::create_symlink(c.target, source + "/" + c.link);
        const Tree before = TreeOf(pictures.Path());
        const PassId pass = DateJournaled(*journal, source, {source + "/" + c.picture}, 2);

        OtherRunHolding other(pictures / "B");
        const UndoResult result = UndoPass(*journal, pass, undoSession, other);
        EXPECT_EQ(result.outcome, UndoOutcome::Undone) << c.name;
        const std::string folder = *c.waitedFor ? source + "/" + c.waitedFor : pictures / "B";
        EXPECT_EQ(other.waitedFor, std::vector<std::string>{folder}) << c.name;
        EXPECT_EQ(TreeOf(pictures.Path()), before) << c.name;
    }
}

TEST_F(AnUndo, followsThePictureThroughTheRenamesJournaledSince)
{
    // Two pictures of one size, one taken two hours after the other: shifted and dated alike,
    // either can hold the name, the bytes and the time that a pass left the other with.
    const std::string eleven = "2005-07-14 11.03.27.JPG", thirteen = "2005-07-14 13.03.27.JPG";
    struct Row
    {
        const char *name;
        const char *secondName; // the later picture's name before the pass
        std::function<void(const fs::path &folder)> since;
        const char *why; // of the first picture's line; none when both are restored
    } const rows[] = {
            {"another pass renamed it and gave its name to the other picture", "IMG_0002.JPG",
             [&](const fs::path &folder) {
                 DateJournaled(*journal, folder, {folder / eleven, folder / thirteen}, -2);
             },
             "it was renamed since"},
            {"an undo that left it gave its name to the other picture", eleven.c_str(),
             [&](const fs::path &folder) {
                 fs::rename(folder / eleven, pictures / "moved away.JPG");
                 Undo();
             },
             "another file was given its name since"},
            {"another pass renamed it and was undone", "IMG_0002.JPG",
             [&](const fs::path &folder) {
                 Undo(DateJournaled(*journal, folder, {folder / eleven, folder / thirteen}, 1));
             },
             nullptr},
            {"another pass renamed it and was killed", "IMG_0002.JPG",
             [&](const fs::path &folder) {
                 Journal killed(Journal::DefaultPath(), Options());
                 killed.BeginPass({JournalFrontEnd::Cli, folder, 1, true, 0});
                 const PlannedPicture plan = PlanDating(folder / eleven, 1);
                 killed.PlanBatch({plan});
                 // Killed before the time.
                 ASSERT_EQ(MakeChange(plan.changes.at(0)), 0);
                 ASSERT_EQ(MakeChange(plan.changes.at(1)), 0);
             },
             nullptr},
    };
    int number = 0;
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        const std::string name = "row" + std::to_string(++number);
        const fs::path folder = pictures / name;
        const std::string first = Picture(name + "/IMG_0001.JPG", kJuly);
        const std::string second = Picture(name + "/" + row.secondName, "2005:07:14 11:03:27");
        const Tree before = TreeOf(folder);
        const PassId pass = DateJournaled(*journal, folder, {second, first}, 2);
        row.since(folder);
        const Tree since = TreeOf(folder);

        Undo(pass);
        if (row.why) {
            EXPECT_EQ(lines.at(1),
                      "   " + (folder / eleven).string() + " left as it is; " + row.why + ".");
            EXPECT_EQ(TreeOf(folder), since);
        } else {
            EXPECT_EQ(TreeOf(folder), before);
        }
    }
}

TEST_F(AnUndo, killedPartWayIsListedWithThePicturesItKeepsRestoredAndIsFinishedByTheNext)
{
    const std::vector<std::string> paths = {Picture("IMG_0001.JPG", kJuly),
                                            Picture("IMG_0002.JPG", "2005:07:15 09:03:27"),
                                            Picture("IMG_0003.JPG", "2005:07:16 09:03:27")};
    const Tree before = TreeOf(pictures.Path());
    const PassId pass = DateJournaled(*journal, pictures.Path(), paths, 2);
    journal.reset();
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // Killed after its second picture: that picture's marks never reach the journal.
        int drained = 0;
        front.onDrain = [&] {
            if (++drained == 2)
                raise(SIGKILL);
            return true;
        };
        OpenJournal();
        Undo(pass);
        _exit(0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status));

    OpenJournal();
    const JournaledPass killed = journal->Passes().front();
    EXPECT_EQ(killed.undoes, pass);
    EXPECT_EQ(killed.datedSuccessfully, 1);
    EXPECT_EQ(killed.datedUnsuccessfully, 0);
    RunLogLines log;
    RecoverUnfinishedPasses(*journal, {pictures.Path()}, session.clock, log);
    EXPECT_EQ(Undo(pass).restored, 2);
    EXPECT_EQ(TreeOf(pictures.Path()), before);
}

TEST_F(AnUndo, afterRecoveryRestoresATreeWhosePassWasKilledAtAnyMoment)
{
    const std::vector<std::pair<std::string, std::string>> camera = {
            {"IMG_0001.JPG", kJuly},
            {"IMG_0002.JPG", kJuly},
            {"IMG_0003.JPG", "2005:07:14 09:03:28"},
            {"IMG_0004.JPG", "2004:12:31 23:00:00"},
            {"IMG_0005.JPG", "2004:02:28 23:59:59"},
            {"IMG_0006.JPG", "2005:07:14 11:03:27"},
    };
    const auto makeTree = [&](const std::string &folder) {
        std::vector<std::string> paths;
        for (const auto &[name, date] : camera)
            paths.push_back(Picture(folder + "/" + name, date));
        return paths;
    };
    // How long a whole pass takes here, so that the kills fall all over it.
    const auto start = std::chrono::steady_clock::now();
    DateJournaled(*journal, pictures / "timing", makeTree("timing"), 2);
    const auto length = std::chrono::duration_cast<std::chrono::microseconds>(
                                std::chrono::steady_clock::now() - start)
                                .count();
    std::mt19937 random(20260504);
    std::uniform_int_distribution<long> delay(0, length * 12 / 10 + 1);

    constexpr int kRuns = 50;
    for (int run = 0; run < kRuns; ++run) {
        const std::string folder = pictures / ("run" + std::to_string(run));
        const std::vector<std::string> paths = makeTree("run" + std::to_string(run));
        const Tree before = TreeOf(folder);
        const long wait = delay(random);
        int ready[2];
        ASSERT_EQ(pipe(ready), 0);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            Journal killed(Journal::DefaultPath(), Options());
            (void)!write(ready[1], "x", 1);
            DateJournaled(killed, folder, paths, 2);
            _exit(0);
        }
        close(ready[1]);
        char byte;
        ASSERT_EQ(read(ready[0], &byte, 1), 1);
        close(ready[0]);
        // The wait starts when the pass does.
        usleep(static_cast<useconds_t>(wait));
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);

        OpenJournal();
        RunLogLines log;
        RecoverUnfinishedPasses(*journal, {folder}, session.clock, log);
        const std::optional<JournaledPass> last = journal->LastUndoablePass();
        if (last && last->sources == folder)
            Undo(last->id);
        EXPECT_EQ(TreeOf(folder), before) << "run " << run << ", killed after " << wait << " us";
    }
}
