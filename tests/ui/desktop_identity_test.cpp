// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
// The running program identifies as its desktop entry, so that docks and task bars show the
// entry's name and icon for its window: by the entry's id on Wayland, by the X11 class the entry
// names on X11 (Qt's class for a window is the application name).
#include "quorvel_app.h"

#include <QFile>
#include <QTest>

using namespace kronvik;

class TheDesktopIdentity : public QObject
{
    Q_OBJECT

private slots:
    void namesTheDesktopEntryAndTheClassItExpects()
    {
        QFile entry(QStringLiteral(KRONVIK_RES_DIR "/%1.desktop")
                            .arg(QGuiApplication::desktopFileName()));
        QVERIFY2(entry.open(QIODevice::ReadOnly | QIODevice::Text),
                 qPrintable("no desktop entry " + entry.fileName()));
        QString wmClass;
        while (!entry.atEnd()) {
            const QString line = QString::fromUtf8(entry.readLine()).trimmed();
            if (line.startsWith(QLatin1String("StartupWMClass=")))
                wmClass = line.section(QLatin1Char('='), 1);
        }
        QCOMPARE(wmClass, QCoreApplication::applicationName());
    }
};

int main(int argc, char **argv)
{
    CQuorvelApp app(argc, argv);
    TheDesktopIdentity test;
    return QTest::qExec(&test, argc, argv);
}

#include "desktop_identity_test.moc"
