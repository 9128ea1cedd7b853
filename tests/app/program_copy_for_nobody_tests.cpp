// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
// The tests that run a program as "nobody" must pass wherever the build tree sits, even in a
// folder that only its owner can enter.
#include "run_as_nobody.h"
#include "temp_dir.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace kronvik::test;
namespace fs = std::filesystem;

namespace {

int ExecAsNobody(const std::string &program)
{
    return RunAsNobody([&]() -> int {
        execl(program.c_str(), program.c_str(), static_cast<char *>(nullptr));
        return 127;
    });
}

TEST(AProgramCopyForNobody, runsAsNobodyWhereTheOriginalSitsInAnOwnerOnlyFolder)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "only root can drop to nobody";
    TempDir ownerOnly; // mkdtemp makes it 0700, as a clone under root's home would be
    const std::string original = ownerOnly / "true";
    fs::copy_file("/usr/bin/true", original);
    ASSERT_EQ(ExecAsNobody(original), 127) << "nobody should not reach the original";

    const ProgramCopyForNobody copy(original);
    EXPECT_EQ(fs::path(copy.Path()).filename(), "true");
    EXPECT_EQ(ExecAsNobody(copy.Path()), 0);
}

} // namespace
