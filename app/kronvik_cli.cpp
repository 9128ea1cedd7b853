// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
// kronvik-cli: one picture scan over the SOURCE directories, then one dating pass, with the run
// log on standard output. The window and this tool drive the same engine.
#include "cli_options.h"
#include "dating_pass.h"
#include "file_error.h"
#include "log_file.h"
#include "picture_scan.h"
#include "source_locks.h"
#include "terminal_front_end.h"
#include "terminal_lock_waiter.h"

#include <csignal>
#include <cstdio>

namespace {

enum ExitStatus {
    kAllDated = 0,
    kRenameRefused = 1,
    kUsageError = 2,
    kFileError = 3,
    kInterrupted = 130,
};

void OnInterrupt(int)
{
    kronvik::TerminalFrontEnd::s_interrupted = 1;
}

} // namespace

int main(int argc, char **argv)
{
    using namespace kronvik;

    CliOptions options;
    std::string error;
    switch (ParseCliOptions(argc, argv, options, error)) {
    case CliParse::Help:
        std::fputs(kCliUsage, stdout);
        return kAllDated;
    case CliParse::Version:
        std::printf("kronvik-cli (Kronvik) %s\n", KRONVIK_VERSION_TEXT);
        return kAllDated;
    case CliParse::UsageError:
        std::fprintf(stderr, "kronvik-cli: %s\n\n%s", error.c_str(), kCliUsage);
        return kUsageError;
    case CliParse::Run:
        break;
    }

    struct sigaction action
    {
    };
    action.sa_handler = OnInterrupt;
    // Calls under way go on: a write of the run log to a pipe must not be cut short by Ctrl-C.
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);

    ProgramState state;
    bool cancel = false;
    TerminalFrontEnd front(options.sources, !options.quiet, cancel);
    DatingSession session{state, front, front, options.recurse, options.timeAdjust, cancel, {}};

    int status = kAllDated;
    try {
        // Held from before the scan to the end of the pass: a second run over these folders
        // waits for this one rather than working among its renames.
        SourceLocks locks;
        TerminalLockWaiter waiter;
        if (locks.Take(options.sources, waiter) && !TerminalFrontEnd::s_interrupted) {
            RetrieveFileList(session);
            if (!TerminalFrontEnd::s_interrupted)
                DatePictures(session);
        }
        if (TerminalFrontEnd::s_interrupted)
            status = kInterrupted;
        else if (state.datedUnsuccessfully > 0)
            status = kRenameRefused;
    } catch (const FileError &failure) {
        front.EndProgress();
        std::fprintf(stderr, "%s\n", failure.Message().c_str());
        status = kFileError;
    }
    front.EndProgress();

    // As the window does on closing: the log file whenever the run log holds a line.
    try {
        WriteLogFile(front, options.writeLog, options.logDirectory);
    } catch (const FileError &failure) {
        std::fprintf(stderr, "%s\n", failure.Message().c_str());
        if (status != kInterrupted)
            status = kFileError;
    }
    return status;
}
