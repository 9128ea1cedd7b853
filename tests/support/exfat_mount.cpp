// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "exfat_mount.h"

#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <sys/wait.h>
#include <system_error>
#include <unistd.h>
#include <vector>

namespace kronvik::test {

namespace {

// Runs a program, with /sbin and /usr/sbin searched too, and gives the first line of its standard
// output when asked (else it is silenced, so that a daemon it leaves cannot hold the pipe open);
// its standard error is silenced. False when it does not exit with 0.
bool RunTool(std::vector<std::string> args, std::string *output = nullptr)
{
    int pipeFds[2];
    if (pipe(pipeFds) != 0)
        return false;
    const pid_t child = fork();
    if (child < 0)
        return false;
    if (child == 0) {
        const int null = open("/dev/null", O_WRONLY);
        if (null < 0 || dup2(output ? pipeFds[1] : null, STDOUT_FILENO) < 0
            || dup2(null, STDERR_FILENO) < 0)
            _exit(126);
        close(pipeFds[0]);
        close(pipeFds[1]);
        std::vector<char *> argv;
        for (auto &arg : args)
            argv.push_back(arg.data());
        argv.push_back(nullptr);
        for (const char *folder : {"/usr/sbin/", "/sbin/", "/usr/bin/", "/bin/"})
            execv((folder + args[0]).c_str(), argv.data());
        _exit(127);
    }
    close(pipeFds[1]);
    std::string text;
    char buffer[256];
    for (ssize_t got; (got = read(pipeFds[0], buffer, sizeof buffer)) > 0;)
        text.append(buffer, static_cast<std::size_t>(got));
    close(pipeFds[0]);
    int status = 0;
    if (output)
        *output = text.substr(0, text.find('\n'));
    return waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

} // namespace

ExfatMount::ExfatMount()
{
    const std::string image = m_folder / "exfat.img";
    const std::string mountPoint = m_folder / "mount";
    std::filesystem::create_directory(mountPoint);
    if (geteuid() != 0) {
        m_problem = "attaching a loop device needs root";
        return;
    }
    WriteBytes(image, "");
    std::error_code error;
    std::filesystem::resize_file(image, 8 << 20, error);
    if (error || !RunTool({"mkfs.exfat", image})) {
        m_problem = "mkfs.exfat (exfatprogs) cannot make an exFAT image";
        return;
    }
    if (!RunTool({"losetup", "--find", "--show", image}, &m_loopDevice) || m_loopDevice.empty()) {
        m_problem = "no free loop device";
        m_loopDevice.clear();
        return;
    }
    if (!RunTool({"mount.exfat-fuse", m_loopDevice, mountPoint})) {
        m_problem = "exfat-fuse cannot mount the image";
        return;
    }
    m_mounted = true;
}

ExfatMount::~ExfatMount()
{
    if (m_mounted)
        RunTool({"fusermount", "-u", m_folder / "mount"});
    if (!m_loopDevice.empty())
        RunTool({"losetup", "--detach", m_loopDevice});
}

} // namespace kronvik::test
