// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "temp_dir.h"

#include <functional>
#include <string>

namespace kronvik::test {

// Runs `body` in a child process that has given up root for the unprivileged "nobody" user, so
// that file permissions bite as they do for a user (the tests run as root in CI). Returns the
// body's result, or -1 when the child could not run it.
int RunAsNobody(const std::function<int()> &body);

// A copy of the executable `program` that "nobody" can run. The build tree may sit in a folder
// that only its owner can enter (root's home, a `mktemp -d` folder), where the dropped user
// cannot reach the original; the copy sits in a fresh temporary folder that anyone may enter,
// under the same file name, and goes with this object.
class ProgramCopyForNobody
{
public:
    explicit ProgramCopyForNobody(const std::string &program);

    const std::string &Path() const { return m_path; }

private:
    TempDir m_folder;
    std::string m_path;
};

} // namespace kronvik::test
