// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
// Runs the picture scan, as kronvik-cli starts its run, over the source directory list given and
// prints how many pictures it found and how long it took; bench/run.py times the whole process
// against find. Nothing is renamed.
//   kronvik-scan-bench SOURCE
#include "picture_scan.h"
#include "run_log.h"
#include "status_view.h"

#include <chrono>
#include <cstdio>
#include <string>
#include <utility>

namespace {

// The status row of a front end that shows nothing, as kronvik-cli's does off a terminal.
class SilentStatus : public kronvik::StatusView
{
public:
    explicit SilentStatus(std::string source)
        : m_source(std::move(source))
    {
    }
    void SetStatusLabel(kronvik::StatusLabel, const std::string &) override { }
    void SetProgressPosition(int) override { }
    void EnableDatePictures() override { }
    std::string SourceDirectoryText() const override { return m_source; }
    bool DrainMessages() override { return true; }

private:
    std::string m_source;
};

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s SOURCE\n", argv[0]);
        return 2;
    }
    kronvik::ProgramState state;
    kronvik::RunLogLines log;
    SilentStatus status(argv[1]);
    const bool recurse = true;
    const int noAdjustment = 0;
    bool cancel = false;
    kronvik::DatingSession session{state, log, status, recurse, noAdjustment, cancel, {}};

    const auto start = std::chrono::steady_clock::now();
    kronvik::RetrieveFileList(session);
    const std::chrono::duration<double, std::milli> spent =
            std::chrono::steady_clock::now() - start;
    std::printf("pictures=%zu log_lines=%zu scan_ms=%.1f\n", state.pictureList.size(),
                log.LineCount(), spent.count());
    return 0;
}
