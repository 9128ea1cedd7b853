// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "terminal_front_end.h"

#include "file_services.h"

#include <cstring>
#include <unistd.h>

namespace kronvik {

volatile std::sig_atomic_t TerminalFrontEnd::s_interrupted = 0;

void PrintMessage(const std::string &message)
{
    const std::string line = "kronvik-cli: " + message + "\n";
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
}

TerminalFrontEnd::TerminalFrontEnd(std::string sourceText, bool printLines, bool &cancel)
    : m_sourceText(std::move(sourceText))
    , m_printLines(printLines)
    , m_cancel(cancel)
    , m_showProgress(isatty(STDERR_FILENO) == 1)
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
    std::fflush(stdout);
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
        // The picture number comes last in each progress report: draw the line now.
        if (m_showProgress && !text.empty()) {
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
    if (s_interrupted)
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

void TerminalFrontEnd::ReportTimeNotSet(const std::string &path, const std::string &reason)
{
    Warn("could not set the time of " + path + ": " + reason);
}

void TerminalFrontEnd::Warn(const std::string &message)
{
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
