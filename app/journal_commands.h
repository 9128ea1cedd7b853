// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "cli_options.h"

namespace kronvik {

// kronvik-cli --undo [PASS]: takes back the pass, its run-log lines on standard output (and in
// the log file with --log-dir). Returns the exit status: 0 all restored, 1 a picture left as it is
// or the pass already undone, 2 an unknown pass, 3 the journal cannot be used.
int RunUndoCommand(const CliOptions &options);

// kronvik-cli --history [PASS]: the journaled passes, newest first, or one pass and its changes.
// Returns 0, 2 for an unknown pass, 3 when the journal cannot be used.
int RunHistoryCommand(const CliOptions &options);

} // namespace kronvik
