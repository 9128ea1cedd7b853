#include "quorvel_app.h"

#include "about_dlg.h"
#include "quorvel_dlg.h"

#include <QIcon>

namespace kronvik {

CQuorvelApp::CQuorvelApp(int &argc, char **argv)
    : QApplication(argc, argv)
{
    setApplicationName(QStringLiteral("Kronvik"));
    setApplicationDisplayName(QStringLiteral("Kronvik"));
    setApplicationVersion(QStringLiteral(KRONVIK_VERSION_TEXT));
    setOrganizationName(QStringLiteral("Veltmark, Inc."));
    setDesktopFileName(QStringLiteral("kronvik"));
    setWindowIcon(QIcon(QStringLiteral(":/kronvik/kronvik.svg")));
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
