// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
// Renders the preferences dialog and the source directory browser to PNG files for review, as
// they look on the display the program runs on. Used by scripts/screenshot-dialogs.sh.
#include "quorvel_browse.h"
#include "quorvel_prefs.h"

#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <QTreeWidget>

#include <cstdio>

namespace {

bool Save(QWidget &dialog, const QString &path)
{
    dialog.show();
    QApplication::processEvents();
    const bool saved = dialog.grab().save(path, "PNG");
    std::printf("%s %s\n", saved ? "wrote" : "could not write", qPrintable(path));
    dialog.hide();
    return saved;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    const QDir folder(argc > 1 ? QString::fromLocal8Bit(argv[1]) : QDir::currentPath());
    bool saved = true;

    kronvik::CQuorvelPrefs preferences;
    preferences.m_strLogDir = "/home/anna/Pictures/Kronvik logs";
    saved &= Save(preferences, folder.filePath(QStringLiteral("preferences.png")));

    kronvik::CQuorvelPrefs firstRun;
    firstRun.m_bSaveLog = false;
    firstRun.m_nTimeAdjust = -3;
    saved &= Save(firstRun, folder.filePath(QStringLiteral("preferences-no-log.png")));

    kronvik::CQuorvelBrowse browser;
    saved &= Save(browser, folder.filePath(QStringLiteral("browser.png")));

    // The same browser with the file system's root opened and a directory selected.
    kronvik::CQuorvelBrowse expanded;
    expanded.show();
    auto *tree = expanded.findChild<QTreeWidget *>(QStringLiteral("treeDirectories"));
    for (int i = 0; i < tree->topLevelItemCount(); ++i) {
        QTreeWidgetItem *root = tree->topLevelItem(i);
        if (root->text(0) == QLatin1String("/")) {
            root->setExpanded(true);
            if (root->childCount() > 2)
                tree->setCurrentItem(root->child(2));
        }
    }
    saved &= Save(expanded, folder.filePath(QStringLiteral("browser-expanded.png")));
    return saved ? 0 : 1;
}
