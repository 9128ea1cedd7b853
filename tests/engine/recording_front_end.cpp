// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "recording_front_end.h"

#include <cstdlib>
#include <ctime>

namespace kronvik::test {

EngineSandbox::EngineSandbox()
{
    if (const char *zone = std::getenv("TZ")) {
        m_hadTimeZone = true;
        m_oldTimeZone = zone;
    }
    setenv("TZ", "UTC", 1);
    tzset();
}

EngineSandbox::~EngineSandbox()
{
    if (m_hadTimeZone)
        setenv("TZ", m_oldTimeZone.c_str(), 1);
    else
        unsetenv("TZ");
    tzset();
}

std::vector<std::string> EngineSandbox::Messages() const
{
    std::vector<std::string> messages;
    // Prefix: 20 characters to the colon and one blank; per-picture lines have three more.
    for (const std::string &line : front.Lines())
        messages.push_back(line.size() > 21 ? line.substr(21) : line);
    return messages;
}

} // namespace kronvik::test
