// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
// kronvik-cli: one picture scan over the SOURCE directories, then one dating pass, with the run
// log on standard output. The window and this tool drive the same engine.
#include "cli_options.h"
#include "dating_pass.h"
#include "exit_status.h"
#include "file_error.h"
#include "journal_commands.h"
#include "log_file.h"
#include "picture_scan.h"
#include "source_locks.h"
#include "terminal_front_end.h"
#include "terminal_lock_waiter.h"

#include <csignal>
#include <cstdio>

namespace {

// Each asks the run to stop as Ctrl-C does: the picture at hand is finished, the totals printed.
constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

void OnStopSignal(int signal)
{
    // The other stop signals are blocked meanwhile. Of two, the higher is kept, as the higher
    // exit status wins.
    if (signal > kronvik::TerminalFrontEnd::s_interrupted)
        kronvik::TerminalFrontEnd::s_interrupted = signal;
}

void CatchStopSignals()
{
    struct sigaction action
    {
    };
    action.sa_handler = OnStopSignal;
    // Calls under way go on: a write of the run log to a pipe must not be cut short by Ctrl-C.
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    for (int signal : kStopSignals)
        sigaddset(&action.sa_mask, signal);
    for (int signal : kStopSignals) {
        struct sigaction inherited
        {
        };
        // A signal that whoever started the tool ignores (nohup, a background job) stays
        // ignored, so "nohup kronvik-cli" survives the terminal closing.
        if (sigaction(signal, nullptr, &inherited) == 0 && inherited.sa_handler == SIG_IGN)
            continue;
        sigaction(signal, &action, nullptr);
    }
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
        std::fputs(kCliVersion, stdout);
        return kAllDated;
    case CliParse::UsageError:
        PrintMessage(error);
        std::fputs("Try 'kronvik-cli --help'.\n", stderr);
        return kUsageError;
    case CliParse::Run:
        break;
    }

    CatchStopSignals();
    if (options.mode == CliMode::Undo)
        return RunUndoCommand(options);
    if (options.mode == CliMode::History)
        return RunHistoryCommand(options);

    ProgramState state;
    bool cancel = false;
    TerminalFrontEnd front(options.sources, !options.quiet, cancel);
    DatingSession session{state, front, front, options.recurse, options.timeAdjust, cancel, {}};

    RunStatus status;
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
        if (state.datedUnsuccessfully > 0)
            status.Raise(kNotAllDated);
    } catch (const FileError &failure) {
        front.Warn(failure.Message());
        status.Raise(kFileError);
    }
    front.EndProgress();
    if (front.DirectoryUnsearched())
        status.Raise(kNotAllDated);
    if (TerminalFrontEnd::s_interrupted)
        status.Raise(kSignalBase + TerminalFrontEnd::s_interrupted);

    // As the window does on closing: the log file whenever the run log holds a line.
    try {
        WriteLogFile(front, options.writeLog, options.logDirectory);
    } catch (const FileError &failure) {
        front.Warn(failure.Message());
        status.Raise(kFileError);
    }
    return status.Value();
}
