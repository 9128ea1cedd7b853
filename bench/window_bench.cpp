// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
// Times the window's own picture scan and dating pass: the real main window, shown, with its
// source list set, then RetrieveFileList and DatePictures as the two buttons run them, draining
// its events after every picture and filling its log list. Prints one line of figures for
// bench/run.py. The pictures are renamed: run it on copies only.
//   kronvik-window-bench [--adjust H] SOURCE
// Settings come from $XDG_CONFIG_HOME as in the window; the run log is not written on exit.
#include "local_clock.h"
#include "log_list_view.h"
#include "quorvel_app.h"
#include "quorvel_dlg.h"

#include <QElapsedTimer>
#include <QWindow>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

double Milliseconds(const QElapsedTimer &clock)
{
    return static_cast<double>(clock.nsecsElapsed()) / 1e6;
}

} // namespace

int main(int argc, char **argv)
{
    kronvik::PinSystemTimeZone(); // as the window's program does
    kronvik::ProgramState state;
    kronvik::CQuorvelApp application(argc, argv);
    int adjust = 0;
    std::string source;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--adjust") == 0 && i + 1 < argc)
            adjust = std::atoi(argv[++i]);
        else
            source = argv[i];
    }
    if (source.empty()) {
        std::fprintf(stderr, "usage: %s [--adjust H] SOURCE\n", argv[0]);
        return 2;
    }

    kronvik::CQuorvelDlg window(state);
    window.m_bSaveLog = false;
    window.m_bRecurse = true;
    window.m_nTimeAdjust = adjust;
    window.show();
    // The pass starts on a window the user sees, as after a click.
    QElapsedTimer wait;
    wait.start();
    while (!(window.windowHandle() && window.windowHandle()->isExposed()) && wait.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    QCoreApplication::processEvents();
    // A person clicks some time after the window appears. Until then the X server is still
    // drawing the new window, and the first repaint of a pass started at once waits up to 20 ms
    // for it: Qt's backing store asks the server to catch up before it paints over what it sent.
    // No user can click soon enough to see that wait.
    QElapsedTimer settle;
    settle.start();
    while (settle.elapsed() < 500)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);

    QElapsedTimer clock;
    clock.start();
    window.SetSourceDirectoryText(source);
    window.RetrieveFileList();
    const double scanMs = Milliseconds(clock);
    window.DatePictures();
    const double passMs = Milliseconds(clock) - scanMs;
    // What the pass left to paint is part of what the user waits for.
    QCoreApplication::processEvents();
    const double totalMs = Milliseconds(clock);

    std::printf("pictures=%zu dated=%d refused=%d log_lines=%zu scan_ms=%.1f pass_ms=%.1f "
                "total_ms=%.1f platform=%s\n",
                state.pictureList.size(), state.datedSuccessfully, state.datedUnsuccessfully,
                window.RunLogLines().LineCount(), scanMs, passMs, totalMs,
                qPrintable(QGuiApplication::platformName()));
    return 0;
}
