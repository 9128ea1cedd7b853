// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
// kronvik: the window.
#include "local_clock.h"
#include "locked_file.h"
#include "no_display_guard.h"
#include "program_state.h"
#include "quorvel_app.h"

#include <optional>

int main(int argc, char **argv)
{
    kronvik::PinSystemTimeZone();
    kronvik::RaiseOpenFilesAllowed();
    // The program-wide state exists, empty, before anything else runs, and outlives the window.
    kronvik::ProgramState state;
    std::optional<kronvik::NoDisplayGuard> noDisplay(std::in_place);
    kronvik::CQuorvelApp app(argc, argv);
    noDisplay.reset();
    return app.InitInstance(state);
}
