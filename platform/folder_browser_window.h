// SPDX-License-Identifier: AGPL-3.0-or-later
#pragma once

#include <QDialog>
#include <QString>
#include <functional>

class QCheckBox;
class QDialogButtonBox;
class QFileSystemModel;
class QLabel;
class QTreeView;

// The modal folder chooser: a tree of the file system's folders with a title text above it, an
// optional status line, a switch that shows hidden folders, and OK/Cancel. Its owner learns of it
// through two callbacks, one when the window exists and one on every selection change, and may
// steer it while it is open.
class FolderBrowserWindow : public QDialog {
    Q_OBJECT

public:
    struct Options {
        QString title;
        // The tree's top folder; empty shows the whole file system from "/".
        QString rootPath;
        bool fileSystemFoldersOnly = false;
        bool statusLine = false;
    };

    FolderBrowserWindow(QWidget *owner, const Options &options);

    // Called once, after the window is built and before the user can act on it.
    std::function<void()> onInitialized;
    // Called with the newly selected tree item (its path; empty when nothing is selected).
    // FolderPathFromItem tells whether it is still a folder of the file system.
    std::function<void(const QString &item)> onSelectionChanged;

    // Runs the window modally; returns true when the user confirmed a folder.
    bool Run();

    // Selects the folder with that path and scrolls it into view; a path that is not an existing
    // folder under the tree's top leaves the selection as it is.
    void SelectFolder(const QString &path);
    // Shows the text in the status line, shortened in the middle to the line's width (the whole
    // text is its tooltip); without a status line, does nothing.
    void SetStatusText(const QString &text);
    // Shows or hides the folders whose names start with a dot.
    void ShowHiddenFolders(bool show);

    // The path of the selected folder; empty when nothing is selected.
    QString SelectedPath() const;
    QString StatusText() const;
    // The status line as shown, after shortening.
    QString ShownStatusText() const;
    bool CanConfirm() const;
    QTreeView *Tree() const { return tree; }
    QCheckBox *HiddenFoldersSwitch() const { return hiddenSwitch; }

    void accept() override;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    void OnCurrentChanged();
    void ElideStatusText();
    void KeepWithinScreen();
    void UpdateConfirmButton();
    void RevealSelection();

    Options options;
    QFileSystemModel *model;
    QTreeView *tree;
    QLabel *titleLabel;
    QLabel *statusLabel = nullptr;
    QString statusText;
    QCheckBox *hiddenSwitch;
    QDialogButtonBox *buttons;
    // The folder that SelectFolder chose, kept in view while the tree is still reading the
    // folders around it; cleared once the user acts on the tree.
    QString revealPath;
    // A folder inside a hidden one that SelectFolder chose before the tree had taken in the
    // hidden folders; selected once they are there.
    QString pendingPath;
};

// The file-system path of a tree item: true with the path when the item is an existing folder.
bool FolderPathFromItem(const QString &item, QString *path);
