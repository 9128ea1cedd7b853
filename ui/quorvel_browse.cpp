// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "quorvel_browse.h"

#include "dialog_units.h"
#include "directory_listing.h"
#include "path_names.h"
#include "subdirectory_probe.h"
#include "tree_lines_style.h"
#include "ui_quorvel_browse.h"

#include <QApplication>
#include <QFile>
#include <QHeaderView>
#include <QKeyEvent>
#include <QStyleFactory>

// The image strip lives in this library's resources; a static library has to register them.
static void InitBrowseResources()
{
    Q_INIT_RESOURCE(browse_images);
}

namespace kronvik {

namespace {

constexpr int kImageWidth = 16;
// The strip's background colour, which stands for transparency.
const QColor kTransparentColour(255, 0, 255);
// Where an item keeps its own name (a top-level item: its whole path) as the system's bytes.
constexpr int kNameRole = Qt::UserRole;

std::string WithSeparator(std::string path)
{
    if (path.empty() || path.back() != kPathSeparator)
        path += kPathSeparator;
    return path;
}

std::string NameOf(const QTreeWidgetItem *item)
{
    return item->data(0, kNameRole).toByteArray().toStdString();
}

// An icon whose selected image is the given one as well: without it, the style would tint the
// image of a selected item with the selection colour.
QIcon SameWhenSelected(const QPixmap &image)
{
    QIcon icon(image);
    icon.addPixmap(image, QIcon::Selected);
    return icon;
}

} // namespace

CQuorvelBrowse::CQuorvelBrowse(QWidget *parent, BrowseRootLister listRoots)
    : QDialog(parent)
    , m_ui(std::make_unique<Ui::CQuorvelBrowse>())
    , m_listRoots(std::move(listRoots))
{
    m_ui->setupUi(this);
    m_tree = m_ui->treeDirectories;
    LayOutInDialogUnits(*this, QSize(206, 148));
    m_tree->installEventFilter(this);
    // Lines join the folders, and a name wider than the tree scrolls into sight instead of being
    // cut short with "...": two folders that differ only at the end of long names stay apart.
    auto *lines = new TreeLinesStyle(QStyleFactory::create(QApplication::style()->name()));
    lines->setParent(m_tree);
    m_tree->setStyle(lines);
    m_tree->header()->setStretchLastSection(false);
    m_tree->header()->setSectionResizeMode(0, QHeaderView::ResizeToContents);

    connect(m_ui->buttonOk, &QPushButton::clicked, this, &CQuorvelBrowse::accept);
    connect(m_ui->buttonCancel, &QPushButton::clicked, this, &CQuorvelBrowse::reject);
    connect(m_tree, &QTreeWidget::itemExpanded, this,
            [this](QTreeWidgetItem *item) { OnItemExpanding(item, true); });
    connect(m_tree, &QTreeWidget::itemCollapsed, this,
            [this](QTreeWidgetItem *item) { OnItemExpanding(item, false); });
    connect(m_tree, &QTreeWidget::itemSelectionChanged, this, &CQuorvelBrowse::OnSelChanged);
}

CQuorvelBrowse::~CQuorvelBrowse() = default;

void CQuorvelBrowse::showEvent(QShowEvent *event)
{
    if (!m_bInitialised) {
        m_bInitialised = true;
        OnInitDialog();
    }
    QDialog::showEvent(event);
}

bool CQuorvelBrowse::eventFilter(QObject *watched, QEvent *event)
{
    // The tree's "expand everything below" key would read a whole disk at once, and would expand
    // placeholders while their parents are being filled; the browser reads one level at a time.
    if (watched == m_tree && event->type() == QEvent::KeyPress
        && static_cast<QKeyEvent *>(event)->key() == Qt::Key_Asterisk)
        return true;
    return QDialog::eventFilter(watched, event);
}

void CQuorvelBrowse::OnInitDialog()
{
    LoadImageList();
    AddDriveItems();
    // Nothing is selected, nothing expanded, and no item is current. A tree that never had a
    // current item makes its first one current when it gets the focus, and Down then moves on to
    // the second; set explicitly to none, it stays none, and Down goes to the first item.
    m_tree->setCurrentIndex(QModelIndex());
    // The focus goes to the first tab stop, OK.
    m_ui->buttonOk->setFocus();
}

void CQuorvelBrowse::LoadImageList()
{
    InitBrowseResources();
    QPixmap strip(QStringLiteral(":/images/browse_images.xpm"));
    if (strip.isNull())
        return; // the tree works without images
    strip.setMask(strip.createMaskFromColor(kTransparentColour, Qt::MaskInColor));
    for (std::size_t i = 0; i < m_imageList.size(); ++i)
        m_imageList[i] =
                strip.copy(static_cast<int>(i) * kImageWidth, 0, kImageWidth, strip.height());
}

QTreeWidgetItem *CQuorvelBrowse::InsertItem(QTreeWidgetItem *parent, const std::string &name,
                                            const QIcon &icon)
{
    const QByteArray bytes = QByteArray::fromStdString(name);
    auto *item = new QTreeWidgetItem;
    item->setData(0, kNameRole, bytes);
    item->setText(0, QFile::decodeName(bytes));
    item->setIcon(0, icon);
    if (parent)
        parent->addChild(item);
    else
        m_tree->addTopLevelItem(item);
    return item;
}

void CQuorvelBrowse::InsertPlaceholder(QTreeWidgetItem *parent)
{
    InsertItem(parent, std::string(), SameWhenSelected(m_imageList[ClosedFolder]));
}

void CQuorvelBrowse::AddDriveItems()
{
    for (const BrowseRoot &root : m_listRoots()) {
        Image image = FixedDisk;
        switch (root.kind) {
        case BrowseRootKind::Fixed:
        case BrowseRootKind::RamDisk:
            image = FixedDisk;
            break;
        case BrowseRootKind::Removable:
            image = RemovableDrive;
            break;
        case BrowseRootKind::Optical:
            image = OpticalDrive;
            break;
        case BrowseRootKind::Network:
            image = NetworkDrive;
            break;
        }
        QTreeWidgetItem *item =
                InsertItem(nullptr, root.path, SameWhenSelected(m_imageList[image]));
        // A medium that may be missing is never read before the user asks for it.
        if (root.kind == BrowseRootKind::Removable || root.kind == BrowseRootKind::Optical)
            InsertPlaceholder(item);
        else
            AddPlaceholderIfSubdirs(item, root.path);
    }
}

void CQuorvelBrowse::AddPlaceholderIfSubdirs(QTreeWidgetItem *item, const std::string &path)
{
    // Only the expand button depends on it: the directory is read no further than its first
    // subdirectory, so opening "/" or a network folder does not wait on every entry.
    if (HasSubdirectory(path))
        InsertPlaceholder(item);
}

bool CQuorvelBrowse::ListSubdirectories(QTreeWidgetItem *item, const std::string &path)
{
    std::vector<DirectoryEntry> entries;
    if (!ListDirectory(path, entries)) {
        // A top-level place keeps its expand button, so the user can try again once the medium
        // is in; a directory that went away loses it.
        if (!item->parent())
            InsertPlaceholder(item);
        return false;
    }
    QIcon folder(m_imageList[ClosedFolder]);
    folder.addPixmap(m_imageList[OpenFolder], QIcon::Selected);
    for (const DirectoryEntry &entry : entries) {
        if (!entry.isDirectory)
            continue;
        QTreeWidgetItem *child = InsertItem(item, entry.name, folder);
        AddPlaceholderIfSubdirs(child, WithSeparator(path) + entry.name);
    }
    return true;
}

std::string CQuorvelBrowse::GetItemPath(QTreeWidgetItem *item) const
{
    std::string path = NameOf(item);
    for (QTreeWidgetItem *ancestor = item->parent(); ancestor; ancestor = ancestor->parent())
        path = WithSeparator(NameOf(ancestor)) + path;
    return path;
}

void CQuorvelBrowse::DeleteFirstChild(QTreeWidgetItem *item)
{
    if (item->childCount() > 0)
        delete item->child(0);
}

void CQuorvelBrowse::DeleteAllChildren(QTreeWidgetItem *item)
{
    while (item->childCount() > 0)
        delete item->child(0);
}

void CQuorvelBrowse::OnItemExpanding(QTreeWidgetItem *item, bool expanding)
{
    if (m_bRefusing)
        return;
    if (expanding && item->childCount() == 0) {
        // A leaf has no expand button; the tree's "+" key would still open it. It stays a leaf
        // until its parent is collapsed and expanded again.
        m_bRefusing = true;
        item->setExpanded(false);
        m_bRefusing = false;
        return;
    }
    // The path is taken before anything below the item changes.
    const std::string path = GetItemPath(item);
    if (expanding) {
        DeleteFirstChild(item);
        if (!ListSubdirectories(item, path)) {
            // The view has already opened the item; refusing means folding it back.
            m_bRefusing = true;
            item->setExpanded(false);
            m_bRefusing = false;
        }
    } else {
        // As the system's tree control does, a collapse that throws away the selected item
        // selects the collapsed one: OK never names a folder that the tree no longer shows.
        const QList<QTreeWidgetItem *> selected = m_tree->selectedItems();
        for (QTreeWidgetItem *above = selected.isEmpty() ? nullptr : selected.first()->parent();
             above; above = above->parent()) {
            if (above == item) {
                m_tree->setCurrentItem(item);
                break;
            }
        }
        DeleteAllChildren(item);
        if (item->parent())
            AddPlaceholderIfSubdirs(item, path);
        else
            InsertPlaceholder(item);
    }
}

void CQuorvelBrowse::OnSelChanged()
{
    const QList<QTreeWidgetItem *> selected = m_tree->selectedItems();
    if (!selected.isEmpty()) {
        m_path = GetItemPath(selected.first());
        return;
    }
    // The system's tree control cannot be left without a selection once it has one; Qt's lets a
    // Ctrl+click take it away, and OK would then name a folder that the tree no longer shows as
    // chosen. Select the item at hand again instead.
    if (QTreeWidgetItem *current = m_tree->currentItem(); current && !m_path.empty())
        current->setSelected(true);
}

} // namespace kronvik
