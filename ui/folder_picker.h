// SPDX-License-Identifier: AGPL-3.0-or-later
#pragma once

#include "ui/folder_browser.h"

class QLineEdit;

// The destination folder browser: opens on a preselected folder and shows the path of the
// selected folder in its status line.
class FolderPicker : public FolderBrowser {
public:
    FolderPicker(QWidget *owner, int titleId);
    ~FolderPicker() override;

    void SetInitialPath(const QString &path) { initialPath = path; }

protected:
    void OnInitialized() override;
    void OnSelectionChanged(const QString &item) override;

private:
    QString initialPath;
};

// The Browse button's work: opens the picker on the folder remembered as InitialDir and, when
// the user confirms a folder, remembers it and puts its path into `destination`.
void BrowseForDestination(QWidget *owner, QLineEdit *destination);
