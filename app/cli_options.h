// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <string>

namespace kronvik {

struct CliOptions
{
    std::string sources; // every SOURCE joined with ";" in order
    bool recurse = true;
    int timeAdjust = 0;
    bool writeLog = false;
    std::string logDirectory;
    bool quiet = false;
};

enum class CliParse { Run, Help, Version, UsageError };

// Reads the command line. On a usage error `error` says what was wrong.
CliParse ParseCliOptions(int argc, char **argv, CliOptions &options, std::string &error);

// A whole number of hours, with an optional sign: "+5", "-3". Nothing else is accepted.
bool ParseHours(const std::string &text, int &hours);

extern const char *const kCliUsage;
// The --version text, in the form GNU tools use.
extern const char *const kCliVersion;

} // namespace kronvik
