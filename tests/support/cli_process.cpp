// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "cli_process.h"

#include "temp_dir.h"

#include <fcntl.h>
#include <sched.h>
#include <sstream>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

namespace kronvik::test {

namespace {

bool MountFolder(const std::string &folder, Mount mount)
{
    switch (mount) {
    case Mount::None:
        return true;
    case Mount::ReadOnly:
        return ::mount(folder.c_str(), folder.c_str(), nullptr, MS_BIND, nullptr) == 0
               && ::mount(nullptr, folder.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY,
                          nullptr)
                          == 0;
    case Mount::Full: {
        if (::mount("tmpfs", folder.c_str(), "tmpfs", 0, "size=64k") != 0)
            return false;
        // Filled to the last block: a folder can still be made in it, a file of any size not.
        const int fd = open((folder + "/filler").c_str(), O_WRONLY | O_CREAT, 0600);
        const std::string block(4096, 'x');
        while (write(fd, block.data(), block.size()) > 0) { }
        close(fd);
        return true;
    }
    }
    return false;
}

} // namespace

std::vector<std::string> CliRun::Messages() const
{
    std::vector<std::string> messages;
    std::istringstream stream(out);
    for (std::string line; std::getline(stream, line);)
        messages.push_back(line.size() > 21 ? line.substr(21) : line);
    return messages;
}

CliRun RunCli(const std::string &program, const std::vector<std::string> &args,
              const std::string &outputFolder, const std::string &folder, Mount mount)
{
    const std::string out = outputFolder + "/out", err = outputFolder + "/err";
    const pid_t child = fork();
    if (child == 0) {
        if (mount != Mount::None
            && (unshare(CLONE_NEWNS) != 0
                || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0
                || !MountFolder(folder, mount)))
            _exit(kNoMount);
        std::vector<char *> argv{const_cast<char *>(program.c_str())};
        for (const std::string &arg : args)
            argv.push_back(const_cast<char *>(arg.c_str()));
        argv.push_back(nullptr);
        dup2(open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666), STDOUT_FILENO);
        dup2(open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666), STDERR_FILENO);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    int status = 0;
    waitpid(child, &status, 0);
    CliRun run;
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (run.status != kNoMount) {
        run.out = ReadBytes(out);
        run.err = ReadBytes(err);
    }
    return run;
}

} // namespace kronvik::test
