// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
// Renders the main window after a real dating pass over camera pictures to a PNG, for the README
// and for review. Used by scripts/screenshot-dialogs.sh; the pictures are copies made in a
// temporary folder, never the originals.
#include "about_dlg.h"
#include "quorvel_app.h"
#include "quorvel_dlg.h"

#include <QDir>
#include <QFile>
#include <QPixmap>
#include <QTemporaryDir>

#include <cstdio>

int main(int argc, char *argv[])
{
    kronvik::ProgramState state;
    kronvik::CQuorvelApp application(argc, argv);
    const QDir out(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QDir::currentPath());
    const QDir pictures(argc > 2 ? QString::fromLocal8Bit(argv[2]) : QString());

    QTemporaryDir work;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(work.filePath(QStringLiteral("config"))));
    QDir(work.path()).mkpath(QStringLiteral("Camera/2005"));
    int copied = 0;
    for (const QString &name : pictures.entryList({"*.jpg", "*.JPG"}, QDir::Files)) {
        if (copied++ < 24)
            QFile::copy(pictures.filePath(name),
                        work.filePath(QStringLiteral("Camera/2005/") + name));
    }

    kronvik::CQuorvelDlg window(state);
    window.SetSourceDirectoryText(
            QFile::encodeName(work.filePath(QStringLiteral("Camera"))).toStdString());
    window.m_bSaveLog = false;
    window.show();
    window.RetrieveFileList();
    window.DatePictures();
    QApplication::processEvents();
    bool saved = window.grab().save(out.filePath(QStringLiteral("window.png")), "PNG");

    kronvik::CAboutDlg about(&window);
    about.show();
    QApplication::processEvents();
    saved &= about.grab().save(out.filePath(QStringLiteral("about.png")), "PNG");
    std::printf("%s %s\n", saved ? "wrote" : "could not write", qPrintable(out.path()));
    return saved ? 0 : 1;
}
