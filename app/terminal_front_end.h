// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "run_log.h"
#include "status_view.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <set>

namespace kronvik {

// Writes "kronvik-cli: ", the message and a line end on standard error: the form of every
// message the command-line tool gives there.
void PrintMessage(const std::string &message);

// Hands what standard output holds to the system; false, with a message on standard error, when
// it did not take it. A closed pipe is no such failure: SIGPIPE stops the run for it.
bool FlushStandardOutput();

// The command-line tool's run log and status row: every run-log line goes to standard output, on
// a terminal the moment it is added, to a file or a pipe within a few milliseconds (one write for
// many lines); on a terminal, standard error shows one progress line.
class TerminalFrontEnd : public RunLogLines, public StatusView
{
public:
    TerminalFrontEnd(std::string sourceText, bool printLines, bool &cancel);

    void AppendLogLine(const std::string &line) override;

    void SetStatusLabel(StatusLabel label, const std::string &text) override;
    void SetProgressPosition(int) override { }
    void EnableDatePictures() override { }
    std::string SourceDirectoryText() const override { return m_sourceText; }
    // Ctrl-C, SIGTERM and SIGHUP set the cancel flag here, between two pictures, as closing the
    // window does; so does a run log that standard output no longer takes.
    bool DrainMessages() override;
    // The same stop ends a scan before its next directory.
    bool ScanStopRequested() const override { return s_interrupted != 0 || m_outputError != 0; }
    // Warns on standard error, naming the directory and the reason.
    void ReportUnsearchedDirectory(const std::string &directory, int error, bool partly) override;
    void ReportHeldByAnotherRun(const std::string &path, bool folder) override;
    // A dry run's warning on standard error; an empty `folder` stands for the source
    // directories.
    void ReportRecoveryPending(const std::string &folder,
                               const std::vector<std::int64_t> &passes) override;
    // A warning on standard error; the exit status does not change for it.
    void ReportTimeNotSet(const std::string &path, const std::string &reason) override;

    // Clears the progress line before the program prints anything else to standard error.
    void EndProgress();
    // One message on standard error, after the progress line is cleared.
    void Warn(const std::string &message);
    // True once a directory could not be searched, or only in part.
    bool DirectoryUnsearched() const { return m_directoryUnsearched; }
    // Hands the last lines to standard output. False, with a message on standard error, when
    // standard output did not take the run log (a full disk, an I/O error); a closed pipe is no
    // such failure, as SIGPIPE stops the run for it.
    bool FinishOutput();
    // The errno of the first hand-over of the run log that failed; 0 while none has.
    int OutputError() const { return m_outputError; }

    // The number of the signal that asks the run to stop (SIGINT, SIGTERM, SIGHUP); 0 while none
    // has come.
    static volatile std::sig_atomic_t s_interrupted;

private:
    // Hands what standard output holds to the system when a line must show now or the last
    // hand-over is a few milliseconds old.
    void FlushWhenDue(bool now);

    // Notes the errno of a failed hand-over, and prints no further line.
    void NoteOutputError(int error);

    std::string m_sourceText;
    bool m_printLines;
    int m_outputError = 0;
    bool &m_cancel;
    bool m_showProgress;
    bool m_progressShown = false;
    bool m_directoryUnsearched = false;
    std::set<std::int64_t> m_pendingNamed; // the passes a dry run named as to be recovered
    bool m_lineByLine;
    std::chrono::steady_clock::time_point m_lastFlush;
    std::chrono::steady_clock::time_point m_lastProgress;
    std::string m_total, m_percent, m_file;
};

} // namespace kronvik
