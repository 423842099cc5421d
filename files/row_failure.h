// SPDX-License-Identifier: AGPL-3.0-or-later
#pragma once

#include <QString>

#include <cstdint>
#include <string>

class FileListOperations;
class QTreeWidget;
class QTreeWidgetItem;

// What a row of the file list tells about its file beyond its two texts: a file that could not
// be read when it was added, or whose last conversion failed, has the reason as its tooltip; a
// failed conversion also puts a warning icon in place of the file's own.

// The row's tooltip: its failure when it has one, else its whole path.
QString RowToolTip(const QString &path, const QString &failure);

// The failure a row shows now; empty when it has none.
QString RowFailure(const QTreeWidgetItem &item);

// For a row just added for `path`, which the viewer counted `pages` pages in: without pages,
// the file is opened once more to learn why, and the row shows it.
void ShowAddedRowState(QTreeWidgetItem &item, const std::string &path, int32_t pages);

// Every row as it was added: its own icon back, no failure.
void ClearRowFailures(QTreeWidget &list);

// The conversion of `input`, read from row `row` of `list`, failed for `reason`. Rows removed
// since the run read it have moved the row up, and it is looked for there.
void ShowConversionFailure(FileListOperations &list, int32_t row, const std::string &input,
                           const std::string &reason);
