// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "program_state.h"

#include <QApplication>

namespace kronvik {

// The application object: it names the program, gives it its icon, and runs the main window as a
// modal dialog; the program ends when that window closes, however it closes.
class CQuorvelApp : public QApplication
{
    Q_OBJECT

public:
    CQuorvelApp(int &argc, char **argv);

    // Runs the whole program. The program-wide state already exists, empty, when it is called.
    int InitInstance(ProgramState &state);
};

} // namespace kronvik
