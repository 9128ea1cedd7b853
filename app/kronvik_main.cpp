// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
// kronvik: the window.
#include "program_state.h"
#include "quorvel_app.h"

int main(int argc, char **argv)
{
    // The program-wide state exists, empty, before anything else runs, and outlives the window.
    kronvik::ProgramState state;
    kronvik::CQuorvelApp app(argc, argv);
    return app.InitInstance(state);
}
