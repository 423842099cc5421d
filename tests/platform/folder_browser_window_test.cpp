// SPDX-License-Identifier: AGPL-3.0-or-later
#include "platform/folder_browser_window.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
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

QPushButton *OkButton(FolderBrowserWindow *window)
{
    return window->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok);
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

TEST_F(FolderBrowserWindowTest, InitializedOnceThenEverySelectionReported)
{
    FolderBrowserWindow window(&owner, {"Pick one:", {}, true, true});
    int initialized = 0;
    QStringList items;
    window.onInitialized = [&] {
        ++initialized;
        EXPECT_TRUE(items.isEmpty());
        window.SelectFolder(Path("a/inner"));
        window.SetStatusText("status while opening");
    };
    window.onSelectionChanged = [&](const QString &item) { items << item; };
    bool checked = false;
    WhenModal([&](FolderBrowserWindow *shown) {
        EXPECT_EQ(shown, &window);
        EXPECT_EQ(window.parentWidget(), &owner);
        EXPECT_EQ(window.findChild<QLabel *>()->text(), "Pick one:");
        EXPECT_EQ(window.StatusText(), "status while opening");
        EXPECT_EQ(window.SelectedPath(), Path("a/inner"));
        window.SelectFolder(Path("b"));
        EXPECT_TRUE(OkButton(&window)->isEnabled());
        checked = true;
        OkButton(&window)->click();
    });
    EXPECT_TRUE(window.Run());
    EXPECT_TRUE(checked);
    EXPECT_EQ(initialized, 1);
    EXPECT_EQ(items, QStringList({Path("a/inner"), Path("b")}));
    EXPECT_EQ(window.SelectedPath(), Path("b"));
}

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

TEST_F(FolderBrowserWindowTest, VanishedFolderCannotBeConfirmed)
{
    FolderBrowserWindow window(&owner, {{}, {}, true, true});
    window.onInitialized = [&] { window.SelectFolder(Path("b")); };
    WhenModal([&](FolderBrowserWindow *) {
        ASSERT_TRUE(QDir(Path("b")).removeRecursively());
        QString folder;
        EXPECT_FALSE(FolderPathFromItem(window.SelectedPath(), &folder));
        window.accept();
        EXPECT_TRUE(window.isVisible());
        EXPECT_FALSE(OkButton(&window)->isEnabled());
        window.reject();
    });
    EXPECT_FALSE(window.Run());
}

TEST_F(FolderBrowserWindowTest, SelectionStaysBelowTheTop)
{
    FolderBrowserWindow window(&owner, {{}, Path("a"), true, false});
    WhenModal([&](FolderBrowserWindow *) {
        window.SelectFolder(Path("a/inner"));
        EXPECT_EQ(window.SelectedPath(), Path("a/inner"));
        window.SelectFolder(Path("b"));
        EXPECT_EQ(window.SelectedPath(), Path("a/inner"));
        window.accept();
    });
    EXPECT_TRUE(window.Run());
}

} // namespace
