// SPDX-License-Identifier: AGPL-3.0-or-later
#include "platform/folder_browser_window.h"

#include <QApplication>
#include <QDir>
#include <QFileSystemModel>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeView>
#include <gtest/gtest.h>

namespace {

// Acts on the modal window once its own event loop shows it, so Run() does not block the test.
void WhenModal(std::function<void(FolderBrowserWindow *)> action)
{
    auto *timer = new QTimer;
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, action] {
        auto *window = qobject_cast<FolderBrowserWindow *>(QApplication::activeModalWidget());
        if (!window || !window->isVisible())
            return;
        timer->stop();
        timer->deleteLater();
        action(window);
    });
    timer->start();
}

class FolderBrowserWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(root.isValid());
        ASSERT_TRUE(QDir(root.path()).mkpath("a/inner"));
        ASSERT_TRUE(QDir(root.path()).mkpath("b"));
    }
    QString Path(const char *relative) const { return QDir(root.path()).filePath(relative); }

    QTemporaryDir root;
    QWidget owner;
};

TEST_F(FolderBrowserWindowTest, DefaultsToHomeAndCancelReturnsFalse)
{
    FolderBrowserWindow window(&owner, {{}, {}, true, false});
    QStringList items;
    window.onSelectionChanged = [&](const QString &item) { items << item; };
    WhenModal([&](FolderBrowserWindow *) {
        window.SetStatusText("dropped without a status line");
        EXPECT_EQ(window.StatusText(), "");
        // Paths that are no folders, empty ones included, leave the selection alone.
        window.SelectFolder(QString());
        window.SelectFolder(Path("missing"));
        window.reject();
    });
    EXPECT_FALSE(window.Run());
    EXPECT_EQ(items, QStringList{QDir::homePath()});
    EXPECT_EQ(window.SelectedPath(), QDir::homePath());
}

TEST_F(FolderBrowserWindowTest, SelectionStaysBelowTheTop)
{
    FolderBrowserWindow window(&owner, {{}, Path("a"), true, false});
    WhenModal([&](FolderBrowserWindow *) {
        // Home lies outside the top and is not selected; the tree may pick a folder of its own
        // once it has read the top.
        const QString first = window.SelectedPath();
        EXPECT_TRUE(first.isEmpty() || first.startsWith(Path("a") + "/")) << first.toStdString();
        window.SelectFolder(Path("a/inner"));
        EXPECT_EQ(window.SelectedPath(), Path("a/inner"));
        window.SelectFolder(Path("b"));
        EXPECT_EQ(window.SelectedPath(), Path("a/inner"));
        window.accept();
    });
    EXPECT_TRUE(window.Run());
}

TEST_F(FolderBrowserWindowTest, PreselectedFolderStaysInViewOnceItsFoldersAreRead)
{
    // The tree reads folders in the background: rows that arrive after the selection push it
    // out of view unless the window scrolls to it again.
    for (int i = 0; i < 300; ++i)
        ASSERT_TRUE(QDir(root.path()).mkpath(QStringLiteral("many/d%1").arg(i, 3, 10, QChar('0'))));
    const QString target = Path("many/d250");
    FolderBrowserWindow window(&owner, {{}, root.path(), true, false});
    window.onInitialized = [&] { window.SelectFolder(target); };
    bool allRead = false;
    QRect row;
    QRect viewport;
    WhenModal([&](FolderBrowserWindow *) {
        QTreeView *tree = window.Tree();
        auto *model = qobject_cast<QFileSystemModel *>(tree->model());
        if (model == nullptr) {
            ADD_FAILURE() << "the tree shows no file-system model";
            window.reject();
            return;
        }
        allRead = QTest::qWaitFor(
            [&] { return model->rowCount(model->index(Path("many"))) == 300; }, 10000);
        QTest::qWait(200);
        row = tree->visualRect(tree->currentIndex());
        viewport = tree->viewport()->rect();
        window.reject();
    });
    window.Run();
    ASSERT_TRUE(allRead);
    EXPECT_EQ(window.SelectedPath(), target);
    EXPECT_FALSE(row.isEmpty());
    EXPECT_TRUE(viewport.contains(row.center())) << row.y() << " not within " << viewport.height();
}

} // namespace
