// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "run_log.h"

#include <string>

namespace kronvik {

inline constexpr const char *kLogFileName = "Kronvik.log";

// Writes the run log to "Kronvik.log" in the logs directory when saving is on and the log holds a
// line: each line followed by CR LF, in a new file renamed over the old log once it is whole (a
// "Kronvik.log" link is replaced, not written through). A separator is appended to a logs
// directory that does not already end in one (the caller stores it that way); an empty logs
// directory means the per-user log folder ($XDG_STATE_HOME/kronvik, created when needed) and
// stays empty. Throws FileError, naming the "Kronvik.log" path, when the new file cannot be
// created (another process holding the old log: sharing violation; a read-only log or folder:
// access denied), written or flushed (disk full); the old log is then left whole and the new
// file removed.
void WriteLogFile(const RunLog &log, bool saveLog, std::string &logDirectory);

// The FileError that WriteLogFile with the same arguments would throw as it begins the new file,
// thrown without writing or making anything; nothing when it would begin it. For a preview, which
// ends as the run would.
void CheckLogFile(const RunLog &log, bool saveLog, const std::string &logDirectory);

// The per-user folder for the log file when no logs directory is set.
std::string DefaultLogDirectory();

} // namespace kronvik
