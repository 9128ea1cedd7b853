// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
// The window's program as a process: how it starts without a display, and how it ends on a
// signal.
#include "temp_dir.h"

#include <QFile>
#include <QProcess>
#include <QTest>

#include <csignal>
#include <filesystem>

using kronvik::test::TempDir;

namespace {

// Whether the process has its own handlers for SIGTERM and SIGHUP, as /proc tells: only then can
// a signal be a quit request rather than the end of the process.
bool CatchesQuitSignals(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return false;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("SigCgt:")) {
            const quint64 caught = line.mid(7).trimmed().toULongLong(nullptr, 16);
            const quint64 wanted = (1ull << (SIGTERM - 1)) | (1ull << (SIGHUP - 1));
            return (caught & wanted) == wanted;
        }
    }
    return false;
}

} // namespace

class TheWindowProgram : public QObject
{
    Q_OBJECT

private slots:
    void saysInOneLineThatItNeedsADisplayAndPointsToTheCli_data()
    {
        QTest::addColumn<QString>("display");
        QTest::newRow("no DISPLAY set") << QString();
        QTest::newRow("a DISPLAY that does not answer") << QStringLiteral(":8391");
    }

    void saysInOneLineThatItNeedsADisplayAndPointsToTheCli()
    {
        QFETCH(QString, display);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("QT_QPA_PLATFORM", "xcb");
        environment.remove("WAYLAND_DISPLAY");
        environment.remove("DISPLAY");
        if (!display.isEmpty()) {
            QVERIFY(!std::filesystem::exists("/tmp/.X11-unix/X8391"));
            environment.insert("DISPLAY", display);
        }
        QProcess kronvik;
        kronvik.setProcessEnvironment(environment);
        kronvik.start(KRONVIK_WINDOW_PATH, {});
        QVERIFY(kronvik.waitForFinished(60000));
        QCOMPARE(kronvik.exitStatus(), QProcess::NormalExit); // not Qt's abort
        QCOMPARE(kronvik.exitCode(), 1);
        QCOMPARE(kronvik.readAllStandardError(),
                 "kronvik: cannot open the window: no usable display.\n"
                 "kronvik-cli dates pictures without one; see kronvik-cli --help.\n");
        QCOMPARE(kronvik.readAllStandardOutput(), QByteArray());
    }

    void closesWithItsSettingsOnAQuitSignal_data()
    {
        QTest::addColumn<int>("signalNumber");
        QTest::newRow("SIGTERM ends it with 143") << SIGTERM;
        QTest::newRow("SIGHUP ends it with 129") << SIGHUP;
    }

    void closesWithItsSettingsOnAQuitSignal()
    {
        QFETCH(int, signalNumber);
        TempDir config;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        environment.insert("XDG_CONFIG_HOME", QString::fromStdString(config.Path().string()));
        environment.insert("XDG_STATE_HOME", QString::fromStdString(config / "state"));
        QProcess kronvik;
        kronvik.setProcessEnvironment(environment);
        kronvik.start(KRONVIK_WINDOW_PATH, {});
        QVERIFY(kronvik.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(CatchesQuitSignals(kronvik.processId()), 60000);
        QVERIFY(kronvik.state() == QProcess::Running);
        QCOMPARE(kill(static_cast<pid_t>(kronvik.processId()), signalNumber), 0);
        QVERIFY(kronvik.waitForFinished(60000));
        QCOMPARE(kronvik.exitStatus(), QProcess::NormalExit);
        QCOMPARE(kronvik.exitCode(), 128 + signalNumber);
        // The closing sequence ran: the settings were saved (the run log was empty, so there is
        // no log file).
        QVERIFY(std::filesystem::exists(config / "kronvik/registry.reg"));
        QVERIFY(!std::filesystem::exists(config / "state/kronvik/Kronvik.log"));
    }
};

QTEST_GUILESS_MAIN(TheWindowProgram)
#include "kronvik_process_test.moc"
