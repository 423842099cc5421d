// SPDX-License-Identifier: AGPL-3.0-or-later
#include "ui/folder_picker.h"

#include "platform/folder_browser_window.h"
#include "platform/profile_file.h"
#include "ui/string_table.h"

#include <QLineEdit>

FolderPicker::FolderPicker(QWidget *owner, int titleId) : FolderBrowser(owner, QString(), titleId)
{
}

FolderPicker::~FolderPicker() = default;

void FolderPicker::OnInitialized()
{
    // Both go out even when there is no initial path: the status line then starts empty.
    SelectFolder(initialPath);
    ShowStatusText(initialPath);
}

void FolderPicker::OnSelectionChanged(const QString &item)
{
    QString path;
    if (!FolderPathFromItem(item, &path))
        path.clear();
    ShowStatusText(path);
}

void BrowseForDestination(QWidget *owner, QLineEdit *destination)
{
    const QString initialDir =
        ReadProfileString(kProfileSection, QStringLiteral("InitialDir"), QString());
    FolderPicker picker(owner, IDS_SELECT_OUTPUT_FOLDER);
    picker.SetFlags(BrowseFlag::ReturnOnlyFsDirs | BrowseFlag::StatusText);
    picker.SetInitialPath(initialDir);
    if (!picker.Browse())
        return;
    const QString path = picker.GetFolderPath();
    WriteProfileString(kProfileSection, QStringLiteral("InitialDir"), path);
    if (destination)
        destination->setText(path);
}
