// SPDX-License-Identifier: AGPL-3.0-or-later
#include "files/file_list_operations.h"

#include "files/path_column_delegate.h"
#include "files/row_failure.h"
#include "platform/dialog_template.h"
#include "platform/file_name_bytes.h"
#include "platform/message_box.h"
#include "platform/profile_file.h"
#include "viewer/dispatch_target.h"

#include <QDropEvent>
#include <QFile>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QHeaderView>
#include <QMimeData>
#include <QPainter>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QSysInfo>
#include <QTimer>
#include <QTreeWidget>

namespace {

const QString kInputDirKey = QStringLiteral("InputDir");
constexpr int16_t kViewerZoom = 100;
// Column 0 shows the path as text; the path's exact bytes ride along under this role.
constexpr int kPathBytesRole = Qt::UserRole;

// Thin lines between the cells, as a grid.
class GridLineDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override
    {
        QStyledItemDelegate::paint(painter, option, index);
        painter->save();
        painter->setPen(option.palette.color(QPalette::Midlight));
        painter->drawLine(option.rect.topRight(), option.rect.bottomRight());
        painter->drawLine(option.rect.bottomLeft(), option.rect.bottomRight());
        painter->restore();
    }
};

bool StartsWithIgnoringCase(const QByteArray &text, const char *prefix)
{
    return text.left(qstrlen(prefix)).compare(prefix, Qt::CaseInsensitive) == 0;
}

// The local path of one line of a text/uri-list, percent escapes decoded to the bytes they
// stand for; none for any other address.
std::optional<std::string> LocalPathOfUri(const QByteArray &uri)
{
    if (!StartsWithIgnoringCase(uri, "file:")) {
        return std::nullopt;
    }
    QByteArray rest = uri.mid(5);
    if (rest.startsWith("//")) {
        const qsizetype pathStart = rest.indexOf('/', 2);
        const QByteArray host = rest.mid(2, pathStart < 0 ? -1 : pathStart - 2);
        if (!host.isEmpty() && host.compare("localhost", Qt::CaseInsensitive) != 0 &&
            host.compare(QSysInfo::machineHostName().toUtf8(), Qt::CaseInsensitive) != 0) {
            return std::nullopt;
        }
        rest = pathStart < 0 ? QByteArray() : rest.mid(pathStart);
    }
    const qsizetype end = rest.indexOf('?') >= 0 ? rest.indexOf('?') : rest.indexOf('#');
    if (end >= 0) {
        rest.truncate(end);
    }
    const QByteArray path = QByteArray::fromPercentEncoding(rest);
    if (!path.startsWith('/') || path.contains('\0')) {
        return std::nullopt;
    }
    return path.toStdString();
}

} // namespace

PathList DroppedPaths(const QMimeData &data)
{
    // The list's own bytes, not QMimeData::urls(): a URL turned into text loses the bytes of a
    // file name that is not valid UTF-8.
    PathList paths;
    for (QByteArray line : data.data(QStringLiteral("text/uri-list")).split('\n')) {
        line = line.trimmed();
        if (line.isEmpty() || line.startsWith('#')) {
            continue;
        }
        if (std::optional<std::string> path = LocalPathOfUri(line)) {
            paths.push_back(std::move(*path));
        }
    }
    return paths;
}

Qt::DropAction FileDropAction(Qt::DropActions offered)
{
    if (offered & Qt::CopyAction) {
        return Qt::CopyAction;
    }
    if (offered & Qt::LinkAction) {
        return Qt::LinkAction;
    }
    return Qt::IgnoreAction;
}

// Takes drops of files on the window. The paths are copied out of the drop at once and added
// once the drop has finished, so the program that the files come from is not kept waiting
// while every file is opened and counted. The add waits for a timer, not a posted call: while
// an engine runs only painting is handled and timers are held back, so a drop made then is
// added at the next dispatch instead of changing the list during the wait.
class FileListOperations::DropFilter : public QObject {
public:
    explicit DropFilter(FileListOperations &operations) : operations_(operations)
    {
        addTimer_.setSingleShot(true);
        addTimer_.setInterval(0);
        connect(&addTimer_, &QTimer::timeout, this, [this] {
            PathList paths;
            paths.swap(pending_);
            operations_.OnDropFiles(paths);
        });
    }

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        switch (event->type()) {
        case QEvent::DragEnter:
        case QEvent::DragMove: {
            // Drags without local files are left to the control under the pointer: text
            // dragged into an edit still lands there.
            auto *drag = static_cast<QDropEvent *>(event);
            if (DroppedPaths(*drag->mimeData()).empty()) {
                return false;
            }
            return AcceptAsCopy(drag);
        }
        case QEvent::Drop: {
            auto *drop = static_cast<QDropEvent *>(event);
            PathList paths = DroppedPaths(*drop->mimeData());
            if (paths.empty()) {
                return false;
            }
            if (AcceptAsCopy(drop)) {
                pending_.insert(pending_.end(), paths.begin(), paths.end());
                addTimer_.start();
            }
            return true;
        }
        default:
            return QObject::eventFilter(watched, event);
        }
    }

private:
    // The files are only read: a drop answered as a move would let the source delete them.
    static bool AcceptAsCopy(QDropEvent *event)
    {
        const Qt::DropAction action = FileDropAction(event->possibleActions());
        if (action == Qt::IgnoreAction) {
            event->ignore();
            return false;
        }
        event->setDropAction(action);
        event->accept();
        return true;
    }

    FileListOperations &operations_;
    PathList pending_;
    QTimer addTimer_;
};

// Tells selection changes made by a key in the list from those the program makes: only the
// former act as a click. A key press reaches the list's filters just before the list moves the
// selection in answer; any other event to the list ends that key's turn.
class FileListOperations::KeyboardSelection : public QObject {
public:
    KeyboardSelection(FileListOperations &operations, QTreeWidget &list) : operations_(operations)
    {
        list.installEventFilter(this);
        connect(&list, &QTreeWidget::itemSelectionChanged, this, [this] {
            if (!byKey_) {
                return;
            }
            byKey_ = false;
            operations_.OnKeyboardSelection();
        });
    }

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        byKey_ = event->type() == QEvent::KeyPress;
        return QObject::eventFilter(watched, event);
    }

private:
    FileListOperations &operations_;
    bool byKey_ = false;
};

FileListOperations::FileListOperations(TemplateDialog *dialog) : dialog_(dialog) {}

FileListOperations::~FileListOperations() = default;

QTreeWidget *FileListOperations::FileList() const
{
    return dialog_->Item<QTreeWidget>(FileListControl::kList);
}

void FileListOperations::SetOpenFileDialog(OpenFileDialogFunction dialogFunction)
{
    openFileDialog_ = std::move(dialogFunction);
}

void FileListOperations::EnableControl(int id, bool enable) const
{
    if (QWidget *control = dialog_->GetDlgItem(id)) {
        control->setEnabled(enable);
    }
}

template <class Body> void FileListOperations::RunReportingFailures(Body body)
{
    QString description;
    try {
        body();
        return;
    } catch (const DispatchError &error) {
        description = error.description();
    } catch (const std::exception &) {
        // Not the viewer's own error: there is no description to show.
    }
    if (description.isEmpty()) {
        description = QStringLiteral("Internal application error.");
    }
    ShowAppMessage(dialog_, description, QMessageBox::Critical);
}

void FileListOperations::InitFileList()
{
    docViewer.Attach(dialog_->GetDlgItem(FileListControl::kViewer));
    QTreeWidget *list = FileList();
    if (list == nullptr) {
        return;
    }
    list->setColumnCount(2);
    list->setHeaderLabels({QStringLiteral("PDF File"), QStringLiteral("Page Count")});
    list->setHeaderHidden(false);
    list->setRootIsDecorated(false);
    list->setItemsExpandable(false);
    list->setUniformRowHeights(true);
    list->setSortingEnabled(false);
    list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    list->setAllColumnsShowFocus(true);
    list->setItemDelegate(new GridLineDelegate(list));
    PathColumnDelegate::Install(list, 0);
    QHeaderView *header = list->header();
    header->setSectionsMovable(true);
    header->setStretchLastSection(false);
    header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    const int half = list->frameGeometry().width() / 2;
    list->setColumnWidth(0, half);
    list->setColumnWidth(1, half);
    keyboardSelection_ = std::make_unique<KeyboardSelection>(*this, *list);
}

void FileListOperations::AttachSystemImageLists()
{
    iconProvider_ = std::make_unique<QFileIconProvider>();
    if (QTreeWidget *list = FileList()) {
        const int side = list->style()->pixelMetric(QStyle::PM_SmallIconSize, nullptr, list);
        list->setIconSize(QSize(side, side));
    }
}

void FileListOperations::DetachSystemImageLists()
{
    iconProvider_.reset();
}

void FileListOperations::DragAcceptFiles(bool accept)
{
    dialog_->setAcceptDrops(accept);
    if (accept && !dropFilter_) {
        dropFilter_ = std::make_unique<DropFilter>(*this);
        dialog_->installEventFilter(dropFilter_.get());
        // A drag goes to the control under the pointer when that control takes drops, as edits
        // do, and never reaches the window: files dropped there must still become rows.
        for (QWidget *child : dialog_->findChildren<QWidget *>()) {
            if (child->acceptDrops()) {
                child->installEventFilter(dropFilter_.get());
            }
        }
    } else if (!accept) {
        dropFilter_.reset();
    }
}

void FileListOperations::OnAdd()
{
    RunReportingFailures([this] {
        PathList paths;
        PromptForFiles(dialog_, paths);
        AddFilesToList(paths);
    });
}

void FileListOperations::PromptForFiles(QWidget *owner, PathList &out)
{
    OpenFileRequest request;
    request.owner = owner;
    request.title = QStringLiteral("Quenlix");
    request.filters = {QStringLiteral("PDF File(*.pdf)"), QStringLiteral("ALL File(*.*)")};
    request.initialDir = ReadProfileString(kProfileSection, kInputDirKey, QString());
    request.defaultSuffix = QStringLiteral("PDF");
    const std::optional<FileSelection> selection = openFileDialog_(request);
    if (!selection || selection->first.empty()) {
        return;
    }
    ResolvedSelection resolved = ResolveSelection(*selection, PathStyle::Posix);
    WriteProfileString(kProfileSection, kInputDirKey, DisplayName(resolved.inputDir));
    out.insert(out.end(), resolved.paths.begin(), resolved.paths.end());
}

void FileListOperations::AddFilesToList(const PathList &paths)
{
    if (paths.empty()) {
        return;
    }
    QStringList refused;
    for (const std::string &given : paths) {
        // A name that reached us as text with replacement characters is looked up again; a row
        // whose path names no file would only fail later, without saying why.
        const std::optional<std::string> path = RecoverPathBytes(given);
        if (!path) {
            refused << DisplayName(given);
            continue;
        }
        const QString text = DisplayName(*path);
        const int row = GetRowCount();
        std::optional<QIcon> icon;
        if (iconProvider_) {
            icon = iconProvider_->icon(QFileInfo(text));
            if (icon->isNull()) {
                icon = iconProvider_->icon(QAbstractFileIconProvider::File);
            }
        }
        SetListItem(text, row, 0, icon);
        FileList()->topLevelItem(row)->setData(0, kPathBytesRole, QByteArray::fromStdString(*path));
        // Counting replaces whatever the viewer showed, so the next click on that row must
        // preview it again.
        lastPreviewedPath.clear();
        const TextPathAlias viewerPath(*path);
        docViewer.OpenDocument(viewerPath.Path(), QString(), QString(), kViewerZoom);
        const int32_t pages = docViewer.GetPageCount();
        docViewer.CloseDocument();
        SetListItem(QString::number(pages), row, 1, std::nullopt);
        if (QTreeWidgetItem *item = FileList() ? FileList()->topLevelItem(row) : nullptr) {
            ShowAddedRowState(*item, *path, pages);
        }
    }
    if (GetRowCount() > 0) {
        EnableControl(FileListControl::kRemoveAll, true);
        EnableControl(FileListControl::kConvert, true);
    }
    if (!refused.isEmpty()) {
        ShowAppMessage(dialog_,
                       QStringLiteral("These files were not added because their names could not "
                                      "be read exactly:\n%1")
                           .arg(refused.join(QLatin1Char('\n'))));
    }
}

void FileListOperations::SetListItem(const QString &text, int row, int column,
                                     const std::optional<QIcon> &icon)
{
    QTreeWidget *list = FileList();
    if (list == nullptr) {
        return;
    }
    QTreeWidgetItem *item = nullptr;
    if (column == 0) {
        item = new QTreeWidgetItem;
        list->insertTopLevelItem(row, item);
    } else {
        item = list->topLevelItem(row);
        if (item == nullptr) {
            return;
        }
    }
    item->setText(column, text);
    if (icon) {
        item->setIcon(column, *icon);
    }
}

void FileListOperations::OnClickFileList(int row)
{
    QTreeWidget *list = FileList();
    if (list == nullptr) {
        return;
    }
    const std::string path = GetRowPath(row).value_or(std::string());
    if (path.empty() || path == lastPreviewedPath) {
        return;
    }
    RunReportingFailures([&] {
        const TextPathAlias viewerPath(path);
        docViewer.CloseDocument();
        docViewer.OpenDocument(viewerPath.Path(), QString(), QString(), kViewerZoom);
        docViewer.ApplyPreviewSetting(1);
        docViewer.ApplyDisplaySetting(3);
        EnableControl(FileListControl::kRemove, !list->selectedItems().isEmpty());
        lastPreviewedPath = path;
    });
}

void FileListOperations::OnKeyboardSelection()
{
    QTreeWidget *list = FileList();
    if (list == nullptr) {
        return;
    }
    const QList<QTreeWidgetItem *> selected = list->selectedItems();
    EnableControl(FileListControl::kRemove, !selected.isEmpty());
    if (selected.size() == 1) {
        OnClickFileList(list->indexOfTopLevelItem(selected.front()));
    }
}

void FileListOperations::OnRemove()
{
    if (QTreeWidget *list = FileList()) {
        for (int row = list->topLevelItemCount() - 1; row >= 0; --row) {
            if (list->topLevelItem(row)->isSelected()) {
                delete list->takeTopLevelItem(row);
            }
        }
    }
    EnableControl(FileListControl::kRemove, false);
    if (GetRowCount() == 0) {
        EnableControl(FileListControl::kRemoveAll, false);
        EnableControl(FileListControl::kConvert, false);
    }
}

void FileListOperations::OnRemoveAll()
{
    if (QTreeWidget *list = FileList()) {
        list->clear();
    }
    EnableControl(FileListControl::kRemoveAll, false);
    EnableControl(FileListControl::kRemove, false);
    EnableControl(FileListControl::kConvert, false);
}

void FileListOperations::OnDropFiles(const PathList &dropped)
{
    RunReportingFailures([&] { AddFilesToList(dropped); });
}

int32_t FileListOperations::GetRowCount() const
{
    const QTreeWidget *list = FileList();
    return list ? list->topLevelItemCount() : 0;
}

std::optional<std::string> FileListOperations::GetRowPath(int32_t row) const
{
    const QTreeWidget *list = FileList();
    const QTreeWidgetItem *item = list && row >= 0 ? list->topLevelItem(row) : nullptr;
    if (item == nullptr) {
        return std::nullopt;
    }
    // A row put in the list as plain text carries no bytes; its text is then the path.
    const QVariant bytes = item->data(0, kPathBytesRole);
    return bytes.isValid() ? bytes.toByteArray().toStdString()
                           : QFile::encodeName(item->text(0)).toStdString();
}
