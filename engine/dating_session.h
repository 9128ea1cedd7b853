// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "journal.h"
#include "log_clock.h"
#include "program_state.h"
#include "run_log.h"
#include "status_view.h"

namespace kronvik {

class PassApplier;
class SourceLocks;

// What the engine's operations work on: the program-wide state, the front end's run log and status
// row, and the front end's live settings, read at the moment they are needed (a time adjustment
// changed during a pass applies to the pictures that follow). The front end owns every part.
struct DatingSession
{
    ProgramState &state;
    RunLog &log;
    StatusView &view;
    const bool &recurse;
    const int &timeAdjust;
    bool &cancel; // set by the front end's close; cleared when a pass starts
    LogClock clock;
    // Worker threads that read pictures ahead of the dating pass: -1 for one a core, 0 for none
    // (each picture is read at its turn, on the pass's own thread). Either way the pass decides
    // and changes the pictures in list order on its own thread.
    int readAheadThreads = -1;

    // The journal: a pass that changes its pictures writes each change to it before making it,
    // and every pass asks it whether an earlier pass shifted a picture's dates already; the scan
    // recovers in the folders it locks beyond the source directories with it. None: a run
    // without a journal, on purpose.
    Journal *journal = nullptr;
    // What the journal records of the pass: its front end, and the source directory list its
    // pictures were retrieved from (the front end's source text when empty).
    JournalFrontEnd journalFrontEnd = JournalFrontEnd::Cli;
    std::string journalSources{};
    // Shift the pictures that a journaled pass shifted by the same hours already.
    bool reshift = false;
    // Reads the pictures and makes their changes (pass_applier.h); none: the file system's.
    PassApplier *applier = nullptr;
    // The locks the run holds on its source directories; the scan adds those of the directories
    // it enters through links. None: the scan takes no locks.
    SourceLocks *sourceLocks = nullptr;
};

} // namespace kronvik
