// SPDX-License-Identifier: AGPL-3.0-or-later
#include "platform/key_repeat_drop.h"

#include <QCoreApplication>
#include <QKeyEvent>

KeyRepeatDrop::KeyRepeatDrop()
{
    QCoreApplication::instance()->installEventFilter(this);
}

KeyRepeatDrop::~KeyRepeatDrop()
{
    QCoreApplication::instance()->removeEventFilter(this);
}

bool KeyRepeatDrop::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease) {
        if (static_cast<QKeyEvent *>(event)->isAutoRepeat())
            return true;
    }
    return QObject::eventFilter(watched, event);
}
