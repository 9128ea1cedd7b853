// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <string>
#include <vector>

namespace kronvik::test {

// What a run of kronvik-cli printed, and how it ended.
struct CliRun
{
    int status = -1;
    std::string out;
    std::string err;

    // The lines of standard output without the run log's time prefix.
    std::vector<std::string> Messages() const;
};

// The status of a run whose mount namespace could not be made (a test then skips).
inline constexpr int kNoMount = 77;

// What a run's mount namespace makes of a folder before the tool starts.
enum class Mount {
    None,
    ReadOnly, // bound read-only over itself
    Full, // a small memory file system, filled up
};

// Runs `program` with `args`, its output kept in files under `outputFolder`; unless `mount` is
// None, in a mount namespace of its own where `folder` is mounted as `mount` says.
CliRun RunCli(const std::string &program, const std::vector<std::string> &args,
              const std::string &outputFolder, const std::string &folder = {},
              Mount mount = Mount::None);

} // namespace kronvik::test
