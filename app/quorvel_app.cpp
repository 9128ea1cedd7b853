// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "quorvel_app.h"

#include "about_dlg.h"
#include "quorvel_dlg.h"

#include <QIcon>

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
    CQuorvelDlg window(state);
    QObject::connect(&window, &CQuorvelDlg::aboutRequested, &window, [&window] {
        CAboutDlg about(&window);
        about.exec();
    });
    window.exec();
    return 0;
}

} // namespace kronvik
