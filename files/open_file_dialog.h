// SPDX-License-Identifier: AGPL-3.0-or-later
#pragma once

#include "files/file_selection.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

class QWidget;

// What the window asks of the open-file dialog.
struct OpenFileRequest {
    QWidget *owner = nullptr;
    QString title;
    QStringList filters; // "Label(*.ext)", the first one selected
    QString initialDir;
    QString defaultSuffix;
};

// Shows the dialog and answers the chosen files in the platform's shape, or none when the user
// cancelled. Replaceable, so that tests can answer without a modal dialog.
using OpenFileDialogFunction = std::function<std::optional<FileSelection>(const OpenFileRequest &)>;

// The real dialog: several existing files of one folder can be chosen.
std::optional<FileSelection> ShowOpenFileDialog(const OpenFileRequest &request);
