// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
// The main window while another process holds one of its source folders: it waits with the
// file label saying so, keeps handling its events, and holds its own locks from the retrieval to
// the end of the pass. Real widgets on the offscreen platform, a real second process.
#include "directory_lock.h"
#include "journal.h"
#include "journaled_pass.h"
#include "jpeg_fixture.h"
#include "log_list_view.h"
#include "message_box_catcher.h"
#include "quorvel_dlg.h"
#include "temp_dir.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace kronvik;
using namespace kronvik::test;
namespace fs = std::filesystem;

namespace {

// Another process holding a folder's lock, as another run of the program does, until it is told
// to let go (or the test ends).
class LockHoldingProcess
{
public:
    explicit LockHoldingProcess(const std::string &directory)
    {
        int ready[2], release[2];
        if (pipe(ready) != 0 || pipe(release) != 0)
            qFatal("no pipe");
        const char *path = directory.c_str();
        m_pid = fork();
        if (m_pid == 0) {
            // Only async-signal-safe calls in the child of a process with threads.
            close(release[1]);
            // Lets go by itself in the end, so that a window that does not handle events while
            // it waits fails the test instead of hanging it.
            alarm(10);
            const int fd = open(path, O_RDONLY | O_DIRECTORY);
            const char held = fd >= 0 && flock(fd, LOCK_EX) == 0 ? 'y' : 'n';
            (void)!write(ready[1], &held, 1);
            char any;
            (void)!read(release[0], &any, 1);
            _exit(0);
        }
        close(ready[1]);
        close(release[0]);
        m_release = release[1];
        char held = 'n';
        (void)!read(ready[0], &held, 1);
        close(ready[0]);
        if (held != 'y')
            qFatal("the other process could not lock %s", path);
    }
    ~LockHoldingProcess() { Release(); }

    void Release()
    {
        if (m_pid <= 0)
            return;
        // The process may have ended already (its alarm, after a failure): the write then fails
        // with EPIPE instead of ending the whole test program.
        std::signal(SIGPIPE, SIG_IGN);
        (void)!write(m_release, "x", 1);
        close(m_release);
        waitpid(m_pid, nullptr, 0);
        m_pid = -1;
    }

private:
    pid_t m_pid = -1;
    int m_release = -1;
};

LockAttempt AnotherRunTries(const std::string &directory)
{
    DirectoryLock other;
    if (!other.Open(directory))
        return LockAttempt::Refused;
    return other.TryLock(LockMode::Exclusive);
}

} // namespace

class TheWindowWaitingForAFolder : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<TempDir> m_config;
    std::unique_ptr<TempDir> m_pictures;
    ProgramState m_state;

    std::string Folder() const { return m_pictures->Path().string(); }
    QString WaitingText() const
    {
        return QStringLiteral("Waiting for another Kronvik pass in %1...")
                .arg(QString::fromStdString(Folder()));
    }
    static QString FileLabel(CQuorvelDlg &window)
    {
        return window.findChild<QLabel *>("staticFile")->text();
    }
    static bool CommandsEnabled(CQuorvelDlg &window)
    {
        return window.findChild<QPushButton *>("btnRetrieve")->isEnabled()
               || window.findChild<QPushButton *>("btnDate")->isEnabled();
    }
    static bool LogHas(const CQuorvelDlg &window, const std::string &text)
    {
        const LogListView &log = window.RunLogLines();
        for (std::size_t i = 0; i < log.LineCount(); ++i) {
            if (log.Line(i).find(text) != std::string::npos)
                return true;
        }
        return false;
    }

private slots:
    void init()
    {
        m_config = std::make_unique<TempDir>();
        m_pictures = std::make_unique<TempDir>();
        qputenv("XDG_CONFIG_HOME", m_config->Path().c_str());
        qputenv("XDG_STATE_HOME", (*m_config / "state").c_str());
        m_state = ProgramState{};
        for (const char *name : {"a.jpg", "b.jpg"})
            WriteJpegWithExif(*m_pictures / name,
                              {{"Exif.Photo.DateTimeDigitized",
                                name[0] == 'a' ? "2005:07:14 09:03:27" : "2005:07:14 09:03:28"}});
    }

    void showsTheWaitAndKeepsHandlingEventsUntilTheFolderIsFree()
    {
        CQuorvelDlg window(m_state);
        window.show();
        window.SetSourceDirectoryText(Folder());
        window.findChild<QLabel *>("staticFile")->setText("earlier");
        LockHoldingProcess other(Folder());

        int ticks = 0;
        bool sawWaiting = false, commandsWereEnabled = false;
        QTimer tick;
        connect(&tick, &QTimer::timeout, this, [&] {
            ++ticks;
            if (FileLabel(window) != WaitingText())
                return;
            sawWaiting = true;
            commandsWereEnabled = commandsWereEnabled || CommandsEnabled(window);
            if (ticks >= 10)
                other.Release();
        });
        tick.start(5);
        window.RetrieveFileList();
        tick.stop();

        QVERIFY(sawWaiting);
        QVERIFY2(ticks >= 10, "the window stopped handling its events while it waited");
        QVERIFY(!commandsWereEnabled);
        QCOMPARE(m_state.pictureList.size(), std::size_t(2));
        QVERIFY(FileLabel(window) != WaitingText());
    }

    void endsTheWaitAndClosesAsUsualWhenClosed()
    {
        CQuorvelDlg window(m_state);
        window.show();
        window.SetSourceDirectoryText(Folder());
        LockHoldingProcess other(Folder());

        QTimer closer;
        connect(&closer, &QTimer::timeout, this, [&] {
            if (FileLabel(window) == WaitingText() && window.isVisible())
                window.reject(); // the close box
        });
        closer.start(5);
        window.RetrieveFileList();
        closer.stop();

        QVERIFY(!window.isVisible());
        QVERIFY(!LogHas(window, "Digital pictures found"));
        QVERIFY(fs::exists(*m_config / "kronvik/registry.reg"));
        other.Release();
        QCOMPARE(AnotherRunTries(Folder()), LockAttempt::Taken);
    }

    // The box may be edited while the window waits; the scan searches the folders it waited for
    // and holds, and the edited list is there for the next retrieval.
    void searchesTheFoldersItWaitedForEvenWhenTheBoxChangedMeanwhile()
    {
        TempDir elsewhere;
        WriteJpegWithExif(elsewhere / "c.jpg",
                          {{"Exif.Photo.DateTimeDigitized", "2005:07:14 09:03:29"}});
        CQuorvelDlg window(m_state);
        window.show();
        window.SetSourceDirectoryText(Folder());
        LockHoldingProcess other(Folder());
        const std::string edited = Folder() + ";" + elsewhere.Path().string();

        QTimer edit;
        connect(&edit, &QTimer::timeout, this, [&] {
            if (FileLabel(window) != WaitingText())
                return;
            edit.stop();
            window.findChild<QLineEdit *>("editSourceDirs")
                    ->setText(QString::fromStdString(edited));
            other.Release();
        });
        edit.start(5);
        window.RetrieveFileList();
        edit.stop();

        QCOMPARE(m_state.pictureList.size(), std::size_t(2));
        QVERIFY(!LogHas(window, elsewhere.Path().string()));
        // Not searched, so not locked either: another run may work there.
        QCOMPARE(AnotherRunTries(elsewhere.Path().string()), LockAttempt::Taken);
        QCOMPARE(window.SourceDirectoryText(), edited);
    }

    void endsTheWaitAndClosesOnAQuitRequest_data()
    {
        QTest::addColumn<QString>("command");
        QTest::newRow("retrieving") << "retrieve";
        QTest::newRow("dating the retrieved list again") << "date";
        QTest::newRow("undoing the last pass") << "undo";
    }

    // SIGTERM, SIGHUP or the session ending while the window waits for a folder: the window
    // closes at once with its log file and settings, as it does at any other moment.
    void endsTheWaitAndClosesOnAQuitRequest()
    {
        QFETCH(QString, command);
        CQuorvelDlg window(m_state);
        window.show();
        window.SetSourceDirectoryText(Folder());
        if (command == "date") {
            window.RetrieveFileList();
            window.DatePictures();
        } else if (command == "undo") {
            Journal journal;
            DateJournaled(journal, Folder(), {*m_pictures / "a.jpg"}, 0);
        }
        const std::size_t linesBefore = window.RunLogLines().LineCount();
        LockHoldingProcess other(Folder());

        QTimer quit;
        connect(&quit, &QTimer::timeout, this, [&] {
            if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget()))
                box->button(QMessageBox::Yes)->click(); // the undo's question
            else if (FileLabel(window) == WaitingText() && window.isVisible())
                window.OnQuitRequest();
        });
        quit.start(5);
        QElapsedTimer clock;
        clock.start();
        if (command == "retrieve")
            window.RetrieveFileList();
        else if (command == "date")
            window.DatePictures();
        else
            window.OnUndoLastPass();
        quit.stop();

        QVERIFY(!window.isVisible());
        QVERIFY2(clock.elapsed() < 5000, "the window went on waiting for the folder");
        QCOMPARE(window.RunLogLines().LineCount(), linesBefore);
        QVERIFY(fs::exists(*m_config / "kronvik/registry.reg"));
        QCOMPARE(fs::exists(*m_config / "state/kronvik/Kronvik.log"), linesBefore > 0);
    }

    void holdsItsFoldersFromTheRetrievalToTheEndOfEachPass()
    {
        CQuorvelDlg window(m_state);
        window.show();
        window.SetSourceDirectoryText(Folder());
        window.RetrieveFileList();
        QCOMPARE(AnotherRunTries(Folder()), LockAttempt::Held);
        window.DatePictures();
        QCOMPARE(AnotherRunTries(Folder()), LockAttempt::Taken);

        // A further pass over the same list holds them again while it runs.
        LockAttempt duringPass = LockAttempt::Taken;
        QTimer::singleShot(0, this, [&] { duringPass = AnotherRunTries(Folder()); });
        window.DatePictures();
        QCOMPARE(duringPass, LockAttempt::Held);
        QCOMPARE(AnotherRunTries(Folder()), LockAttempt::Taken);

        // Retrieved and closed without a pass.
        window.RetrieveFileList();
        QCOMPARE(AnotherRunTries(Folder()), LockAttempt::Held);
        window.reject();
        QCOMPARE(AnotherRunTries(Folder()), LockAttempt::Taken);
    }

    void leavesAFolderReachedThroughALinkToTheRunThatHoldsItAndSaysSo()
    {
        TempDir source;
        const std::string link = source / "L";
        fs::create_directory_symlink(Folder(), link);
        CQuorvelDlg window(m_state);
        window.show();
        window.SetSourceDirectoryText(source.Path().string());
        {
            DirectoryLock other;
            QVERIFY(other.Open(Folder()));
            QCOMPARE(other.TryLock(LockMode::Exclusive), LockAttempt::Taken);
            MessageBoxCatcher catcher;
            window.RetrieveFileList();
            QCOMPARE(catcher.Boxes().size(), std::size_t(1));
            QCOMPARE(catcher.Boxes()[0].icon, QMessageBox::Warning);
            QCOMPARE(catcher.Boxes()[0].title, QStringLiteral("Kronvik"));
            QVERIFY(catcher.Boxes()[0].text.endsWith(QString::fromStdString("\n\n" + link)));
            QVERIFY(m_state.pictureList.empty());
            QVERIFY(LogHas(window, "Digital pictures found in " + link + ": 0"));
        }

        // Once free, the folder is searched, and held through the link like the list's own.
        MessageBoxCatcher catcher;
        window.RetrieveFileList();
        QVERIFY(catcher.Boxes().empty());
        QCOMPARE(m_state.pictureList.size(), std::size_t(2));
        QCOMPARE(AnotherRunTries(Folder()), LockAttempt::Held);
        window.DatePictures();
        LockAttempt duringPass = LockAttempt::Taken;
        QTimer::singleShot(0, this, [&] { duringPass = AnotherRunTries(Folder()); });
        window.DatePictures();
        QCOMPARE(duringPass, LockAttempt::Held);
        QCOMPARE(AnotherRunTries(Folder()), LockAttempt::Taken);
    }
};

QTEST_MAIN(TheWindowWaitingForAFolder)
#include "source_lock_wait_test.moc"
