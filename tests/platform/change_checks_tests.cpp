// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
// What the checks of a preview foresee for a rename or a time set, against what the system answers
// when the change is then made: as root and as a user, in a sticky folder and in one anyone may
// write, on files marked immutable or append-only.
#include "change_checks.h"
#include "jpeg_fixture.h"
#include "run_as_nobody.h"
#include "temp_dir.h"

#include <cerrno>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <iostream>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace kronvik;
using namespace kronvik::test;

namespace {

constexpr uid_t kNobody = 65534;

// Sets exactly `marks` on the file; false where its file system keeps none.
bool SetMarks(const std::string &path, int marks)
{
    const int file = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    int flags = 0;
    bool set = file >= 0 && ioctl(file, FS_IOC_GETFLAGS, &flags) == 0;
    flags = (flags & ~(FS_IMMUTABLE_FL | FS_APPEND_FL)) | marks;
    set = set && ioctl(file, FS_IOC_SETFLAGS, &flags) == 0;
    if (file >= 0)
        close(file);
    return set;
}

int Answer(int result)
{
    return result == 0 ? 0 : errno;
}

// The four answers, foreseen and made, each none, EPERM or another, in two bits: the child's
// exit status carries eight.
struct Answers
{
    int timeForeseen, timeSet, renameForeseen, renamed;
};

int Pack(const Answers &answers)
{
    const auto bits = [](int error) { return error == 0 ? 0 : error == EPERM ? 1 : 2; };
    return bits(answers.timeForeseen) | bits(answers.timeSet) << 2
           | bits(answers.renameForeseen) << 4 | bits(answers.renamed) << 6;
}

} // namespace

TEST(TheChangeChecks, foreseeWhatTheSystemAnswersATimeSetAndARename)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "files of two owners need root";
    struct Row
    {
        const char *name;
        bool sticky; // the folder, root's: else one anyone may write
        bool usersFile; // the file the user's: else root's
        int marks;
        bool asUser; // else as root
        int timeSet, renamed;
    } const rows[] = {
            {"a sticky folder, another's file", true, false, 0, true, EPERM, EPERM},
            {"a sticky folder, the user's file", true, true, 0, true, 0, 0},
            {"a folder anyone may write, another's file", false, false, 0, true, EPERM, 0},
            {"a sticky folder, as root", true, false, 0, false, 0, 0},
            {"an immutable file", false, false, FS_IMMUTABLE_FL, false, EPERM, EPERM},
            {"an append-only file", false, false, FS_APPEND_FL, false, EPERM, EPERM},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        const TempDir scratch;
        chmod(scratch.Path().c_str(), 0755);
        const std::string folder = scratch / "pictures";
        ASSERT_EQ(mkdir(folder.c_str(), 0777), 0);
        chmod(folder.c_str(), row.sticky ? 01777 : 0777);
        const std::string file = folder + "/IMG_0001.JPG";
        WriteBytes(file, "a picture");
        chmod(file.c_str(), 0666);
        ASSERT_EQ(chown(file.c_str(), row.usersFile ? kNobody : 0, row.usersFile ? kNobody : 0), 0);
        if (row.marks != 0 && !SetMarks(file, row.marks)) {
            std::cout << "[  SKIPPED ] " << row.name << ": the file system keeps no such marks\n";
            continue;
        }
        const auto answers = [&] {
            const timespec times[2] = {{0, UTIME_OMIT}, {978307200, 0}};
            Answers made;
            made.timeForeseen = CheckTimeSetOf(file);
            made.timeSet = Answer(utimensat(AT_FDCWD, file.c_str(), times, 0));
            made.renameForeseen = CheckRenameOf(file, folder + "/");
            made.renamed = Answer(rename(file.c_str(), (folder + "/dated.JPG").c_str()));
            return Pack(made);
        };
        const int got = row.asUser ? RunAsNobody(answers) : answers();
        if (row.marks != 0)
            SetMarks(file, 0);
        EXPECT_EQ(got, Pack({row.timeSet, row.timeSet, row.renamed, row.renamed}));
    }
}
