// SPDX-License-Identifier: AGPL-3.0-or-later
#pragma once

#include <QString>
#include <cstdint>
#include <optional>

class FolderBrowserWindow;
class QWidget;

// What the folder browser allows, set with FolderBrowser::SetFlags.
namespace BrowseFlag {
constexpr uint32_t ReturnOnlyFsDirs = 0x1; // only folders of the file system can be confirmed
constexpr uint32_t StatusText = 0x4;       // the browser has a status line
} // namespace BrowseFlag

// The notifications the browser sends to its callback.
namespace BrowseNotification {
constexpr int Initialized = 1;
constexpr int SelectionChanged = 2;
} // namespace BrowseNotification

class FolderBrowser;
using BrowseCallbackProc = int (*)(FolderBrowserWindow *window, int notification,
                                   const QString &item, FolderBrowser *data);

// Everything the folder browser is run with.
struct BrowseInfo {
    QWidget *owner = nullptr;
    // Top of the browser's tree; empty for the whole file system.
    QString root;
    // Receives the chosen item's display name.
    QString *displayName = nullptr;
    // The title text; nothing for a browser without title.
    const QString *title = nullptr;
    uint32_t flags = 0;
    BrowseCallbackProc callback = nullptr;
    FolderBrowser *callbackData = nullptr;
};

// A modal folder browser with two hooks, OnInitialized and OnSelectionChanged, for a derived
// class to steer it while it is open. Only derived classes are ever used.
class FolderBrowser {
public:
    FolderBrowser(QWidget *owner, const QString &root, int titleId);
    virtual ~FolderBrowser() = 0;
    FolderBrowser(const FolderBrowser &) = delete;
    FolderBrowser &operator=(const FolderBrowser &) = delete;

    // These four do nothing while the browser window is open.
    void SetOwner(QWidget *owner);
    void SetRoot(const QString &root);
    void SetFlags(uint32_t flags);
    void SetTitleText(const QString &text);
    // Loads the title from the string table; false (title unchanged) for an unknown id.
    bool SetTitleFromResource(int id);

    // Runs the browser modally; true when the user confirmed a folder of the file system.
    bool Browse();
    QString GetFolderPath() const { return pathArea; }

    // These two act on the open browser window only.
    void SelectFolder(const QString &path);
    void ShowStatusText(const QString &text);

    static int BrowseCallback(FolderBrowserWindow *window, int notification, const QString &item,
                              FolderBrowser *data);

    const BrowseInfo &Info() const { return browseInfo; }
    FolderBrowserWindow *BrowserWindow() const { return browserWindow; }

protected:
    virtual void OnInitialized();
    virtual void OnSelectionChanged(const QString &item);

private:
    std::optional<QString> titleHolder;
    BrowseInfo browseInfo;
    QString pathArea;
    FolderBrowserWindow *browserWindow = nullptr;
};
