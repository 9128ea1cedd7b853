// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "run_log.h"
#include "status_view.h"

#include <chrono>
#include <csignal>
#include <cstdio>

namespace kronvik {

// Writes "kronvik-cli: ", the message and a line end on standard error: the form of every
// message the command-line tool gives there.
void PrintMessage(const std::string &message);

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
    // window does.
    bool DrainMessages() override;
    // Warns on standard error, naming the directory and the reason.
    void ReportUnsearchedDirectory(const std::string &directory, int error, bool partly) override;
    // A warning on standard error; the exit status does not change for it.
    void ReportTimeNotSet(const std::string &path, const std::string &reason) override;

    // Clears the progress line before the program prints anything else to standard error.
    void EndProgress();
    // One message on standard error, after the progress line is cleared.
    void Warn(const std::string &message);
    // True once a directory could not be searched, or only in part.
    bool DirectoryUnsearched() const { return m_directoryUnsearched; }

    // The number of the signal that asks the run to stop (SIGINT, SIGTERM, SIGHUP); 0 while none
    // has come.
    static volatile std::sig_atomic_t s_interrupted;

private:
    // Hands what standard output holds to the system when a line must show now or the last
    // hand-over is a few milliseconds old.
    void FlushWhenDue(bool now);

    std::string m_sourceText;
    bool m_printLines;
    bool &m_cancel;
    bool m_showProgress;
    bool m_progressShown = false;
    bool m_directoryUnsearched = false;
    bool m_lineByLine;
    std::chrono::steady_clock::time_point m_lastFlush;
    std::chrono::steady_clock::time_point m_lastProgress;
    std::string m_total, m_percent, m_file;
};

} // namespace kronvik
