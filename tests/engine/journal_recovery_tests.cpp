// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
// Recovery of a pass killed part way: the disk states a kill can leave between the journal's plan
// and its marks, each rolled back to the tree as it was, on real files and a real journal.
#include "bind_mount.h"
#include "journal_recovery.h"
#include "journal_sandbox.h"
#include "journaled_pass.h"
#include "pass_preview.h"
#include "paused_child.h"
#include "picture_scan.h"
#include "run_log.h"
#include "small_disk.h"

#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <optional>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace kronvik;
using namespace kronvik::test;
namespace fs = std::filesystem;

namespace {

const std::string kDate = "2005:07:14 09:03:27";
const std::string kNewName = "2005-07-14 11.03.27.JPG"; // after +2 hours

std::string RecoveredLine(int takenBack)
{
    return std::string(kTopPrefix) + "Recovered the unfinished pass of 2006-01-02 03:04:05: "
           + std::to_string(takenBack) + " changes taken back.";
}

std::vector<ChangeState> StatesOf(Journal &journal, PassId pass)
{
    std::vector<ChangeState> states;
    for (const ChangeRecord &change : journal.Changes(pass))
        states.push_back(change.state);
    return states;
}

// Creates `path` empty and exclusively, as the rename on FAT reserves a name.
void MakePlaceholder(const std::string &path)
{
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
    ASSERT_GE(fd, 0);
    close(fd);
}

class AKilledPass : public ::testing::Test, public JournalSandbox
{
protected:
    // Begins a pass over the folder of pictures, plans the changes of `paths` (+2 hours), lets
    // `make` bring the disk to where a kill left it, and leaves the pass as the kill does: no end,
    // and the marks not yet committed.
    PassId KillDuring(const std::vector<std::string> &paths,
                      const std::function<void(const std::vector<PlannedPicture> &)> &make,
                      const std::string &sources = {})
    {
        const PassId pass = journal->BeginPass(
                {JournalFrontEnd::Cli, sources.empty() ? pictures.Path().string() : sources, 2,
                 true, 0});
        std::vector<PlannedPicture> plans;
        for (const std::string &path : paths)
            plans.push_back(PlanDating(path, 2));
        journal->PlanBatch(plans);
        make(plans);
        OpenJournal();
        return pass;
    }

    std::vector<std::string> Recover(const std::string &held)
    {
        RunLogLines log;
        RecoverUnfinishedPasses(*journal, {held}, session.clock, log);
        return log.Lines();
    }
};

} // namespace

// The journal's disk fills once the killed pass's rows are in: the recovery takes the files back,
// then cannot mark them. The log still says what it did before the failure ends the run.
TEST_F(AKilledPass, isReportedWhenItsMarksCannotBeWrittenAfterward)
{
    TempDir dir;
    const std::string point = dir / "small";
    fs::create_directory(point);
    SmallDisk disk(point, "512k");
    if (!disk.IsMounted())
        GTEST_SKIP() << disk.Problem();
    const std::string path = point + "/journal.sqlite3";
    const std::string picture = Picture("IMG_0001.JPG", kDate);
    const std::string folder = pictures.Path();
    const Tree before = TreeOf(folder);
    {
        Journal killed(path, Options());
        killed.BeginPass({JournalFrontEnd::Cli, folder, 2, true, 0});
        const PlannedPicture plan = PlanDating(picture, 2);
        ASSERT_EQ(plan.changes.size(), 3u); // shift, rename, time
        killed.PlanBatch({plan});
        for (const JournalChange &change : plan.changes)
            ASSERT_EQ(MakeChange(change), 0);
    }
    Journal reopened(path, Options());
    disk.Fill();
    RunLogLines log;
    EXPECT_THROW(RecoverUnfinishedPasses(reopened, {folder}, session.clock, log), JournalError);
    disk.Empty();
    EXPECT_EQ(log.Lines(), std::vector<std::string>{RecoveredLine(3)});
    EXPECT_EQ(TreeOf(folder), before);
}

TEST_F(AKilledPass, isRolledBackFromEveryStateAKillCanLeave)
{
    using Plans = std::vector<PlannedPicture>;
    const auto shift = [](const Plans &plans) { MakeChange(plans[0].changes[0]); };
    const auto rename = [](const Plans &plans) { MakeChange(plans[0].changes[1]); };
    const ChangeState A = ChangeState::Abandoned, T = ChangeState::TakenBack;
    struct Row
    {
        const char *name;
        std::function<void(const Plans &)> make;
        int takenBack;
        std::vector<ChangeState> states; // shift, rename, time
    } const rows[] = {
            {"before anything was made", [](const Plans &) {}, 0, {A, A, A}},
            {"after the shift was written", shift, 1, {T, A, A}},
            {"after a write killed before its first byte, which still gave the file a new time",
             [](const Plans &plans) {
                 ASSERT_EQ(SetModificationTime(plans[0].changes[0].path, kOldTime + 7), 0);
             },
             0,
             {A, A, A}},
            {"after the rename",
             [&](const Plans &plans) {
                 shift(plans);
                 rename(plans);
             },
             2,
             {T, T, A}},
            {"with the placeholder of a rename on FAT left under the new name",
             [&](const Plans &plans) {
                 shift(plans);
                 MakePlaceholder(plans[0].changes[1].newPath);
             },
             2,
             {T, T, A}},
            {"after every change, and a recovery killed after its rename back",
             [](const Plans &plans) {
                 for (const JournalChange &change : plans[0].changes)
                     ASSERT_EQ(MakeChange(change), 0);
                 ASSERT_EQ(RenameNoReplace(plans[0].changes[1].newPath, plans[0].changes[1].path),
                           0);
             },
             2,
             {T, A, T}},
            {"with the placeholder of an earlier recovery's rename back under the old name",
             [&](const Plans &plans) {
                 shift(plans);
                 rename(plans);
                 MakePlaceholder(plans[0].changes[1].path);
             },
             2,
             {T, T, A}},
            {"with two names of the file left by a link and unlink",
             [&](const Plans &plans) {
                 shift(plans);
                 ASSERT_EQ(link(plans[0].changes[1].path.c_str(),
                                plans[0].changes[1].newPath.c_str()),
                           0);
             },
             2,
             {T, T, A}},
            {"after every change, none marked",
             [](const Plans &plans) {
                 for (const JournalChange &change : plans[0].changes)
                     ASSERT_EQ(MakeChange(change), 0);
             },
             3,
             {T, T, T}},
    };
    for (const Row &row : rows) {
        const std::string picture = Picture(std::string(row.name) + "/IMG_0001.JPG", kDate);
        const std::string folder = fs::path(picture).parent_path().string();
        const Tree before = TreeOf(folder);
        const PassId pass = KillDuring({picture}, row.make, folder);
        if (row.takenBack > 0) {
            ASSERT_NE(TreeOf(folder), before) << row.name;
        }
        const Tree killed = TreeOf(folder);
        EXPECT_EQ(PendingRecoveries(*journal, {folder}).size(), 1u) << row.name;
        EXPECT_EQ(TreeOf(folder), killed) << row.name << ": counting changed the tree";

        EXPECT_EQ(Recover(folder), std::vector<std::string>{RecoveredLine(row.takenBack)})
                << row.name;
        EXPECT_EQ(TreeOf(folder), before) << row.name;
        EXPECT_EQ(StatesOf(*journal, pass), row.states) << row.name;
        EXPECT_EQ(journal->FindPass(pass)->outcome, PassOutcome::Interrupted) << row.name;
        EXPECT_TRUE(Recover(folder).empty()) << row.name << ": recovered twice";
        EXPECT_TRUE(PendingRecoveries(*journal, {folder}).empty()) << row.name;
    }
}

TEST_F(AKilledPass, thatNoPassRecoveredStillCountsItsShiftsMade)
{
    // Its picture lay outside the folders of the passes that followed (reached through a link):
    // the shift stays planned, and a later pass by the same hours must not shift it again.
    using Plans = std::vector<PlannedPicture>;
    struct Row
    {
        const char *name;
        void (*make)(const Plans &);
        bool renamed;
        bool throughLinkGoneSince; // dated through a link in a folder deleted after the kill
    } const rows[] = {
            {"after its shift", [](const Plans &plans) { MakeChange(plans[0].changes[0]); }, false,
             false},
            {"after its shift and rename",
             [](const Plans &plans) {
                 MakeChange(plans[0].changes[0]);
                 MakeChange(plans[0].changes[1]);
             },
             true, false},
            {"after its shift through a link",
             [](const Plans &plans) { MakeChange(plans[0].changes[0]); }, false, true},
            {"after its shift and the rename of the link",
             [](const Plans &plans) {
                 MakeChange(plans[0].changes[0]);
                 MakeChange(plans[0].changes[1]);
             },
             false, true},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        const std::string picture = Picture(std::string(row.name) + "/IMG_0001.JPG", kDate);
        const std::string folder = fs::path(picture).parent_path().string();
        const std::string links = folder + " links";
        std::string dated = picture;
        if (row.throughLinkGoneSince) {
            fs::create_directory(links);
            fs::create_symlink(picture, dated = links + "/p.jpg");
        }
        JournalChange shift;
        KillDuring(
                {dated},
                [&](const Plans &plans) {
                    shift = plans[0].changes[0];
                    row.make(plans);
                },
                fs::path(dated).parent_path());
        fs::remove_all(links);
        const std::string path = row.renamed ? folder + "/" + kNewName : picture;
        FileState file;
        ASSERT_EQ(ReadFileState(path, file), 0);
        EXPECT_TRUE(journal->FindEarlierShift(path, shift.size, shift.offset, shift.bytesAfter, 2,
                                              file.identity));
        EXPECT_FALSE(journal->FindEarlierShift(path, shift.size, shift.offset, shift.bytesAfter, 3,
                                               file.identity));
    }
}

TEST_F(AKilledPass, leavesAFileOfSomeoneElseUnderTheNewName)
{
    struct Row
    {
        const char *name;
        std::string bytes;
        std::int64_t modified;
    } const rows[] = {
            {"a picture", "another picture", kOldTime},
            {"an empty file from before the pass", "", kOldTime},
    };
    for (const Row &row : rows) {
        const std::string picture = Picture(std::string(row.name) + "/IMG_0001.JPG", kDate);
        const std::string folder = fs::path(picture).parent_path().string();
        const std::string taken = folder + "/" + kNewName;
        WriteBytes(taken, row.bytes);
        SetModificationTime(taken, row.modified);
        const Tree before = TreeOf(folder);
        // The rename was refused, and the kill came before its mark.
        const PassId pass = KillDuring(
                {picture}, [](const std::vector<PlannedPicture> &) {}, folder);

        EXPECT_EQ(Recover(folder), std::vector<std::string>{RecoveredLine(0)}) << row.name;
        EXPECT_EQ(TreeOf(folder), before) << row.name;
        EXPECT_EQ(StatesOf(*journal, pass), std::vector<ChangeState>(3, ChangeState::Abandoned))
                << row.name;
    }
}

TEST_F(AKilledPass, givesBackTheTimeOfAPictureListedTwice)
{
    // Its folder listed twice: the picture's second entry planned the same rename, bound to find
    // the picture gone. The kill came after the first entry's rename and time, before any mark.
    const std::string picture = Picture("twice/IMG_0001.JPG", kDate);
    const std::string folder = fs::path(picture).parent_path().string();
    const Tree before = TreeOf(folder);
    journal->BeginPass({JournalFrontEnd::Cli, folder + ";" + folder, 0, true, 0});
    const PlannedPicture first = PlanDating(picture, 0);
    ASSERT_EQ(first.changes.size(), 2u); // rename, time
    PlannedPicture second;
    second.changes.push_back(first.changes[0]);
    journal->PlanBatch({first, second});
    for (const JournalChange &change : first.changes)
        ASSERT_EQ(MakeChange(change), 0);
    OpenJournal();

    EXPECT_EQ(Recover(folder), std::vector<std::string>{RecoveredLine(2)});
    EXPECT_EQ(TreeOf(folder), before);
}

TEST_F(AKilledPass, keepsTheDoneRenameOfAPictureListedTwice)
{
    // As above, but the first entry's rename and time were marked done before the kill: they
    // stay for an undo, and the second entry's rename, which found the picture gone, is no
    // change to take back; also where the folder was given once as "F/" ("F//IMG_0001.JPG").
    for (const std::string spelling : {"/", "//"}) {
        const std::string picture =
                Picture("twice done " + std::to_string(spelling.size()) + "/IMG_0001.JPG", kDate);
        const std::string folder = fs::path(picture).parent_path().string();
        const PassId pass =
                journal->BeginPass({JournalFrontEnd::Cli, folder + ";" + folder, 0, true, 0});
        const PlannedPicture first = PlanDating(picture, 0);
        ASSERT_EQ(first.changes.size(), 2u); // rename, time
        PlannedPicture second;
        second.changes.push_back(first.changes[0]);
        second.changes[0].path = folder + spelling + "IMG_0001.JPG";
        second.changes[0].newPath =
                folder + spelling + fs::path(first.changes[0].newPath).filename().string();
        const std::vector<ChangeId> ids = journal->PlanBatch({first, second});
        for (std::size_t i = 0; i < first.changes.size(); ++i) {
            ASSERT_EQ(MakeChange(first.changes[i]), 0);
            journal->MarkDone(ids[i]);
        }
        journal->Flush();
        const Tree dated = TreeOf(folder);
        OpenJournal();

        EXPECT_EQ(Recover(folder), std::vector<std::string>{RecoveredLine(0)}) << spelling;
        EXPECT_EQ(TreeOf(folder), dated) << spelling;
        const ChangeState D = ChangeState::Done, A = ChangeState::Abandoned;
        EXPECT_EQ(StatesOf(*journal, pass), (std::vector<ChangeState>{D, D, A})) << spelling;
    }
}

TEST_F(AKilledPass, keepsTheDoneShiftAndTimeOfAPictureListedTwice)
{
    // Dated in its place (its name is its date after the shift), its folder listed twice: both
    // entries planned the same shift and time, the first entry's were done and marked.
    const std::string picture = Picture("twice in place/2005-07-14 11.03.27.JPG", kDate);
    const std::string folder = fs::path(picture).parent_path().string();
    const PassId pass =
            journal->BeginPass({JournalFrontEnd::Cli, folder + ";" + folder, 2, true, 0});
    const PlannedPicture first = PlanDating(picture, 2);
    ASSERT_EQ(first.changes.size(), 3u); // shift, rename onto its own name, time
    PlannedPicture second = first;
    const std::vector<ChangeId> ids = journal->PlanBatch({first, second});
    for (std::size_t i = 0; i < first.changes.size(); ++i) {
        if (first.changes[i].kind != ChangeKind::Rename) {
            ASSERT_EQ(MakeChange(first.changes[i]), 0);
        }
        journal->MarkDone(ids[i]);
    }
    journal->Flush();
    const Tree dated = TreeOf(folder);
    OpenJournal();

    EXPECT_EQ(Recover(folder), std::vector<std::string>{RecoveredLine(0)});
    EXPECT_EQ(TreeOf(folder), dated);
    const ChangeState D = ChangeState::Done, A = ChangeState::Abandoned;
    EXPECT_EQ(StatesOf(*journal, pass), (std::vector<ChangeState>{D, D, D, A, A, A}));
}

TEST_F(AKilledPass, keepsTheHardLinksAPictureHadBeforeThePass)
{
    // The picture's other name is the one the pass meant to give it; the rename was bound to be
    // refused, and the kill came before its mark. The pass began well after the link was made.
    const std::string picture = Picture("linked/IMG_0001.JPG", kDate);
    const std::string folder = fs::path(picture).parent_path().string();
    ASSERT_EQ(link(picture.c_str(), (folder + "/" + kNewName).c_str()), 0);
    const Tree before = TreeOf(folder);
    JournalOptions later;
    later.clock = [] { return static_cast<std::int64_t>(time(nullptr)) + 10; };
    journal = std::make_unique<Journal>(Journal::DefaultPath(), later);
    const PassId pass = KillDuring(
            {picture}, [](const std::vector<PlannedPicture> &) {}, folder);

    const std::vector<std::string> lines = Recover(folder);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_TRUE(lines[0].ends_with(": 0 changes taken back.")) << lines[0];
    EXPECT_EQ(TreeOf(folder), before);
    EXPECT_EQ(StatesOf(*journal, pass), std::vector<ChangeState>(3, ChangeState::Abandoned));
}

TEST_F(AKilledPass, keepsAHardLinkWhoseOtherNameThePassRenamed)
{
    // Two names of one picture, both planned to become its date name: the first was renamed, the
    // second bound to be refused, and the kill came before the marks. The second name and the
    // date name are then two names of one file, as a killed link and unlink would leave them.
    const std::string picture = Picture("linked/IMG_0001.JPG", kDate);
    const std::string folder = fs::path(picture).parent_path().string();
    const std::string other = folder + "/hard.jpg";
    ASSERT_EQ(link(picture.c_str(), other.c_str()), 0);
    const Tree before = TreeOf(folder);
    KillDuring(
            {other, picture},
            [](const std::vector<PlannedPicture> &plans) {
                for (const JournalChange &change : plans[0].changes)
                    ASSERT_EQ(MakeChange(change), 0);
            },
            folder);

    // Which of the two names' rows takes back the shared time is not fixed; the tree is.
    EXPECT_EQ(Recover(folder).size(), 1u);
    EXPECT_EQ(TreeOf(folder), before);
}

TEST_F(AKilledPass, keepsTheNameAnEarlierPassGaveTheFile)
{
    // An earlier pass renamed one of a picture's two names to its date name, the same second.
    // This one planned that name for the other, bound to be refused, and was killed before its
    // marks: the two names look as a killed link and unlink would leave them.
    const std::string picture = Picture("linked/IMG_0001.JPG", kDate);
    const std::string folder = fs::path(picture).parent_path().string();
    const std::string other = folder + "/hard.jpg";
    ASSERT_EQ(link(picture.c_str(), other.c_str()), 0);
    DateJournaled(*journal, folder, {other}, 2);
    ASSERT_TRUE(fs::exists(folder + "/" + kNewName));
    const Tree before = TreeOf(folder);
    journal->BeginPass({JournalFrontEnd::Cli, folder, 0, true, 0});
    journal->PlanBatch({PlanDating(picture, 0)});
    OpenJournal();

    EXPECT_EQ(Recover(folder).size(), 1u);
    EXPECT_EQ(TreeOf(folder), before);
}

TEST_F(AKilledPass, keepsTheTimeItSetThroughALinkToAPicture)
{
    // The link came first: its rename and the picture's time, set through it, were made and
    // marked. The picture's own rows, planned alike under its own name, were never reached.
    const std::string picture = Picture("linked/IMG_0001.JPG", kDate);
    const std::string folder = fs::path(picture).parent_path().string();
    const std::string link = folder + "/link.jpg";
    fs::create_symlink("IMG_0001.JPG", link);
    journal->BeginPass({JournalFrontEnd::Cli, folder, 0, true, 0});
    const std::vector<PlannedPicture> plans = {PlanDating(link, 0), PlanDating(picture, 0)};
    const std::vector<ChangeId> ids = journal->PlanBatch(plans);
    for (std::size_t i = 0; i < plans[0].changes.size(); ++i) {
        ASSERT_EQ(MakeChange(plans[0].changes[i]), 0);
        journal->MarkDone(ids[i]);
    }
    journal->Flush();
    const Tree killed = TreeOf(folder);
    OpenJournal();

    EXPECT_EQ(Recover(folder), std::vector<std::string>{RecoveredLine(0)});
    EXPECT_EQ(TreeOf(folder), killed);
}

TEST_F(AKilledPass, keepsAHardLinkWhoseOtherNameThePassDated)
{
    // The picture's date name was dated in its place (its time set, which moves the change time
    // too); its other name was then to be renamed to it, bound to be refused, and the kill came
    // before that mark, and before or after the time's.
    for (const bool marked : {true, false}) {
        const std::string name = marked ? "marked" : "unmarked";
        const std::string dated = Picture(name + "/2005-07-14 09.03.27.JPG", kDate);
        const std::string folder = fs::path(dated).parent_path().string();
        const std::string other = folder + "/hard.jpg";
        ASSERT_EQ(link(dated.c_str(), other.c_str()), 0);
        journal->BeginPass({JournalFrontEnd::Cli, folder, 0, true, 0});
        const PlannedPicture second = PlanDating(other, 0);
        ASSERT_EQ(second.changes.size(), 2u); // rename, time
        PlannedPicture first;
        first.changes.push_back(second.changes[1]); // the same time, set under the date name
        const std::vector<ChangeId> ids = journal->PlanBatch({first, second});
        ASSERT_EQ(MakeChange(first.changes[0]), 0);
        if (marked)
            journal->MarkDone(ids[0]);
        journal->Flush();
        OpenJournal();

        Recover(folder);
        EXPECT_TRUE(fs::exists(other)) << name;
        EXPECT_TRUE(fs::exists(dated)) << name;
    }
}

TEST_F(AKilledPass, keepsAHardLinkWhoseOtherNameThePassShifted)
{
    // The picture was read and shifted under its date name (to be renamed after the new date);
    // its other name was then to be renamed to the old date name, bound to be refused; the kill
    // came before any mark.
    const std::string dated = Picture("shifted/2005-07-14 09.03.27.JPG", kDate);
    const std::string folder = fs::path(dated).parent_path().string();
    const std::string other = folder + "/hard.jpg";
    ASSERT_EQ(link(dated.c_str(), other.c_str()), 0);
    journal->BeginPass({JournalFrontEnd::Cli, folder, 2, true, 0});
    const PlannedPicture first = PlanDating(dated, 2);
    const PlannedPicture second = PlanDating(other, 0);
    ASSERT_EQ(first.changes.size(), 3u); // shift, rename, time
    journal->PlanBatch({first, second});
    ASSERT_EQ(MakeChange(first.changes[0]), 0);
    OpenJournal();

    Recover(folder);
    EXPECT_TRUE(fs::exists(other));
    EXPECT_TRUE(fs::exists(dated));
}

TEST_F(AKilledPass, takesBackOnlyThePictureThatGotANameTwoWereMeantFor)
{
    // The second picture's rename and time were planned under the name the first one took; the
    // kill came after the second one's shift.
    const std::string first = Picture("pair/IMG_0001.JPG", kDate);
    const std::string second = Picture("pair/IMG_0002.JPG", kDate);
    const std::string folder = fs::path(first).parent_path().string();
    const Tree before = TreeOf(folder);
    const PassId pass = KillDuring(
            {first, second},
            [](const std::vector<PlannedPicture> &plans) {
                for (const JournalChange &change : plans[0].changes)
                    ASSERT_EQ(MakeChange(change), 0);
                ASSERT_EQ(MakeChange(plans[1].changes[0]), 0);
            },
            folder);

    EXPECT_EQ(Recover(folder), std::vector<std::string>{RecoveredLine(4)});
    EXPECT_EQ(TreeOf(folder), before);
    const ChangeState A = ChangeState::Abandoned, T = ChangeState::TakenBack;
    EXPECT_EQ(StatesOf(*journal, pass), (std::vector<ChangeState>{T, T, T, T, A, A}));
}

TEST_F(AKilledPass, keepsItsDoneChangesForAnUndo)
{
    const std::string picture = Picture("IMG_0001.JPG", kDate);
    const PassId pass = KillDuring({picture}, [&](const std::vector<PlannedPicture> &plans) {
        MakeChange(plans[0].changes[0]);
        journal->MarkDone(journal->Changes(journal->CurrentPass())[0].id);
        journal->Flush();
        MakeChange(plans[0].changes[1]);
    });
    const std::string shifted = ReadBytes(pictures / kNewName);

    EXPECT_EQ(Recover(pictures.Path()), std::vector<std::string>{RecoveredLine(1)});
    EXPECT_EQ(ReadBytes(picture), shifted) << "the done shift was taken back";
    EXPECT_EQ(StatesOf(*journal, pass),
              (std::vector<ChangeState>{ChangeState::Done, ChangeState::TakenBack,
                                        ChangeState::Abandoned}));
}

TEST_F(AKilledPass, ofAnUndoGivesThePictureBackItsDatedNameAndBytes)
{
    const ChangeState A = ChangeState::Abandoned, T = ChangeState::TakenBack;
    const struct
    {
        const char *name;
        std::size_t made; // of the undo's rename back, shift back and time back
        int takenBack;
        std::vector<ChangeState> states;
    } rows[] = {
            {"renamed back", 1, 1, {T, A, A}},
            {"renamed and shifted back", 2, 2, {T, T, A}},
            {"renamed, shifted and timed back", 3, 2, {T, T, A}},
    };
    for (const auto &row : rows) {
        const std::string folder = pictures / row.name;
        const std::string picture = Picture(std::string(row.name) + "/IMG_0001.JPG", kDate);
        FileState original;
        ReadFileState(picture, original);
        const PassId dating = DateJournaled(*journal, folder, {picture}, 2);
        const std::string dated = folder + "/" + kNewName;
        FileState now;
        ReadFileState(dated, now);
        const Tree before = TreeOf(folder);

        const JournalChange shifted = journal->Changes(dating)[0].change;
        PlannedPicture undo;
        undo.changes = {JournalChange::Rename(dated, picture, now.size, now.identity),
                        JournalChange::Shift(picture, now.size, shifted.offset, shifted.bytesAfter,
                                             shifted.bytesBefore, -2, now.modified, now.identity),
                        JournalChange::Time(picture, now.size, now.modified, original.modified,
                                            now.identity)};
        const PassId pass = journal->BeginPass({JournalFrontEnd::Cli, folder, 0, true, dating});
        journal->PlanBatch({undo});
        for (std::size_t change = 0; change < row.made; ++change)
            MakeChange(undo.changes[change]);
        OpenJournal();

        EXPECT_EQ(Recover(folder), std::vector<std::string>{RecoveredLine(row.takenBack)})
                << row.name;
        EXPECT_EQ(TreeOf(folder), before) << row.name;
        EXPECT_EQ(StatesOf(*journal, pass), row.states) << row.name;
    }
}

TEST_F(AKilledPass, isLeftAloneOnlyWhileItsProcessStillRunsIt)
{
    // A process that gives its pass up without an end (a window whose pass a journal error
    // stopped) lives on; the journal that one keeps open stays so until the child is killed.
    for (const bool givenUp : {false, true}) {
        SCOPED_TRACE(givenUp ? "given up" : "running");
        const std::string picture = Picture(givenUp ? "IMG_0002.JPG" : "IMG_0001.JPG", kDate);
        const pid_t child = ForkPausedAfter([&] {
            auto *running = new Journal(Journal::DefaultPath(), Options());
            running->BeginPass({JournalFrontEnd::Cli, pictures.Path(), 2, true, 0});
            const PlannedPicture plan = PlanDating(picture, 2);
            running->PlanBatch({plan});
            MakeChange(plan.changes[0]);
            if (givenUp)
                delete running;
        });
        ASSERT_GT(child, 0);
        const std::string shifted = ReadBytes(picture);

        if (!givenUp) {
            EXPECT_TRUE(Recover(pictures.Path()).empty());
            EXPECT_TRUE(PendingRecoveries(*journal, {pictures.Path()}).empty());
            EXPECT_EQ(ReadBytes(picture), shifted);
            kill(child, SIGKILL);
            waitpid(child, nullptr, 0);
        }
        EXPECT_EQ(Recover(pictures.Path()), std::vector<std::string>{RecoveredLine(1)});
        EXPECT_NE(ReadBytes(picture), shifted);
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
    }
}

TEST_F(AKilledPass, isRecoveredOnlyInTheFoldersHeld)
{
    const std::string a = Picture("A/IMG_0001.JPG", kDate);
    const std::string b = Picture("B/IMG_0001.JPG", kDate);
    const Tree before = TreeOf(pictures.Path());
    const std::string folderA = pictures / "A", folderB = pictures / "B";
    const Tree beforeA = TreeOf(folderA);
    const PassId pass = KillDuring(
            {a, b},
            [](const std::vector<PlannedPicture> &plans) {
                for (const PlannedPicture &plan : plans)
                    for (const JournalChange &change : plan.changes)
                        MakeChange(change);
            },
            folderA + ";" + folderB);

    EXPECT_EQ(Recover(folderA), std::vector<std::string>{RecoveredLine(3)});
    EXPECT_EQ(TreeOf(folderA), beforeA);
    EXPECT_TRUE(fs::exists(folderB + "/" + kNewName)) << "a folder not held was touched";
    EXPECT_EQ(journal->FindPass(pass)->ended, 0);

    // A run over the parent holds both.
    EXPECT_EQ(Recover(pictures.Path()), std::vector<std::string>{RecoveredLine(3)});
    EXPECT_EQ(TreeOf(pictures.Path()), before);
    EXPECT_EQ(journal->FindPass(pass)->outcome, PassOutcome::Interrupted);
}

TEST_F(AKilledPass, isRecoveredInAFolderItReachedThroughALinkInAFolderHeld)
{
    // Held again, the folder with the link lets the run work beyond it as the killed pass did:
    // what that pass left there would stop it.
    Picture("B/IMG_0001.JPG", kDate);
    const std::string held = pictures / "S";
    fs::create_directories(held);
    fs::create_directory_symlink("../B", held + "/L");
    const Tree before = TreeOf(pictures.Path());
    KillDuring(
            {held + "/L/IMG_0001.JPG"},
            [](const std::vector<PlannedPicture> &plans) {
                for (const JournalChange &change : plans[0].changes)
                    MakeChange(change);
            },
            held);

    // Not while another run works in the folder beyond the link: the locks reach it first.
    OtherRunHolding other(pictures / "B");
    SourceLocks locks;
    ASSERT_TRUE(locks.Take(held + "/", other));
    ASSERT_TRUE(HoldFoldersToRecover(*journal, locks, other));
    EXPECT_EQ(other.waitedFor, std::vector<std::string>{held + "/L"});
    DirectoryLock another;
    ASSERT_TRUE(another.Open(pictures / "B"));
    EXPECT_EQ(another.TryLock(LockMode::Shared), LockAttempt::Held);

    EXPECT_EQ(Recover(held + "/"), std::vector<std::string>{RecoveredLine(3)});
    EXPECT_EQ(TreeOf(pictures.Path()), before);
}

TEST_F(AKilledPass, isRecoveredByARunOverTheFolderAboveWhatABindMountShowed)
{
    struct Row
    {
        const char *name;
        const char *passOver, *runOver; // below the pictures' folder
    } const rows[] = {
            {"killed over the mount, recovered over the folder above what it shows", "mnt/b",
             "data"},
            {"killed over a folder above the mount, recovered over the folder above what it shows",
             "mnt", "data"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        fs::remove_all(pictures.Path());
        Picture("data/B/IMG_0001.JPG", kDate);
        fs::create_directories(pictures / "mnt/b");
        const Tree before = TreeOf(pictures / "data");
        BindMount bind(pictures / "data/B", pictures / "mnt/b");
        if (!bind.Mounted())
            GTEST_SKIP() << "this process may not mount";
        const std::string passOver = pictures / row.passOver;
        KillDuring(
                {pictures / "mnt/b/IMG_0001.JPG"},
                [](const std::vector<PlannedPicture> &plans) {
                    for (const JournalChange &change : plans[0].changes)
                        MakeChange(change);
                },
                passOver);

        EXPECT_EQ(Recover(pictures / row.runOver), std::vector<std::string>{RecoveredLine(3)});
        EXPECT_EQ(TreeOf(pictures / "data"), before);
    }
}

// A killed pass over a folder that a later run reaches only through a link its scan meets: the
// folder, or the folder of a picture, is taken back as the scan locks it, before it is searched,
// so the list names the pictures as they were and a shift is not made twice. The later run is
// over S; the pictures' folder, and the killed pass, are elsewhere.
TEST_F(AKilledPass, isRecoveredByAScanThatReachesItsFolderThroughALink)
{
    using Links = std::vector<std::pair<const char *, const char *>>; // link, its text
    const Links toFolder = {{"S/L", "../B"}}, toPicture = {{"S/p.jpg", "../B/IMG_0001.JPG"}},
                toParent = {{"S/up", ".."}};
    const Links toFolderAndLinks = {toFolder[0], {"K/p.jpg", "../B/IMG_0001.JPG"}};
    const char *const inB = "B/IMG_0001.JPG";
    struct Row
    {
        const char *name;
        const char *picture; // below the pictures' folder
        Links links;
        const char *killedDating; // the path the killed pass dated, below the pictures' folder
        std::size_t made; // of the picture's changes: shift, rename, time
        bool preview;
        const char *otherRunHolds; // a folder, or empty
        std::vector<std::string> listed; // below S
        int takenBack;
    };
    // clang-format off
    const Row rows[] = {
        {"a link to the folder", inB, toFolder, inB, 3, false, "", {"L/IMG_0001.JPG"}, 3},
        {"a link to the picture, killed after its shift", inB, toPicture, inB, 1, false, "",
         {"p.jpg"}, 1},
        {"a link to the picture that the killed pass renamed", inB, toPicture, inB, 3, false, "",
         {"p.jpg"}, 3},
        {"a link to the folder above, held shared", "IMG_0001.JPG", toParent, "IMG_0001.JPG", 3,
         false, "", {"up/IMG_0001.JPG"}, 3},
        {"a link to the folder of pictures a killed pass dated through links", inB,
         toFolderAndLinks, "K/p.jpg", 2, false, "", {"L/IMG_0001.JPG"}, 2},
        {"the same, while another run holds the folder of links", inB, toFolderAndLinks,
         "K/p.jpg", 2, false, "K", {}, 0},
        {"a preview through a link to the folder", inB, toFolder, inB, 3, true, "",
         {"L/" + kNewName}, 0},
    };
    // clang-format on
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        fs::remove_all(pictures.Path());
        Picture(row.picture, kDate);
        const std::string held = pictures / "S";
        fs::create_directories(held);
        fs::create_directories(pictures / "K");
        for (const auto &[link, text] : row.links)
            fs::create_symlink(text, pictures / link);
        const Tree before = TreeOf(pictures.Path());
        const std::string dated = pictures / row.killedDating;
        KillDuring(
                {dated},
                [&](const std::vector<PlannedPicture> &plans) {
                    for (std::size_t i = 0; i < row.made; ++i)
                        MakeChange(plans[0].changes[i]);
                },
                fs::path(dated).parent_path());
        const Tree killed = TreeOf(pictures.Path());

        std::optional<OtherRunHolding> other;
        if (*row.otherRunHolds)
            other.emplace(pictures / row.otherRunHolds);
        SourceLocks locks;
        NoWait noWait;
        ASSERT_TRUE(locks.Take(held, noWait));
        PreviewApplier preview;
        front.sourceText = held;
        const std::size_t earlier = front.Lines().size();
        front.recoveriesPending.clear();
        session.journal = journal.get();
        session.sourceLocks = &locks;
        session.applier = row.preview ? &preview : nullptr;
        RetrieveFileList(session);

        const std::vector<std::string> lines(front.Lines().begin() + earlier, front.Lines().end());
        std::vector<std::string> listed;
        for (const std::string &path : state.pictureList)
            listed.push_back(fs::path(path).lexically_relative(held).string());
        EXPECT_EQ(listed, row.listed);
        if (row.takenBack == 0) {
            EXPECT_EQ(TreeOf(pictures.Path()), killed);
            EXPECT_EQ(front.recoveriesPending, row.preview
                                                       ? std::vector<std::string>{held + "/L: 1"}
                                                       : std::vector<std::string>{});
            for (const std::string &line : lines)
                EXPECT_EQ(line.find("Recovered"), std::string::npos) << line;
            journal->EndInterruptedPass(journal->UnfinishedPasses().at(0).id);
            continue;
        }
        EXPECT_EQ(TreeOf(pictures.Path()), before);
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines.front(), RecoveredLine(row.takenBack));
        EXPECT_TRUE(front.recoveriesPending.empty());
        EXPECT_TRUE(journal->UnfinishedPasses().empty());
    }
}
