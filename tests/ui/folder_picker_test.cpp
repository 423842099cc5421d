// SPDX-License-Identifier: AGPL-3.0-or-later
#include "platform/folder_browser_window.h"
#include "platform/profile_file.h"
#include "ui/folder_picker.h"
#include "ui/main_dialog.h"
#include "ui/main_dialog_template.h"
#include "ui/string_table.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

// Acts on the folder browser once its modal loop shows it, so Browse() does not block the test.
void WhenBrowserShown(std::function<void(FolderBrowserWindow *)> action)
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

void Confirm(FolderBrowserWindow *window)
{
    window->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok)->click();
}

QString TitleOf(FolderBrowserWindow *window)
{
    // The title is the first label of the window; the status line comes after it.
    return window->findChildren<QLabel *>().value(0)->text();
}

class FolderPickerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(config.isValid());
        ASSERT_TRUE(folders.isValid());
        previous = qgetenv("XDG_CONFIG_HOME");
        qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
        ASSERT_TRUE(QDir(folders.path()).mkpath("out/one"));
        ASSERT_TRUE(QDir(folders.path()).mkpath("other"));
    }
    void TearDown() override { qputenv("XDG_CONFIG_HOME", previous); }

    QString Folder(const char *name) const { return QDir(folders.path()).filePath(name); }
    QString InitialDir() const
    {
        return ReadProfileString(kProfileSection, "InitialDir", "<missing>");
    }

    QTemporaryDir config;
    QTemporaryDir folders;
    QByteArray previous;
    QWidget owner;
    QLineEdit destination{&owner};
};

TEST_F(FolderPickerTest, FirstUseOpensWithTitleAndConfirmedFolderIsWrittenAndRemembered)
{
    bool shown = false;
    WhenBrowserShown([&](FolderBrowserWindow *window) {
        shown = true;
        EXPECT_EQ(window->parentWidget(), &owner);
        EXPECT_EQ(TitleOf(window), "Please select an output folder:");
        // No remembered folder: the browser's own default selection, shown in the status line.
        EXPECT_EQ(window->SelectedPath(), QDir::homePath());
        EXPECT_EQ(window->StatusText(), QDir::homePath());
        window->SelectFolder(Folder("out/one"));
        EXPECT_EQ(window->StatusText(), Folder("out/one"));
        window->SelectFolder(Folder("other"));
        EXPECT_EQ(window->StatusText(), Folder("other"));
        Confirm(window);
    });
    BrowseForDestination(&owner, &destination);
    EXPECT_TRUE(shown);
    EXPECT_EQ(destination.text(), Folder("other"));
    EXPECT_EQ(InitialDir(), Folder("other"));
}

TEST_F(FolderPickerTest, RememberedFolderIsPreselectedAndCancelChangesNothing)
{
    WriteProfileString(kProfileSection, "InitialDir", Folder("out/one"));
    destination.setText("typed/by/the user");
    WhenBrowserShown([&](FolderBrowserWindow *window) {
        EXPECT_EQ(window->SelectedPath(), Folder("out/one"));
        EXPECT_EQ(window->StatusText(), Folder("out/one"));
        window->SelectFolder(Folder("other"));
        window->reject();
    });
    BrowseForDestination(&owner, &destination);
    EXPECT_EQ(destination.text(), "typed/by/the user");
    EXPECT_EQ(InitialDir(), Folder("out/one"));
}

TEST_F(FolderPickerTest, VanishedRememberedFolderLeavesTheDefaultSelection)
{
    const QString gone = Folder("gone");
    WriteProfileString(kProfileSection, "InitialDir", gone);
    WhenBrowserShown([&](FolderBrowserWindow *window) {
        EXPECT_EQ(window->SelectedPath(), QDir::homePath());
        EXPECT_EQ(window->StatusText(), QDir::homePath());
        window->SelectFolder(Folder("out"));
        Confirm(window);
    });
    BrowseForDestination(&owner, &destination);
    EXPECT_EQ(destination.text(), Folder("out"));
    EXPECT_EQ(InitialDir(), Folder("out"));
}

TEST_F(FolderPickerTest, FolderVanishingWhileOpenEmptiesTheStatusAndCannotBeConfirmed)
{
    WriteProfileString(kProfileSection, "InitialDir", Folder("other"));
    WhenBrowserShown([&](FolderBrowserWindow *window) {
        ASSERT_TRUE(QDir(Folder("other")).removeRecursively());
        // The selection is reported again, as the platform does when an item changes.
        window->onSelectionChanged(window->SelectedPath());
        EXPECT_EQ(window->StatusText(), "");
        Confirm(window);
        EXPECT_TRUE(window->isVisible());
        window->reject();
    });
    BrowseForDestination(&owner, &destination);
    EXPECT_EQ(destination.text(), "");
    EXPECT_EQ(InitialDir(), Folder("other"));
}

TEST_F(FolderPickerTest, BrowseButtonFillsTheFieldAndANewRunStartsEmpty)
{
    WriteProfileString(kProfileSection, "InitialDir", Folder("out"));
    {
        MainDialog window;
        window.Create();
        auto *field = window.Item<QLineEdit>(MainControl::kDestination);
        ASSERT_NE(field, nullptr);
        EXPECT_EQ(field->text(), "");
        WhenBrowserShown([&](FolderBrowserWindow *browser) {
            EXPECT_EQ(browser->parentWidget(), &window);
            EXPECT_EQ(browser->SelectedPath(), Folder("out"));
            browser->SelectFolder(Folder("out/one"));
            Confirm(browser);
        });
        window.Item<QPushButton>(MainControl::kBrowse)->click();
        EXPECT_EQ(field->text(), Folder("out/one"));
    }
    EXPECT_EQ(InitialDir(), Folder("out/one"));
    MainDialog secondRun;
    secondRun.Create();
    EXPECT_EQ(secondRun.Item<QLineEdit>(MainControl::kDestination)->text(), "");
}

// Records the notifications in the order the browser sends them.
class RecordingBrowser : public FolderBrowser {
public:
    explicit RecordingBrowser(int titleId) : FolderBrowser(nullptr, QString(), titleId) {}
    QStringList calls;
    std::function<void()> whileInitializing;

protected:
    void OnInitialized() override
    {
        calls << QStringLiteral("initialized");
        EXPECT_NE(BrowserWindow(), nullptr);
        if (whileInitializing)
            whileInitializing();
    }
    void OnSelectionChanged(const QString &item) override { calls << item; }
};

TEST_F(FolderPickerTest, TitleFromResourceOnlyForKnownPositiveIds)
{
    RecordingBrowser browser(0);
    EXPECT_EQ(browser.Info().title, nullptr);
    EXPECT_FALSE(browser.SetTitleFromResource(-1));
    EXPECT_FALSE(browser.SetTitleFromResource(9999));
    EXPECT_EQ(browser.Info().title, nullptr);
    EXPECT_TRUE(browser.SetTitleFromResource(IDS_SELECT_OUTPUT_FOLDER));
    ASSERT_NE(browser.Info().title, nullptr);
    EXPECT_EQ(*browser.Info().title, "Please select an output folder:");
    EXPECT_FALSE(browser.SetTitleFromResource(0));
    EXPECT_EQ(*browser.Info().title, "Please select an output folder:");
}

TEST_F(FolderPickerTest, SettingsAreFrozenWhileOpenAndRequestsDroppedWhileClosed)
{
    RecordingBrowser browser(IDS_SELECT_OUTPUT_FOLDER);
    browser.SetFlags(BrowseFlag::ReturnOnlyFsDirs);
    browser.SelectFolder(Folder("out"));
    browser.ShowStatusText("dropped");
    browser.whileInitializing = [&] {
        browser.SetFlags(BrowseFlag::StatusText);
        browser.SetTitleText("late title");
        browser.SetOwner(&owner);
        browser.SelectFolder(Folder("out"));
    };
    WhenBrowserShown([&](FolderBrowserWindow *window) {
        EXPECT_EQ(TitleOf(window), "Please select an output folder:");
        // Without the status flag the window has no status line.
        window->SetStatusText("ignored");
        EXPECT_EQ(window->StatusText(), "");
        Confirm(window);
    });
    EXPECT_TRUE(browser.Browse());
    EXPECT_EQ(browser.calls, QStringList({"initialized", Folder("out")}));
    EXPECT_EQ(browser.GetFolderPath(), Folder("out"));
    EXPECT_EQ(browser.BrowserWindow(), nullptr);
    EXPECT_EQ(browser.Info().flags, BrowseFlag::ReturnOnlyFsDirs);
    EXPECT_EQ(browser.Info().owner, nullptr);
    EXPECT_EQ(*browser.Info().title, "Please select an output folder:");
}

TEST_F(FolderPickerTest, ConfirmedItemWithoutFolderPathCountsAsCancel)
{
    // Without the file-system flag the window lets any item be confirmed.
    RecordingBrowser browser(IDS_SELECT_OUTPUT_FOLDER);
    browser.whileInitializing = [&] { browser.SelectFolder(Folder("other")); };
    WhenBrowserShown([&](FolderBrowserWindow *window) {
        ASSERT_TRUE(QDir(Folder("other")).removeRecursively());
        Confirm(window);
    });
    EXPECT_FALSE(browser.Browse());
    // The area keeps the item's display name only.
    EXPECT_EQ(browser.GetFolderPath(), "other");
}

} // namespace
