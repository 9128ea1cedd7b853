// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
// The About box: its lines, the rights line naming the licence the program is under, each line
// shown whole.
#include "about_dlg.h"

#include <QApplication>
#include <QLabel>
#include <QTest>

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
};

QTEST_MAIN(TheAboutBox)

#include "about_dlg_test.moc"
