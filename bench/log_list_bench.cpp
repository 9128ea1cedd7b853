// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
// How the window's log list copes with a very long run log: appends a million lines to the real
// log list, shown, draining events every 100 lines as a pass
// does after every picture, and compares the time with appending to a plain vector of strings.
// Build: cmake --build --preset dev --target kronvik-log-list-bench
#include "log_list_view.h"

#include <QApplication>
#include <QElapsedTimer>

#include <cstdio>
#include <string>
#include <vector>

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    const int lines = argc > 1 ? std::atoi(argv[1]) : 1000000;
    const std::string line = "2005-07-14 09:03:27:    IMG_0001.JPG -> 2005-07-14 09.03.27.JPG";

    QElapsedTimer clock;
    clock.start();
    // The same drains a pass makes, without a view: what the pass costs when the list costs
    // nothing.
    std::vector<std::string> plain;
    for (int i = 0; i < lines; ++i) {
        plain.push_back(line);
        if (i % 100 == 99)
            QCoreApplication::processEvents();
    }
    const double plainMs = static_cast<double>(clock.nsecsElapsed()) / 1e6;

    kronvik::LogListView view;
    kronvik::LogListView &model = view;
    view.resize(800, 400);
    view.show();
    clock.restart();
    for (int i = 0; i < lines; ++i) {
        model.AppendLogLine(line);
        if (i % 100 == 99) {
            model.ShowPendingLines();
            QCoreApplication::processEvents();
        }
    }
    model.ShowPendingLines();
    QCoreApplication::processEvents();
    const double modelMs = static_cast<double>(clock.nsecsElapsed()) / 1e6;
    std::printf("%d lines: vector and drains %.0f ms, log list %.0f ms (%.1f x), %.2f us a line\n",
                lines, plainMs, modelMs, modelMs / plainMs, modelMs * 1000.0 / lines);
    return 0;
}
