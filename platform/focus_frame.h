// SPDX-License-Identifier: AGPL-3.0-or-later
#pragma once

class QWidget;

// Draws the style's focus frame around `widget` while the focus is on it or inside it, for a
// control that shows no focus of its own in some state (an empty list, a panel of other
// widgets). The frame goes with the widget.
void ShowFocusFrameAround(QWidget *widget);
