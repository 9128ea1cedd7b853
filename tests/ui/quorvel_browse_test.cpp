// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "browse_roots.h"
#include "quorvel_browse.h"
#include "temp_dir.h"

#include <QApplication>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>

using kronvik::BrowseRoot;
using kronvik::BrowseRootKind;
using kronvik::CQuorvelBrowse;
using kronvik::test::TempDir;
namespace fs = std::filesystem;

namespace {

QTreeWidget *TreeOf(CQuorvelBrowse &dialog)
{
    auto *tree = dialog.findChild<QTreeWidget *>(QStringLiteral("treeDirectories"));
    if (!tree)
        qFatal("the browser form has no tree");
    return tree;
}

// The names of an item's children, as the tree shows them; a placeholder shows as "".
QStringList ChildNames(const QTreeWidgetItem *item)
{
    QStringList names;
    for (int i = 0; i < item->childCount(); ++i)
        names << item->child(i)->text(0);
    return names;
}

bool IsPlaceholderParent(const QTreeWidgetItem *item)
{
    return item->childCount() == 1 && item->child(0)->text(0).isEmpty();
}

QTreeWidgetItem *Child(const QTreeWidgetItem *item, const QString &name)
{
    for (int i = 0; i < item->childCount(); ++i) {
        if (item->child(i)->text(0) == name)
            return item->child(i);
    }
    return nullptr;
}

void MakeFile(const fs::path &path)
{
    std::ofstream(path) << "x";
}

// A browser over the given places, opened (not run modally) so its tree is filled.
struct OpenBrowser
{
    explicit OpenBrowser(std::vector<BrowseRoot> roots)
        : dialog(nullptr, [roots] { return roots; })
    {
        dialog.show();
    }
    QTreeWidgetItem *Top(int index) { return TreeOf(dialog)->topLevelItem(index); }
    CQuorvelBrowse dialog;
};

} // namespace

class QuorvelBrowseTest : public QObject
{
    Q_OBJECT

private slots:
    void topLevelPlacesGetExpandButtonsByKind()
    {
        TempDir withSubdir, onlyFiles;
        fs::create_directory(withSubdir.Path() / "Photos");
        MakeFile(onlyFiles.Path() / "a.jpg");
        const std::string missing = withSubdir / "no-such-volume";
        OpenBrowser browser({{withSubdir.Path().string(), BrowseRootKind::Fixed},
                             {onlyFiles.Path().string(), BrowseRootKind::Network},
                             {missing, BrowseRootKind::Removable},
                             {missing, BrowseRootKind::Optical},
                             {missing, BrowseRootKind::Fixed},
                             {withSubdir.Path().string(), BrowseRootKind::RamDisk}});
        QTreeWidget *tree = TreeOf(browser.dialog);
        QCOMPARE(tree->topLevelItemCount(), 6);
        QCOMPARE(browser.Top(0)->text(0), QString::fromStdString(withSubdir.Path().string()));
        QCOMPARE(browser.Top(2)->text(0), QString::fromStdString(missing));
        QVERIFY(IsPlaceholderParent(browser.Top(0)));
        QCOMPARE(browser.Top(1)->childCount(), 0); // a root of files only has no button
        QVERIFY(IsPlaceholderParent(browser.Top(2))); // removable media are never read
        QVERIFY(IsPlaceholderParent(browser.Top(3)));
        QCOMPARE(browser.Top(4)->childCount(), 0); // an unreadable fixed root has no button
        QVERIFY(IsPlaceholderParent(browser.Top(5)));
        for (int i = 0; i < tree->topLevelItemCount(); ++i)
            QVERIFY(!browser.Top(i)->isExpanded());
        QVERIFY(tree->selectedItems().isEmpty());
        QCOMPARE(browser.dialog.focusWidget(),
                 static_cast<QWidget *>(browser.dialog.findChild<QPushButton *>("buttonOk")));
        QCOMPARE(browser.dialog.GetSelectedPath(), std::string());
    }

    void eachItemShowsItsImageOfTheStripAlsoWhenSelected()
    {
        TempDir root;
        fs::create_directories(root.Path() / "Photos" / "2005");
        const std::string path = root.Path().string();
        OpenBrowser browser({{path, BrowseRootKind::Fixed},
                             {path, BrowseRootKind::Removable},
                             {path, BrowseRootKind::Optical},
                             {path, BrowseRootKind::Network},
                             {path, BrowseRootKind::RamDisk}});
        browser.Top(0)->setExpanded(true);
        QTreeWidgetItem *photos = browser.Top(0)->child(0);
        const QPixmap strip(QStringLiteral(":/images/browse_images.xpm"));
        // Whether the icon shows image `index` of the strip, in the strip's opaque pixels.
        const auto shows = [&strip](const QTreeWidgetItem *item, QIcon::Mode mode, int index) {
            const QImage shown = item->icon(0).pixmap(16, 16, mode).toImage();
            const QImage image = strip.copy(index * 16, 0, 16, 16).toImage();
            for (int y = 0; y < 16; ++y)
                for (int x = 0; x < 16; ++x)
                    if (qAlpha(shown.pixel(x, y)) != 0
                        && (shown.pixel(x, y) & 0xffffff) != (image.pixel(x, y) & 0xffffff))
                        return false;
            return true;
        };
        struct Case
        {
            const char *name;
            const QTreeWidgetItem *item;
            int image;
            int selectedImage;
        };
        const std::vector<Case> cases = {
                {"fixed disk", browser.Top(0), 0, 0},    {"removable drive", browser.Top(1), 1, 1},
                {"optical drive", browser.Top(2), 2, 2}, {"network drive", browser.Top(3), 3, 3},
                {"RAM disk", browser.Top(4), 0, 0},      {"directory", photos, 4, 5},
                {"placeholder", photos->child(0), 4, 4},
        };
        for (const Case &test : cases) {
            QVERIFY2(shows(test.item, QIcon::Normal, test.image), test.name);
            QVERIFY2(shows(test.item, QIcon::Selected, test.selectedImage), test.name);
        }
    }

    void joinsItsFoldersWithLinesAndScrollsToALongName()
    {
        TempDir root;
        const QString longName = QString(120, QLatin1Char('x')) + QStringLiteral(" part 2");
        for (const QString &name : {QStringLiteral("alpha"), longName})
            fs::create_directory(root.Path() / name.toStdString());
        OpenBrowser browser({{root.Path().string(), BrowseRootKind::Fixed},
                             {root.Path().string(), BrowseRootKind::Fixed}});
        QTreeWidget *tree = TreeOf(browser.dialog);
        browser.Top(0)->setExpanded(true);
        QTreeWidgetItem *alpha = Child(browser.Top(0), QStringLiteral("alpha"));
        QTreeWidgetItem *wide = Child(browser.Top(0), longName);
        QVERIFY(alpha && wide);

        // The long name is shown whole, and the tree scrolls to it.
        QTest::qWait(0);
        QVERIFY(tree->columnWidth(0) > tree->fontMetrics().horizontalAdvance(longName));
        QVERIFY(tree->horizontalScrollBar()->maximum() > 0);

        // The dotted lines, in the branch cells left of each item: a place, a folder with a
        // sibling below it, the last folder.
        const QImage shown = tree->viewport()->grab().toImage();
        const QRgb dots = tree->palette().color(QPalette::Dark).rgb();
        const auto dotsLeftOf = [&](const QTreeWidgetItem *item) {
            const QRect row = tree->visualItemRect(item);
            int count = 0;
            for (int y = row.top(); y <= row.bottom(); ++y)
                for (int x = std::max(0, row.left() - tree->indentation()); x < row.left(); ++x)
                    count += shown.pixel(x, y) == dots;
            return count;
        };
        for (const QTreeWidgetItem *item : {browser.Top(0), alpha, wide, browser.Top(1)})
            QVERIFY2(dotsLeftOf(item) > 0, qPrintable(item->text(0)));
    }

    void expandingListsEverySubdirectoryInNameOrderWithHiddenOnesAndProbesEach()
    {
        TempDir root;
        for (const char *name : {"zeta", ".hidden", "alpha", "mid"})
            fs::create_directory(root.Path() / name);
        fs::create_directory(root.Path() / "mid" / "deeper");
        fs::create_directory_symlink(root.Path() / "mid", root.Path() / "link-to-mid");
        MakeFile(root.Path() / "picture.jpg");
        OpenBrowser browser({{root.Path().string(), BrowseRootKind::Fixed}});
        QTreeWidgetItem *top = browser.Top(0);
        TreeOf(browser.dialog)->setCurrentItem(top);
        QTest::keyClick(TreeOf(browser.dialog), Qt::Key_Right); // the user's way to expand
        QVERIFY(top->isExpanded());
        QCOMPARE(ChildNames(top), (QStringList{".hidden", "alpha", "link-to-mid", "mid", "zeta"}));
        QVERIFY(IsPlaceholderParent(Child(top, "mid")));
        QVERIFY(IsPlaceholderParent(Child(top, "link-to-mid")));
        QCOMPARE(Child(top, "alpha")->childCount(), 0);
        QCOMPARE(Child(top, ".hidden")->childCount(), 0);
    }

    void anUnreadableRemovableRootRefusesToExpandAndKeepsItsButton_data()
    {
        QTest::addColumn<bool>("rootIsAFile");
        QTest::newRow("no such path") << false;
        QTest::newRow("a file") << true;
    }

    void anUnreadableRemovableRootRefusesToExpandAndKeepsItsButton()
    {
        QFETCH(bool, rootIsAFile);
        // A path that cannot be listed even by a superuser.
        TempDir folder;
        const std::string path = folder / "volume";
        if (rootIsAFile)
            MakeFile(path);
        OpenBrowser browser({{path, BrowseRootKind::Removable}});
        QTreeWidgetItem *top = browser.Top(0);
        for (int attempt = 0; attempt < 2; ++attempt) {
            top->setExpanded(true);
            QVERIFY(!top->isExpanded());
            QVERIFY(IsPlaceholderParent(top));
        }
        if (!rootIsAFile) {
            // The medium arrives: the next expansion reads it.
            fs::create_directories(fs::path(path) / "DCIM");
            top->setExpanded(true);
            QVERIFY(top->isExpanded());
            QCOMPARE(ChildNames(top), QStringList{"DCIM"});
        }
    }

    void aDeletedDirectoryRefusesToExpandAndLosesItsButton()
    {
        TempDir root;
        fs::create_directories(root.Path() / "gone" / "inner");
        OpenBrowser browser({{root.Path().string(), BrowseRootKind::Fixed}});
        browser.Top(0)->setExpanded(true);
        QTreeWidgetItem *gone = Child(browser.Top(0), "gone");
        QVERIFY(IsPlaceholderParent(gone));
        fs::remove_all(root.Path() / "gone");
        gone->setExpanded(true);
        QVERIFY(!gone->isExpanded());
        QCOMPARE(gone->childCount(), 0);
    }

    void aLeafStaysALeafWhenTheKeyboardAsksToExpandIt()
    {
        TempDir root;
        fs::create_directory(root.Path() / "leaf");
        OpenBrowser browser({{root.Path().string(), BrowseRootKind::Fixed}});
        browser.Top(0)->setExpanded(true);
        QTreeWidgetItem *leaf = Child(browser.Top(0), "leaf");
        QCOMPARE(leaf->childCount(), 0);
        // Only a collapse and a new expansion of its parent may show what has appeared since.
        fs::create_directory(root.Path() / "leaf" / "new");
        QTreeWidget *tree = TreeOf(browser.dialog);
        tree->setFocus();
        tree->setCurrentItem(leaf);
        for (Qt::Key key : {Qt::Key_Plus, Qt::Key_Right}) {
            QTest::keyClick(tree, key);
            QVERIFY(!leaf->isExpanded());
            QCOMPARE(leaf->childCount(), 0);
        }
    }

    void collapsingAndExpandingAgainShowsTheDirectoryAsItIsNow()
    {
        TempDir root;
        fs::create_directories(root.Path() / "2005" / "July");
        OpenBrowser browser({{root.Path().string(), BrowseRootKind::Fixed}});
        QTreeWidgetItem *top = browser.Top(0);
        top->setExpanded(true);
        QCOMPARE(ChildNames(top), QStringList{"2005"});

        fs::create_directory(root.Path() / "2006");
        top->setExpanded(false);
        QVERIFY(IsPlaceholderParent(top));
        top->setExpanded(true);
        QCOMPARE(ChildNames(top), (QStringList{"2005", "2006"}));

        // A directory item collapses to a button only while it still has a subdirectory.
        QTreeWidgetItem *year = Child(top, "2005");
        year->setExpanded(true);
        QCOMPARE(ChildNames(year), QStringList{"July"});
        year->setExpanded(false);
        QVERIFY(IsPlaceholderParent(year));
        year->setExpanded(true);
        fs::remove(root.Path() / "2005" / "July");
        year->setExpanded(false);
        QCOMPARE(year->childCount(), 0);

        // A top-level place gets its button back whatever it holds.
        fs::remove_all(root.Path() / "2005");
        fs::remove_all(root.Path() / "2006");
        top->setExpanded(false);
        QVERIFY(IsPlaceholderParent(top));
        top->setExpanded(true);
        QVERIFY(top->isExpanded());
        QCOMPARE(top->childCount(), 0);
    }

    void theSelectedPathIsTheItemsNamesJoinedBySlashes()
    {
        TempDir root;
        fs::create_directories(root.Path() / "Photos" / "2005");
        OpenBrowser browser(
                {{root.Path().string(), BrowseRootKind::Fixed}, {"/", BrowseRootKind::Fixed}});
        QTreeWidget *tree = TreeOf(browser.dialog);
        browser.Top(0)->setExpanded(true);
        QTreeWidgetItem *photos = Child(browser.Top(0), "Photos");
        photos->setExpanded(true);
        tree->setCurrentItem(Child(photos, "2005"));
        QCOMPARE(browser.dialog.GetSelectedPath(), (root.Path() / "Photos" / "2005").string());
        tree->setCurrentItem(browser.Top(0));
        QCOMPARE(browser.dialog.GetSelectedPath(), root.Path().string());

        // Below "/" no second separator is added.
        tree->setCurrentItem(browser.Top(1));
        QCOMPARE(browser.dialog.GetSelectedPath(), std::string("/"));
        browser.Top(1)->setExpanded(true);
        QTreeWidgetItem *tmp = Child(browser.Top(1), "tmp");
        QVERIFY(tmp);
        tree->setCurrentItem(tmp);
        QCOMPARE(browser.dialog.GetSelectedPath(), std::string("/tmp"));

        // Folding away the selected item selects the item folded.
        tree->setCurrentItem(Child(photos, "2005"));
        photos->setExpanded(false);
        QCOMPARE(tree->selectedItems(), QList<QTreeWidgetItem *>{photos});
        QCOMPARE(browser.dialog.GetSelectedPath(), (root.Path() / "Photos").string());
        // So does folding away a folder above it.
        photos->setExpanded(true);
        tree->setCurrentItem(Child(photos, "2005"));
        browser.Top(0)->setExpanded(false);
        QCOMPARE(tree->selectedItems(), QList<QTreeWidgetItem *>{browser.Top(0)});
        QCOMPARE(browser.dialog.GetSelectedPath(), root.Path().string());

        // A Ctrl+click on the selected item leaves it selected: OK names what the tree shows.
        tree->setCurrentItem(browser.Top(1));
        QTest::mouseClick(tree->viewport(), Qt::LeftButton, Qt::ControlModifier,
                          tree->visualItemRect(browser.Top(1)).center());
        QCOMPARE(tree->selectedItems(), QList<QTreeWidgetItem *>{browser.Top(1)});
        QCOMPARE(browser.dialog.GetSelectedPath(), std::string("/"));
    }

    void aDirectoryNameThatIsNotUtf8YieldsItsExactBytes()
    {
        TempDir root;
        const std::string latin1Name = "Caf\xe9 \xff";
        fs::create_directory(root / latin1Name);
        OpenBrowser browser({{root.Path().string(), BrowseRootKind::Fixed}});
        browser.Top(0)->setExpanded(true);
        QCOMPARE(browser.Top(0)->childCount(), 1);
        TreeOf(browser.dialog)->setCurrentItem(browser.Top(0)->child(0));
        QCOMPARE(browser.dialog.GetSelectedPath(), root / latin1Name);
    }

    void okWithoutASelectionGivesAnEmptyPathAndCancelIsRejected_data()
    {
        QTest::addColumn<bool>("select");
        QTest::addColumn<QString>("button");
        QTest::addColumn<int>("result");
        QTest::newRow("OK, nothing selected") << false << "buttonOk" << int(QDialog::Accepted);
        QTest::newRow("Cancel after a selection")
                << true << "buttonCancel" << int(QDialog::Rejected);
    }

    void okWithoutASelectionGivesAnEmptyPathAndCancelIsRejected()
    {
        QFETCH(bool, select);
        QFETCH(QString, button);
        QFETCH(int, result);
        TempDir root;
        CQuorvelBrowse dialog(nullptr, [&] {
            return std::vector<BrowseRoot>{{root.Path().string(), BrowseRootKind::Fixed}};
        });
        QTimer::singleShot(0, &dialog, [&] {
            if (select)
                TreeOf(dialog)->setCurrentItem(TreeOf(dialog)->topLevelItem(0));
            dialog.findChild<QPushButton *>(button)->click();
            if (dialog.isVisible())
                dialog.done(-1);
        });
        QCOMPARE(dialog.exec(), result);
        if (!select)
            QCOMPARE(dialog.GetSelectedPath(), std::string());
    }

    void theKeyboardReachesTheFirstPlaceWithTheFirstDownAfterTabbingIn_data()
    {
        QTest::addColumn<int>("downs");
        QTest::addColumn<int>("picked");
        QTest::newRow("Tab, Tab, Down, Enter picks the first place") << 1 << 0;
        QTest::newRow("a second Down picks the second place") << 2 << 1;
    }

    void theKeyboardReachesTheFirstPlaceWithTheFirstDownAfterTabbingIn()
    {
        QFETCH(int, downs);
        QFETCH(int, picked);
        TempDir first, second;
        const std::vector<BrowseRoot> roots{{first.Path().string(), BrowseRootKind::Fixed},
                                            {second.Path().string(), BrowseRootKind::Fixed}};
        CQuorvelBrowse dialog(nullptr, [&] { return roots; });
        bool treeFocusedWithNoCurrentItem = false;
        QTimer::singleShot(0, &dialog, [&] {
            if (QTest::qWaitForWindowActive(&dialog)) {
                // The keys go where the user's keys go: to the widget with the focus.
                for (int i = 0; i < 2; ++i)
                    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
                treeFocusedWithNoCurrentItem = QApplication::focusWidget() == TreeOf(dialog)
                                               && TreeOf(dialog)->currentItem() == nullptr;
                for (int i = 0; i < downs; ++i)
                    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Down);
                QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
            }
            if (dialog.isVisible())
                dialog.done(-1);
        });
        QCOMPARE(dialog.exec(), int(QDialog::Accepted));
        QCOMPARE(dialog.GetSelectedPath(), roots[std::size_t(picked)].path);
        QVERIFY(treeFocusedWithNoCurrentItem);
    }

    void theHomeFolderComesFirstAndTheRootOnlyOnce_data()
    {
        QTest::addColumn<QByteArray>("home");
        QTest::addColumn<QByteArray>("first");
        QTest::newRow("a home folder") << QByteArray("/home/anna") << QByteArray("/home/anna");
        QTest::newRow("the root as home") << QByteArray("/") << QByteArray("/");
        QTest::newRow("no home") << QByteArray() << QByteArray("/");
    }

    void theHomeFolderComesFirstAndTheRootOnlyOnce()
    {
        QFETCH(QByteArray, home);
        QFETCH(QByteArray, first);
        const QByteArray saved = qgetenv("HOME");
        if (home.isNull())
            qunsetenv("HOME");
        else
            qputenv("HOME", home);
        const std::vector<BrowseRoot> roots = kronvik::SystemBrowseRoots();
        qputenv("HOME", saved);
        QVERIFY(!roots.empty());
        QCOMPARE(QByteArray::fromStdString(roots[0].path), first);
        QCOMPARE(std::count_if(roots.begin(), roots.end(),
                               [](const BrowseRoot &root) { return root.path == "/"; }),
                 1);
    }

    void mountedVolumesAreTheOnesBelowTheVolumeFoldersSorted()
    {
        const std::string table = "/dev/sda2 / ext4 rw 0 0\n"
                                  "/dev/sdb1 /media/anna/USB\\040STICK vfat rw 0 0\n"
                                  "/dev/sr0 /media/anna/DVD iso9660 ro 0 0\n"
                                  "server:/pics /mnt/pics nfs4 rw 0 0\n"
                                  "tmpfs /run/media/anna/scratch tmpfs rw 0 0\n"
                                  "/dev/sdc1 /mnt/backup ext4 rw 0 0\n"
                                  "/dev/sdd1 /mnt ext4 rw 0 0\n"
                                  "/dev/sda3 /home ext4 rw 0 0\n"
                                  "/dev/sde1 /media/anna/card exfat rw 0 0\n"
                                  "/dev/sdf1 /media/anna/card exfat rw 0 0\n";
        const auto removable = [](const std::string &device) {
            return device == "/dev/sdb1" || device == "/dev/sdf1";
        };
        const std::vector<BrowseRoot> expected{
                {"/media/anna/DVD", BrowseRootKind::Optical},
                {"/media/anna/USB STICK", BrowseRootKind::Removable},
                {"/media/anna/card", BrowseRootKind::Removable},
                {"/mnt/backup", BrowseRootKind::Fixed},
                {"/mnt/pics", BrowseRootKind::Network},
                {"/run/media/anna/scratch", BrowseRootKind::RamDisk},
        };
        QVERIFY(kronvik::MountedVolumes(table, removable) == expected);
    }
};

QTEST_MAIN(QuorvelBrowseTest)
#include "quorvel_browse_test.moc"
