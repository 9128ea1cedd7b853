// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "terminal_front_end.h"

#include <unistd.h>

namespace kronvik {

volatile std::sig_atomic_t TerminalFrontEnd::s_interrupted = 0;

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

void TerminalFrontEnd::ReportTimeNotSet(const std::string &path, const std::string &reason)
{
    EndProgress();
    std::fprintf(stderr, "kronvik-cli: could not set the time of %s: %s\n", path.c_str(),
                 reason.c_str());
    std::fflush(stderr);
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
