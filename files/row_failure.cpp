// SPDX-License-Identifier: AGPL-3.0-or-later
#include "files/row_failure.h"

#include "core/failure_reason.h"
#include "files/file_list_operations.h"
#include "remote/remote_document.h"

#include <QFile>
#include <QIcon>
#include <QStyle>
#include <QTreeWidget>

#include <algorithm>

namespace {

// Kept in column 0 of the row. Far from Qt::UserRole itself, which the list may use for its
// own purposes.
constexpr int kFailureRole = Qt::UserRole + 0x100;
// The file's own icon, put aside while the warning icon shows.
constexpr int kFileIconRole = Qt::UserRole + 0x101;

QString Local(const std::string &text)
{
    return QFile::decodeName(QByteArray::fromStdString(text));
}

// The tooltip, and for screen readers the description of every cell: a failed row's reason
// is otherwise only its icon.
void ShowToolTip(QTreeWidgetItem &item)
{
    const QString failure = RowFailure(item);
    const QString tip = RowToolTip(item.text(0), failure);
    const int columns = item.treeWidget() ? item.treeWidget()->columnCount() : item.columnCount();
    for (int column = 0; column < columns; ++column) {
        item.setToolTip(column, tip);
        item.setData(column, Qt::AccessibleDescriptionRole,
                     failure.isEmpty() ? QVariant() : QVariant(failure));
    }
}

// Why the renderer refuses the file, in plain words; empty when it opens.
std::string OpenFailure(const std::string &path)
{
    // The page count has just tried it: a helper that hung or died on it would again.
    if (const std::optional<render::RenderError> failure = remote::LastOpenFailure(path)) {
        return FailureReason(failure->what(), std::string(), path);
    }
    try {
        const remote::RemoteDocument document(remote::SharedHelper(), path);
        return {};
    } catch (const render::RenderError &error) {
        return FailureReason(error.what(), std::string(), path);
    } catch (const std::exception &) {
        return {};
    }
}

} // namespace

QString RowToolTip(const QString &path, const QString &failure)
{
    return failure.isEmpty() ? path : failure;
}

QString RowFailure(const QTreeWidgetItem &item)
{
    return item.data(0, kFailureRole).toString();
}

void ShowAddedRowState(QTreeWidgetItem &item, const std::string &path, int32_t pages)
{
    if (pages <= 0) {
        const std::string reason = OpenFailure(path);
        if (!reason.empty()) {
            item.setData(0, kFailureRole, QStringLiteral("Could not be read: ") + Local(reason));
        }
    }
    ShowToolTip(item);
}

void ClearRowFailures(QTreeWidget &list)
{
    for (int row = 0; row < list.topLevelItemCount(); ++row) {
        QTreeWidgetItem &item = *list.topLevelItem(row);
        if (RowFailure(item).isEmpty()) {
            continue;
        }
        const QVariant fileIcon = item.data(0, kFileIconRole);
        if (fileIcon.isValid()) {
            item.setIcon(0, fileIcon.value<QIcon>());
            item.setData(0, kFileIconRole, QVariant());
        }
        item.setData(0, kFailureRole, QVariant());
        ShowToolTip(item);
    }
}

void ShowConversionFailure(FileListOperations &list, int32_t row, const std::string &input,
                           const std::string &reason)
{
    QTreeWidget *tree = list.FileList();
    if (tree == nullptr) {
        return;
    }
    for (int32_t at = std::min(row, list.GetRowCount() - 1); at >= 0; --at) {
        if (list.GetRowPath(at) != input) {
            continue;
        }
        QTreeWidgetItem &item = *tree->topLevelItem(at);
        if (!item.data(0, kFileIconRole).isValid()) {
            item.setData(0, kFileIconRole, item.icon(0));
        }
        item.setIcon(0, tree->style()->standardIcon(QStyle::SP_MessageBoxWarning, nullptr, tree));
        item.setData(0, kFailureRole, QStringLiteral("Could not be converted: ") + Local(reason));
        ShowToolTip(item);
        return;
    }
}
