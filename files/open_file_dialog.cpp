// SPDX-License-Identifier: AGPL-3.0-or-later
#include "files/open_file_dialog.h"

#include <QFile>
#include <QFileDialog>

std::optional<FileSelection> ShowOpenFileDialog(const OpenFileRequest &request)
{
    QFileDialog dialog(request.owner, request.title, request.initialDir);
    dialog.setFileMode(QFileDialog::ExistingFiles);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setNameFilters(request.filters);
    dialog.setDefaultSuffix(request.defaultSuffix);
    if (dialog.exec() != QDialog::Accepted) {
        return std::nullopt;
    }
    const QStringList chosen = dialog.selectedFiles();
    if (chosen.isEmpty()) {
        return std::nullopt;
    }
    std::vector<std::string> paths;
    for (const QString &path : chosen) {
        paths.push_back(QFile::encodeName(path).toStdString());
    }
    return SelectionFromPaths(paths, PathStyle::Posix);
}
