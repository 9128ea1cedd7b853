// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
// The application object itself, which a test program can hold only once: this one runs on
// CQuorvelApp instead of a plain QApplication.
#include "quorvel_app.h"
#include "quorvel_dlg.h"
#include "temp_dir.h"

#include <QTest>
#include <QTimer>

using namespace kronvik;

class TheApplication : public QObject
{
    Q_OBJECT

private slots:
    void namesTheProgramWithoutAppendingItsNameToTheTitles()
    {
        QCOMPARE(QCoreApplication::applicationName(), QStringLiteral("Kronvik"));
        QCOMPARE(QCoreApplication::applicationVersion(), QStringLiteral("2.0.0.0"));
        // A display name set apart from the application name is what the window system appends
        // to titles ("Kronvik Preferences — Kronvik"); without one it follows the application name.
        QCoreApplication::setApplicationName(QStringLiteral("probe"));
        const QString displayName = QGuiApplication::applicationDisplayName();
        QCoreApplication::setApplicationName(QStringLiteral("Kronvik"));
        QCOMPARE(displayName, QStringLiteral("probe"));
    }

    void endsTheRunWhenTheMainWindowCloses()
    {
        kronvik::test::TempDir config;
        qputenv("XDG_CONFIG_HOME", config.Path().c_str());
        qputenv("XDG_STATE_HOME", (config / "state").c_str());
        ProgramState state;
        bool closed = false;
        QTimer poll;
        connect(&poll, &QTimer::timeout, [&] {
            if (auto *window = qobject_cast<CQuorvelDlg *>(QApplication::activeModalWidget())) {
                poll.stop();
                closed = true;
                QTest::keyClick(window, Qt::Key_Escape);
            }
        });
        poll.start(5);
        QCOMPARE(static_cast<CQuorvelApp *>(qApp)->InitInstance(state), 0);
        QVERIFY(closed);
    }
};

int main(int argc, char **argv)
{
    CQuorvelApp app(argc, argv);
    TheApplication test;
    return QTest::qExec(&test, argc, argv);
}

#include "quorvel_app_test.moc"
