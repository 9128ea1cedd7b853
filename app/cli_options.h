// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstdint>
#include <string>

namespace kronvik {

enum class CliMode {
    Date, // scan the SOURCE directories and date their pictures
    Undo, // take back a journaled pass
    History, // list the journaled passes, or one pass's changes
};

struct CliOptions
{
    CliMode mode = CliMode::Date;
    std::int64_t pass = 0; // the PASS of --undo and --history; 0 when none is named
    std::string sources; // every SOURCE joined with ";" in order
    bool recurse = true;
    int timeAdjust = 0;
    bool writeLog = false;
    std::string logDirectory;
    bool quiet = false;
    // Print what the pass would do and change nothing.
    bool dryRun = false;
    // Record the pass's changes in the journal (--no-journal turns it off).
    bool journal = true;
    // Shift pictures that a journaled pass shifted by the same hours already.
    bool reshift = false;
};

enum class CliParse { Run, Help, Version, UsageError };

// Reads the command line. On a usage error `error` says what was wrong.
CliParse ParseCliOptions(int argc, char **argv, CliOptions &options, std::string &error);

// A whole number of hours, with an optional sign: "+5", "-3". Nothing else is accepted.
bool ParseHours(const std::string &text, int &hours);

// A pass number as --undo and --history take it: digits only, above 0.
bool ParsePassNumber(const std::string &text, std::int64_t &pass);

extern const char *const kCliUsage;
// The --version text, in the form GNU tools use.
extern const char *const kCliVersion;

} // namespace kronvik
