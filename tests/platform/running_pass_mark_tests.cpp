// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "running_pass_mark.h"

#include "temp_dir.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace kronvik;
using kronvik::test::TempDir;
using kronvik::test::WriteBytes;
namespace fs = std::filesystem;

TEST(ARunningPassMark, marksItsPassAloneUntilReleasedAndNeverWaitsOnAnOddFile)
{
    const struct
    {
        const char *name;
        void (*make)(const std::string &path);
        bool marks; // else nothing can be asked of the file either
    } rows[] = {
            {"no file yet", [](const std::string &) {}, true},
            {"an empty file", [](const std::string &path) { WriteBytes(path, ""); }, true},
            // No writer holds it open: an open that waited for one would never return.
            {"a FIFO", [](const std::string &path) { mkfifo(path.c_str(), 0600); }, false},
            {"a folder", [](const std::string &path) { fs::create_directory(path); }, false},
            {"a link", [](const std::string &path) { fs::create_symlink("elsewhere", path); },
             false},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        TempDir folder;
        const std::string path = folder / "journal.sqlite3-passes";
        row.make(path);
        // What another open reads of a byte not held.
        const RunningPassState unmarked =
                row.marks ? RunningPassState::Unmarked : RunningPassState::Unknown;
        RunningPassMark mark;
        EXPECT_EQ(mark.Take(path, 7), row.marks);
        EXPECT_EQ(ReadRunningPassMark(path, 7),
                  row.marks ? RunningPassState::Marked : RunningPassState::Unknown);
        EXPECT_EQ(ReadRunningPassMark(path, 8), unmarked);
        // Taken for another pass, the mark leaves the first.
        EXPECT_EQ(mark.Take(path, 8), row.marks);
        EXPECT_EQ(ReadRunningPassMark(path, 7), unmarked);
        mark.Release();
        EXPECT_EQ(ReadRunningPassMark(path, 8), unmarked);
    }
}

TEST(ARunningPassMark, isTakenInAFileThatARunAsAnotherUserMade)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root, to make the file as one user and mark it as another";
    TempDir folder;
    fs::permissions(folder.Path(), fs::perms::owner_all | fs::perms::group_exec
                                           | fs::perms::others_read | fs::perms::others_exec);
    const std::string path = folder / "journal.sqlite3-passes";
    RunningPassMark mine;
    ASSERT_TRUE(mine.Take(path, 1)); // made by root, as by a run under sudo
    const pid_t child = fork();
    if (child == 0) {
        const bool dropped = setgid(65534) == 0 && setuid(65534) == 0;
        RunningPassMark theirs;
        _exit(dropped && theirs.Take(path, 2)
                              && ReadRunningPassMark(path, 1) == RunningPassState::Marked
                      ? 0
                      : 1);
    }
    int status = -1;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}
