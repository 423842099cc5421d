// SPDX-License-Identifier: AGPL-3.0-or-later
#include "platform/system_menu.h"

#include <QAction>
#include <QMenu>
#include <QWidget>

namespace {

const char kCommandProperty[] = "sysCommand";

} // namespace

SystemMenu::SystemMenu(QWidget *window, std::function<void(uint32_t)> onCommand)
    : QObject(window), menu(new QMenu(window)), onCommand(std::move(onCommand))
{
    AppendItem(SysCommand::Minimize, QStringLiteral("Minimize"));
    AppendItem(SysCommand::Close, QStringLiteral("Close"));
    connect(menu, &QMenu::triggered, this, [this](QAction *action) {
        this->onCommand(action->property(kCommandProperty).toUInt());
    });
}

SystemMenu::~SystemMenu() = default;

void SystemMenu::AppendSeparator()
{
    menu->addSeparator();
}

void SystemMenu::AppendItem(uint32_t id, const QString &text)
{
    QAction *action = menu->addAction(text);
    action->setProperty(kCommandProperty, id);
}

std::vector<uint32_t> SystemMenu::ItemIds() const
{
    std::vector<uint32_t> ids;
    for (const QAction *action : menu->actions())
        ids.push_back(action->isSeparator() ? 0 : action->property(kCommandProperty).toUInt());
    return ids;
}

void SystemMenu::Popup(const QPoint &globalPos)
{
    menu->popup(globalPos);
}

void SystemMenu::Trigger(uint32_t id)
{
    for (QAction *action : menu->actions()) {
        if (!action->isSeparator() && action->property(kCommandProperty).toUInt() == id) {
            action->trigger();
            return;
        }
    }
}
