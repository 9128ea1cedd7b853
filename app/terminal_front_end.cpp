// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "terminal_front_end.h"

#include "file_services.h"

#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace kronvik {

namespace {

// Lines written to a file or a pipe reach it at most this late; the progress line is drawn at
// most once a screen frame.
constexpr std::chrono::milliseconds kFlushEvery{10};
constexpr std::chrono::milliseconds kProgressEvery{16};

std::string OutputErrorMessage(int error)
{
    return "cannot write to standard output: " + SystemErrorText(error);
}

} // namespace

volatile std::sig_atomic_t TerminalFrontEnd::s_interrupted = 0;

void PrintMessage(const std::string &message)
{
    const std::string line = "kronvik-cli: " + message + "\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
}

bool FlushStandardOutput()
{
    if (std::fflush(stdout) == 0 || errno == EPIPE)
        return true;
    PrintMessage(OutputErrorMessage(errno));
    return false;
}

TerminalFrontEnd::TerminalFrontEnd(std::string sourceText, bool printLines, bool &cancel)
    : m_sourceText(std::move(sourceText))
    , m_printLines(printLines)
    , m_cancel(cancel)
    , m_showProgress(isatty(STDERR_FILENO) == 1)
    , m_lineByLine(isatty(STDOUT_FILENO) == 1)
{
}

void TerminalFrontEnd::AppendLogLine(const std::string &line)
{
    RunLogLines::AppendLogLine(line);
    if (!m_printLines)
        return;
    EndProgress();
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    FlushWhenDue(m_lineByLine);
}

void TerminalFrontEnd::FlushWhenDue(bool now)
{
    const auto time = std::chrono::steady_clock::now();
    if (!now && time - m_lastFlush < kFlushEvery)
        return;
    if (std::fflush(stdout) != 0)
        NoteOutputError(errno);
    m_lastFlush = time;
}

void TerminalFrontEnd::NoteOutputError(int error)
{
    if (error == EPIPE || m_outputError != 0)
        return;
    m_outputError = error;
    m_printLines = false;
}

bool TerminalFrontEnd::FinishOutput()
{
    if (m_printLines && std::fflush(stdout) != 0)
        NoteOutputError(errno);
    if (m_outputError == 0)
        return true;
    EndProgress();
    PrintMessage(OutputErrorMessage(m_outputError));
    return false;
}

void TerminalFrontEnd::SetStatusLabel(StatusLabel label, const std::string &text)
{
    switch (label) {
    case StatusLabel::Total:
        m_total = text;
        break;
    case StatusLabel::Percent:
        m_percent = text;
        break;
    case StatusLabel::File:
        m_file = text;
        break;
    case StatusLabel::Current:
        // The picture number comes last in each progress report: draw the line now, unless it
        // was drawn less than a frame ago.
        if (m_showProgress && !text.empty()
            && std::chrono::steady_clock::now() - m_lastProgress >= kProgressEvery) {
            m_lastProgress = std::chrono::steady_clock::now();
            FlushWhenDue(true);
            std::fprintf(stderr, "\r\033[Kpicture %s of %s (%s) %s", text.c_str(), m_total.c_str(),
                         m_percent.c_str(), m_file.c_str());
            std::fflush(stderr);
            m_progressShown = true;
        }
        break;
    case StatusLabel::Caption:
    case StatusLabel::Of:
        break;
    }
}

bool TerminalFrontEnd::DrainMessages()
{
    FlushWhenDue(false);
    if (s_interrupted || m_outputError != 0)
        m_cancel = true;
    return true;
}

void TerminalFrontEnd::ReportUnsearchedDirectory(const std::string &directory, int error,
                                                 bool partly)
{
    m_directoryUnsearched = true;
    Warn(std::string(partly ? "cannot search all of '" : "cannot search '") + directory
         + "': " + SystemErrorText(error));
}

void TerminalFrontEnd::ReportHeldByAnotherRun(const std::string &path, bool folder)
{
    m_directoryUnsearched = true;
    Warn(folder ? "not searching '" + path + "': another Kronvik pass holds it"
                : "not dating '" + path + "': another Kronvik pass holds its folder");
}

void TerminalFrontEnd::ReportRecoveryPending(const std::string &folder,
                                             const std::vector<std::int64_t> &passes)
{
    // A pass is named once: one that the source directories hold may also have worked in a
    // folder that the scan reaches through a link.
    std::size_t unnamed = 0;
    for (const std::int64_t pass : passes)
        unnamed += m_pendingNamed.insert(pass).second;
    if (unnamed == 0)
        return;
    Warn(std::to_string(unnamed) + " unfinished pass(es) "
         + (folder.empty() ? "over these directories" : "in '" + folder + "'")
         + " will be recovered first by a run that is not a dry run.");
}

void TerminalFrontEnd::ReportTimeNotSet(const std::string &path, const std::string &reason)
{
    Warn("could not set the time of " + path + ": " + reason);
}

void TerminalFrontEnd::Warn(const std::string &message)
{
    // The lines before the warning come before it on a terminal or in a file that has both.
    FlushWhenDue(true);
    EndProgress();
    PrintMessage(message);
}

void TerminalFrontEnd::EndProgress()
{
    if (!m_progressShown)
        return;
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
    m_progressShown = false;
}

} // namespace kronvik
