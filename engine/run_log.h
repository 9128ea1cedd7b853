// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "calendar_time.h"

#include <cstddef>
#include <string>
#include <vector>

namespace kronvik {

// The run log: every directory searched, every picture named or refused and the totals of every
// dating pass, one line each, only ever added at the end. The window keeps its lines in its log
// list, the command-line tool prints them as they come; the engine sees only this interface.
class RunLog
{
public:
    virtual ~RunLog() = default;
    virtual void AppendLogLine(const std::string &line) = 0;
    virtual std::size_t LineCount() const = 0;
    virtual std::string Line(std::size_t index) const = 0;
};

// A run log held in memory.
class RunLogLines : public RunLog
{
public:
    void AppendLogLine(const std::string &line) override { m_lines.push_back(line); }
    std::size_t LineCount() const override { return m_lines.size(); }
    std::string Line(std::size_t index) const override { return m_lines.at(index); }
    const std::vector<std::string> &Lines() const { return m_lines; }

private:
    std::vector<std::string> m_lines;
};

// printf into a string.
std::string FormatText(const char *format, ...) __attribute__((format(printf, 1, 2)));

// Forms one run-log line: `format` begins with the prefix fields "%4d-%02d-%02d %02d:%02d:%02d:"
// filled from `time`, and the message's own values follow as arguments. The values are never
// read as a format, so a file named "%s%n.jpg" is logged as it is.
template<typename... Values>
std::string FormatLogLine(const CalendarTime &time, const char *format, Values... values)
{
    return FormatText(format, time.year, time.month, time.day, time.hour, time.minute, time.second,
                      values...);
}

} // namespace kronvik
