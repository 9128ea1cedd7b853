// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "message_box_catcher.h"
#include "quorvel_prefs.h"
#include "up_down_control.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QToolButton>

#include <functional>

using kronvik::CQuorvelPrefs;
using kronvik::test::DesktopWithButtonIcons;
using kronvik::test::MessageBoxCatcher;

namespace {

// The five values as the main window holds them.
struct Preferences
{
    bool recurse = true;
    bool saveLog = true;
    bool saveSourceDirs = true;
    std::string logDir;
    int timeAdjust = 0;
};

// Runs the dialog the way the main window does: copies in, copies back only on OK.
int RunPreferences(Preferences &values, const std::function<void(CQuorvelPrefs &)> &user)
{
    CQuorvelPrefs dialog;
    dialog.m_bRecurse = values.recurse;
    dialog.m_bSaveLog = values.saveLog;
    dialog.m_bSaveSourceDirs = values.saveSourceDirs;
    dialog.m_strLogDir = values.logDir;
    dialog.m_nTimeAdjust = values.timeAdjust;
    QTimer::singleShot(0, &dialog, [&] {
        user(dialog);
        // Whatever the user did, the dialog must not stay open for ever.
        if (dialog.isVisible())
            dialog.done(-1);
    });
    const int result = dialog.exec();
    if (result == QDialog::Accepted) {
        values.recurse = dialog.m_bRecurse;
        values.saveLog = dialog.m_bSaveLog;
        values.saveSourceDirs = dialog.m_bSaveSourceDirs;
        values.logDir = dialog.m_strLogDir;
        values.timeAdjust = dialog.m_nTimeAdjust;
    }
    return result;
}

template<typename T>
T *Control(CQuorvelPrefs &dialog, const char *name)
{
    T *control = dialog.findChild<T *>(QLatin1String(name));
    if (!control)
        qFatal("the preferences form has no %s", name);
    return control;
}

void ClickOk(CQuorvelPrefs &dialog)
{
    Control<QPushButton>(dialog, "buttonOk")->click();
}

} // namespace

class QuorvelPrefsTest : public QObject
{
    Q_OBJECT

private slots:
    void opensWithTheCallersValues()
    {
        Preferences values{false, true, false, "/var/log/pictures", -7};
        RunPreferences(values, [](CQuorvelPrefs &dialog) {
            QVERIFY(!Control<QCheckBox>(dialog, "checkRecurse")->isChecked());
            QVERIFY(Control<QCheckBox>(dialog, "checkSaveLog")->isChecked());
            QVERIFY(!Control<QCheckBox>(dialog, "checkSaveSourceDirs")->isChecked());
            QCOMPARE(Control<QLineEdit>(dialog, "editLogDir")->text(), "/var/log/pictures");
            QCOMPARE(Control<QLineEdit>(dialog, "editTimeAdjust")->text(), "-7");
            QCOMPARE(dialog.focusWidget(),
                     static_cast<QWidget *>(Control<QCheckBox>(dialog, "checkSaveSourceDirs")));
        });
    }

    void okOnFirstRunAsksForALogsDirectory()
    {
        Preferences values;
        MessageBoxCatcher catcher;
        bool stayedOpen = false;
        const int result = RunPreferences(values, [&](CQuorvelPrefs &dialog) {
            QVERIFY(Control<QLineEdit>(dialog, "editLogDir")->isEnabled());
            ClickOk(dialog);
            stayedOpen = dialog.isVisible();
        });
        QVERIFY(stayedOpen);
        QCOMPARE(result, -1);
        QCOMPARE(catcher.Boxes().size(), std::size_t(1));
        const MessageBoxCatcher::Box &box = catcher.Boxes().front();
        QCOMPARE(box.text,
                 "Please specify a valid log directory or uncheck the option to save logs.");
        QCOMPARE(box.title, "Kronvik");
        QCOMPARE(box.icon, QMessageBox::Warning);
        QVERIFY(box.owner != nullptr);
    }

    void itsMessagesAreTitledKronvikWithoutIconsOnTheirButtons_data()
    {
        QTest::addColumn<QString>("logDir");
        QTest::addColumn<QString>("timeAdjust");
        QTest::addColumn<QString>("message");
        QTest::newRow("an empty logs directory")
                << ""
                << "0"
                << "Please specify a valid log directory or uncheck the option to save logs.";
        QTest::newRow("a time adjustment without a number") << "/logs"
                                                            << "soon"
                                                            << "Enter an integer.";
    }

    void itsMessagesAreTitledKronvikWithoutIconsOnTheirButtons()
    {
        QFETCH(QString, logDir);
        QFETCH(QString, timeAdjust);
        QFETCH(QString, message);
        DesktopWithButtonIcons desktop;
        Preferences values;
        MessageBoxCatcher catcher;
        RunPreferences(values, [&](CQuorvelPrefs &dialog) {
            Control<QLineEdit>(dialog, "editLogDir")->setText(logDir);
            Control<QLineEdit>(dialog, "editTimeAdjust")->setText(timeAdjust);
            ClickOk(dialog);
        });
        QCOMPARE(catcher.Boxes().size(), std::size_t(1));
        QCOMPARE(catcher.Boxes().front().text, message);
        QCOMPARE(catcher.Boxes().front().title, "Kronvik");
        QVERIFY(!catcher.Boxes().front().buttonIcons);
    }

    void clearingSaveLogEmptiesAndDisablesTheLogsDirectory()
    {
        Preferences values{true, true, true, "/nonexistent/logs", 0};
        const int result = RunPreferences(values, [](CQuorvelPrefs &dialog) {
            auto *saveLog = Control<QCheckBox>(dialog, "checkSaveLog");
            auto *logDir = Control<QLineEdit>(dialog, "editLogDir");
            QTest::mouseClick(saveLog, Qt::LeftButton);
            QVERIFY(!logDir->isEnabled());
            QCOMPARE(logDir->text(), "");
            QTest::mouseClick(saveLog, Qt::LeftButton);
            QVERIFY(logDir->isEnabled());
            QCOMPARE(logDir->text(), ""); // ticking again brings the old text back
            QTest::mouseClick(saveLog, Qt::LeftButton);
            ClickOk(dialog);
        });
        QCOMPARE(result, QDialog::Accepted);
        QVERIFY(!values.saveLog);
        QCOMPARE(values.logDir, std::string());
    }

    void aLogsDirectoryIsTakenAsTypedWithoutBeingLookedUp()
    {
        Preferences values{true, true, true, "", 0};
        RunPreferences(values, [](CQuorvelPrefs &dialog) {
            Control<QLineEdit>(dialog, "editLogDir")->setText("  /no/such/folder");
            ClickOk(dialog);
        });
        QCOMPARE(values.logDir, std::string("  /no/such/folder"));
    }

    void aLogsDirectoryTheEditBoxCannotShowComesBackByteForByte()
    {
        const std::string folders[] = {
                "/var/log/caf\xe9",
                // Longer than a line edit holds by default.
                "/logs/" + std::string(40000, 'a'),
        };
        for (const std::string &folder : folders) {
            Preferences values{true, true, true, folder, 0};
            QCOMPARE(RunPreferences(values, [](CQuorvelPrefs &dialog) { ClickOk(dialog); }),
                     QDialog::Accepted);
            QCOMPARE(values.logDir, folder);
            // Typed after: the folder's bytes stay.
            RunPreferences(values, [](CQuorvelPrefs &dialog) {
                auto *edit = Control<QLineEdit>(dialog, "editLogDir");
                edit->end(false);
                QTest::keyClicks(edit, "/2006");
                ClickOk(dialog);
            });
            QCOMPARE(values.logDir, folder + "/2006");
        }
    }

    void theTimeAdjustmentIsReadAsADecimalInteger_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<int>("hours");
        QTest::newRow("negative") << "-3" << true << -3;
        QTest::newRow("explicit plus") << "+5" << true << 5;
        QTest::newRow("trailing words") << "7 hours" << true << 7;
        QTest::newRow("leading blanks and tab") << " \t 12" << true << 12;
        QTest::newRow("beyond the arrows' range") << "100" << true << 100;
        QTest::newRow("only the first 63 characters") << QString(62, u' ') + "45" << true << 4;
        QTest::newRow("letters") << "abc" << false << 0;
        QTest::newRow("empty") << "" << false << 0;
        QTest::newRow("number after words") << "hours 7" << false << 0;
        QTest::newRow("sign alone") << "-" << false << 0;
        QTest::newRow("too large for an int") << "99999999999" << false << 0;
    }

    void theTimeAdjustmentIsReadAsADecimalInteger()
    {
        QFETCH(QString, typed);
        QFETCH(bool, accepted);
        QFETCH(int, hours);
        Preferences values{true, false, true, "", 2};
        MessageBoxCatcher catcher;
        bool focusBackOnTheEdit = false;
        QString selected;
        const int result = RunPreferences(values, [&](CQuorvelPrefs &dialog) {
            auto *edit = Control<QLineEdit>(dialog, "editTimeAdjust");
            edit->setText(typed);
            Control<QPushButton>(dialog, "buttonOk")->setFocus();
            ClickOk(dialog);
            focusBackOnTheEdit = dialog.focusWidget() == edit;
            selected = edit->selectedText();
        });
        if (accepted) {
            QCOMPARE(result, QDialog::Accepted);
            QCOMPARE(values.timeAdjust, hours);
            QVERIFY(catcher.Boxes().empty());
        } else {
            QCOMPARE(result, -1);
            QCOMPARE(values.timeAdjust, 2);
            QCOMPARE(catcher.Boxes().size(), std::size_t(1));
            QCOMPARE(catcher.Boxes().front().text, "Enter an integer.");
            QCOMPARE(catcher.Boxes().front().title, "Kronvik");
            QCOMPARE(catcher.Boxes().front().icon, QMessageBox::Warning);
            QVERIFY(focusBackOnTheEdit);
            QCOMPARE(selected, typed);
        }
    }

    void aTypedHundredIsKeptAndOpensAgainAsTwentyFour()
    {
        Preferences values{true, false, true, "", 0};
        RunPreferences(values, [](CQuorvelPrefs &dialog) {
            Control<QLineEdit>(dialog, "editTimeAdjust")->setText("100");
            ClickOk(dialog);
        });
        QCOMPARE(values.timeAdjust, 100);
        QString shown;
        RunPreferences(values, [&](CQuorvelPrefs &dialog) {
            shown = Control<QLineEdit>(dialog, "editTimeAdjust")->text();
            ClickOk(dialog);
        });
        QCOMPARE(shown, "24");
        QCOMPARE(values.timeAdjust, 24);
    }

    void theArrowsStepWithinTheRangeWithoutWrapping_data()
    {
        QTest::addColumn<int>("start");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("steps"); // u, d: arrow buttons; U, D: arrow keys in the edit box
        QTest::addColumn<QString>("shown");
        QTest::newRow("up to the top and stop") << 22 << QString() << "uuuU"
                                                << "24";
        QTest::newRow("down to the bottom and stop") << -23 << QString() << "dDd"
                                                     << "-24";
        QTest::newRow("from below the range") << -30 << QString() << "u"
                                              << "-23";
        QTest::newRow("from a typed number") << 0 << "10"
                                             << "uU"
                                             << "12";
        QTest::newRow("typed text is not a number") << 3 << "abc"
                                                    << "d"
                                                    << "2";
        QTest::newRow("typed number beyond the range") << 3 << "100"
                                                       << "u"
                                                       << "4";
    }

    void theArrowsStepWithinTheRangeWithoutWrapping()
    {
        QFETCH(int, start);
        QFETCH(QString, typed);
        QFETCH(QString, steps);
        QFETCH(QString, shown);
        Preferences values{true, false, true, "", start};
        RunPreferences(values, [&](CQuorvelPrefs &dialog) {
            auto *edit = Control<QLineEdit>(dialog, "editTimeAdjust");
            auto *arrows = Control<kronvik::UpDownControl>(dialog, "spinTimeAdjust");
            if (!typed.isNull())
                edit->setText(typed);
            for (QChar step : steps) {
                if (step == u'u')
                    QTest::mouseClick(arrows->UpButton(), Qt::LeftButton);
                else if (step == u'd')
                    QTest::mouseClick(arrows->DownButton(), Qt::LeftButton);
                else
                    QTest::keyClick(edit, step == u'U' ? Qt::Key_Up : Qt::Key_Down);
            }
            QCOMPARE(edit->text(), shown);
            ClickOk(dialog);
        });
        QCOMPARE(values.timeAdjust, shown.toInt());
    }

    void okRightAfterACheckBoxsKeyTakesTheBoxAsTheKeyLeftIt()
    {
        // Alt with a box's letter, then Enter at once: each box as its key left it.
        Preferences values{true, false, true, "/logs", 0};
        const int result = RunPreferences(values, [&](CQuorvelPrefs &dialog) {
            QVERIFY(QTest::qWaitForWindowActive(&dialog));
            QTest::keyClick(&dialog, Qt::Key_R, Qt::AltModifier);
            QTest::keyClick(&dialog, Qt::Key_D, Qt::AltModifier);
            QTest::keyClick(&dialog, Qt::Key_S, Qt::AltModifier);
            QCOMPARE(dialog.focusWidget(),
                     static_cast<QWidget *>(Control<QCheckBox>(dialog, "checkSaveLog")));
            QTest::keyClick(&dialog, Qt::Key_Return);
        });
        QCOMPARE(result, QDialog::Accepted);
        QVERIFY(!values.recurse);
        QVERIFY(!values.saveSourceDirs);
        QVERIFY(values.saveLog);
        QCOMPARE(values.logDir, std::string("/logs"));
    }

    void cancelEscapeAndTheCloseBoxHandNothingBack_data()
    {
        QTest::addColumn<int>("way");
        QTest::newRow("Cancel") << 0;
        QTest::newRow("Esc") << 1;
        QTest::newRow("close box") << 2;
    }

    void cancelEscapeAndTheCloseBoxHandNothingBack()
    {
        QFETCH(int, way);
        Preferences values{true, true, true, "/logs", 5};
        const int result = RunPreferences(values, [&](CQuorvelPrefs &dialog) {
            QTest::mouseClick(Control<QCheckBox>(dialog, "checkRecurse"), Qt::LeftButton);
            QTest::mouseClick(Control<QCheckBox>(dialog, "checkSaveLog"), Qt::LeftButton);
            Control<QLineEdit>(dialog, "editTimeAdjust")->setText("-9");
            if (way == 0)
                Control<QPushButton>(dialog, "buttonCancel")->click();
            else if (way == 1)
                QTest::keyClick(&dialog, Qt::Key_Escape);
            else
                dialog.close();
        });
        QCOMPARE(result, QDialog::Rejected);
        QVERIFY(values.recurse);
        QVERIFY(values.saveLog);
        QCOMPARE(values.logDir, std::string("/logs"));
        QCOMPARE(values.timeAdjust, 5);
    }
};

QTEST_MAIN(QuorvelPrefsTest)
#include "quorvel_prefs_test.moc"
