// SPDX-License-Identifier: AGPL-3.0-or-later
#include "platform/message_box.h"

#include <QCoreApplication>
#include <QFileInfo>

namespace {

MessageBoxHandler &Handler()
{
    static MessageBoxHandler handler;
    return handler;
}

} // namespace

QString ApplicationTitle()
{
    return QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName();
}

int ShowAppMessage(QWidget *owner, const QString &text, QMessageBox::Icon icon,
                   QMessageBox::StandardButtons buttons)
{
    if (Handler())
        return Handler()(owner, text, icon);
    QMessageBox box(icon, ApplicationTitle(), text, buttons, owner);
    return box.exec();
}

void SetMessageBoxHandlerForTesting(MessageBoxHandler handler)
{
    Handler() = std::move(handler);
}
