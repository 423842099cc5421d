// SPDX-License-Identifier: AGPL-3.0-or-later
#include "platform/folder_browser_window.h"

#include <QApplication>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileSystemModel>
#include <QPushButton>
#include <QScreen>
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

TEST_F(FolderBrowserWindowTest, LongStatusTextIsShortenedAndTheWindowStaysOnTheScreen)
{
    // 411 characters, more than any screen is wide at any font.
    QString longPath = root.path();
    while (longPath.size() < 411)
        longPath += QStringLiteral("/a-folder-name-of-some-length");
    longPath = longPath.left(411);
    ASSERT_EQ(longPath.size(), 411);

    FolderBrowserWindow window(
        &owner, {QStringLiteral("Please select an output folder:"), QString(), true, true});
    window.onInitialized = [&] { window.SetStatusText(longPath); };
    QRect available;
    QRect frame;
    QRect ok;
    QString shown;
    WhenModal([&](FolderBrowserWindow *) {
        QApplication::processEvents();
        window.SetStatusText(longPath);
        QApplication::processEvents();
        available = window.screen()->availableGeometry();
        frame = window.frameGeometry();
        QWidget *okButton = window.findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok);
        ok = QRect(okButton->mapTo(&window, QPoint(0, 0)), okButton->size());
        shown = window.ShownStatusText();
        window.reject();
    });
    window.Run();
    EXPECT_EQ(window.StatusText(), longPath);
    EXPECT_TRUE(available.contains(frame)) << frame.width() << " wide";
    EXPECT_TRUE(QRect(QPoint(0, 0), window.size()).contains(ok));
    EXPECT_LT(shown.size(), longPath.size());
    EXPECT_TRUE(shown.contains(QChar(0x2026))) << shown.toStdString();
    // The end of the path, where the chosen folder's name is, stays readable.
    EXPECT_TRUE(longPath.endsWith(shown.mid(shown.indexOf(QChar(0x2026)) + 1)));
}

TEST_F(FolderBrowserWindowTest, ShortStatusTextIsShownWhole)
{
    FolderBrowserWindow window(&owner, {{}, {}, true, true});
    WhenModal([&](FolderBrowserWindow *) {
        window.SetStatusText(Path("a"));
        QApplication::processEvents();
        EXPECT_EQ(window.ShownStatusText(), Path("a"));
        window.reject();
    });
    window.Run();
}

TEST_F(FolderBrowserWindowTest, HiddenFoldersCanBeShownAndReached)
{
    ASSERT_TRUE(QDir(root.path()).mkpath(".hidden/inner"));
    FolderBrowserWindow window(&owner, {{}, root.path(), true, false});
    auto *model = qobject_cast<QFileSystemModel *>(window.Tree()->model());
    ASSERT_NE(model, nullptr);
    auto names = [&] {
        QStringList result;
        const QModelIndex top = model->index(root.path());
        for (int row = 0; row < model->rowCount(top); ++row)
            result << model->index(row, 0, top).data().toString();
        result.sort();
        return result;
    };
    WhenModal([&](FolderBrowserWindow *) {
        EXPECT_TRUE(QTest::qWaitFor([&] { return names().size() >= 2; }, 10000));
        EXPECT_EQ(names(), QStringList({"a", "b"}));
        EXPECT_FALSE(window.HiddenFoldersSwitch()->isChecked());

        window.HiddenFoldersSwitch()->click();
        EXPECT_TRUE(QTest::qWaitFor([&] { return names().size() == 3; }, 10000));
        EXPECT_EQ(names(), QStringList({".hidden", "a", "b"}));
        window.HiddenFoldersSwitch()->click();
        EXPECT_TRUE(QTest::qWaitFor([&] { return names().size() == 2; }, 10000));

        window.accept();
    });
    EXPECT_TRUE(window.Run());
}

TEST_F(FolderBrowserWindowTest, AFolderInsideAHiddenOneCanBePreselected)
{
    ASSERT_TRUE(QDir(root.path()).mkpath(".hidden/inner"));
    FolderBrowserWindow window(&owner, {{}, {}, true, false});
    window.onInitialized = [&] { window.SelectFolder(Path(".hidden/inner")); };
    WhenModal([&](FolderBrowserWindow *) {
        EXPECT_TRUE(window.HiddenFoldersSwitch()->isChecked());
        EXPECT_TRUE(
            QTest::qWaitFor([&] { return window.SelectedPath() == Path(".hidden/inner"); }, 10000))
            << window.SelectedPath().toStdString();
        window.accept();
    });
    EXPECT_TRUE(window.Run());
    EXPECT_EQ(window.SelectedPath(), Path(".hidden/inner"));
}

} // namespace
