// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "run_as_nobody.h"

#include <filesystem>
#include <sys/wait.h>
#include <unistd.h>

namespace kronvik::test {

int RunAsNobody(const std::function<int()> &body)
{
    const uid_t kNobody = 65534;
    pid_t child = fork();
    if (child < 0)
        return -1;
    if (child == 0) {
        if (geteuid() == 0 && (setgid(kNobody) != 0 || setuid(kNobody) != 0))
            _exit(255);
        _exit(body());
    }
    int status = 0;
    if (waitpid(child, &status, 0) != child || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status) == 255 ? -1 : WEXITSTATUS(status);
}

ProgramCopyForNobody::ProgramCopyForNobody(const std::string &program)
{
    namespace fs = std::filesystem;
    const auto readAndRun = fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec
                            | fs::perms::others_read | fs::perms::others_exec;
    fs::permissions(m_folder.Path(), readAndRun);
    m_path = m_folder / fs::path(program).filename().string();
    fs::copy_file(program, m_path);
    fs::permissions(m_path, readAndRun);
}

} // namespace kronvik::test
