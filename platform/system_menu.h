// SPDX-License-Identifier: AGPL-3.0-or-later
#pragma once

#include <QObject>
#include <QPoint>
#include <cstdint>
#include <functional>

class QMenu;
class QWidget;

// Command ids of the window menu's own choices.
namespace SysCommand {
constexpr uint32_t Minimize = 0xF020;
constexpr uint32_t Close = 0xF060;
} // namespace SysCommand

// Stands in for the window menu that the desktop draws on other systems: "Minimize", "Close",
// then whatever the window appends. Every choice is passed to `onCommand` with its id.
class SystemMenu : public QObject {
    Q_OBJECT
public:
    SystemMenu(QWidget *window, std::function<void(uint32_t)> onCommand);
    ~SystemMenu() override;

    void AppendSeparator();
    void AppendItem(uint32_t id, const QString &text);

    QMenu *Menu() const { return menu; }
    // Ids of the items in menu order, 0 for a separator.
    std::vector<uint32_t> ItemIds() const;
    void Popup(const QPoint &globalPos);
    // Chooses the item with `id` as a click on it would.
    void Trigger(uint32_t id);

private:
    QMenu *menu;
    std::function<void(uint32_t)> onCommand;
};
