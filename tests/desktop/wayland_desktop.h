// SPDX-License-Identifier: AGPL-3.0-or-later
// The desktop primitives of the tests on a Wayland session: a headless sway that
// run_on_desktop.sh starts. Windows are sway's containers, found through its IPC (swaymsg);
// input is real Wayland input, a virtual pointer of our own and virtual keyboards (wtype).
#pragma once

#include <QPoint>
#include <QRect>
#include <QString>
#include <QStringList>
#include <optional>

namespace desktop::wayland {

// Whether the tests run on the Wayland session rather than on X11.
bool Active();

struct Place {
    QRect client;
    QRect frame;
};
std::optional<Place> PlaceOf(const QString &window);
QStringList VisibleWindows(qint64 pid, const QString &titlePattern);
QString ActiveWindow();
// The Wayland app id the window gave itself.
QString AppId(const QString &window);
// Asks the window to close, as the close button of a title bar does.
void RequestClose(const QString &window);

void MoveTo(const QPoint &point);
void Press();
void Release();
// Keys in the X keysym names the X11 tests use, "ctrl+a BackSpace" style.
void Key(const QString &keys);
void Type(const QString &text);

} // namespace desktop::wayland
