// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
// The main window with its real widgets, real temporary folders and real pictures, on the
// offscreen platform. Settings go to a temporary XDG_CONFIG_HOME.
#include "about_dlg.h"
#include "edited_bytes.h"
#include "jpeg_fixture.h"
#include "log_list_view.h"
#include "message_box_catcher.h"
#include "quorvel_browse.h"
#include "quorvel_dlg.h"
#include "quorvel_prefs.h"
#include "settings_store.h"
#include "temp_dir.h"

#include <QCheckBox>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <map>

using namespace kronvik;
using namespace kronvik::test;
namespace fs = std::filesystem;

namespace {

// Runs `act` on the first visible modal dialog of type T once it is open.
template<typename T>
void WhenOpen(std::function<void(T &)> act)
{
    auto *poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, poll, [poll, act] {
        if (auto *dialog = qobject_cast<T *>(QApplication::activeModalWidget())) {
            poll->stop();
            poll->deleteLater();
            act(*dialog);
        }
    });
    poll->start(5);
}

// A settings holder for writing stored settings before the window opens.
class StoredControls : public SourceListControls
{
public:
    explicit StoredControls(std::string text)
        : m_text(std::move(text))
    {
    }
    std::string SourceDirectoryText() const override { return m_text; }
    void SetSourceDirectoryText(const std::string &text) override { m_text = text; }
    void EnableRetrieveFileList() override { }

private:
    std::string m_text;
};

} // namespace

class TheMainWindow : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<TempDir> m_config;
    std::unique_ptr<TempDir> m_pictures;
    ProgramState m_state;

    QPushButton *Button(CQuorvelDlg &window, const char *name)
    {
        return window.findChild<QPushButton *>(name);
    }
    QString Label(CQuorvelDlg &window, const char *name)
    {
        return window.findChild<QLabel *>(name)->text();
    }
    QLineEdit *SourceEdit(CQuorvelDlg &window)
    {
        return window.findChild<QLineEdit *>("editSourceDirs");
    }
    std::string Hive() { return *m_config / "kronvik/registry.reg"; }
    void AddPicture(const std::string &name, const std::string &date)
    {
        WriteJpegWithExif(*m_pictures / name, {{"Exif.Photo.DateTimeOriginal", date},
                                               {"Exif.Photo.DateTimeDigitized", date}});
    }
    std::vector<std::string> Messages(const CQuorvelDlg &window)
    {
        std::vector<std::string> messages;
        const LogListView &log = window.RunLogLines();
        for (std::size_t i = 0; i < log.LineCount(); ++i)
            messages.push_back(log.Line(i).substr(21));
        return messages;
    }

private slots:
    void init()
    {
        m_config = std::make_unique<TempDir>();
        m_pictures = std::make_unique<TempDir>();
        qputenv("XDG_CONFIG_HOME", m_config->Path().c_str());
        qputenv("XDG_STATE_HOME", (*m_config / "state").c_str());
        m_state = ProgramState{};
    }

    void opensOnFirstRunWithBothCommandsDisabled()
    {
        CQuorvelDlg window(m_state);
        window.show();
        QVERIFY(!Button(window, "btnRetrieve")->isEnabled());
        QVERIFY(!Button(window, "btnDate")->isEnabled());
        QVERIFY(Button(window, "btnBrowse")->isEnabled());
        QVERIFY(SourceEdit(window)->text().isEmpty());
        QVERIFY(window.m_bRecurse && window.m_bSaveLog && window.m_bSaveSourceDirs);
        QCOMPARE(window.windowTitle(), QStringLiteral("Kronvik"));
    }

    void loadsTheStoredSettingsIntoItsControls()
    {
        SettingsRecord stored;
        stored.m_bRecurse = false;
        stored.m_strLogDir = "/var/log/pictures/";
        StoredControls controls("/p/A;/p/B");
        SaveSettings(stored, controls);

        CQuorvelDlg window(m_state);
        QCOMPARE(SourceEdit(window)->text(), QStringLiteral("/p/A;/p/B"));
        QVERIFY(Button(window, "btnRetrieve")->isEnabled());
        QVERIFY(!Button(window, "btnDate")->isEnabled());
        QVERIFY(!window.m_bRecurse);
        QCOMPARE(window.m_strLogDir, std::string("/var/log/pictures/"));
    }

    void appendsTheBrowsedDirectoryUnlessTheTextHoldsIt()
    {
        fs::create_directories(m_pictures->Path() / "Pics/2005");
        const std::string root = m_pictures->Path().string();
        // Longer than a line edit holds by default: the list must not be cut short.
        const std::string longList = "/x/" + std::string(40000, 'a');
        struct Case
        {
            std::string before;
            int row; // child of the root to select, -1 for the root itself, -2 for none
            std::string after;
            bool enabled;
        };
        const std::vector<Case> cases = {
                {"", 0, root + "/Pics", true},
                {"/x/A", -1, "/x/A;" + root, true},
                // Nothing changes, and the text already there keeps the button usable.
                {root + "/Pics/2005", 0, root + "/Pics/2005", true}, // a substring of the text
                {"/x/A", -2, "/x/A", true}, // OK without a selection: empty path
                {root + "/pics", 0, root + "/pics;" + root + "/Pics", true}, // case-sensitive
                {longList, 0, longList + ";" + root + "/Pics", true},
        };
        for (const Case &test : cases) {
            CQuorvelDlg window(m_state);
            window.m_listBrowseRoots = [root] {
                return std::vector<BrowseRoot>{{root, BrowseRootKind::Fixed}};
            };
            window.show();
            window.SetSourceDirectoryText(test.before);
            WhenOpen<CQuorvelBrowse>([&test](CQuorvelBrowse &browser) {
                auto *tree = browser.findChild<QTreeWidget *>();
                QTreeWidgetItem *top = tree->topLevelItem(0);
                if (test.row == -1)
                    tree->setCurrentItem(top);
                else if (test.row >= 0) {
                    tree->expandItem(top);
                    tree->setCurrentItem(top->child(test.row));
                }
                browser.accept();
            });
            window.OnBrowse();
            QCOMPARE(window.SourceDirectoryText(), test.after);
            QCOMPARE(Button(window, "btnRetrieve")->isEnabled(), test.enabled);
        }
    }

    // Bytes that name folders, shown in an edit box and read back: valid UTF-8 as its characters,
    // and any other byte as itself, however the text around it is edited.
    void keepsTheBytesOfAFolderNameThatIsNotUtf8ThroughEdits()
    {
        const std::string names[] = {
                "/Pics/caf\xc3\xa9",  "/Pics/caf\xe9", // valid, and Latin-1
                "/a\xc0\xaf",         "/a\xed\xa0\x80", // an overlong "/", a surrogate
                "/a\xe2\x82",         "/a\xf0\x9f\x98\x80", // cut short, beyond the BMP
                "/a\xf4\x90\x80\x80", "/a\xef\xbf\xbd\xff\x80", // beyond U+10FFFF, U+FFFD
        };
        for (const std::string &name : names) {
            QCOMPARE(BytesOfText(TextOfBytes(name)), name);
            if (QString::fromUtf8(name.data(), qsizetype(name.size())).toStdString() == name)
                QCOMPARE(TextOfBytes(name), QString::fromStdString(name));
        }
        CQuorvelDlg window(m_state);
        window.show();
        window.SetSourceDirectoryText("/Pics/caf\xe9");
        auto *edit = window.findChild<QLineEdit *>("editSourceDirs");
        edit->setFocus();
        edit->end(false);
        QTest::keyClicks(edit, ";/x");
        QCOMPARE(window.SourceDirectoryText(), std::string("/Pics/caf\xe9;/x"));
        edit->home(false);
        QTest::keyClick(edit, Qt::Key_Delete);
        QCOMPARE(window.SourceDirectoryText(), std::string("Pics/caf\xe9;/x"));
    }

    void enablesRetrieveWheneverTheSourceBoxHoldsText()
    {
        AddPicture("a.jpg", "2005:07:14 09:03:27");
        CQuorvelDlg window(m_state);
        window.show();
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        QLineEdit *edit = SourceEdit(window);
        edit->setFocus();
        QPushButton *retrieve = Button(window, "btnRetrieve");
        struct Step
        {
            const char *name;
            std::function<void()> act;
            bool enabled;
        };
        const std::vector<Step> steps = {
                {"typing a letter", [&] { QTest::keyClicks(edit, "/"); }, true},
                {"emptying the box", [&] { QTest::keyClick(edit, Qt::Key_Backspace); }, false},
                {"pasting a folder",
                 [&] {
                     QApplication::clipboard()->setText(
                             QString::fromStdString(m_pictures->Path().string()));
                     QTest::keyClick(edit, Qt::Key_V, Qt::ControlModifier);
                 },
                 true},
                {"selecting all and deleting",
                 [&] {
                     QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
                     QTest::keyClick(edit, Qt::Key_Delete);
                 },
                 false},
                // Alt with a letter is a command's key: one that no enabled command takes types
                // nothing ("&Date Pictures" waits for a list; no command has Q).
                {"Alt with the letter of a disabled command",
                 [&] { QTest::keyClick(edit, Qt::Key_D, Qt::AltModifier); }, false},
                {"Alt with a letter no command has",
                 [&] { QTest::keyClick(edit, Qt::Key_Q, Qt::AltModifier); }, false},
                {"typing a folder", [&] { QTest::keyClicks(edit, m_pictures->Path().c_str()); },
                 true},
        };
        for (const Step &step : steps) {
            step.act();
            if (retrieve->isEnabled() != step.enabled)
                QFAIL(step.name);
        }
        // The folder typed by hand is the one retrieved, by the command's key as by a click (a
        // button pressed by its key is let go after a moment).
        QTest::keyClick(edit, Qt::Key_R, Qt::AltModifier);
        QTRY_COMPARE(Label(window, "staticTotal"), QStringLiteral("1"));
        QCOMPARE(edit->text(), QString::fromStdString(m_pictures->Path().string()));
        QVERIFY(Button(window, "btnDate")->isEnabled());
    }

    void drawsNoButtonAsDefaultAndEnterPressesTheButtonWithTheFocus()
    {
        CQuorvelDlg window(m_state);
        window.show();
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        for (const char *name : {"btnBrowse", "btnRetrieve", "btnDate", "btnPrefs"}) {
            QPushButton *button = Button(window, name);
            button->setFocus();
            // A default button, or one that becomes it with the focus, is drawn with the frame
            // that says Enter presses it.
            if (button->isDefault() || button->autoDefault())
                QFAIL(name);
        }
        bool opened = false;
        WhenOpen<CQuorvelPrefs>([&opened](CQuorvelPrefs &prefs) {
            opened = true;
            prefs.reject();
        });
        QTest::keyClick(Button(window, "btnPrefs"), Qt::Key_Return);
        QVERIFY(opened);
        QVERIFY(window.isVisible());
        // Enter in the edit box still closes.
        SourceEdit(window)->setFocus();
        QTest::keyClick(SourceEdit(window), Qt::Key_Return);
        QVERIFY(!window.isVisible());
    }

    void keepsTheFocusOnACommandPressedFromTheKeyboard_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<int>("key");
        QTest::newRow("Space on \"&Retrieve File List\"") << "btnRetrieve" << int(Qt::Key_Space);
        QTest::newRow("Enter on \"&Retrieve File List\"") << "btnRetrieve" << int(Qt::Key_Return);
        QTest::newRow("Space on \"&Date Pictures\"") << "btnDate" << int(Qt::Key_Space);
        QTest::newRow("Enter on \"&Date Pictures\"") << "btnDate" << int(Qt::Key_Return);
    }

    void keepsTheFocusOnACommandPressedFromTheKeyboard()
    {
        QFETCH(QString, button);
        QFETCH(int, key);
        AddPicture("a.jpg", "2005:07:14 09:03:27");
        CQuorvelDlg window(m_state);
        window.show();
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        window.SetSourceDirectoryText(m_pictures->Path().string());
        window.RetrieveFileList();
        QPushButton *pressed = Button(window, qPrintable(button));
        pressed->setFocus();
        QTest::keyClick(pressed, Qt::Key(key));
        QVERIFY(Button(window, "btnDate")->isEnabled());
        // The command was disabled while it ran; a second press of the same key runs it again
        // rather than the next button's command.
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget *>(pressed));
    }

    void takesThePreferencesBackOnlyOnOk()
    {
        CQuorvelDlg window(m_state);
        window.show();
        window.m_strLogDir = "/logs";
        WhenOpen<CQuorvelPrefs>([](CQuorvelPrefs &prefs) {
            prefs.findChild<QCheckBox *>("checkRecurse")->setChecked(false);
            prefs.reject();
        });
        window.OnPreferences();
        QVERIFY(window.m_bRecurse);

        WhenOpen<CQuorvelPrefs>([](CQuorvelPrefs &prefs) {
            prefs.findChild<QCheckBox *>("checkRecurse")->setChecked(false);
            prefs.findChild<QLineEdit *>("editTimeAdjust")->setText("-3");
            QTest::mouseClick(prefs.findChild<QPushButton *>("buttonOk"), Qt::LeftButton);
        });
        window.OnPreferences();
        QVERIFY(!window.m_bRecurse);
        QCOMPARE(window.m_nTimeAdjust, -3);
        QCOMPARE(window.m_strLogDir, std::string("/logs"));
    }

    void retrievesAndDatesWithLabelsProgressAndLogLines()
    {
        AddPicture("a.jpg", "2005:07:14 09:03:27");
        AddPicture("b.jpg", "2005:07:14 09:03:28");
        AddPicture("c.jpg", "2005:07:14 09:03:29");
        CQuorvelDlg window(m_state);
        window.show();
        window.SetSourceDirectoryText(m_pictures->Path().string());
        window.EnableRetrieveFileList();

        QTest::mouseClick(Button(window, "btnRetrieve"), Qt::LeftButton);
        QCOMPARE(Label(window, "staticCaption"), QStringLiteral("Files found:"));
        QCOMPARE(Label(window, "staticTotal"), QStringLiteral("3"));
        QVERIFY(Button(window, "btnDate")->isEnabled());

        std::vector<QString> seen;
        QTimer watch;
        connect(&watch, &QTimer::timeout, [&] {
            const QString shown =
                    Label(window, "staticCurrent") + " " + Label(window, "staticPercent") + " "
                    + QString::number(window.findChild<QProgressBar *>("progress")->value());
            if (seen.empty() || seen.back() != shown)
                seen.push_back(shown);
        });
        watch.start(0);
        QTest::mouseClick(Button(window, "btnDate"), Qt::LeftButton);
        watch.stop();
        QCOMPARE(seen, (std::vector<QString>{"1 33% 33", "2 66% 66", "3 100% 100"}));
        QCOMPARE(Label(window, "staticCaption"), QStringLiteral("Dating:"));
        QCOMPARE(Label(window, "staticOf"), QStringLiteral("of"));
        const auto messages = Messages(window);
        QCOMPARE(messages.size(), std::size_t(7));
        QCOMPARE(messages[0], "Digital pictures found in " + m_pictures->Path().string() + ": 3");
        QCOMPARE(messages[1],
                 "Processing digital pictures in " + m_pictures->Path().string() + "...");
        QCOMPARE(messages[5], std::string("Digital pictures dated successfully: 3"));
        QCOMPARE(messages[6], std::string("Digital pictures dated unsuccessfully: 0"));
        auto *list = window.findChild<LogListView *>("listLog");
        QCOMPARE(list->LineCount(), std::size_t(7));
        // New lines do not scroll the view: it still shows the first line.
        QCOMPARE(list->FirstVisibleLine(), std::size_t(0));
        QVERIFY(Button(window, "btnRetrieve")->isEnabled());
    }

    void paintsItsStatusAtMostOnceAFrameDuringAPass()
    {
        // Pictures without EXIF data are the quickest to date: every frame sees several.
        for (int i = 0; i < 80; ++i)
            WriteJpegWithExif(*m_pictures / ("p" + std::to_string(i) + ".jpg"), {});
        CQuorvelDlg window(m_state);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        window.SetSourceDirectoryText(m_pictures->Path().string());
        window.RetrieveFileList();
        QCoreApplication::processEvents();

        struct PaintCounter : QObject
        {
            std::map<QObject *, int> paints;
            int layouts = 0;
            bool eventFilter(QObject *watched, QEvent *event) override
            {
                if (event->type() == QEvent::Paint)
                    ++paints[watched];
                layouts += event->type() == QEvent::LayoutRequest;
                return false;
            }
        } counter;
        for (const char *name : {"progress", "staticCurrent", "staticPercent", "staticFile"})
            window.findChild<QWidget *>(name)->installEventFilter(&counter);
        window.installEventFilter(&counter);
        QElapsedTimer clock;
        clock.start();
        window.DatePictures();
        const qint64 frames = clock.elapsed() / 16 + 2;

        QCOMPARE(Label(window, "staticCurrent"), QStringLiteral("80"));
        QCOMPARE(window.findChild<QProgressBar *>("progress")->value(), 100);
        // New label texts do not lay the window out again after every picture.
        QVERIFY2(counter.layouts < 10, qPrintable(QString::number(counter.layouts) + " layouts"));
        for (const auto &[widget, paints] : counter.paints)
            if (widget != &window)
                QVERIFY2(paints <= frames,
                         qPrintable(widget->objectName() + " painted " + QString::number(paints)
                                    + " times in " + QString::number(frames) + " frames"));
    }

    void repaintsTheLogListsScrollBarsOnlyWhenTheirSliderMoves()
    {
        LogListView list;
        list.resize(300, 200);
        list.show();
        QVERIFY(QTest::qWaitForWindowExposed(&list));
        QScrollBar *vertical = list.verticalScrollBar();
        QScrollBar *horizontal = list.horizontalScrollBar();
        const auto addLines = [&list](int count) {
            for (int i = 0; i < count; ++i)
                list.AppendLogLine("line " + std::to_string(list.LineCount()));
            list.ShowPendingLines();
            QTest::qWait(120); // past the list's own pause between refreshes
        };
        addLines(500);

        struct PaintCounter : QObject
        {
            int paints = 0;
            bool eventFilter(QObject *, QEvent *event) override
            {
                paints += event->type() == QEvent::Paint;
                return false;
            }
        };
        PaintCounter verticalPaints;
        PaintCounter horizontalPaints;
        vertical->installEventFilter(&verticalPaints);
        horizontal->installEventFilter(&horizontalPaints);
        // A long list at its top: the slider stays where it is, at its least length.
        addLines(200);
        QCOMPARE(vertical->maximum(), 700 - vertical->pageStep());
        QCOMPARE(vertical->value(), 0);
        QCOMPARE(verticalPaints.paints, 0);
        QCOMPARE(horizontalPaints.paints, 0);

        // At its end the slider moves up as the list grows, and the view stays where it was.
        vertical->setValue(vertical->maximum());
        const int bottom = vertical->value();
        QTest::qWait(20);
        verticalPaints.paints = 0;
        addLines(300);
        QCOMPARE(vertical->maximum(), 1000 - vertical->pageStep());
        QCOMPARE(vertical->value(), bottom);
        QCOMPARE(list.FirstVisibleLine(), std::size_t(bottom));
        QVERIFY(verticalPaints.paints > 0);
    }

    void cutsOffALineLongerThanTheListAtItsRightEdge()
    {
        LogListView list;
        list.resize(300, 200);
        list.show();
        QVERIFY(QTest::qWaitForWindowExposed(&list));
        list.AppendLogLine("2005-07-14 09:03:27: Digital pictures found in /"
                           + std::string(400, 'a') + ": 1");
        list.ShowPendingLines();
        list.viewport()->repaint();
        QTest::qWait(20);
        // The list has no horizontal extent: nothing beyond its right edge can be scrolled to.
        QCOMPARE(list.horizontalScrollBar()->maximum(), 0);
        QVERIFY(list.horizontalScrollBar()->isVisible());
    }

    void finishesThePictureAtHandWhenClosedDuringAPass()
    {
        for (int i = 0; i < 10; ++i)
            AddPicture("p" + std::to_string(i) + ".jpg", "2005:07:14 09:03:1" + std::to_string(i));
        CQuorvelDlg window(m_state);
        window.show();
        window.m_strLogDir = *m_pictures / "logs";
        fs::create_directory(window.m_strLogDir);
        window.SetSourceDirectoryText(m_pictures->Path().string());
        window.RetrieveFileList();

        bool duringPass = false;
        QTimer closer;
        connect(&closer, &QTimer::timeout, [&] {
            if (Label(window, "staticCurrent") == "5" && window.isVisible()) {
                duringPass = !Button(window, "btnDate")->isEnabled()
                             && Button(window, "btnBrowse")->isEnabled();
                window.reject(); // the close box
            }
        });
        closer.start(0);
        window.DatePictures();
        closer.stop();

        QVERIFY(duringPass);
        QVERIFY(!window.isVisible());
        QCOMPARE(Label(window, "staticCurrent"), QStringLiteral("5"));
        QCOMPARE(window.findChild<QProgressBar *>("progress")->value(), 50);
        QVERIFY(fs::exists(*m_pictures / "p5.jpg"));
        const auto messages = Messages(window);
        QCOMPARE(messages.back(), std::string("Digital pictures dated unsuccessfully: 0"));
        const std::string file = ReadBytes(*m_pictures / "logs/Kronvik.log");
        QVERIFY(file.find("dated successfully") == std::string::npos);
        QVERIFY(file.find("p4.jpg -> 2005-07-14 09.03.14.JPG\r\n") != std::string::npos);
        QVERIFY(fs::exists(Hive()));
    }

    void appliesATimeAdjustmentChangedDuringAPassToThePicturesThatFollow()
    {
        for (int i = 0; i < 5; ++i)
            AddPicture("p" + std::to_string(i) + ".jpg", "2005:07:14 09:03:1" + std::to_string(i));
        CQuorvelDlg window(m_state);
        window.show();
        window.SetSourceDirectoryText(m_pictures->Path().string());
        window.RetrieveFileList();
        window.m_nTimeAdjust = 2;

        QTimer preferences;
        connect(&preferences, &QTimer::timeout, [&] {
            if (Label(window, "staticCurrent") != "2")
                return;
            preferences.stop();
            WhenOpen<CQuorvelPrefs>([](CQuorvelPrefs &prefs) {
                prefs.findChild<QLineEdit *>("editLogDir")->setText("/logs");
                prefs.findChild<QLineEdit *>("editTimeAdjust")->setText("-1");
                QTest::mouseClick(prefs.findChild<QPushButton *>("buttonOk"), Qt::LeftButton);
            });
            window.OnPreferences();
        });
        preferences.start(0);
        window.DatePictures();
        preferences.stop();

        const auto messages = Messages(window);
        const std::vector<std::string> dated(messages.end() - 7, messages.end() - 2);
        QCOMPARE(dated, (std::vector<std::string>{"   p0.jpg -> 2005-07-14 11.03.10.JPG",
                                                  "   p1.jpg -> 2005-07-14 11.03.11.JPG",
                                                  "   p2.jpg -> 2005-07-14 08.03.12.JPG",
                                                  "   p3.jpg -> 2005-07-14 08.03.13.JPG",
                                                  "   p4.jpg -> 2005-07-14 08.03.14.JPG"}));
    }

    void keepsBothCommandsDisabledForThePassEvenWhenADirectoryIsBrowsedDuringIt()
    {
        for (int i = 0; i < 5; ++i)
            AddPicture("p" + std::to_string(i) + ".jpg", "2005:07:14 09:03:1" + std::to_string(i));
        const std::string root = m_pictures->Path().string();
        CQuorvelDlg window(m_state);
        window.m_listBrowseRoots = [root] {
            return std::vector<BrowseRoot>{{root, BrowseRootKind::Fixed}};
        };
        window.show();
        window.SetSourceDirectoryText(root);
        window.EnableRetrieveFileList();
        window.RetrieveFileList();

        bool browsed = false;
        bool retrieveEnabledInPass = true;
        QTimer browse;
        connect(&browse, &QTimer::timeout, [&] {
            if (Label(window, "staticCurrent") != "2")
                return;
            browse.stop();
            window.SetSourceDirectoryText("/elsewhere");
            WhenOpen<CQuorvelBrowse>([](CQuorvelBrowse &browser) {
                auto *tree = browser.findChild<QTreeWidget *>();
                tree->setCurrentItem(tree->topLevelItem(0));
                browser.accept();
            });
            window.OnBrowse();
            browsed = window.SourceDirectoryText() == "/elsewhere;" + root;
            retrieveEnabledInPass = Button(window, "btnRetrieve")->isEnabled();
        });
        browse.start(0);
        window.DatePictures();
        browse.stop();

        QVERIFY(browsed);
        QVERIFY(!retrieveEnabledInPass);
        QCOMPARE(Messages(window).back(), std::string("Digital pictures dated unsuccessfully: 0"));
        QVERIFY(Button(window, "btnRetrieve")->isEnabled());
        QVERIFY(Button(window, "btnDate")->isEnabled());
    }

    void staysOpenWhenItsLogDirectoryIsMissingAndClosesOnceFixed()
    {
        // The file error's box shows its OK button without an icon, also where the desktop asks
        // for icons on dialog buttons.
        DesktopWithButtonIcons desktop;
        AddPicture("a.jpg", "2005:07:14 09:03:27");
        CQuorvelDlg window(m_state);
        window.show();
        window.SetSourceDirectoryText(m_pictures->Path().string());
        window.RetrieveFileList();
        window.m_strLogDir = *m_pictures / "missing";

        {
            MessageBoxCatcher catcher;
            window.reject();
            QCOMPARE(catcher.Boxes().size(), std::size_t(1));
            QCOMPARE(catcher.Boxes()[0].title, QStringLiteral("Kronvik"));
            QCOMPARE(catcher.Boxes()[0].icon, QMessageBox::Critical);
            QVERIFY(!catcher.Boxes()[0].buttonIcons);
            QCOMPARE(catcher.Boxes()[0].text.toStdString(),
                     *m_pictures / "missing" + "/Kronvik.log contains an incorrect path.");
        }
        QVERIFY(window.isVisible());
        QVERIFY(!fs::exists(Hive()));
        QVERIFY(window.m_bCancel);

        window.m_strLogDir = m_pictures->Path().string();
        window.reject();
        QVERIFY(!window.isVisible());
        QVERIFY(fs::exists(*m_pictures / "Kronvik.log"));
        QVERIFY(ReadBytes(Hive()).find(m_pictures->Path().string()) != std::string::npos);
    }

    void endsAPassAtAPictureItCannotShiftWithTheFileErrorInAStopBox()
    {
        struct Case
        {
            const char *name;
            std::function<int(const std::string &)> hold; // returns a descriptor to close, or -1
            const char *message; // after the picture's path
        };
        const std::vector<Case> cases = {
                {"a read-only picture",
                 [](const std::string &path) {
                     fs::permissions(path, fs::perms::owner_read | fs::perms::group_read
                                                   | fs::perms::others_read);
                     return -1;
                 },
                 "Access to %1 was denied."},
                {"a picture locked by another open",
                 [](const std::string &path) {
                     const int holder = open(path.c_str(), O_RDONLY);
                     return flock(holder, LOCK_EX | LOCK_NB) == 0 ? holder : -1;
                 },
                 "Encountered a sharing violation while accessing %1."},
        };
        for (const Case &test : cases) {
            init();
            AddPicture("a.jpg", "2005:07:14 09:03:27");
            AddPicture("b.jpg", "2005:07:14 09:03:28");
            AddPicture("c.jpg", "2005:07:14 09:03:29");
            const std::string stuck = *m_pictures / "b.jpg";
            const std::string before = ReadBytes(stuck);
            const int holder = test.hold(stuck);
            CQuorvelDlg window(m_state);
            window.show();
            window.SetSourceDirectoryText(m_pictures->Path().string());
            window.RetrieveFileList();
            window.m_nTimeAdjust = 2;
            {
                MessageBoxCatcher catcher;
                window.DatePictures();
                QVERIFY2(catcher.Boxes().size() == 1, test.name);
                QCOMPARE(catcher.Boxes()[0].icon, QMessageBox::Critical);
                QCOMPARE(catcher.Boxes()[0].title, QStringLiteral("Kronvik"));
                QCOMPARE(catcher.Boxes()[0].text,
                         QString::fromLatin1(test.message).arg(QString::fromStdString(stuck)));
            }
            if (holder >= 0)
                close(holder);
            // The pass ends at the picture: no line for it or after it, no summary lines.
            QCOMPARE(Messages(window).back(), std::string("   a.jpg -> 2005-07-14 11.03.27.JPG"));
            QCOMPARE(ReadBytes(stuck), before);
            QVERIFY(fs::exists(*m_pictures / "c.jpg"));
            QCOMPARE(Label(window, "staticFile"), QString::fromStdString(stuck));
            // The window stays open with both commands usable again.
            QVERIFY(window.isVisible());
            QVERIFY(Button(window, "btnRetrieve")->isEnabled());
            QVERIFY(Button(window, "btnDate")->isEnabled());
        }
    }

    void showsPathsThatLookLikeMarkupAsTheyAre()
    {
        struct Case
        {
            const char *folder;
        };
        // Names the rich-text sniffing of a label or message box would take for markup.
        const std::vector<Case> cases = {{"<p>"}, {"<b>x</b>"}, {"<i>"}};
        for (const Case &test : cases) {
            const fs::path folder = *m_pictures / test.folder;
            fs::create_directories(folder);
            WriteJpegWithExif(folder / "a.jpg",
                              {{"Exif.Photo.DateTimeDigitized", "2005:07:14 09:03:27"}});
            CQuorvelDlg window(m_state);
            window.show();
            window.SetSourceDirectoryText(folder.string());
            window.RetrieveFileList();
            auto *file = window.findChild<QLabel *>("staticFile");
            const QString path = QString::fromStdString((folder / "a.jpg").string());
            QCOMPARE(file->text(), path);
            // It looks as a label beside it that is told the path is plain text.
            QLabel plain(&window);
            plain.setGeometry(file->geometry());
            plain.setAlignment(file->alignment());
            plain.setTextFormat(Qt::PlainText);
            plain.setText(path);
            QVERIFY2(file->grab().toImage() == plain.grab().toImage(), test.folder);

            window.m_strLogDir = (folder / "missing").string();
            MessageBoxCatcher catcher;
            window.reject();
            QCOMPARE(catcher.Boxes().size(), std::size_t(1));
            QVERIFY2(!catcher.Boxes()[0].markup, test.folder);
            window.m_strLogDir = m_pictures->Path().string();
            window.reject();
        }
    }

    void closesOnAQuitRequestOverWhateverIsOpen_data()
    {
        QTest::addColumn<QString>("open");
        QTest::addColumn<bool>("logDirectoryExists");
        QTest::newRow("nothing above the window") << "" << true;
        QTest::newRow("the preferences open: their changes dropped") << "preferences" << true;
        QTest::newRow("the browser open: nothing added") << "browser" << true;
        QTest::newRow("the context menu open") << "menu" << true;
        QTest::newRow("a log file that cannot be written: no message box, no settings")
                << "" << false;
    }

    void closesOnAQuitRequestOverWhateverIsOpen()
    {
        QFETCH(QString, open);
        QFETCH(bool, logDirectoryExists);
        AddPicture("a.jpg", "2005:07:14 09:03:27");
        const std::string pictures = m_pictures->Path().string();
        const std::string logs = *m_pictures / "logs";
        if (logDirectoryExists)
            fs::create_directory(logs);
        CQuorvelDlg window(m_state);
        const std::string elsewhere = m_config->Path().string();
        window.m_listBrowseRoots = [elsewhere] {
            return std::vector<BrowseRoot>{{elsewhere, BrowseRootKind::Fixed}};
        };
        window.show();
        window.m_strLogDir = logs;
        window.SetSourceDirectoryText(pictures);
        window.RetrieveFileList(); // the run log gets a line

        MessageBoxCatcher catcher;
        if (open == "preferences") {
            WhenOpen<CQuorvelPrefs>([&window](CQuorvelPrefs &prefs) {
                prefs.findChild<QCheckBox *>("checkRecurse")->setChecked(false);
                window.OnQuitRequest();
            });
            window.OnPreferences();
        } else if (open == "browser") {
            WhenOpen<CQuorvelBrowse>([&window](CQuorvelBrowse &browser) {
                auto *tree = browser.findChild<QTreeWidget *>();
                tree->setCurrentItem(tree->topLevelItem(0));
                window.OnQuitRequest();
            });
            window.OnBrowse();
        } else if (open == "menu") {
            QTimer::singleShot(50, &window, [&window] {
                QVERIFY(QApplication::activePopupWidget());
                window.OnQuitRequest();
            });
            QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(10, 10),
                                    window.mapToGlobal(QPoint(10, 10)));
            QApplication::sendEvent(&window, &event);
        } else {
            window.OnQuitRequest();
        }

        QVERIFY(!window.isVisible());
        QVERIFY(QApplication::activePopupWidget() == nullptr);
        QVERIFY(catcher.Boxes().empty());
        QVERIFY(window.m_bRecurse);
        QCOMPARE(window.SourceDirectoryText(), pictures);
        QCOMPARE(fs::exists(logs + "/Kronvik.log"), logDirectoryExists);
        QCOMPARE(fs::exists(Hive()), logDirectoryExists);
    }

    void closesWithLogAndSettingsOnEnterInTheEditBox()
    {
        CQuorvelDlg window(m_state);
        window.show();
        window.activateWindow();
        SourceEdit(window)->setFocus();
        QTest::keyClicks(SourceEdit(window), "/typed/by/hand");
        QTest::keyClick(SourceEdit(window), Qt::Key_Return);
        QVERIFY(!window.isVisible());
        QVERIFY(ReadBytes(Hive()).find("/typed/by/hand") != std::string::npos);
    }

    void opensTheAboutBoxFromItsContextMenu()
    {
        CQuorvelDlg window(m_state);
        bool shown = false;
        connect(&window, &CQuorvelDlg::aboutRequested, &window, [&] {
            WhenOpen<CAboutDlg>([&shown](CAboutDlg &about) {
                const auto labels = about.findChildren<QLabel *>();
                shown = std::any_of(labels.begin(), labels.end(), [](QLabel *label) {
                    return label->text() == "Kronvik Version 2.1";
                });
                about.accept();
            });
            CAboutDlg about(&window);
            about.exec();
        });
        window.show();
        QTimer::singleShot(50, [] {
            auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
            QVERIFY(menu);
            const auto actions = menu->actions();
            // The undo entry comes under it.
            QAction *about = actions[actions.size() - 2];
            QCOMPARE(about->text(), QStringLiteral("&About Kronvik..."));
            about->trigger();
            menu->close();
        });
        QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(10, 10),
                                window.mapToGlobal(QPoint(10, 10)));
        QApplication::sendEvent(&window, &event);
        QTRY_VERIFY(shown);
    }
};

QTEST_MAIN(TheMainWindow)
#include "quorvel_dlg_test.moc"
