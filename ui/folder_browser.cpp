// SPDX-License-Identifier: AGPL-3.0-or-later
#include "ui/folder_browser.h"

#include "platform/folder_browser_window.h"
#include "ui/string_table.h"

#include <QFileInfo>

FolderBrowser::FolderBrowser(QWidget *owner, const QString &root, int titleId)
{
    SetOwner(owner);
    SetRoot(root);
    SetTitleFromResource(titleId);
    browseInfo.callback = BrowseCallback;
    browseInfo.callbackData = this;
    browseInfo.displayName = &pathArea;
}

FolderBrowser::~FolderBrowser() = default;

void FolderBrowser::SetOwner(QWidget *owner)
{
    if (!browserWindow)
        browseInfo.owner = owner;
}

void FolderBrowser::SetRoot(const QString &root)
{
    if (!browserWindow)
        browseInfo.root = root;
}

void FolderBrowser::SetFlags(uint32_t flags)
{
    if (!browserWindow)
        browseInfo.flags = flags;
}

void FolderBrowser::SetTitleText(const QString &text)
{
    if (browserWindow)
        return;
    titleHolder = text;
    browseInfo.title = &*titleHolder;
}

bool FolderBrowser::SetTitleFromResource(int id)
{
    if (id <= 0)
        return false;
    const QString text = LoadResourceString(id);
    if (text.isEmpty())
        return false;
    SetTitleText(text);
    return true;
}

bool FolderBrowser::Browse()
{
    FolderBrowserWindow::Options options;
    options.title = browseInfo.title ? *browseInfo.title : QString();
    options.rootPath = browseInfo.root;
    options.fileSystemFoldersOnly = browseInfo.flags & BrowseFlag::ReturnOnlyFsDirs;
    options.statusLine = browseInfo.flags & BrowseFlag::StatusText;
    FolderBrowserWindow window(browseInfo.owner, options);
    const BrowseInfo info = browseInfo;
    window.onInitialized = [&window, info] {
        info.callback(&window, BrowseNotification::Initialized, QString(), info.callbackData);
    };
    window.onSelectionChanged = [&window, info](const QString &item) {
        info.callback(&window, BrowseNotification::SelectionChanged, item, info.callbackData);
    };

    bool result = false;
    if (window.Run()) {
        const QString item = window.SelectedPath();
        *browseInfo.displayName = QFileInfo(item).fileName();
        result = FolderPathFromItem(item, browseInfo.displayName);
    }
    browserWindow = nullptr;
    return result;
}

void FolderBrowser::SelectFolder(const QString &path)
{
    if (browserWindow)
        browserWindow->SelectFolder(path);
}

void FolderBrowser::ShowStatusText(const QString &text)
{
    if (browserWindow)
        browserWindow->SetStatusText(text);
}

int FolderBrowser::BrowseCallback(FolderBrowserWindow *window, int notification,
                                  const QString &item, FolderBrowser *data)
{
    data->browserWindow = window;
    if (notification == BrowseNotification::Initialized)
        data->OnInitialized();
    else if (notification == BrowseNotification::SelectionChanged)
        data->OnSelectionChanged(item);
    return 0;
}

void FolderBrowser::OnInitialized() {}

void FolderBrowser::OnSelectionChanged(const QString &) {}
