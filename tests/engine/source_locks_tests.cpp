// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "source_locks.h"

#include "bind_mount.h"
#include "temp_dir.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <map>

using namespace kronvik;
using kronvik::test::BindMount;
using kronvik::test::TempDir;
namespace fs = std::filesystem;

namespace {

// What another run meets when it tries `mode` on `directory`.
LockAttempt AnotherRunTries(const std::string &directory, LockMode mode)
{
    DirectoryLock other;
    EXPECT_TRUE(other.Open(directory)) << directory;
    return other.TryLock(mode);
}

FileIdentity IdentityOf(const std::string &directory)
{
    DirectoryLock lock;
    EXPECT_TRUE(lock.Open(directory));
    return lock.Identity();
}

// Records each directory it is asked to wait for; frees it from the holders when it has one,
// else gives up.
class RecordingWaiter : public LockWaiter
{
public:
    bool WaitForLock(const std::string &directory, DirectoryLock &, LockMode) override
    {
        waitedFor.push_back(directory);
        auto holder = holders.find(directory);
        if (holder == holders.end())
            return false;
        holder->second.Release();
        return true;
    }

    std::map<std::string, DirectoryLock> holders;
    std::vector<std::string> waitedFor;
};

class TheSourceLocks : public ::testing::Test
{
protected:
    TheSourceLocks()
    {
        for (const char *folder : {"A/S", "X", "Y"})
            fs::create_directories(root.Path() / folder);
    }

    // Another run holding `directory` exclusively.
    void Hold(const std::string &directory)
    {
        DirectoryLock &lock = waiter.holders[directory];
        ASSERT_TRUE(lock.Open(directory));
        ASSERT_EQ(lock.TryLock(LockMode::Exclusive), LockAttempt::Taken);
    }

    TempDir root;
    RecordingWaiter waiter;
    SourceLocks locks;
};

} // namespace

TEST_F(TheSourceLocks, takeTheirFoldersInOneOrderWhateverTheListSays)
{
    const std::string x = root / "X", y = root / "Y";
    const bool xFirst = IdentityOf(x) < IdentityOf(y);
    const std::vector<std::string> order = xFirst ? std::vector{x, y} : std::vector{y, x};
    for (const std::string &list : {x + ";" + y, y + ";" + x}) {
        waiter.waitedFor.clear();
        Hold(x);
        Hold(y);
        ASSERT_TRUE(locks.Take(list, waiter)) << list;
        EXPECT_EQ(waiter.waitedFor, order) << list;
        locks.Release();
    }
}

TEST_F(TheSourceLocks, lockEachFolderOnceAndTheFoldersAboveItShared)
{
    const std::string a = root / "A", s = root / "A/S", top = root.Path().string();
    struct Case
    {
        const char *name;
        std::string list;
        // What another run meets in A, in its subfolder S and in the folder above A.
        LockAttempt sharedInA, exclusiveInS, sharedAbove, exclusiveAbove;
    };
    const auto held = LockAttempt::Held, taken = LockAttempt::Taken;
    const std::vector<Case> cases = {
            {"a folder", a, held, taken, taken, held},
            {"a folder twice, once through a different spelling", a + ";" + a + "/.", held, taken,
             taken, held},
            {"a missing folder left out", root / "missing" + ";" + a, held, taken, taken, held},
            {"a subfolder", s, taken, held, taken, held},
            {"a subfolder and its parent", s + ";" + a, held, held, taken, held},
            {"a parent and its subfolder", a + ";" + s, held, held, taken, held},
    };
    for (const Case &c : cases) {
        ASSERT_TRUE(locks.Take(c.list, waiter)) << c.name;
        EXPECT_TRUE(waiter.waitedFor.empty()) << c.name << " waited for itself";
        EXPECT_TRUE(locks.IsHeld()) << c.name;
        EXPECT_EQ(locks.SourceText(), c.list) << c.name;
        EXPECT_EQ(AnotherRunTries(a, LockMode::Shared), c.sharedInA) << c.name;
        EXPECT_EQ(AnotherRunTries(s, LockMode::Exclusive), c.exclusiveInS) << c.name;
        EXPECT_EQ(AnotherRunTries(top, LockMode::Shared), c.sharedAbove) << c.name;
        EXPECT_EQ(AnotherRunTries(top, LockMode::Exclusive), c.exclusiveAbove) << c.name;

        locks.Release();
        EXPECT_FALSE(locks.IsHeld()) << c.name;
        EXPECT_EQ(AnotherRunTries(a, LockMode::Exclusive), taken) << c.name;
        EXPECT_EQ(AnotherRunTries(s, LockMode::Exclusive), taken) << c.name;
        EXPECT_EQ(AnotherRunTries(top, LockMode::Exclusive), taken) << c.name;
    }
}

TEST_F(TheSourceLocks, holdNothingWhenTheWaitIsGivenUp)
{
    const std::string x = root / "X", y = root / "Y";
    // The folder that comes second in the order is held by a run that does not end.
    const std::string first = IdentityOf(x) < IdentityOf(y) ? x : y;
    const std::string second = first == x ? y : x;
    DirectoryLock other;
    ASSERT_TRUE(other.Open(second));
    ASSERT_EQ(other.TryLock(LockMode::Exclusive), LockAttempt::Taken);

    EXPECT_FALSE(locks.Take(x + ";" + y, waiter));
    EXPECT_EQ(waiter.waitedFor, std::vector<std::string>{second});
    EXPECT_FALSE(locks.IsHeld());
    EXPECT_EQ(AnotherRunTries(first, LockMode::Exclusive), LockAttempt::Taken);
}

TEST_F(TheSourceLocks, releaseWhatTheyHeldBeforeTakingAgain)
{
    const std::string a = root / "A", x = root / "X";
    ASSERT_TRUE(locks.Take(a, waiter));
    // The same folder again must not wait for the lock this run already holds.
    ASSERT_TRUE(locks.Take(a + ";" + x, waiter));
    EXPECT_TRUE(waiter.waitedFor.empty());
    ASSERT_TRUE(locks.Take(x, waiter));
    EXPECT_EQ(AnotherRunTries(a, LockMode::Exclusive), LockAttempt::Taken);
    EXPECT_EQ(AnotherRunTries(x, LockMode::Exclusive), LockAttempt::Held);
}

TEST_F(TheSourceLocks, lockAFolderReachedThroughALinkAsTheyLockTheirOwn)
{
    const std::string a = root / "A", s = root / "A/S", x = root / "X", y = root / "Y";
    fs::create_directories(root.Path() / "X/D");
    fs::create_directory_symlink(x, root.Path() / "A/toX");
    fs::create_directory_symlink(root.Path() / "X/D", root.Path() / "A/toD");
    fs::create_directory_symlink(s, root.Path() / "Y/toS");
    fs::create_directory_symlink(root.Path(), root.Path() / "A/S/up");
    const auto held = LockAttempt::Held, taken = LockAttempt::Taken;
    const auto exclusive = FolderCover::Exclusive, other = FolderCover::HeldByAnotherRun;
    struct Case
    {
        const char *name;
        std::string list, link;
        std::string heldByAnother; // exclusively, while the link is locked
        FolderCover result;
        // What another run meets in X after.
        LockAttempt exclusiveInX, sharedInX;
    };
    const std::vector<Case> cases = {
            {"outside every source folder", a, a + "/toX", "", exclusive, held, held},
            {"outside, below a folder it locks shared", a, a + "/toD", "", exclusive, held, taken},
            {"below a source folder", a + ";" + y, y + "/toS", "", exclusive, taken, taken},
            {"another run holds it", a, a + "/toD", x + "/D", other, taken, taken},
            {"another run holds a folder above it", a, a + "/toD", x, other, taken, taken},
            {"above a source folder", s, s + "/up", "", FolderCover::SharedByThisRun, taken, taken},
    };
    for (const Case &c : cases) {
        DirectoryLock other;
        if (!c.heldByAnother.empty()) {
            ASSERT_TRUE(other.Open(c.heldByAnother));
            ASSERT_EQ(other.TryLock(LockMode::Exclusive), taken) << c.name;
        }
        SourceLocks run;
        ASSERT_TRUE(run.Take(c.list, waiter)) << c.name;
        EXPECT_EQ(run.LockFoundFolder(c.link), c.result) << c.name;
        other.Release();
        EXPECT_EQ(AnotherRunTries(x, LockMode::Exclusive), c.exclusiveInX) << c.name;
        EXPECT_EQ(AnotherRunTries(x, LockMode::Shared), c.sharedInX) << c.name;
    }
}

TEST_F(TheSourceLocks, takeTheFoldersTheirScanReachedThroughLinksAgainForTheSameList)
{
    const std::string a = root / "A", x = root / "X";
    fs::create_directory_symlink(x, root.Path() / "A/toX");
    ASSERT_TRUE(locks.Take(a, waiter));
    ASSERT_EQ(locks.LockFoundFolder(a + "/toX"), FolderCover::Exclusive);
    locks.Release();

    // The next pass over the list waits for a run in X, as it does for one in A.
    Hold(a + "/toX");
    ASSERT_TRUE(locks.Take(a, waiter));
    EXPECT_EQ(waiter.waitedFor, std::vector<std::string>{a + "/toX"});
    EXPECT_EQ(AnotherRunTries(x, LockMode::Shared), LockAttempt::Held);

    // Another list has folders of its own; the first one's come back with it, as after a
    // retrieval of another list that failed.
    ASSERT_TRUE(locks.Take(root / "Y", waiter));
    EXPECT_EQ(AnotherRunTries(x, LockMode::Exclusive), LockAttempt::Taken);
    ASSERT_TRUE(locks.Take(a, waiter));
    EXPECT_EQ(AnotherRunTries(x, LockMode::Exclusive), LockAttempt::Held);
}

TEST_F(TheSourceLocks, keepTwoRunsApartInAFolderThatABindMountShowsTwice)
{
    const std::string data = root / "data", b = root / "data/B", mnt = root / "mnt",
                      shown = root / "mnt/b";
    fs::create_directories(root.Path() / "data/B/S");
    fs::create_directories(root.Path() / "data/C");
    fs::create_directories(root.Path() / "mnt/b");
    BindMount bind(b, shown);
    if (!bind.Mounted())
        GTEST_SKIP() << "this process may not mount";
    struct Case
    {
        const char *name;
        std::string first, firstFound; // the first run's list, and a folder its scan entered
        std::string second, secondFound;
        bool secondWaits;
        FolderCover secondCover = FolderCover::Unlocked; // of secondFound
    };
    const auto other = FolderCover::HeldByAnotherRun, exclusive = FolderCover::Exclusive;
    const std::vector<Case> cases = {
            {"over the folder above what it shows, then over the mount",
             data,
             "",
             shown,
             "",
             true,
             {}},
            {"over the mount, then over the folder above what it shows",
             shown,
             "",
             data,
             "",
             true,
             {}},
            {"entered from above the mount point, then over the folder above what it shows",
             mnt,
             shown,
             data,
             "",
             true,
             {}},
            {"over the folder above what it shows, then entered from above the mount point", data,
             "", mnt, shown, false, other},
            {"entered from above the mount point, then over a folder beside what it shows",
             mnt,
             shown,
             root / "data/C",
             "",
             false,
             {}},
            {"over a folder of what it shows, then entered from above the mount point", b + "/S",
             "", mnt, shown, false, other},
            {"over the folder above the mount point, then entering it", mnt, "", mnt, shown, false,
             exclusive},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        SourceLocks first, second;
        RecordingWaiter givesUp;
        ASSERT_TRUE(first.Take(c.first, givesUp));
        if (!c.firstFound.empty()) {
            ASSERT_EQ(first.LockFoundFolder(c.firstFound), exclusive);
        }
        if (c.first == c.second)
            first.Release();
        EXPECT_EQ(second.Take(c.second, givesUp), !c.secondWaits);
        EXPECT_EQ(givesUp.waitedFor.empty(), !c.secondWaits);
        if (!c.secondFound.empty()) {
            EXPECT_EQ(second.LockFoundFolder(c.secondFound), c.secondCover);
        }
    }
}

TEST_F(TheSourceLocks, keepRunsApartWhereMountsShowAFolderTwiceOrInsideItself)
{
    const auto exclusive = FolderCover::Exclusive, other = FolderCover::HeldByAnotherRun;
    const auto path = [&](const char *below) { return root / below; };
    for (const char *folder : {"t", "two/t2", "data/A/in", "P/Q/in", "s"})
        fs::create_directories(root.Path() / folder);

    // A file system's top folder shown at two places: a run over a folder in it, and one over
    // the folder above its second place.
    BindMount memory(path("t"));
    if (!memory.Mounted())
        GTEST_SKIP() << "this process may not mount";
    fs::create_directories(root.Path() / "t/data/B");
    BindMount again(path("t"), path("two/t2"));
    ASSERT_TRUE(again.Mounted());
    {
        SourceLocks first, second;
        ASSERT_TRUE(first.Take(path("t/data/B"), waiter));
        ASSERT_TRUE(second.Take(path("two"), waiter));
        EXPECT_EQ(second.LockFoundFolder(path("two/t2")), other);
    }
    {
        SourceLocks first, second;
        ASSERT_TRUE(first.Take(path("two"), waiter));
        ASSERT_EQ(first.LockFoundFolder(path("two/t2")), exclusive);
        EXPECT_FALSE(second.Take(path("t/data/B"), waiter));
        EXPECT_EQ(waiter.waitedFor, std::vector<std::string>{path("t/data/B")});
    }

    // A folder bound onto a place inside itself: still inside the folders above it.
    BindMount inside(path("data/A"), path("data/A/in"));
    ASSERT_TRUE(inside.Mounted());
    {
        SourceLocks first, second;
        ASSERT_TRUE(first.Take(path("data/A/in"), waiter));
        waiter.waitedFor.clear();
        EXPECT_FALSE(second.Take(path("data"), waiter));
        EXPECT_EQ(waiter.waitedFor, std::vector<std::string>{path("data")});
    }

    // Reached through a link, a folder that is its own folder's parent too is no other run's.
    BindMount ownParent(path("P"), path("P/Q/in"));
    ASSERT_TRUE(ownParent.Mounted());
    fs::create_directory_symlink(path("P/Q/in"), root.Path() / "s/l");
    SourceLocks alone;
    ASSERT_TRUE(alone.Take(path("s"), waiter));
    EXPECT_EQ(alone.LockFoundFolder(path("s/l")), exclusive);
}
