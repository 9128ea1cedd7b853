// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
// The file states and the small acts that take a change back, on real files.
#include "file_state.h"
#include "temp_dir.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace kronvik;
using namespace kronvik::test;
namespace fs = std::filesystem;

namespace {

constexpr std::int64_t kSecond = 1000000000;

} // namespace

TEST(RemovingAPlaceholder, takesOnlyAnEmptyFileMadeSinceTheGivenMoment)
{
    TempDir dir;
    FileState now;
    WriteBytes(dir / "probe", "");
    ASSERT_EQ(ReadFileState(dir / "probe", now), 0);
    const std::int64_t passStart = now.modified - 60 * kSecond;
    struct Row
    {
        const char *name;
        std::function<void(const std::string &path)> make;
        int result;
        bool removed;
    } const rows[] = {
            {"an empty file made since", [](const std::string &path) { WriteBytes(path, ""); }, 0,
             true},
            {"a file with bytes", [](const std::string &path) { WriteBytes(path, "x"); }, EEXIST,
             false},
            {"an empty file from before",
             [&](const std::string &path) {
                 WriteBytes(path, "");
                 SetModificationTime(path, passStart - kSecond);
             },
             EEXIST, false},
            {"an empty file dated after now",
             [&](const std::string &path) {
                 WriteBytes(path, "");
                 SetModificationTime(path, now.modified + 3600 * kSecond);
             },
             EEXIST, false},
            {"a link to an empty file",
             [&](const std::string &path) {
                 WriteBytes(dir / "target", "");
                 fs::create_symlink(dir / "target", path);
             },
             EEXIST, false},
            {"a folder", [](const std::string &path) { fs::create_directory(path); }, EEXIST,
             false},
            {"nothing", [](const std::string &) {}, ENOENT, false},
    };
    for (const Row &row : rows) {
        const std::string path = dir / row.name;
        row.make(path);
        EXPECT_EQ(RemoveEmptyFile(path, passStart), row.result) << row.name;
        FileState state;
        EXPECT_EQ(ReadFileState(path, state, false) == ENOENT, row.removed || row.result == ENOENT)
                << row.name;
    }
}

TEST(AFileState, readsNanosecondsAndSetsThemBackKeepingTheAccessTime)
{
    TempDir dir;
    const std::string path = dir / "picture.jpg";
    WriteBytes(path, "12345");
    struct stat before
    {
    };
    ASSERT_EQ(stat(path.c_str(), &before), 0);
    const std::int64_t moment = 1121331807LL * kSecond + 123456789;
    ASSERT_EQ(SetModificationTime(path, moment), 0);
    FileState state;
    ASSERT_EQ(ReadFileState(path, state), 0);
    EXPECT_EQ(state.modified, moment);
    EXPECT_EQ(state.size, 5u);
    EXPECT_TRUE(state.regular);
    struct stat after
    {
    };
    ASSERT_EQ(stat(path.c_str(), &after), 0);
    EXPECT_EQ(after.st_atim.tv_sec, before.st_atim.tv_sec);
    EXPECT_EQ(after.st_atim.tv_nsec, before.st_atim.tv_nsec);
    EXPECT_EQ(SetModificationTime(dir / "missing", moment), ENOENT);
}

TEST(AProcessStamp, staysTheSameWhileTheProcessRunsAndIsGoneOnceItEnds)
{
    const std::string stamp = ProcessStamp(CurrentProcessId());
    ASSERT_FALSE(stamp.empty());
    EXPECT_EQ(ProcessStamp(CurrentProcessId()), stamp);
    const pid_t child = fork();
    if (child == 0)
        _exit(0);
    waitpid(child, nullptr, 0);
    EXPECT_EQ(ProcessStamp(child), "") << "a process that has ended has no stamp";
}

TEST(AProcessStamp, isTheBootAndTheStartOfAProcessWhateverItsName)
{
    // A name with a parenthesis and blanks, which end the name field in /proc/PID/stat only at
    // the last ')'. The child starts later than this process, in clock ticks.
    int started[2];
    int release[2];
    ASSERT_EQ(pipe(started), 0);
    ASSERT_EQ(pipe(release), 0);
    const pid_t child = fork();
    if (child == 0) {
        prctl(PR_SET_NAME, "a) 1 2 (b");
        char byte = 0;
        (void)!write(started[1], &byte, 1);
        (void)!read(release[0], &byte, 1);
        _exit(0);
    }
    char byte = 0;
    ASSERT_EQ(read(started[0], &byte, 1), 1);
    const std::string mine = ProcessStamp(CurrentProcessId());
    const std::string its = ProcessStamp(child);
    (void)!write(release[1], &byte, 1);
    waitpid(child, nullptr, 0);
    for (int end : {started[0], started[1], release[0], release[1]})
        close(end);

    std::string boot(36, '\0');
    FILE *file = std::fopen("/proc/sys/kernel/random/boot_id", "r");
    ASSERT_NE(file, nullptr);
    boot.resize(std::fread(boot.data(), 1, boot.size(), file));
    std::fclose(file);
    for (const std::string &stamp : {mine, its}) {
        ASSERT_EQ(stamp.rfind(boot + "/", 0), 0u) << stamp;
        const std::string ticks = stamp.substr(boot.size() + 1);
        ASSERT_FALSE(ticks.empty());
        EXPECT_EQ(ticks.find_first_not_of("0123456789"), std::string::npos) << stamp;
    }
    EXPECT_GE(std::stoull(its.substr(boot.size() + 1)), std::stoull(mine.substr(boot.size() + 1)));
}
