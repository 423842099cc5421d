// SPDX-License-Identifier: AGPL-3.0-or-later
#include "controls/buffered_dc.h"

#include <QPaintDevice>

namespace {

bool IsPrinter(const QPainter &painter)
{
    return painter.device() && painter.device()->devType() == QInternal::Printer;
}

} // namespace

BufferedDC::BufferedDC(QPainter &target, const QRect &targetRect, const QColor &fresh)
    : target(target), buffering(!IsPrinter(target))
{
    if (!buffering)
        return;
    // Only the part that this paint may change: the clip area within the target rectangle.
    area =
        target.hasClipping() ? target.clipBoundingRect().toAlignedRect() & targetRect : targetRect;
    const qreal ratio = target.device() ? target.device()->devicePixelRatioF() : 1.0;
    buffer = QImage(area.size() * ratio, QImage::Format_ARGB32_Premultiplied);
    buffer.setDevicePixelRatio(ratio);
    buffer.fill(fresh);
    bufferPainter.begin(&buffer);
    bufferPainter.translate(-area.topLeft());
}

BufferedDC::~BufferedDC()
{
    if (!buffering)
        return;
    bufferPainter.end();
    if (!area.isEmpty())
        target.drawImage(area.topLeft(), buffer);
}
