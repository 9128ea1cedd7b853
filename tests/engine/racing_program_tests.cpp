// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
// Another program swapping or replacing files in the very moment that a pass or an undo renames a
// picture or sets its time, both of which go by path: neither change may reach another file, and
// the journal's undo must find the tree as it was left.
#include "dating_pass.h"
#include "journal_sandbox.h"
#include "journal_undo.h"
#include "picture_scan.h"
#include "write_faults.h"

#include <algorithm>
#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <regex>
#include <stdio.h>

using namespace kronvik;
using namespace kronvik::test;
namespace fs = std::filesystem;

namespace {

void Exchange(const std::string &a, const std::string &b)
{
    ASSERT_EQ(renameat2(AT_FDCWD, a.c_str(), AT_FDCWD, b.c_str(), RENAME_EXCHANGE), 0);
}

// The files of `tree` whose date name the file does not bear out: a name says the moment its
// picture was taken, which its date pair must hold and its modification time be.
std::vector<std::string> Misdated(const Tree &tree)
{
    static const std::regex dateName(R"((\d{4})-(\d\d)-(\d\d) (\d\d)\.(\d\d)\.(\d\d)\.JPG)");
    std::vector<std::string> wrong;
    for (const auto &[name, entry] : tree) {
        std::smatch part;
        if (!std::regex_match(name, part, dateName))
            continue;
        const std::string text = part.str(1) + ":" + part.str(2) + ":" + part.str(3) + " "
                                 + part.str(4) + ":" + part.str(5) + ":" + part.str(6);
        if (entry.bytes.find(text) == std::string::npos)
            wrong.push_back(name + " holds another date");
        std::tm moment{};
        moment.tm_year = std::stoi(part.str(1)) - 1900;
        moment.tm_mon = std::stoi(part.str(2)) - 1;
        moment.tm_mday = std::stoi(part.str(3));
        moment.tm_hour = std::stoi(part.str(4));
        moment.tm_min = std::stoi(part.str(5));
        moment.tm_sec = std::stoi(part.str(6));
        if (entry.modified != static_cast<std::int64_t>(timegm(&moment)) * 1000000000)
            wrong.push_back(name + " has another time");
    }
    return wrong;
}

bool HasLine(const std::vector<std::string> &lines, const std::string &text)
{
    return std::any_of(lines.begin(), lines.end(), [&](const std::string &line) {
        return line.find(text) != std::string::npos;
    });
}

class AnotherProgram : public ::testing::Test, public JournalSandbox
{
protected:
    AnotherProgram()
    {
        session.journal = journal.get();
        front.sourceText = pictures.Path().string();
        WriteBytes(outside / "other.jpg", "another program's file");
        SetModificationTime(outside / "other.jpg", kOldTime);
    }
    void TearDown() override { ClearWriteFaults(); }

    void Clear()
    {
        ClearWriteFaults();
        for (const auto &entry : fs::directory_iterator(pictures.Path()))
            fs::remove_all(entry.path());
    }

    void Date(int hours)
    {
        timeAdjust = hours;
        RetrieveFileList(session);
        DatePictures(session);
    }

    UndoResult Undo()
    {
        UndoSession undo{front, front, cancel, session.clock, JournalFrontEnd::Cli};
        NoWait waiter;
        return UndoPass(*journal, std::nullopt, undo, waiter);
    }

    // Puts a link to a file outside the pass in place of `path`, whose file goes there too.
    std::function<void()> LinkOutsideInPlaceOf(const std::string &path, bool hard)
    {
        return [this, path, hard] {
            fs::rename(path, outside / "moved.JPG");
            if (hard)
                fs::create_hard_link(outside / "other.jpg", path);
            else
                fs::create_symlink(outside / "other.jpg", path);
        };
    }

    TempDir outside;
};

} // namespace

TEST_F(AnotherProgram, swappingTwoPicturesDuringARenameGivesNeitherTheOthersNameNorTime)
{
    for (const int hours : {0, 2}) {
        SCOPED_TRACE(hours);
        Clear();
        const std::string first = Picture("IMG_0001.JPG", "2005:07:14 09:03:27");
        const std::string second = Picture("IMG_0002.JPG", "2006:01:01 10:00:00");
        Tree swapped = TreeOf(pictures.Path());
        std::swap(swapped["IMG_0001.JPG"], swapped["IMG_0002.JPG"]);
        BeforeWriteStep(WriteStep::RenamePicture, [&] { Exchange(first, second); });
        Date(hours);

        const Tree dated = TreeOf(pictures.Path());
        EXPECT_EQ(dated.size(), 2u) << dated;
        EXPECT_EQ(Misdated(dated), std::vector<std::string>{}) << dated;
        EXPECT_TRUE(HasLine(Messages(), "IMG_0001.JPG -> 2005-07-14 "
                                                + std::string(hours ? "11" : "09")
                                                + ".03.27.JPG: Another file took its place "
                                                  "during the rename."))
                << ::testing::PrintToString(Messages());
        EXPECT_EQ(state.datedUnsuccessfully, 1);

        // Without a shift the undo finds the tree as the other program left it. A shift is
        // journaled under the name it was made at, where the other file now is: that picture
        // keeps its shifted dates under its old name.
        EXPECT_EQ(Undo().outcome, UndoOutcome::Undone);
        const Tree undone = TreeOf(pictures.Path());
        EXPECT_EQ(Misdated(undone), std::vector<std::string>{}) << undone;
        if (hours == 0)
            EXPECT_EQ(undone, swapped);
        else
            EXPECT_EQ(undone.at("IMG_0001.JPG"), swapped.at("IMG_0001.JPG"));
    }
}

TEST_F(AnotherProgram, takingThePicturesNameDuringTheRenameBackIsToldAndLosesNothing)
{
    const std::string first = Picture("IMG_0001.JPG", "2005:07:14 09:03:27");
    const std::string second = Picture("IMG_0002.JPG", "2006:01:01 10:00:00");
    BeforeWriteStep(WriteStep::RenamePicture, [&] { Exchange(first, second); });
    BeforeWriteStep(WriteStep::RenamePicture, [&] { WriteBytes(first, "a new file"); });
    Date(0);

    EXPECT_TRUE(HasLine(Messages(), "IMG_0001.JPG -> 2005-07-14 09.03.27.JPG: Another file took "
                                    "its place during the rename, and could not be given its "
                                    "name back."))
            << ::testing::PrintToString(Messages());
    const Tree left = TreeOf(pictures.Path());
    EXPECT_EQ(left.size(), 3u) << left;
    EXPECT_EQ(left.at("IMG_0001.JPG").bytes, "a new file");
    // The other picture keeps the name it was given, and the time it had.
    EXPECT_NE(left.at("2005-07-14 09.03.27.JPG").bytes.find("2006:01:01 10:00:00"),
              std::string::npos);
    EXPECT_EQ(left.at("2005-07-14 09.03.27.JPG").modified, kOldTime);
}

TEST_F(AnotherProgram, puttingALinkInPlaceOfAPictureNeverGetsTheLinkedFileATime)
{
    constexpr std::int64_t kDated = 1121331807LL * 1000000000; // 2005-07-14 09:03:27 UTC
    const struct
    {
        const char *label;
        WriteStep step;
        const char *replaced; // the name the link takes
        bool hard;
        const char *line; // that the run log holds
        std::int64_t pictureTime; // that the picture has then
        int hours = 0;
    } cases[] = {
            {"a symbolic link during the rename", WriteStep::RenamePicture, "IMG_0001.JPG", false,
             "IMG_0001.JPG -> 2005-07-14 09.03.27.JPG: Another file took its place during the "
             "rename.",
             kOldTime},
            // The time goes to the picture read, wherever it went meanwhile.
            {"a symbolic link between the rename and the time", WriteStep::SetFileTime,
             "2005-07-14 09.03.27.JPG", false, "IMG_0001.JPG -> 2005-07-14 09.03.27.JPG", kDated},
            {"a hard link between the rename and the time", WriteStep::SetFileTime,
             "2005-07-14 09.03.27.JPG", true, "IMG_0001.JPG -> 2005-07-14 09.03.27.JPG", kDated},
            {"a hard link between a shifted picture's rename and its time", WriteStep::SetFileTime,
             "2005-07-14 11.03.27.JPG", true, "IMG_0001.JPG -> 2005-07-14 11.03.27.JPG",
             kDated + 7200LL * 1000000000, 2},
    };
    for (const auto &row : cases) {
        SCOPED_TRACE(row.label);
        Clear();
        const std::string bytes = ReadBytes(Picture("IMG_0001.JPG", "2005:07:14 09:03:27"));
        BeforeWriteStep(row.step, LinkOutsideInPlaceOf(pictures / row.replaced, row.hard));
        Date(row.hours);

        EXPECT_TRUE(HasLine(Messages(), row.line)) << ::testing::PrintToString(Messages());
        const Tree left = TreeOf(outside.Path());
        EXPECT_EQ(left.at("other.jpg").modified, kOldTime);
        EXPECT_EQ(left.at("moved.JPG").modified, row.pictureTime);
        if (row.hours == 0)
            EXPECT_EQ(left.at("moved.JPG").bytes, bytes);
        else
            EXPECT_EQ(Misdated({{"2005-07-14 11.03.27.JPG", left.at("moved.JPG")}}),
                      std::vector<std::string>{});
        fs::remove(outside / "moved.JPG");
    }
}

TEST_F(AnotherProgram, swappingTwoPicturesDuringAnUndoLeavesBothAsTheyAre)
{
    Picture("IMG_0001.JPG", "2005:07:14 09:03:27");
    Picture("IMG_0002.JPG", "2006:01:01 10:00:00");
    Date(2);
    const std::string first = pictures / "2005-07-14 11.03.27.JPG";
    const std::string second = pictures / "2006-01-01 12.00.00.JPG";
    ASSERT_TRUE(fs::exists(first) && fs::exists(second)) << ::testing::PrintToString(Messages());
    Tree swapped = TreeOf(pictures.Path());
    std::swap(swapped.at(fs::path(first).filename()), swapped.at(fs::path(second).filename()));

    // The undo takes the last picture first.
    BeforeWriteStep(WriteStep::RenamePicture, [&] { Exchange(first, second); });
    const UndoResult result = Undo();
    EXPECT_EQ(result.outcome, UndoOutcome::Undone);
    EXPECT_EQ(result.restored, 0);
    EXPECT_EQ(TreeOf(pictures.Path()), swapped);
    EXPECT_TRUE(HasLine(Messages(), second
                                            + " left as it is; another file took its place during "
                                              "the rename."))
            << ::testing::PrintToString(Messages());
}

TEST_F(AnotherProgram, puttingALinkInPlaceOfAPictureDuringAnUndoNeverGetsTheLinkedFileATime)
{
    constexpr std::int64_t kOtherTime = kOldTime + 86400LL * 1000000000;
    for (const int hours : {0, 2}) {
        SCOPED_TRACE(hours);
        Clear();
        SetModificationTime(outside / "other.jpg", kOtherTime);
        const std::string picture = Picture("IMG_0001.JPG", "2005:07:14 09:03:27");
        const std::string bytes = ReadBytes(picture);
        Date(hours);
        ASSERT_FALSE(fs::exists(picture)) << ::testing::PrintToString(Messages());

        // Between the undo's rename back and its time set.
        BeforeWriteStep(WriteStep::SetFileTime, LinkOutsideInPlaceOf(picture, true));
        EXPECT_EQ(Undo().restored, 1);
        const Tree left = TreeOf(outside.Path());
        EXPECT_EQ(left.at("other.jpg").modified, kOtherTime);
        EXPECT_EQ(left.at("moved.JPG"), (TreeEntry{bytes, kOldTime}));
        fs::remove(outside / "moved.JPG");
    }
}
