// SPDX-License-Identifier: AGPL-3.0-or-later
#pragma once

#include "files/c_doc_viewer.h"
#include "files/open_file_dialog.h"
#include "files/path_list.h"

#include <QFile>
#include <QIcon>
#include <QString>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

class QFileIconProvider;
class QMimeData;
class QTreeWidget;
class QWidget;
class TemplateDialog;

// Ids of the main window's controls that the file list works with.
namespace FileListControl {
constexpr int kList = 1030;
constexpr int kAdd = 1031;
constexpr int kRemove = 1032;
constexpr int kConvert = 1034;
constexpr int kViewer = 1036;
constexpr int kRemoveAll = 1037;
} // namespace FileListControl

// The local files named by a drop's text/uri-list, in the order given, with the exact bytes of
// their names; other URLs are left out.
PathList DroppedPaths(const QMimeData &data);

// How a drop of files is answered whatever the source proposes: as a copy, else as a link; a
// source that offers neither is refused.
Qt::DropAction FileDropAction(Qt::DropActions offered);

// The file list of the main window: the list control 1030 is the only store of the input paths,
// column 0 holding the full path and column 1 the page count. The window derives from this class,
// so the operations are its own; `dialog` is that window, whose controls are looked up by id once
// it has been built.
class FileListOperations {
public:
    explicit FileListOperations(TemplateDialog *dialog);
    virtual ~FileListOperations();
    FileListOperations(const FileListOperations &) = delete;
    FileListOperations &operator=(const FileListOperations &) = delete;

    // Columns, selection and header behaviour of the list; binds the viewer wrapper to control
    // 1036.
    void InitFileList();
    // Rows added from now on carry the desktop's icon for their file.
    void AttachSystemImageLists();
    void DetachSystemImageLists();
    // Switches the window's acceptance of files dropped on it.
    void DragAcceptFiles(bool accept);

    // Handlers. A failing viewer call ends the handler and is reported in a message box.
    void OnAdd();
    // `row` is the clicked row, -1 for a click below the rows.
    void OnClickFileList(int row);
    // The selection moved by a key in the list: one row selected is previewed, as a click on it
    // does, and any selection can be removed.
    void OnKeyboardSelection();
    void OnRemove();
    void OnRemoveAll();
    void OnDropFiles(const PathList &dropped);

    void PromptForFiles(QWidget *owner, PathList &out);
    // Appends one row per path with its icon and page count; enables Remove all and Convert.
    // A path made from text that lost bytes of its name, and whose file cannot be found again,
    // is refused with a message instead of becoming a row.
    void AddFilesToList(const PathList &paths);
    // Column 0 inserts a new row at `row`; another column sets that cell of the existing row.
    void SetListItem(const QString &text, int row, int column, const std::optional<QIcon> &icon);

    int32_t GetRowCount() const;
    // The exact bytes of the row's path, which column 0 shows as text; none when the row does
    // not exist.
    std::optional<std::string> GetRowPath(int32_t row) const;

    QTreeWidget *FileList() const;
    CDocViewer &DocViewer() { return docViewer; }
    QString LastPreviewedPath() const { return QFile::decodeName(lastPreviewedPath.c_str()); }
    void SetOpenFileDialog(OpenFileDialogFunction dialogFunction);

private:
    class DropFilter;
    class KeyboardSelection;

    void EnableControl(int id, bool enable) const;
    // Runs a handler's body; a failure of the viewer control ends it and is reported.
    template <class Body> void RunReportingFailures(Body body);

    TemplateDialog *dialog_;
    CDocViewer docViewer;
    std::string lastPreviewedPath; // exact bytes; empty when nothing is on show
    std::unique_ptr<QFileIconProvider> iconProvider_;
    std::unique_ptr<DropFilter> dropFilter_;
    std::unique_ptr<KeyboardSelection> keyboardSelection_;
    OpenFileDialogFunction openFileDialog_ = ShowOpenFileDialog;
};
