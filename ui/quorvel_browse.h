// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "browse_roots.h"

#include <QDialog>
#include <QPixmap>

#include <array>
#include <memory>
#include <string>

class QTreeWidget;
class QTreeWidgetItem;

namespace Ui {
class CQuorvelBrowse;
}

namespace kronvik {

// The source directory browser: a tree of the machine's places and their directories, read only
// as far as the user expands it, from which one directory is picked. Built for one exec(); after
// Accepted the caller reads GetSelectedPath().
//
// A collapsed item that can be expanded holds exactly one child, an empty placeholder that stands
// for "this directory has a subdirectory" and so gives the item its expand button. Expanding an
// item replaces the placeholder with the directory's subdirectories as they are now; collapsing
// it throws them away again.
class CQuorvelBrowse : public QDialog
{
    Q_OBJECT

public:
    // `listRoots` gives the top-level places in the order shown.
    explicit CQuorvelBrowse(QWidget *parent = nullptr,
                            BrowseRootLister listRoots = SystemBrowseRoots);
    ~CQuorvelBrowse() override;

    // The path of the item that was selected last, as bytes; empty when the selection never
    // changed while the dialog was open.
    std::string GetSelectedPath() const { return m_path; }

    // The positions of the images in the image strip.
    enum Image { FixedDisk, RemovableDrive, OpticalDrive, NetworkDrive, ClosedFolder, OpenFolder };

protected:
    void showEvent(QShowEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void OnInitDialog();
    void AddDriveItems();
    void AddPlaceholderIfSubdirs(QTreeWidgetItem *item, const std::string &path);
    bool ListSubdirectories(QTreeWidgetItem *item, const std::string &path);
    std::string GetItemPath(QTreeWidgetItem *item) const;
    void DeleteFirstChild(QTreeWidgetItem *item);
    void DeleteAllChildren(QTreeWidgetItem *item);
    void OnItemExpanding(QTreeWidgetItem *item, bool expanding);
    void OnSelChanged();

    void LoadImageList();
    QTreeWidgetItem *InsertItem(QTreeWidgetItem *parent, const std::string &name,
                                const QIcon &icon);
    void InsertPlaceholder(QTreeWidgetItem *parent);

    std::unique_ptr<Ui::CQuorvelBrowse> m_ui;
    BrowseRootLister m_listRoots;
    std::array<QPixmap, 6> m_imageList;
    std::string m_path;
    QTreeWidget *m_tree;
    bool m_bInitialised = false;
    bool m_bRefusing = false; // set while a refused expansion is being folded back
};

} // namespace kronvik
