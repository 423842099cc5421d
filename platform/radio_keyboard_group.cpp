// SPDX-License-Identifier: AGPL-3.0-or-later
#include "platform/radio_keyboard_group.h"

#include <QAbstractButton>
#include <QKeyEvent>
#include <algorithm>

RadioKeyboardGroup::RadioKeyboardGroup(std::vector<QAbstractButton *> groupButtons, QObject *parent)
    : QObject(parent), buttons(std::move(groupButtons))
{
    for (QAbstractButton *button : buttons) {
        button->installEventFilter(this);
        connect(button, &QAbstractButton::toggled, this, &RadioKeyboardGroup::UpdateTabStop);
    }
    UpdateTabStop();
}

QAbstractButton *RadioKeyboardGroup::TabStop() const
{
    const auto checked = std::find_if(buttons.begin(), buttons.end(),
                                      [](QAbstractButton *button) { return button->isChecked(); });
    if (checked != buttons.end())
        return *checked;
    return buttons.empty() ? nullptr : buttons.front();
}

void RadioKeyboardGroup::UpdateTabStop()
{
    const QAbstractButton *stop = TabStop();
    for (QAbstractButton *button : buttons)
        button->setFocusPolicy(button == stop ? Qt::StrongFocus : Qt::ClickFocus);
}

bool RadioKeyboardGroup::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() != QEvent::KeyPress)
        return QObject::eventFilter(watched, event);
    const auto *key = static_cast<QKeyEvent *>(event);
    int direction = 0;
    if (key->key() == Qt::Key_Down || key->key() == Qt::Key_Right)
        direction = 1;
    else if (key->key() == Qt::Key_Up || key->key() == Qt::Key_Left)
        direction = -1;
    const auto at = std::find(buttons.begin(), buttons.end(), watched);
    if (direction == 0 || at == buttons.end() ||
        (key->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier)
        return QObject::eventFilter(watched, event);
    // The next button that can take the check; disabled and hidden ones are passed over.
    const int count = static_cast<int>(buttons.size());
    int index = static_cast<int>(at - buttons.begin());
    for (int tried = 1; tried < count; ++tried) {
        index = (index + direction + count) % count;
        QAbstractButton *next = buttons[index];
        if (next->isEnabled() && next->isVisibleTo(next->window())) {
            next->setFocus(Qt::TabFocusReason);
            next->click();
            break;
        }
    }
    return true;
}
