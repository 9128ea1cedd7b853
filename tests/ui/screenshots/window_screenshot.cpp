// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
// Renders the main window after a real dating pass over a camera folder to a PNG, for the README
// and for review, and the About box beside it. Used by scripts/screenshot-dialogs.sh. The folder
// is made afresh under the folder given: the pictures of a week's trip as a camera names them,
// among them two shots of one burst that fall on the same second.
#include "about_dlg.h"
#include "jpeg_fixture.h"
#include "quorvel_app.h"
#include "quorvel_dlg.h"

#include <QDir>
#include <QFile>
#include <QPixmap>

#include <cstdio>

namespace {

// When each picture of the trip was taken, in the camera's order (IMG_0001.JPG first).
const char *const kTakenAt[] = {
        "2005:07:14 09:03:27", "2005:07:14 11:42:05", "2005:07:14 18:20:51", "2005:07:15 08:15:33",
        "2005:07:15 10:02:14", "2005:07:15 13:37:48", "2005:07:16 07:58:09", "2005:07:16 12:11:40",
        "2005:07:16 16:45:22", "2005:07:17 09:30:01", "2005:07:17 14:06:37", "2005:07:17 20:48:19",
        "2005:07:18 10:24:56", "2005:07:18 10:24:56", "2005:07:18 15:12:30", "2005:07:19 08:41:12",
        "2005:07:19 11:19:44", "2005:07:19 17:55:03", "2005:07:20 09:09:38", "2005:07:20 13:26:15",
        "2005:07:20 19:33:47", "2005:07:21 08:02:29", "2005:07:21 10:50:52", "2005:07:21 12:14:06",
};

} // namespace

int main(int argc, char *argv[])
{
    kronvik::ProgramState state;
    kronvik::CQuorvelApp application(argc, argv);
    const QDir out(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QDir::currentPath());
    const QString work =
            argc > 2 ? QString::fromLocal8Bit(argv[2]) : QDir::temp().filePath("kronvik-demo");

    QDir(work).removeRecursively();
    const QString trip = QDir(work).filePath(QStringLiteral("Pictures/Norway 2005"));
    QDir().mkpath(trip);
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(QDir(work).filePath(QStringLiteral("config"))));
    int number = 1;
    for (const char *takenAt : kTakenAt) {
        const QString name = QStringLiteral("IMG_%1.JPG").arg(number++, 4, 10, QLatin1Char('0'));
        kronvik::test::WriteJpegWithExif(QFile::encodeName(QDir(trip).filePath(name)).toStdString(),
                                         {{"Exif.Image.Make", "Canon"},
                                          {"Exif.Image.Model", "Canon PowerShot A95"},
                                          {"Exif.Photo.DateTimeOriginal", takenAt},
                                          {"Exif.Photo.DateTimeDigitized", takenAt}});
    }

    kronvik::CQuorvelDlg window(state);
    window.SetSourceDirectoryText(QFile::encodeName(trip).toStdString());
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
    QDir(work).removeRecursively();
    return saved ? 0 : 1;
}
