// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
// The window's "&Undo Last Dating Pass..." through its real context menu and message boxes, on
// the offscreen platform, over a real journal under a temporary state folder; and the journal of
// the window's own pass.
#include "journal.h"
#include "journaled_pass.h"
#include "jpeg_fixture.h"
#include "log_list_view.h"
#include "message_box_catcher.h"
#include "paused_child.h"
#include "quorvel_dlg.h"
#include "small_disk.h"
#include "temp_dir.h"

#include <QContextMenuEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTextDocument>
#include <QTimer>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <functional>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace kronvik;
using namespace kronvik::test;
namespace fs = std::filesystem;

namespace {

constexpr std::int64_t kPinnedClock = 1136171045; // 2006-01-02 03:04:05 UTC

// Answers every message box the window opens while it lives: Yes or No to a question, OK to
// the rest, and remembers what each one said.
class MessageBoxAnswer : public QObject
{
public:
    explicit MessageBoxAnswer(QMessageBox::StandardButton answer)
        : m_answer(answer)
    {
        connect(&m_timer, &QTimer::timeout, this, [this] {
            for (QWidget *widget : QApplication::topLevelWidgets()) {
                auto *box = qobject_cast<QMessageBox *>(widget);
                if (!box || !box->isVisible())
                    continue;
                const auto buttons = box->buttons();
                const bool icons =
                        std::any_of(buttons.begin(), buttons.end(), [](QAbstractButton *button) {
                            return !button->icon().isNull();
                        });
                boxes.push_back({box->icon(), box->text(), box->textFormat(), icons,
                                 box->standardButton(box->defaultButton())});
                QAbstractButton *button = box->button(m_answer);
                (button ? button : box->button(QMessageBox::Ok))->click();
            }
        });
        m_timer.start(5);
    }

    struct Box
    {
        QMessageBox::Icon icon;
        QString text;
        Qt::TextFormat format;
        bool buttonIcons; // a button of the box shows an icon
        QMessageBox::StandardButton defaultButton;
    };
    std::vector<Box> boxes;

private:
    QMessageBox::StandardButton m_answer;
    QTimer m_timer;
};

// Opens the window's context menu and hands its entries to `act` while it is open.
void WithContextMenu(CQuorvelDlg &window, const std::function<void(QList<QAction *>)> &act)
{
    QTimer::singleShot(20, [act] {
        auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
        QVERIFY(menu);
        const QList<QAction *> actions = menu->actions();
        menu->close();
        act(actions);
    });
    QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(10, 10),
                            window.mapToGlobal(QPoint(10, 10)));
    QApplication::sendEvent(&window, &event);
}

class TheUndoEntry : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<TempDir> m_home;
    std::unique_ptr<TempDir> m_pictures;
    ProgramState m_state;

    std::string Picture(const std::string &name, const std::string &date)
    {
        const std::string path = *m_pictures / name;
        WriteJpegWithExif(path, {{"Exif.Photo.DateTimeOriginal", date},
                                 {"Exif.Photo.DateTimeDigitized", date}});
        return path;
    }
    void DateJournaledPictures(const std::vector<std::string> &paths)
    {
        JournalOptions options;
        options.clock = [] { return kPinnedClock; };
        Journal journal(Journal::DefaultPath(), options);
        DateJournaled(journal, m_pictures->Path(), paths, 2);
    }
    std::vector<std::string> Messages(const CQuorvelDlg &window)
    {
        std::vector<std::string> messages;
        const LogListView &log = window.RunLogLines();
        for (std::size_t i = 0; i < log.LineCount(); ++i)
            messages.push_back(log.Line(i).substr(21));
        return messages;
    }
    // Another process shifts `picture` by +2 hours, renames and times it, and is killed before
    // it marks any of that done: its pass is left unfinished.
    void KilledAfterItsChanges(const std::string &picture)
    {
        const pid_t child = fork();
        if (child == 0) {
            JournalOptions options;
            options.clock = [] { return kPinnedClock; };
            Journal killed(Journal::DefaultPath(), options);
            killed.BeginPass({JournalFrontEnd::Cli, m_pictures->Path().string(), 2, true, 0});
            const PlannedPicture plan = PlanDating(picture, 2);
            killed.PlanBatch({plan});
            for (const JournalChange &change : plan.changes)
                MakeChange(change);
            _exit(0);
        }
        int status = 0;
        waitpid(child, &status, 0);
    }
    void TriggerUndo(CQuorvelDlg &window)
    {
        WithContextMenu(window, [](QList<QAction *> actions) {
            QCOMPARE(actions.back()->text(), QStringLiteral("&Undo Last Dating Pass..."));
            actions.back()->trigger();
        });
    }

private slots:
    void init()
    {
        m_home = std::make_unique<TempDir>();
        m_pictures = std::make_unique<TempDir>();
        qputenv("XDG_CONFIG_HOME", (*m_home / "config").c_str());
        qputenv("XDG_STATE_HOME", (*m_home / "state").c_str());
        qputenv("TZ", "UTC");
        tzset();
        m_state = ProgramState{};
    }

    void takesTheLastPassBackOnceAskedWithItsLinesInTheRunLog()
    {
        const std::string first = Picture("IMG_0001.JPG", "2005:07:14 09:03:27");
        const std::string second = Picture("IMG_0002.JPG", "2005:07:15 10:00:00");
        const std::string before = ReadBytes(first);
        DateJournaledPictures({first, second});
        // Its boxes show their buttons' captions alone, also where the desktop asks for icons.
        DesktopWithButtonIcons desktop;
        CQuorvelDlg window(m_state);
        window.show();

        {
            MessageBoxAnswer no(QMessageBox::No);
            TriggerUndo(window);
            QTRY_COMPARE(no.boxes.size(), 1u);
            QCOMPARE(no.boxes[0].text,
                     "Take back the dating pass of 2006-01-02 03:04:05 in "
                             + QString::fromStdString(m_pictures->Path().string())
                             + "?\n\n2 pictures get back their names (2), their EXIF dates (2) "
                               "and their modification times (2).");
            QVERIFY(!no.boxes[0].buttonIcons);
            QCOMPARE(no.boxes[0].defaultButton, QMessageBox::No);
            QVERIFY(!fs::exists(first));
            QVERIFY(Messages(window).empty());
        }

        MessageBoxAnswer yes(QMessageBox::Yes);
        TriggerUndo(window);
        QTRY_VERIFY(fs::exists(first));
        QCOMPARE(ReadBytes(first), before);
        QVERIFY(fs::exists(second));
        QCOMPARE(yes.boxes.size(), 1u);
        const std::vector<std::string> lines = Messages(window);
        QCOMPARE(lines.size(), 5u);
        QCOMPARE(lines[1], std::string("   2005-07-15 12.00.00.JPG -> IMG_0002.JPG"));
        QCOMPARE(lines[4], std::string("Digital pictures left as they are: 0"));

        // A second time there is nothing left to take back.
        TriggerUndo(window);
        QTRY_COMPARE(yes.boxes.size(), 2u);
        QCOMPARE(yes.boxes[1].icon, QMessageBox::Information);
        QVERIFY(!yes.boxes[1].buttonIcons);
        QVERIFY(yes.boxes[1].text.startsWith("Pass 1 was already undone on "));
    }

    void asksWithTheFoldersNamesAsTheyAre()
    {
        // A folder name that a message box would sniff as markup and show as something else.
        const std::string folder = *m_pictures / "<p>";
        fs::create_directories(folder);
        const std::string picture = folder + "/IMG_0001.JPG";
        WriteJpegWithExif(picture, {{"Exif.Photo.DateTimeDigitized", "2005:07:14 09:03:27"}});
        {
            JournalOptions options;
            options.clock = [] { return kPinnedClock; };
            Journal journal(Journal::DefaultPath(), options);
            DateJournaled(journal, folder, {picture}, 2);
        }
        CQuorvelDlg window(m_state);
        window.show();
        MessageBoxAnswer no(QMessageBox::No);
        TriggerUndo(window);
        QTRY_COMPARE(no.boxes.size(), 1u);
        QVERIFY(no.boxes[0].text.contains(QString::fromStdString(folder) + "?"));
        // Shown as it is, not read as markup.
        QVERIFY(no.boxes[0].format == Qt::PlainText || !Qt::mightBeRichText(no.boxes[0].text));
    }

    void saysSoWhenThereIsNothingToUndoOrTheJournalCannotBeUsed()
    {
        CQuorvelDlg window(m_state);
        window.show();
        MessageBoxAnswer ok(QMessageBox::Ok);
        TriggerUndo(window);
        QTRY_COMPARE(ok.boxes.size(), 1u);
        QCOMPARE(ok.boxes[0].text, QStringLiteral("The journal holds no dating pass to undo."));

        fs::remove_all(*m_home / "state");
        WriteBytes(*m_home / "state", "a file where the state folder belongs");
        TriggerUndo(window);
        QTRY_COMPARE(ok.boxes.size(), 2u);
        QCOMPARE(ok.boxes[1].icon, QMessageBox::Critical);
        QCOMPARE(ok.boxes[1].text,
                 QString::fromStdString("The journal " + (*m_home / "state/kronvik/journal.sqlite3")
                                        + " cannot be used: Not a directory."));
    }

    // Another run still making its pass: the counts asked about would not be those taken back.
    void refusesAPassThatAnotherRunIsStillMaking()
    {
        const std::string picture = Picture("IMG_0001.JPG", "2005:07:14 09:03:27");
        const pid_t running = ForkPausedAfter([&] {
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            // Kept open while the process waits: its pass runs as long as it lives.
            auto *journal = new Journal(Journal::DefaultPath());
            journal->BeginPass({JournalFrontEnd::Cli, m_pictures->Path().string(), 2, true, 0});
            const PlannedPicture plan = PlanDating(picture, 2);
            const std::vector<ChangeId> ids = journal->PlanBatch({plan});
            for (std::size_t i = 0; i < ids.size(); ++i) {
                MakeChange(plan.changes[i]);
                journal->MarkDone(ids[i]);
            }
            journal->Flush();
        });
        QVERIFY(running > 0);
        const std::string dated = *m_pictures / "2005-07-14 11.03.27.JPG";
        const std::string made = ReadBytes(dated);
        CQuorvelDlg window(m_state);
        window.show();
        // An undo that waited for the pass would wait for as long as the process lives.
        QTimer::singleShot(3000, [running] { kill(running, SIGKILL); });
        MessageBoxAnswer ok(QMessageBox::No);
        TriggerUndo(window);
        QTRY_COMPARE(ok.boxes.size(), 1u);
        kill(running, SIGKILL);
        waitpid(running, nullptr, 0);
        QCOMPARE(ok.boxes[0].icon, QMessageBox::Information);
        QCOMPARE(ok.boxes[0].text, QStringLiteral("Pass 1 is still running."));
        QCOMPARE(ReadBytes(dated), made);
        QVERIFY(!fs::exists(picture));
    }

    void offersTheEntryUnderAboutAndNotWhileAPassRuns()
    {
        Picture("IMG_0001.JPG", "2005:07:14 09:03:27");
        Picture("IMG_0002.JPG", "2005:07:15 10:00:00");
        CQuorvelDlg window(m_state);
        window.show();
        window.findChild<QLineEdit *>("editSourceDirs")->setText(m_pictures->Path().c_str());
        window.RetrieveFileList();

        bool enabledBefore = false, enabledDuring = true;
        WithContextMenu(window, [&](QList<QAction *> actions) {
            QCOMPARE(actions[actions.size() - 2]->text(), QStringLiteral("&About Kronvik..."));
            enabledBefore = actions.back()->isEnabled();
        });
        QTRY_VERIFY(enabledBefore);
        // The pass drains the window's events after each picture: the menu opens inside it.
        QTimer::singleShot(0, &window, [&] {
            WithContextMenu(window, [&](QList<QAction *> actions) {
                enabledDuring = actions.back()->isEnabled();
            });
        });
        window.DatePictures();
        QVERIFY(!enabledDuring);
    }

    // The status row ends as the undo ended, on screen too: the bar full, as its label says.
    void showsTheBarFullOnScreenOnceTheUndoEnded()
    {
        std::vector<std::string> paths;
        for (int i = 0; i < 6; ++i)
            paths.push_back(Picture("IMG_000" + std::to_string(i) + ".JPG",
                                    "2005:07:14 09:03:1" + std::to_string(i)));
        DateJournaledPictures(paths);
        CQuorvelDlg window(m_state);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        MessageBoxAnswer yes(QMessageBox::Yes);
        TriggerUndo(window);
        QTRY_VERIFY(fs::exists(paths.back()));
        QCOMPARE(window.findChild<QLabel *>("staticPercent")->text(), QStringLiteral("100%"));

        // What the window's backing store holds: the bar's filled part near both of its ends.
        auto *bar = window.findChild<QProgressBar *>("progress");
        const QRect area(bar->mapTo(&window, QPoint(0, 0)), bar->size());
        QImage shown;
        QTRY_VERIFY_WITH_TIMEOUT((shown = window.screen()->grabWindow(window.winId()).toImage(),
                                  shown.pixel(area.left() + 6, area.center().y())
                                          == shown.pixel(area.right() - 6, area.center().y())),
                                 2000);
    }

    // An undo that began no longer leaves a list to date, also when its journal failed midway.
    void offersNoDatingOnceAnUndoHasBegunEvenWhenItsJournalFails()
    {
        fs::create_directories(*m_home / "state");
        SmallDisk disk(*m_home / "state", "512k");
        if (!disk.IsMounted())
            QSKIP(disk.Problem().c_str());
        const std::string first = Picture("IMG_0001.JPG", "2005:07:14 09:03:27");
        DateJournaledPictures({first});
        CQuorvelDlg window(m_state);
        window.show();
        auto *date = window.findChild<QPushButton *>("btnDate");
        QVERIFY(!date->isEnabled());

        // Yes to the question, with the journal's disk filled meanwhile.
        std::vector<MessageBoxAnswer::Box> boxes;
        QTimer answer;
        connect(&answer, &QTimer::timeout, [&] {
            for (QWidget *widget : QApplication::topLevelWidgets()) {
                auto *box = qobject_cast<QMessageBox *>(widget);
                if (!box || !box->isVisible())
                    continue;
                boxes.push_back({box->icon(), box->text(), box->textFormat(), false,
                                 box->standardButton(box->defaultButton())});
                if (QAbstractButton *yes = box->button(QMessageBox::Yes)) {
                    disk.Fill();
                    yes->click();
                } else {
                    box->button(QMessageBox::Ok)->click();
                }
            }
        });
        answer.start(5);
        TriggerUndo(window);
        QTRY_COMPARE(boxes.size(), 2u);
        answer.stop();
        disk.Empty();
        QCOMPARE(boxes[1].icon, QMessageBox::Critical);
        QVERIFY(boxes[1].text.contains("database or disk is full"));
        QVERIFY(!date->isEnabled());
    }

    // A retrieval whose journal cannot be used searches nothing, so it offers no pass either.
    void aRetrievalThatCannotUseItsJournalLeavesDatePicturesAsItWas()
    {
        Picture("IMG_0001.JPG", "2005:07:14 09:03:27");
        WriteBytes(*m_home / "state", "a file where the state folder belongs");
        CQuorvelDlg window(m_state);
        window.show();
        window.findChild<QLineEdit *>("editSourceDirs")->setText(m_pictures->Path().c_str());
        auto *date = window.findChild<QPushButton *>("btnDate");
        auto *retrieve = window.findChild<QPushButton *>("btnRetrieve");
        MessageBoxAnswer ok(QMessageBox::Ok);
        QTest::mouseClick(retrieve, Qt::LeftButton);
        QTRY_COMPARE(ok.boxes.size(), 1u);
        QCOMPARE(ok.boxes[0].icon, QMessageBox::Critical);
        QVERIFY(Messages(window).empty());
        QVERIFY(!date->isEnabled());
        QVERIFY(retrieve->isEnabled());
    }

    // A retrieval of other folders that could not use its journal leaves the list of the folders
    // retrieved before, and the pass that follows locks and journals those folders, not the
    // ones the failed retrieval was asked for.
    void aPassAfterARetrievalThatFailedOnItsJournalKeepsToTheFoldersOfItsList()
    {
        Picture("IMG_0001.JPG", "2005:07:14 09:03:27");
        TempDir other;
        CQuorvelDlg window(m_state);
        window.show();
        auto *edit = window.findChild<QLineEdit *>("editSourceDirs");
        edit->setText(m_pictures->Path().c_str());
        window.RetrieveFileList();
        edit->setText(other.Path().c_str());
        const fs::path state = fs::path(*m_home / "state") / "kronvik";
        fs::rename(state, *m_home / "kept");
        WriteBytes(state, "a file where the journal's folder belongs");
        {
            MessageBoxAnswer ok(QMessageBox::Ok);
            window.RetrieveFileList();
            QCOMPARE(ok.boxes.size(), 1u);
        }
        fs::remove(state);
        fs::rename(*m_home / "kept", state);

        window.DatePictures();
        QVERIFY(fs::exists(*m_pictures / "2005-07-14 09.03.27.JPG"));
        Journal journal;
        const std::vector<JournaledPass> passes = journal.Passes();
        QCOMPARE(passes.size(), 1u);
        QCOMPARE(passes[0].sources, m_pictures->Path().string());
    }

    // The last pass was killed before any of its changes was marked done: the box says that the
    // undo rolls it back first, where its own counts alone would promise nothing.
    void saysThatAnUnfinishedPassIsRolledBackFirst()
    {
        KilledAfterItsChanges(Picture("IMG_0001.JPG", "2005:07:14 09:03:27"));
        CQuorvelDlg window(m_state);
        window.show();
        MessageBoxAnswer no(QMessageBox::No);
        TriggerUndo(window);
        QTRY_COMPARE(no.boxes.size(), 1u);
        QVERIFY2(no.boxes[0].text.endsWith(
                         "\n\nAn unfinished pass over these folders is rolled back first."),
                 qPrintable(no.boxes[0].text));
    }

    // A pass killed in the folders after the window's own pass: the next "&Date Pictures" takes
    // it back first, as a retrieval would, and dates the list made again.
    void takesBackAPassKilledSinceItsLastPassBeforeItDatesAgain()
    {
        const std::string first = Picture("IMG_0001.JPG", "2005:07:14 09:03:27");
        Picture("IMG_0002.JPG", "2005:07:15 10:00:00");
        CQuorvelDlg window(m_state);
        window.show();
        window.findChild<QLineEdit *>("editSourceDirs")->setText(m_pictures->Path().c_str());
        window.RetrieveFileList();
        window.DatePictures();
        const std::string dated = *m_pictures / "2005-07-14 09.03.27.JPG";
        QVERIFY(fs::exists(dated));
        const std::string datedBytes = ReadBytes(dated);

        KilledAfterItsChanges(dated);
        QVERIFY(!fs::exists(dated));

        window.DatePictures();
        const std::vector<std::string> lines = Messages(window);
        QVERIFY(std::find(lines.begin(), lines.end(),
                          "Recovered the unfinished pass of 2006-01-02 03:04:05: 3 changes taken "
                          "back.")
                != lines.end());
        QCOMPARE(ReadBytes(dated), datedBytes);
        for (const std::string &line : lines)
            QVERIFY2(line.find("unreadable") == std::string::npos, line.c_str());
        Journal journal;
        QVERIFY(journal.UnfinishedPasses().empty());
    }

    // The window's own pass is journaled, and one whose journal cannot be used changes nothing.
    void journalsItsPassOrStopsItBeforeAnyChange()
    {
        const std::string first = Picture("IMG_0001.JPG", "2005:07:14 09:03:27");
        const std::string before = ReadBytes(first);
        CQuorvelDlg window(m_state);
        window.show();
        window.findChild<QLineEdit *>("editSourceDirs")->setText(m_pictures->Path().c_str());
        window.RetrieveFileList();

        // A file where the state folder belongs: the journal cannot be opened.
        fs::remove_all(*m_home / "state");
        WriteBytes(*m_home / "state", "a file where the state folder belongs");
        {
            MessageBoxAnswer ok(QMessageBox::Ok);
            window.DatePictures();
            QTRY_COMPARE(ok.boxes.size(), 1u);
            QCOMPARE(ok.boxes[0].icon, QMessageBox::Critical);
            QVERIFY(ok.boxes[0].text.startsWith("The journal "));
            QCOMPARE(ReadBytes(first), before);
            QVERIFY(Messages(window).size() == 1u); // the scan's line only
        }

        fs::remove(*m_home / "state");
        window.RetrieveFileList();
        window.DatePictures();
        QVERIFY(!fs::exists(first));
        Journal journal;
        const std::vector<JournaledPass> passes = journal.Passes();
        QCOMPARE(passes.size(), 1u);
        QCOMPARE(passes[0].frontEnd, JournalFrontEnd::Window);
        QCOMPARE(passes[0].datedSuccessfully, 1);
        QCOMPARE(passes[0].outcome, PassOutcome::Finished);
        QCOMPARE(passes[0].sources, m_pictures->Path().string());
    }
};

} // namespace

QTEST_MAIN(TheUndoEntry)
#include "undo_last_pass_test.moc"
