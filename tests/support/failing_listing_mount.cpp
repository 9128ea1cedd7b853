// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "failing_listing_mount.h"

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace kronvik::test {

namespace {

bool OnAnotherDevice(const std::string &path, const std::string &parent)
{
    struct stat inner
    {
    };
    struct stat outer
    {
    };
    return stat(path.c_str(), &inner) == 0 && stat(parent.c_str(), &outer) == 0
           && inner.st_dev != outer.st_dev;
}

} // namespace

FailingListingMount::FailingListingMount(const std::vector<std::string> &names)
{
    const std::string helper = KRONVIK_FAILING_LISTING_FS;
    if (helper.empty()) {
        m_skipReason = "the FUSE test file system was not built (libfuse3-dev is missing)";
        return;
    }
    if (access("/dev/fuse", R_OK | W_OK) != 0) {
        m_skipReason = "FUSE is not available here (/dev/fuse cannot be opened)";
        return;
    }
    std::filesystem::create_directory(Path());
    const std::string messages = m_dir / "helper.err";
    std::vector<std::string> args{helper, Path()};
    args.insert(args.end(), names.begin(), names.end());
    std::vector<char *> argv;
    for (std::string &arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);

    const pid_t parent = getpid();
    m_helper = fork();
    if (m_helper == 0) {
        // A test that dies leaves no file system behind: the helper ends with it and unmounts.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent)
            _exit(1);
        const int err = open(messages.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(err, STDERR_FILENO);
        dup2(err, STDOUT_FILENO);
        execv(argv[0], argv.data());
        _exit(127);
    }

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!OnAnotherDevice(Path(), m_dir.Path().string())) {
        int status = 0;
        if (waitpid(m_helper, &status, WNOHANG) == m_helper) {
            m_helper = -1;
            m_skipReason = "the FUSE test file system could not be mounted: " + ReadBytes(messages);
            return;
        }
        if (std::chrono::steady_clock::now() > deadline) {
            m_skipReason = "the FUSE test file system did not come up within 10 seconds";
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

FailingListingMount::~FailingListingMount()
{
    if (m_helper <= 0)
        return;
    // The helper unmounts on SIGTERM before it exits.
    kill(m_helper, SIGTERM);
    int status = 0;
    waitpid(m_helper, &status, 0);
}

} // namespace kronvik::test
