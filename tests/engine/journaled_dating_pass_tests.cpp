// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
// The dating pass with a journal, on real files: every change committed before it reaches the
// disk (seen through a second connection, which sees only what was committed), the pass's row
// with its counters and how it ended, and an undo that gives the tree back.
#include "dating_pass.h"
#include "journal_sandbox.h"
#include "journal_undo.h"
#include "pass_applier.h"
#include "picture_scan.h"

#include "small_disk.h"

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <set>
#include <sys/stat.h>

using namespace kronvik;
using namespace kronvik::test;
namespace fs = std::filesystem;

namespace {

class ADatingPassWithItsJournal : public ::testing::Test, public JournalSandbox
{
protected:
    ADatingPassWithItsJournal()
    {
        session.journal = journal.get();
        front.sourceText = pictures.Path().string();
        // Each picture at its turn, so the check after each one sees it alone.
        session.readAheadThreads = 0;
    }

    // What the folder holds that the committed journal does not account for: a name the pass
    // gave without a rename row that gives it, bytes it shifted without a shift row for them.
    std::vector<std::string> Uncovered(const Tree &before,
                                       const std::string &journalPath = Journal::DefaultPath())
    {
        Journal reader(journalPath, Options());
        const std::vector<JournaledPass> passes = reader.Passes();
        if (passes.empty())
            return {"no pass row"};
        std::set<std::string> given, shifted;
        for (const ChangeRecord &record : reader.Changes(passes.front().id)) {
            if (record.change.kind == ChangeKind::Rename)
                given.insert(fs::path(record.change.newPath).filename().string());
            if (record.change.kind == ChangeKind::Shift)
                shifted.insert(fs::path(record.change.path).filename().string());
        }
        std::vector<std::string> uncovered;
        for (const auto &[name, entry] : TreeOf(pictures.Path())) {
            const auto old = before.find(name);
            if (old == before.end() && !given.count(name))
                uncovered.push_back(name + " named without a row");
            if (old != before.end() && old->second.bytes != entry.bytes && !shifted.count(name))
                uncovered.push_back(name + " shifted without a row");
        }
        return uncovered;
    }
};

// Puts `to` in place of every `from` in the file at `path`, as another program rewriting a date
// would.
void ReplaceInFile(const std::string &path, const std::string &from, const std::string &to)
{
    std::string bytes = ReadBytes(path);
    for (auto at = bytes.find(from); at != std::string::npos; at = bytes.find(from))
        bytes.replace(at, from.size(), to);
    WriteBytes(path, bytes);
}

// The file system's applier, with another program rewriting the date pair of a picture between
// its read and its shift: the first rewrite before the first try, and so on.
class RewrittenBeforeItsShift : public PassApplier
{
public:
    std::vector<std::pair<std::string, std::string>> rewrites; // from, to

    PictureRead Read(const std::string &path, int hours) override
    {
        return FileSystemApplier().Read(path, hours);
    }
    bool ReadsAhead() const override { return false; }
    bool MakesChanges() const override { return true; }
    ShiftMade Shift(const ShiftChange &shift, PictureRead &read, const CalendarTime &now,
                    bool onlyAsPlanned, const UnforeseenShiftWrite &beforeUnforeseen) override
    {
        if (!rewrites.empty()) {
            const auto [from, to] = rewrites.front();
            rewrites.erase(rewrites.begin());
            ReplaceInFile(shift.path, from, to);
        }
        return FileSystemApplier().Shift(shift, read, now, onlyAsPlanned, beforeUnforeseen);
    }
    void LearnShiftWritten(PictureRead &read, const std::optional<FileStamp> &written) override
    {
        FileSystemApplier().LearnShiftWritten(read, written);
    }
    int Rename(const RenameChange &rename) override { return FileSystemApplier().Rename(rename); }
    PathHolds LookAgain(const std::string &path, const CheckedFile &checked) override
    {
        return FileSystemApplier().LookAgain(path, checked);
    }
    bool SetTime(const TimeChange &time, const TimeThrough &through, int &error) override
    {
        return FileSystemApplier().SetTime(time, through, error);
    }
};

// The file system's applier, with another program changing the folder just before the shift of
// a picture: each path's action once, at its first try.
class ChangedBeforeItsShift : public RewrittenBeforeItsShift
{
public:
    std::map<std::string, std::function<void()>> before; // by the picture's path

    ShiftMade Shift(const ShiftChange &shift, PictureRead &read, const CalendarTime &now,
                    bool onlyAsPlanned, const UnforeseenShiftWrite &beforeUnforeseen) override
    {
        if (const auto action = before.find(shift.path); action != before.end()) {
            const std::function<void()> change = action->second;
            before.erase(action);
            change();
        }
        return FileSystemApplier().Shift(shift, read, now, onlyAsPlanned, beforeUnforeseen);
    }
};

} // namespace

TEST_F(ADatingPassWithItsJournal, journalsTheShiftOfAPictureRewrittenSinceItWasRead)
{
    const std::string taken = "2005:07:14 09:03:27";
    const struct
    {
        std::vector<std::pair<std::string, std::string>> rewrites;
        std::string last; // what the shift found
    } cases[] = {
            {{{taken, "2006:01:01 10:00:00"}}, "2006:01:01 10:00:00"},
            // Changed again before every try: the last one writes what it finds.
            {{{taken, "2006:01:01 10:00:00"},
              {"2006:01:01 10:00:00", "2006:02:02 10:00:00"},
              {"2006:02:02 10:00:00", "2006:03:03 10:00:00"}},
             "2006:03:03 10:00:00"},
    };
    for (const auto &[rewrites, last] : cases) {
        SCOPED_TRACE(last);
        for (const auto &entry : fs::directory_iterator(pictures.Path()))
            fs::remove_all(entry.path());
        const std::string picture = Picture("IMG_0001.JPG", taken);
        RewrittenBeforeItsShift applier;
        applier.rewrites = rewrites;
        session.applier = &applier;
        timeAdjust = 2;
        RetrieveFileList(session);
        DatePictures(session);

        // Dated from what the file held at its shift, and that shift is the one journaled.
        const std::string dated = last.substr(0, 4) + "-" + last.substr(5, 2) + "-"
                                  + last.substr(8, 2) + " 12.00.00.JPG";
        EXPECT_TRUE(fs::exists(pictures / dated)) << ::testing::PrintToString(Messages());
        EXPECT_EQ(journal->CountDoneChanges(journal->Passes().front().id).shifts, 1);
        UndoSession undo{front, front, cancel, session.clock, JournalFrontEnd::Cli};
        NoWait waiter;
        EXPECT_EQ(UndoPass(*journal, std::nullopt, undo, waiter).outcome, UndoOutcome::Undone);
        std::string rewritten = ReadBytes(picture);
        EXPECT_NE(rewritten.find(last), std::string::npos);
        EXPECT_EQ(rewritten.find("12:00:00"), std::string::npos);
    }
}

// A picture rewritten between its read and its shift to the very pair that a journaled shift by
// the same hours left is not shifted again: the journal is asked again for what the shift found.
TEST_F(ADatingPassWithItsJournal, doesNotShiftAgainAPictureRewrittenToThePairItsShiftLeft)
{
    Picture("IMG_0001.JPG", "2005:07:14 09:03:27");
    timeAdjust = 2;
    RetrieveFileList(session);
    DatePictures(session);
    const std::string dated = pictures / "2005-07-14 11.03.27.JPG";
    ASSERT_TRUE(fs::exists(dated)) << ::testing::PrintToString(Messages());
    const std::string shifted = ReadBytes(dated);
    ReplaceInFile(dated, "2005:07:14 11:03:27", "2006:01:01 10:00:00");

    RewrittenBeforeItsShift applier;
    applier.rewrites = {{"2006:01:01 10:00:00", "2005:07:14 11:03:27"}};
    session.applier = &applier;
    RetrieveFileList(session);
    DatePictures(session);
    const auto messages = Messages();
    EXPECT_TRUE(std::any_of(messages.begin(), messages.end(), [](const std::string &line) {
        return line.find("EXIF dates already shifted by +2 hours") != std::string::npos;
    })) << ::testing::PrintToString(messages);
    EXPECT_EQ(ReadBytes(dated), shifted);
}

// Two pictures of one size, two hours apart. After a shift and the opposite one, or after an
// undo and a pass that only renames, the second sits under the name the first shift gave the
// first, with the very bytes that shift wrote there: it was never shifted by those hours. A
// picture its owner renamed, and a pass gave its date name back, was.
TEST_F(ADatingPassWithItsJournal, tellsAShiftedPictureBackAtItsNameFromAnotherGivenIt)
{
    const struct
    {
        const char *name;
        std::vector<std::string> steps; // hours of a pass, "undo" of the last one, or "mv TO"
        const char *dated; // what the name holds after a pass by +2
        bool shiftedBefore;
    } rows[] = {
            {"the opposite shift", {"+2", "-2"}, "2005:07:14 13:00:00", false},
            {"an undo, then a pass with no adjustment",
             {"+2", "undo", "0"},
             "2005:07:14 13:00:00",
             false},
            {"renamed by its owner and named by its date again",
             {"+2", "mv own.jpg", "0"},
             "2005:07:14 11:00:00",
             true},
    };
    // The rows share one journal: an earlier row's pictures are kept apart, not deleted, so that
    // no later picture gets an inode number an earlier shift journaled.
    TempDir earlierRows;
    int rowNumber = 0;
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        const fs::path kept = earlierRows / std::to_string(rowNumber++);
        fs::create_directory(kept);
        for (const auto &entry : fs::directory_iterator(pictures.Path()))
            fs::rename(entry.path(), kept / entry.path().filename());
        Picture("IMG_0001.JPG", "2005:07:14 09:00:00");
        Picture("IMG_0002.JPG", "2005:07:14 11:00:00");
        for (const std::string &step : row.steps) {
            if (step == "undo") {
                UndoSession undo{front, front, cancel, session.clock, JournalFrontEnd::Cli};
                NoWait waiter;
                ASSERT_EQ(UndoPass(*journal, std::nullopt, undo, waiter).outcome,
                          UndoOutcome::Undone);
            } else if (step.starts_with("mv ")) {
                fs::rename(pictures / "2005-07-14 11.00.00.JPG", pictures / step.substr(3));
            } else {
                timeAdjust = std::stoi(step);
                RetrieveFileList(session);
                DatePictures(session);
            }
        }
        const fs::path named = pictures / "2005-07-14 11.00.00.JPG";
        ASSERT_TRUE(fs::exists(named)) << ::testing::PrintToString(Messages());
        const std::size_t earlier = Messages().size();
        timeAdjust = 2;
        RetrieveFileList(session);
        DatePictures(session);

        const std::vector<std::string> lines = Messages();
        const bool skipped = std::any_of(lines.begin() + earlier, lines.end(), [&](auto &line) {
            return line.find(named.string() + ": EXIF dates already shifted by +2 hours")
                   != std::string::npos;
        });
        EXPECT_EQ(skipped, row.shiftedBefore) << ::testing::PrintToString(lines);
        const fs::path dated =
                pictures
                / (row.shiftedBefore ? "2005-07-14 11.00.00.JPG" : "2005-07-14 13.00.00.JPG");
        EXPECT_NE((fs::exists(dated) ? ReadBytes(dated) : "").find(row.dated), std::string::npos);
    }
}

// A picture whose read ahead holds the pair a journaled shift left, rewritten to another date
// before its turn: it is shifted, as what it holds at its turn was never shifted.
TEST_F(ADatingPassWithItsJournal, shiftsAPictureRewrittenAfterItsReadFoundItShiftedBefore)
{
    Picture("IMG_0001.JPG", "2005:07:14 09:03:27");
    Picture("IMG_0002.JPG", "2005:12:31 20:00:00");
    timeAdjust = 2;
    RetrieveFileList(session);
    DatePictures(session);
    const std::string second = pictures / "2005-12-31 22.00.00.JPG";
    ASSERT_TRUE(fs::exists(second)) << ::testing::PrintToString(Messages());

    session.readAheadThreads = 1;
    bool first = true;
    front.onDrain = [&] {
        if (std::exchange(first, false))
            ReplaceInFile(second, "2005:12:31 22:00:00", "2006:03:03 10:00:00");
        return true;
    };
    RetrieveFileList(session);
    DatePictures(session);
    EXPECT_TRUE(fs::exists(pictures / "2006-03-03 12.00.00.JPG"))
            << ::testing::PrintToString(Messages());
}

TEST_F(ADatingPassWithItsJournal, commitsEachChangeBeforeItIsMadeAndUndoesToTheTreeBefore)
{
    const std::string first = Picture("IMG_0001.JPG", "2005:07:14 09:03:27");
    const std::string second = Picture("IMG_0002.JPG", "2005:07:14 09:03:27"); // refused
    const std::string third = Picture("IMG_0003.JPG", "2005:12:31 23:30:00");
    const std::string broken = pictures / "IMG_0004.JPG";
    WriteBytes(broken, "no picture");
    const Tree before = TreeOf(pictures.Path());
    timeAdjust = 2;

    std::vector<std::vector<std::string>> uncovered;
    front.onDrain = [&] {
        uncovered.push_back(Uncovered(before));
        return true;
    };
    RetrieveFileList(session);
    DatePictures(session);
    ASSERT_EQ(state.datedSuccessfully, 2) << ::testing::PrintToString(Messages());
    ASSERT_EQ(state.datedUnsuccessfully, 1);
    for (std::size_t i = 0; i < uncovered.size(); ++i)
        EXPECT_EQ(uncovered[i], std::vector<std::string>{}) << "after picture " << i;

    const std::vector<JournaledPass> passes = journal->Passes();
    ASSERT_EQ(passes.size(), 1u);
    EXPECT_EQ(passes[0].outcome, PassOutcome::Finished);
    EXPECT_EQ(passes[0].datedSuccessfully, 2);
    EXPECT_EQ(passes[0].datedUnsuccessfully, 1);
    EXPECT_EQ(passes[0].timeAdjust, 2);
    EXPECT_EQ(passes[0].sources, pictures.Path().string());
    // Three shifts, two renames and their times made; the refused rename abandoned; nothing
    // left planned.
    const PassChangeCounts done = journal->CountDoneChanges(passes[0].id);
    EXPECT_EQ(done.shifts, 3);
    EXPECT_EQ(done.renames, 2);
    EXPECT_EQ(done.times, 2);
    EXPECT_EQ(journal->Changes(passes[0].id, ChangeState::Planned).size(), 0u);
    EXPECT_EQ(journal->Changes(passes[0].id, ChangeState::Abandoned).size(), 1u);

    UndoSession undo{front, front, cancel, session.clock, JournalFrontEnd::Cli};
    NoWait waiter;
    const UndoResult result = UndoPass(*journal, std::nullopt, undo, waiter);
    EXPECT_EQ(result.outcome, UndoOutcome::Undone);
    EXPECT_EQ(result.left, 0);
    EXPECT_EQ(TreeOf(pictures.Path()), before);
}

// A picture read ahead and touched before its turn, its bytes the same: the time the journal
// keeps for an undo is the one the pass found at the picture's turn, not at its read.
TEST_F(ADatingPassWithItsJournal, recordsTheTimeAPictureHadAtItsTurnNotAtItsRead)
{
    Picture("IMG_0001.JPG", "2005:07:14 09:03:27");
    const std::string touched = Picture("IMG_0002.JPG", "2005:12:31 23:30:00");
    Tree before = TreeOf(pictures.Path());
    constexpr std::int64_t kTouchedTime = kOldTime + 86400LL * 1000000000;
    session.readAheadThreads = 1;
    timeAdjust = 2;
    bool first = true;
    front.onDrain = [&] {
        if (std::exchange(first, false)) {
            SetModificationTime(touched, kTouchedTime);
            before["IMG_0002.JPG"].modified = kTouchedTime;
        }
        return true;
    };
    RetrieveFileList(session);
    DatePictures(session);
    ASSERT_EQ(state.datedSuccessfully, 2) << ::testing::PrintToString(Messages());

    UndoSession undo{front, front, cancel, session.clock, JournalFrontEnd::Cli};
    NoWait waiter;
    EXPECT_EQ(UndoPass(*journal, std::nullopt, undo, waiter).outcome, UndoOutcome::Undone);
    EXPECT_EQ(TreeOf(pictures.Path()), before);
}

TEST_F(ADatingPassWithItsJournal, givesBackTheNearestTimeItRecordsToAFileTimedBeyondIt)
{
    // ext4 and tmpfs hold a file time in 2300; the journal's nanoseconds end in April 2262.
    const std::string picture = Picture("IMG_0001.JPG", "2005:07:14 09:03:27");
    const timespec far[2] = {{0, UTIME_OMIT}, {10413792000, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, picture.c_str(), far, 0), 0);
    RetrieveFileList(session);
    DatePictures(session);
    ASSERT_EQ(state.datedSuccessfully, 1) << ::testing::PrintToString(Messages());

    UndoSession undo{front, front, cancel, session.clock, JournalFrontEnd::Cli};
    NoWait waiter;
    EXPECT_EQ(UndoPass(*journal, std::nullopt, undo, waiter).left, 0);
    struct stat status
    {
    };
    ASSERT_EQ(stat(picture.c_str(), &status), 0);
    EXPECT_EQ(status.st_mtim.tv_sec, 9223372036);
    EXPECT_EQ(status.st_mtim.tv_nsec, 854775807);
}

TEST_F(ADatingPassWithItsJournal, endsItsRowAsTheFrontEndEndedIt)
{
    Picture("IMG_0001.JPG", "2005:07:14 09:03:27");
    Picture("IMG_0002.JPG", "2005:07:15 09:03:27");
    Picture("IMG_0003.JPG", "2005:07:16 09:03:27");

    struct Row
    {
        const char *name;
        int drainsBeforeTheEnd; // -1: never ended
        PassOutcome outcome;
        int dated;
    };
    for (const Row &row : {Row{"finished", -1, PassOutcome::Finished, 3},
                           Row{"window closed after the first", 0, PassOutcome::Cancelled, 1},
                           Row{"cancelled after the second", 1, PassOutcome::Cancelled, 2}}) {
        for (const auto &entry : fs::directory_iterator(pictures.Path()))
            SetModificationTime(entry.path().string(), kOldTime);
        int drains = 0;
        front.onDrain = [&] {
            if (drains++ != row.drainsBeforeTheEnd)
                return true;
            // The window's close returns false; Ctrl-C sets the flag.
            if (row.drainsBeforeTheEnd == 0)
                return false;
            cancel = true;
            return true;
        };
        RetrieveFileList(session);
        DatePictures(session);
        const JournaledPass pass = journal->Passes().front();
        EXPECT_EQ(pass.outcome, row.outcome) << row.name;
        EXPECT_EQ(pass.datedSuccessfully, row.dated) << row.name;
        EXPECT_NE(pass.ended, 0) << row.name;
        EXPECT_EQ(journal->Changes(pass.id, ChangeState::Planned).size(), 0u) << row.name;
    }
}

// The rows of the pictures ahead are committed while the pass dates those before them: a commit
// that fails stops the pass before any picture it was to cover.
TEST_F(ADatingPassWithItsJournal, stopsBeforeThePicturesWhoseRowsCouldNotBeCommitted)
{
    TempDir room;
    const std::string point = room / "small";
    fs::create_directory(point);
    SmallDisk disk(point, "256k");
    if (!disk.IsMounted())
        GTEST_SKIP() << disk.Problem();
    const std::string path = point + "/journal.sqlite3";
    for (int i = 0; i < 60; ++i) {
        char name[32], date[32];
        std::snprintf(name, sizeof name, "IMG_%04d.JPG", i);
        std::snprintf(date, sizeof date, "2005:07:14 09:%02d:%02d", i / 60, i % 60);
        Picture(name, date);
    }
    const Tree before = TreeOf(pictures.Path());
    session.readAheadThreads = -1;
    std::string failure;
    {
        Journal small(path, Options());
        session.journal = &small;
        int drains = 0;
        front.onDrain = [&] {
            if (++drains == 6)
                disk.Fill();
            return true;
        };
        RetrieveFileList(session);
        try {
            DatePictures(session);
        } catch (const JournalError &error) {
            failure = error.what();
        }
        session.journal = journal.get();
    }
    disk.Empty();
    EXPECT_NE(failure.find("database or disk is full"), std::string::npos) << failure;
    EXPECT_LT(state.datedSuccessfully, 60);
    EXPECT_EQ(Uncovered(before, path), std::vector<std::string>{});
}

// Another program puts another file under a picture's name between its read and its shift. The
// file is dated by what it holds and what this pass did to it: a file the pass shifted under
// another name is not shifted again, nor named as if it were; a file the pass never shifted is,
// even when it is one the pass met before under a name that was gone at its shift.
TEST_F(ADatingPassWithItsJournal, datesAFilePutUnderAPictureNameBeforeItsShiftByWhatItHolds)
{
    const TempDir elsewhere;
    const std::string kept = elsewhere / "kept.jpg";
    struct Row
    {
        const char *name;
        // What happens before the shift of each picture, by its name.
        std::function<void(ChangedBeforeItsShift &, const std::string &, const std::string &)>
                change;
        std::string shiftedOnce; // the name of the file that must hold its date shifted once
        std::string notThere; // a name the pass must not give
    } const rows[] = {
            {"a link to the picture the pass shifted just before",
             [&](ChangedBeforeItsShift &applier, const std::string &, const std::string &second) {
                 applier.before[second] = [&, second] {
                     fs::remove(second);
                     fs::create_hard_link(pictures / "2005-07-14 11.03.27.JPG", second);
                 };
             },
             "2005-07-14 11.03.27.JPG", "2005-07-14 13.03.27.JPG"},
            {"the picture gone at its shift comes back under the next one's name",
             [&](ChangedBeforeItsShift &applier, const std::string &first,
                 const std::string &second) {
                 applier.before[first] = [&, first] { fs::rename(first, kept); };
                 applier.before[second] = [&, second] {
                     fs::remove(second);
                     fs::create_hard_link(kept, second);
                 };
             },
             "2005-07-14 11.03.27.JPG", "2005-07-14 09.03.27.JPG"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        for (const auto &entry : fs::directory_iterator(pictures.Path()))
            fs::remove_all(entry.path());
        fs::remove(kept);
        const std::string first = Picture("IMG_0001.JPG", "2005:07:14 09:03:27");
        const std::string second = Picture("IMG_0002.JPG", "2006:01:01 10:00:00");
        ChangedBeforeItsShift applier;
        row.change(applier, first, second);
        session.applier = &applier;
        timeAdjust = 2;
        RetrieveFileList(session);
        DatePictures(session);

        const std::string bytes = ReadBytes(pictures / row.shiftedOnce);
        EXPECT_NE(bytes.find("2005:07:14 11:03:27"), std::string::npos)
                << ::testing::PrintToString(Messages());
        EXPECT_EQ(bytes.find("2005:07:14 13:03:27"), std::string::npos);
        EXPECT_FALSE(fs::exists(pictures / row.notThere)) << ::testing::PrintToString(Messages());
    }
}
