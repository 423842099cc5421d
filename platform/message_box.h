// SPDX-License-Identifier: AGPL-3.0-or-later
#pragma once

#include <QMessageBox>
#include <QString>
#include <functional>

class QWidget;

// The program's title: the executable's file name without its extension ("pagemint").
QString ApplicationTitle();

// Shows `text` in a modal message box captioned with the application title, owned by `owner`;
// returns the standard button that closed it.
int ShowAppMessage(QWidget *owner, const QString &text,
                   QMessageBox::Icon icon = QMessageBox::Warning,
                   QMessageBox::StandardButtons buttons = QMessageBox::Ok);

// Replaces the box by `handler` (its result is returned as the box's result), so widget tests
// can see every message without a nested modal loop. An empty function restores the real box.
using MessageBoxHandler = std::function<int(QWidget *, const QString &, QMessageBox::Icon)>;
void SetMessageBoxHandlerForTesting(MessageBoxHandler handler);
