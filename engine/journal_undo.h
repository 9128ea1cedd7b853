// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "journal.h"
#include "log_clock.h"
#include "run_log.h"
#include "source_locks.h"
#include "status_view.h"

#include <cstdint>
#include <optional>
#include <string>

namespace kronvik {

// What an undo works on: the front end's run log and status row, its cancel flag (set between
// two pictures, as during a pass) and the run log's clock.
struct UndoSession
{
    RunLog &log;
    StatusView &view;
    bool &cancel;
    LogClock clock;
    JournalFrontEnd frontEnd = JournalFrontEnd::Cli;
};

enum class UndoOutcome {
    Undone, // the undo ran; `left` says whether some pictures were left as they are
    NoPass, // the journal holds no dating pass that is not an undo
    UnknownPass,
    IsAnUndo, // the pass named is itself an undo
    AlreadyUndone,
    StillRunning, // its process still runs it
    WaitEnded, // the user ended the wait for a folder that another run holds
};

struct UndoResult
{
    UndoOutcome outcome = UndoOutcome::Undone;
    PassId pass = 0; // the pass taken back, or the one asked for
    std::int64_t undone = 0; // for AlreadyUndone: when
    int restored = 0;
    int left = 0;
    bool cancelled = false;
};

// Takes back every done change of `pass` (the newest pass that is not itself an undo when none is
// named), picture by picture from the last to the first, as a journaled pass of its own: it takes
// the locks of the pass's source folders (waiting through `waiter` while another run holds one),
// recovers the unfinished passes there first, then for each picture renames the file back to its
// old name (never replacing a file), gives the date pair its old 40 bytes, and last sets the
// modification time the file had before the pass. A picture whose file was renamed, moved,
// rewritten or deleted since, or whose old name is taken, is left as it is. Lines go to the run
// log in its format:
//   " Processing digital pictures in DIR..."   before the first picture of each folder
//   "    NEW -> OLD"                            for each name given back
//   "    PATH left as it is; WHY."
//   " Digital pictures restored: N"
//   " Digital pictures left as they are: N"
// A pass whose undo finished is marked undone; undoing it again is refused once none of its
// changes is left to take back. Throws JournalError.
UndoResult UndoPass(Journal &journal, std::optional<PassId> pass, UndoSession &session,
                    LockWaiter &waiter);

// The pass an undo of `pass` (or of the newest pass that is not an undo) would take back, with
// the outcome Undone and its number, or the reason it would be refused. Throws JournalError.
UndoResult FindPassToUndo(Journal &journal, std::optional<PassId> pass);

// Why an undo did not run, as a sentence without its program name: "pass 7 was already undone
// on 2026-05-04 10:11:12.". Empty for an undo that ran.
std::string UndoRefusal(const UndoResult &result);

// What an undo of `pass` would take back, for a question put before it: when the pass ran, its
// folders and how many names, date pairs and times.
// `unfinished` passes over its folders, killed part way, are rolled back first, and it says so.
std::string DescribeUndo(const JournaledPass &pass, const PassChangeCounts &counts,
                         int unfinished = 0);

} // namespace kronvik
