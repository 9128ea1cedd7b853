// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
// kronvik-cli: one picture scan over the SOURCE directories, then one dating pass, with the run
// log on standard output. The window and this tool drive the same engine.
#include "cli_options.h"
#include "dating_pass.h"
#include "exit_status.h"
#include "file_error.h"
#include "file_services.h"
#include "journal_commands.h"
#include "journal_recovery.h"
#include "local_clock.h"
#include "locked_file.h"
#include "log_file.h"
#include "pass_preview.h"
#include "path_names.h"
#include "picture_scan.h"
#include "source_locks.h"
#include "terminal_front_end.h"
#include "terminal_lock_waiter.h"
#include "user_folders.h"

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>

namespace {

// Each asks the run to stop as Ctrl-C does: the picture at hand is finished, the totals printed.
// SIGPIPE too: a reader of the run log that goes away (`| head`, a pager quit) would otherwise
// end the tool between a picture's rename and its time, without its log file.
constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};

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

// The journal a pass records its changes in; none with --no-journal. A preview only looks into
// one that is there (for the recoveries pending and the shifts made before), and makes none.
// Throws JournalError.
std::unique_ptr<kronvik::Journal> OpenJournal(const kronvik::CliOptions &options)
{
    using kronvik::Journal;
    if (!options.journal)
        return nullptr;
    struct stat status
    {
    };
    if (options.dryRun && stat(Journal::DefaultPath().c_str(), &status) != 0) {
        const int statError = errno;
        const std::string path = Journal::DefaultPath();
        // A symbolic link that leads nowhere: SQLite makes the file it names where that file's
        // folder is there and takes it, and makes no folder.
        if (lstat(path.c_str(), &status) == 0) {
            const std::string end = kronvik::MissingLinkEnd(path);
            const auto split = end.rfind('/');
            const std::string folder = split == std::string::npos ? "."
                                       : split == 0               ? "/"
                                                                  : end.substr(0, split);
            if (end.empty() || stat(folder.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)
                || faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) != 0)
                throw kronvik::JournalError(kronvik::JournalErrorMessage(
                        path, "unable to open database file (" + kronvik::SystemErrorText(statError)
                                      + ")"));
            kronvik::CheckNewJournalRoom(end);
            return nullptr;
        }
        // The run would make the journal: one that it could not make ends the preview as it
        // would end the run.
        const std::string folder = path.substr(0, path.rfind('/'));
        if (const int error = kronvik::CheckCreatableDirectory(folder)) {
            // As the run meets it: the folder it cannot make, or SQLite the file in the folder.
            const bool folderThere = stat(folder.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
            throw kronvik::JournalError(kronvik::JournalErrorMessage(
                    path, folderThere ? kronvik::CannotMakeJournalReason(error)
                                      : kronvik::SystemErrorText(error)));
        }
        kronvik::CheckNewJournalFolder(path);
        kronvik::CheckNewJournalRoom(path);
        return nullptr;
    }
    return std::make_unique<Journal>();
}

} // namespace

int main(int argc, char **argv)
{
    using namespace kronvik;

    PinSystemTimeZone();
    RaiseOpenFilesAllowed();
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
    PreviewApplier preview;
    if (options.dryRun)
        session.applier = &preview;
    session.journalFrontEnd = JournalFrontEnd::Cli;
    session.journalSources = options.sources;
    session.reshift = options.reshift;

    RunStatus status;
    try {
        // Before anything is searched: a journal that cannot be used stops the run with nothing
        // changed.
        const std::unique_ptr<Journal> journal = OpenJournal(options);
        session.journal = journal.get();
        // Held from before the scan to the end of the pass: a second run over these folders
        // waits for this one rather than working among its renames.
        SourceLocks locks;
        session.sourceLocks = &locks;
        TerminalLockWaiter waiter;
        // A recovery works also where the killed pass reached pictures through links.
        const auto holdFolders = [&] {
            return !journal || options.dryRun || HoldFoldersToRecover(*journal, locks, waiter);
        };
        if (locks.Take(options.sources, waiter) && holdFolders()
            && !TerminalFrontEnd::s_interrupted) {
            // What a killed pass left half done in these folders is taken back first, so the
            // scan sees the pictures as they were.
            if (journal && options.dryRun) {
                front.ReportRecoveryPending({}, PendingRecoveries(*journal, locks.Folders()));
            } else if (journal) {
                RecoverUnfinishedPasses(*journal, locks.Folders(), session.clock, front);
            }
            RetrieveFileList(session);
            if (!TerminalFrontEnd::s_interrupted && front.OutputError() == 0)
                DatePictures(session);
        }
        if (state.datedUnsuccessfully > 0)
            status.Raise(kNotAllDated);
    } catch (const FileError &failure) {
        front.Warn(failure.Message());
        status.Raise(kFileError);
    } catch (const JournalError &failure) {
        front.Warn(failure.what());
        status.Raise(kFileError);
    }
    front.EndProgress();
    if (front.DirectoryUnsearched())
        status.Raise(kNotAllDated);
    if (!front.FinishOutput())
        status.Raise(kFileError);
    if (TerminalFrontEnd::s_interrupted)
        status.Raise(kSignalBase + TerminalFrontEnd::s_interrupted);

    // A preview leaves the log file as the last run wrote it, and ends as the run would if it
    // could not write it.
    if (options.dryRun) {
        try {
            CheckLogFile(front, options.writeLog, options.logDirectory);
        } catch (const FileError &failure) {
            front.Warn(failure.Message());
            status.Raise(kFileError);
        }
        return status.Value();
    }
    // As the window does on closing: the log file whenever the run log holds a line.
    try {
        WriteLogFile(front, options.writeLog, options.logDirectory);
    } catch (const FileError &failure) {
        front.Warn(failure.Message());
        status.Raise(kFileError);
    }
    return status.Value();
}
