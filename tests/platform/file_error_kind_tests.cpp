// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "file_error_kind.h"

#include "path_names.h"
#include "temp_dir.h"

#include <cerrno>
#include <gtest/gtest.h>
#include <unistd.h>

using kronvik::FileErrorKind;
using kronvik::FileErrorKindFromErrno;
using kronvik::test::TempDir;

TEST(AFileErrorKind, followsTheErrnoTable)
{
    const std::string path = "/tmp/picture.jpg";
    struct Row
    {
        int error;
        FileErrorKind kind;
    } const rows[] = {
            {ENOTDIR, FileErrorKind::BadPath},
            {ENAMETOOLONG, FileErrorKind::BadPath},
            {ELOOP, FileErrorKind::BadPath},
            {EACCES, FileErrorKind::AccessDenied},
            {EPERM, FileErrorKind::AccessDenied},
            {EROFS, FileErrorKind::AccessDenied},
            {EISDIR, FileErrorKind::AccessDenied},
            {EMFILE, FileErrorKind::TooManyOpenFiles},
            {ENFILE, FileErrorKind::TooManyOpenFiles},
            {ENOSPC, FileErrorKind::DiskFull},
            {EDQUOT, FileErrorKind::DiskFull},
            {EIO, FileErrorKind::HardwareIo},
            {EBUSY, FileErrorKind::SharingViolation},
            {ETXTBSY, FileErrorKind::SharingViolation},
            {EWOULDBLOCK, FileErrorKind::SharingViolation},
            {EINVAL, FileErrorKind::Generic},
            {EXDEV, FileErrorKind::Generic},
    };
    for (const Row &row : rows)
        EXPECT_EQ(FileErrorKindFromErrno(row.error, path), row.kind) << "errno " << row.error;
}

TEST(AFileErrorKind, tellsAMissingFileFromAMissingDirectory)
{
    TempDir dir;
    EXPECT_EQ(FileErrorKindFromErrno(ENOENT, dir / "missing.jpg"), FileErrorKind::FileNotFound);
    EXPECT_EQ(FileErrorKindFromErrno(ENOENT, dir / "missing/Kronvik.log"), FileErrorKind::BadPath);
    EXPECT_EQ(FileErrorKindFromErrno(ENOENT, "/missing.jpg"), FileErrorKind::FileNotFound);
    // A bare name lives in the current directory, which exists.
    EXPECT_EQ(FileErrorKindFromErrno(ENOENT, "missing.jpg"), FileErrorKind::FileNotFound);
}

TEST(AnAbsolutePath, joinsARelativePathToTheCurrentDirectoryAndChangesNothingElse)
{
    TempDir dir;
    char old[4096];
    ASSERT_NE(getcwd(old, sizeof old), nullptr);
    ASSERT_EQ(chdir(dir.Path().c_str()), 0);
    const std::string here = dir.Path().string();
    struct Row
    {
        const char *name;
        std::string typed, absolute;
    } const rows[] = {
            {"a plain name", "x.jpg", here + "/x.jpg"},
            {"a dot", ".", here + "/."},
            {"a parent step through a link", "link/../pics", here + "/link/../pics"},
            {"a trailing separator", "A/", here + "/A/"},
            {"doubled separators", "A//S", here + "/A//S"},
            {"an absolute path with dots", "/a/./b//c/..", "/a/./b//c/.."},
            {"the root's parent", "/..", "/.."},
            {"an empty path", "", ""},
    };
    for (const Row &row : rows)
        EXPECT_EQ(kronvik::AbsolutePath(row.typed), row.absolute) << row.name;
    // The root already ends with the separator: one separator, not two.
    ASSERT_EQ(chdir("/"), 0);
    EXPECT_EQ(kronvik::AbsolutePath("x.jpg"), "/x.jpg");
    ASSERT_EQ(chdir(old), 0);
}
