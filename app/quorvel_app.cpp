// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "quorvel_app.h"

#include "about_dlg.h"
#include "quit_signals.h"
#include "quorvel_dlg.h"

#include <QIcon>
#include <QSessionManager>
#include <QSocketNotifier>

#include <memory>

// The icon lives in this static library's resources, which the linker keeps only when asked.
static void InitialiseResources()
{
    Q_INIT_RESOURCE(kronvik);
}

namespace kronvik {

CQuorvelApp::CQuorvelApp(int &argc, char **argv)
    : QApplication(argc, argv)
{
    // No display name: the window system would append it to every title that does not already
    // end with it, and the dialogs' and message boxes' titles must read exactly as they are set.
    setApplicationName(QStringLiteral("Kronvik"));
    setApplicationVersion(QStringLiteral(KRONVIK_VERSION_TEXT));
    setOrganizationName(QStringLiteral("Veltmark, Inc."));
    // Matches the window to its desktop entry and icon.
    setDesktopFileName(QStringLiteral("io.github.kronvik.Kronvik"));
    InitialiseResources();
    QIcon icon;
    for (int size : {16, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/kronvik/%1.png").arg(size), QSize(size, size));
    setWindowIcon(QIcon::fromTheme(QStringLiteral("kronvik"), icon));
}

int CQuorvelApp::InitInstance(ProgramState &state)
{
    // From here on SIGTERM and SIGHUP wait in the pipe until the window can see them.
    QuitSignalPipe quitSignals;
    CQuorvelDlg window(state);
    QObject::connect(&window, &CQuorvelDlg::aboutRequested, &window, [&window] {
        CAboutDlg about(&window);
        about.exec();
    });

    // The session ending and the two signals are quit requests: a pass ends after the picture at
    // hand, and the window closes with its log file and settings.
    QObject::connect(this, &QGuiApplication::commitDataRequest, &window,
                     [&window](QSessionManager &) { window.OnQuitRequest(); });
    int quitSignal = 0;
    std::unique_ptr<QSocketNotifier> signalNotifier;
    if (quitSignals.ReadDescriptor() >= 0) {
        signalNotifier = std::make_unique<QSocketNotifier>(quitSignals.ReadDescriptor(),
                                                           QSocketNotifier::Read);
        QObject::connect(signalNotifier.get(), &QSocketNotifier::activated, &window, [&] {
            if (const int number = quitSignals.TakeSignal()) {
                quitSignal = number;
                window.OnQuitRequest();
            }
        });
    }
    window.exec();
    // Ended by a signal, the program says so in its status, as a shell expects.
    return quitSignal != 0 ? 128 + quitSignal : 0;
}

} // namespace kronvik
