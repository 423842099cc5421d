// SPDX-License-Identifier: AGPL-3.0-or-later
#include "files/file_list_operations.h"

#include "files/path_column_delegate.h"
#include "files/row_failure.h"
#include "platform/dialog_template.h"
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
#include <QTimer>
#include <QTreeWidget>
#include <QUrl>

namespace {

const QString kInputDirKey = QStringLiteral("InputDir");
constexpr int16_t kViewerZoom = 100;

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

QString DisplayPath(const std::string &path)
{
    return QFile::decodeName(QByteArray::fromStdString(path));
}

} // namespace

PathList DroppedPaths(const QMimeData &data)
{
    PathList paths;
    for (const QUrl &url : data.urls()) {
        if (url.isLocalFile()) {
            paths.push_back(QFile::encodeName(url.toLocalFile()).toStdString());
        }
    }
    return paths;
}

// Takes drops of files on the window. The paths are copied out of the drop at once and added
// once the drop has finished, so the program that the files come from is not kept waiting
// while every file is opened and counted.
class FileListOperations::DropFilter : public QObject {
public:
    explicit DropFilter(FileListOperations &operations) : operations_(operations) {}

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
            drag->acceptProposedAction();
            return true;
        }
        case QEvent::Drop: {
            auto *drop = static_cast<QDropEvent *>(event);
            PathList paths = DroppedPaths(*drop->mimeData());
            if (paths.empty()) {
                return false;
            }
            drop->acceptProposedAction();
            QTimer::singleShot(
                0, this, [this, paths = std::move(paths)] { operations_.OnDropFiles(paths); });
            return true;
        }
        default:
            return QObject::eventFilter(watched, event);
        }
    }

private:
    FileListOperations &operations_;
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
    WriteProfileString(kProfileSection, kInputDirKey, DisplayPath(resolved.inputDir));
    out.insert(out.end(), resolved.paths.begin(), resolved.paths.end());
}

void FileListOperations::AddFilesToList(const PathList &paths)
{
    if (paths.empty()) {
        return;
    }
    for (const std::string &path : paths) {
        const QString text = DisplayPath(path);
        const int row = GetRowCount();
        std::optional<QIcon> icon;
        if (iconProvider_) {
            icon = iconProvider_->icon(QFileInfo(text));
            if (icon->isNull()) {
                icon = iconProvider_->icon(QAbstractFileIconProvider::File);
            }
        }
        SetListItem(text, row, 0, icon);
        docViewer.OpenDocument(text, QString(), QString(), kViewerZoom);
        const int32_t pages = docViewer.GetPageCount();
        docViewer.CloseDocument();
        SetListItem(QString::number(pages), row, 1, std::nullopt);
        if (QTreeWidgetItem *item = FileList() ? FileList()->topLevelItem(row) : nullptr) {
            ShowAddedRowState(*item, path, pages);
        }
    }
    EnableControl(FileListControl::kRemoveAll, true);
    EnableControl(FileListControl::kConvert, true);
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
    const QTreeWidgetItem *item = row >= 0 ? list->topLevelItem(row) : nullptr;
    const QString text = item ? item->text(0) : QString();
    if (text.isEmpty() || text == lastPreviewedPath) {
        return;
    }
    RunReportingFailures([&] {
        docViewer.CloseDocument();
        docViewer.OpenDocument(text, QString(), QString(), kViewerZoom);
        docViewer.ApplyPreviewSetting(1);
        docViewer.ApplyDisplaySetting(3);
        EnableControl(FileListControl::kRemove, !list->selectedItems().isEmpty());
        lastPreviewedPath = text;
    });
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
    return QFile::encodeName(item->text(0)).toStdString();
}
