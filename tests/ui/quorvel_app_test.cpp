// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
// The application object itself, which a test program can hold only once: this one runs on
// CQuorvelApp instead of a plain QApplication.
#include "about_dlg.h"
#include "jpeg_fixture.h"
#include "quorvel_app.h"
#include "quorvel_dlg.h"
#include "temp_dir.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <csignal>
#include <filesystem>

using namespace kronvik;
using namespace kronvik::test;
namespace fs = std::filesystem;

namespace {

std::size_t Occurrences(const std::string &text, const std::string &part)
{
    std::size_t count = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

} // namespace

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

    void opensTheAboutBoxOverTheWindowAndReturnsToItUnchanged()
    {
        kronvik::test::TempDir config;
        qputenv("XDG_CONFIG_HOME", config.Path().c_str());
        qputenv("XDG_STATE_HOME", (config / "state").c_str());
        ProgramState state;
        CQuorvelDlg *window = nullptr;
        QWidget *aboutOwner = nullptr;
        QString aboutTitle;
        bool unchanged = false;
        // A timer does not fire again while its own handler runs: the box, opened from the
        // handler that finds the window, has a timer of its own.
        QTimer aboutPoll;
        connect(&aboutPoll, &QTimer::timeout, [&] {
            if (auto *about = qobject_cast<CAboutDlg *>(QApplication::activeModalWidget())) {
                aboutOwner = about->parentWidget();
                aboutTitle = about->windowTitle();
                QTest::keyClick(about, Qt::Key_Escape);
            }
        });
        aboutPoll.start(5);
        QTimer poll;
        connect(&poll, &QTimer::timeout, [&] {
            auto *modal = qobject_cast<CQuorvelDlg *>(QApplication::activeModalWidget());
            if (window || !modal)
                return;
            window = modal;
            window->SetSourceDirectoryText("/p/A");
            // The entry of the window's menu: the application shows the box for it.
            emit window->aboutRequested();
            unchanged = window->isVisible()
                        && window->findChild<QLineEdit *>("editSourceDirs")->text() == "/p/A"
                        && window->findChild<QPushButton *>("btnRetrieve")->isEnabled()
                        && !window->findChild<QPushButton *>("btnDate")->isEnabled();
            poll.stop();
            QTest::keyClick(window, Qt::Key_Escape);
        });
        poll.start(5);
        QCOMPARE(static_cast<CQuorvelApp *>(qApp)->InitInstance(state), 0);
        QVERIFY(window);
        QCOMPARE(aboutOwner, static_cast<QWidget *>(window));
        QCOMPARE(aboutTitle, QStringLiteral("Kronvik"));
        QVERIFY(unchanged);
    }

    void endsThePassAfterThePictureAtHandAndClosesOnAQuitSignal_data()
    {
        QTest::addColumn<int>("signalNumber");
        QTest::newRow("SIGTERM") << SIGTERM;
        QTest::newRow("SIGHUP") << SIGHUP;
    }

    void endsThePassAfterThePictureAtHandAndClosesOnAQuitSignal()
    {
        QFETCH(int, signalNumber);
        TempDir config, pictures;
        qputenv("XDG_CONFIG_HOME", config.Path().c_str());
        qputenv("XDG_STATE_HOME", (config / "state").c_str());
        constexpr int kPictures = 12;
        for (int i = 0; i < kPictures; ++i) {
            const std::string date = "2005:07:14 09:03:" + std::to_string(10 + i);
            WriteJpegWithExif(pictures / ("p" + std::to_string(i) + ".jpg"),
                              {{"Exif.Photo.DateTimeDigitized", date}});
        }
        const std::string logs = pictures / "logs";
        fs::create_directory(logs);

        ProgramState state;
        bool signalled = false;
        QTimer start;
        connect(&start, &QTimer::timeout, [&] {
            auto *window = qobject_cast<CQuorvelDlg *>(QApplication::activeModalWidget());
            if (!window)
                return;
            start.stop();
            window->m_strLogDir = logs;
            window->SetSourceDirectoryText(pictures.Path().string());
            window->findChild<QPushButton *>("btnRetrieve")->click();
            // The signal comes from outside, in the middle of the third picture's drain.
            auto *raiser = new QTimer(window);
            connect(raiser, &QTimer::timeout, [&signalled, raiser, window, signalNumber] {
                if (window->findChild<QLabel *>("staticCurrent")->text() == "3") {
                    raiser->stop();
                    signalled = true;
                    raise(signalNumber);
                }
            });
            raiser->start(0);
            window->findChild<QPushButton *>("btnDate")->click();
        });
        start.start(5);
        QCOMPARE(static_cast<CQuorvelApp *>(qApp)->InitInstance(state), 128 + signalNumber);
        QVERIFY(signalled);

        // Every picture was dated whole or not touched, and the pass stopped early.
        int dated = 0;
        for (int i = 0; i < kPictures; ++i)
            dated += fs::exists(pictures / ("p" + std::to_string(i) + ".jpg")) ? 0 : 1;
        QVERIFY2(dated >= 3 && dated < kPictures, std::to_string(dated).c_str());
        QCOMPARE(state.datedSuccessfully, dated);
        // The log file was written after the pass, so it holds the summary lines.
        const std::string log = ReadBytes(logs + "/Kronvik.log");
        QCOMPARE(Occurrences(log, ".jpg -> 2005-07-14 09.03."), std::size_t(dated));
        QCOMPARE(Occurrences(log, "Digital pictures dated successfully: " + std::to_string(dated)
                                          + "\r\n"),
                 std::size_t(1));
        QCOMPARE(Occurrences(log, "Digital pictures dated unsuccessfully: 0\r\n"), std::size_t(1));
        QVERIFY(ReadBytes(config / "kronvik/registry.reg").find(pictures.Path().string())
                != std::string::npos);
    }
};

int main(int argc, char **argv)
{
    CQuorvelApp app(argc, argv);
    TheApplication test;
    return QTest::qExec(&test, argc, argv);
}

#include "quorvel_app_test.moc"
