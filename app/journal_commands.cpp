// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "journal_commands.h"

#include "exit_status.h"
#include "file_error.h"
#include "journal_history.h"
#include "journal_undo.h"
#include "log_file.h"
#include "terminal_front_end.h"
#include "terminal_lock_waiter.h"

#include <cstdio>

namespace kronvik {

namespace {

// Whether the listing may go on: Ctrl-C, SIGTERM or SIGHUP, or a reader that went away (SIGPIPE),
// ends it.
bool PrintLine(const std::string &line)
{
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    return TerminalFrontEnd::s_interrupted == 0;
}

int ListHistory(const CliOptions &options)
{
    try {
        Journal journal;
        if (options.pass == 0) {
            for (const JournaledPass &pass : journal.Passes())
                if (!PrintLine(PassHistoryLine(journal, pass)))
                    break;
            return kAllDated;
        }
        const std::optional<JournaledPass> pass = journal.FindPass(options.pass);
        if (!pass) {
            PrintMessage("there is no pass " + std::to_string(options.pass) + " in the journal.");
            return kUsageError;
        }
        if (!PrintLine(PassHistoryLine(journal, *pass)))
            return kAllDated;
        int position = 0;
        for (const ChangeRecord &change : journal.Changes(pass->id))
            if (!PrintLine(ChangeHistoryLine(change, ++position)))
                break;
        return kAllDated;
    } catch (const JournalError &failure) {
        PrintMessage(failure.what());
        return kFileError;
    }
}

} // namespace

int RunUndoCommand(const CliOptions &options)
{
    bool cancel = false;
    TerminalFrontEnd front(std::string(), !options.quiet, cancel);
    UndoSession session{front, front, cancel, {}, JournalFrontEnd::Cli};
    RunStatus status;
    try {
        Journal journal;
        TerminalLockWaiter waiter;
        const UndoResult result =
                UndoPass(journal, options.pass ? std::optional<PassId>(options.pass) : std::nullopt,
                         session, waiter);
        front.EndProgress();
        switch (result.outcome) {
        case UndoOutcome::Undone:
            if (result.left > 0)
                status.Raise(kNotAllDated);
            break;
        case UndoOutcome::AlreadyUndone:
        case UndoOutcome::StillRunning:
            PrintMessage(UndoRefusal(result));
            status.Raise(kNotAllDated);
            break;
        case UndoOutcome::NoPass:
        case UndoOutcome::UnknownPass:
        case UndoOutcome::IsAnUndo:
            PrintMessage(UndoRefusal(result));
            status.Raise(kUsageError);
            break;
        case UndoOutcome::WaitEnded:
            break;
        }
    } catch (const JournalError &failure) {
        front.Warn(failure.what());
        status.Raise(kFileError);
    }
    front.EndProgress();
    if (!front.FinishOutput())
        status.Raise(kFileError);
    if (TerminalFrontEnd::s_interrupted)
        status.Raise(kSignalBase + TerminalFrontEnd::s_interrupted);
    try {
        std::string logDirectory = options.logDirectory;
        WriteLogFile(front, options.writeLog, logDirectory);
    } catch (const FileError &failure) {
        front.Warn(failure.Message());
        status.Raise(kFileError);
    }
    return status.Value();
}

int RunHistoryCommand(const CliOptions &options)
{
    RunStatus status;
    status.Raise(ListHistory(options));
    if (!FlushStandardOutput())
        status.Raise(kFileError);
    if (TerminalFrontEnd::s_interrupted)
        status.Raise(kSignalBase + TerminalFrontEnd::s_interrupted);
    return status.Value();
}

} // namespace kronvik
