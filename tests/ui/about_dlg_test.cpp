// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
// The About box: its lines, the rights line naming the licence the program is under, each line
// shown whole, and the four ways it closes.
#include "about_dlg.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTest>
#include <QTimer>

using namespace kronvik;

class TheAboutBox : public QObject
{
    Q_OBJECT

private slots:
    void showsEachLineWholeAndNamesTheLicence_data()
    {
        QTest::addColumn<QString>("label");
        QTest::addColumn<QString>("text");
        QTest::newRow("version line") << "labelVersion"
                                      << "Kronvik Version 2.1";
        QTest::newRow("authorship line") << "labelAuthor"
                                         << "Written by the Kronvik developers";
        QTest::newRow("rights line, with the licence")
                << "labelRights"
                << "Copyright (C) 2026 the Kronvik developers. GNU GPL v2 or later.";
    }

    void showsEachLineWholeAndNamesTheLicence()
    {
        QFETCH(QString, label);
        QFETCH(QString, text);
        CAboutDlg about;
        about.show();
        auto *line = about.findChild<QLabel *>(label);
        QVERIFY(line);
        QCOMPARE(line->text(), text);
        QVERIFY2(line->sizeHint().width() <= line->width(), "the line is cut off");
        QVERIFY(about.rect().contains(line->geometry()));
    }

    void closesOnOkEnterEscAndTheCloseBox_data()
    {
        QTest::addColumn<QString>("way");
        QTest::newRow("OK clicked") << "ok";
        QTest::newRow("Enter") << "enter";
        QTest::newRow("Esc") << "esc";
        QTest::newRow("close box") << "close";
    }

    void closesOnOkEnterEscAndTheCloseBox()
    {
        QFETCH(QString, way);
        CAboutDlg about;
        bool tried = false;
        QTimer::singleShot(0, &about, [&] {
            tried = true;
            auto *ok = about.findChild<QPushButton *>("buttonOk");
            QVERIFY(ok);
            if (way == "ok")
                ok->click();
            else if (way == "enter")
                QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : &about,
                                Qt::Key_Return);
            else if (way == "esc")
                QTest::keyClick(&about, Qt::Key_Escape);
            else
                about.close();
        });
        // A way that does not close it would leave the modal run waiting; the timer ends it then.
        bool stuck = false;
        QTimer::singleShot(2000, &about, [&] {
            stuck = true;
            about.done(QDialog::Rejected);
        });
        about.exec();
        QVERIFY(tried);
        QVERIFY2(!stuck, qPrintable(way));
    }
};

QTEST_MAIN(TheAboutBox)

#include "about_dlg_test.moc"
