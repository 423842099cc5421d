// SPDX-License-Identifier: AGPL-3.0-or-later
#pragma once

#include <QColor>
#include <QImage>
#include <QPainter>
#include <QRect>

// An off-screen surface for one paint: drawing goes into a buffer that covers the target's
// clip area, in the target's coordinates, and the destructor copies it to the target in one
// go. A printer target is drawn on directly.
class BufferedDC {
public:
    // `fresh` is what the buffer shows where nothing is drawn.
    BufferedDC(QPainter &target, const QRect &targetRect, const QColor &fresh);
    ~BufferedDC();
    BufferedDC(const BufferedDC &) = delete;
    BufferedDC &operator=(const BufferedDC &) = delete;

    QPainter &Painter() { return buffering ? bufferPainter : target; }
    QRect Area() const { return area; }

private:
    QPainter &target;
    QRect area;
    bool buffering;
    QImage buffer;
    QPainter bufferPainter;
};
