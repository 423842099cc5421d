// SPDX-License-Identifier: AGPL-3.0-or-later
#include "controls/gradient_progress_ctrl.h"

#include "controls/buffered_dc.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QApplication>
#include <QPaintEvent>
#include <QPainter>
#include <QPalette>
#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace {

ColorRef ButtonFace()
{
    const QColor face = QApplication::palette().color(QPalette::Button);
    return Rgb(face.red(), face.green(), face.blue());
}

int Channel(ColorRef color, int shift)
{
    return static_cast<int>((color >> shift) & 0xFF);
}

// A screen reader hears a progress bar with its position in the range, and hears it move.
class ProgressAccessible : public QAccessibleWidget, public QAccessibleValueInterface {
public:
    explicit ProgressAccessible(GradientProgressCtrl *control)
        : QAccessibleWidget(control, QAccessible::ProgressBar)
    {
    }

    void *interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::ValueInterface)
            return static_cast<QAccessibleValueInterface *>(this);
        return QAccessibleWidget::interface_cast(type);
    }

    QString text(QAccessible::Text type) const override
    {
        if (type == QAccessible::Value)
            return QStringLiteral("%1%").arg(Control()->Percent());
        return QAccessibleWidget::text(type);
    }

    QVariant currentValue() const override { return Control()->Pos(); }
    // The position belongs to the run; nobody else sets it.
    void setCurrentValue(const QVariant &) override {}
    QVariant maximumValue() const override { return Control()->Upper(); }
    QVariant minimumValue() const override { return Control()->Lower(); }
    QVariant minimumStepSize() const override { return 0; }

private:
    GradientProgressCtrl *Control() const { return static_cast<GradientProgressCtrl *>(widget()); }
};

QAccessibleInterface *ProgressFactory(const QString &key, QObject *object)
{
    if (key == QLatin1String("GradientProgressCtrl"))
        return new ProgressAccessible(static_cast<GradientProgressCtrl *>(object));
    return nullptr;
}

void AnnounceValue(GradientProgressCtrl *control)
{
    QAccessibleValueChangeEvent changed(control, control->Pos());
    QAccessible::updateAccessibility(&changed);
}

} // namespace

QColor ToQColor(ColorRef color)
{
    return QColor(Channel(color, 0), Channel(color, 8), Channel(color, 16));
}

GradientProgressCtrl::GradientProgressCtrl(QWidget *parent)
    : QFrame(parent), backgroundColor(ButtonFace())
{
    QAccessible::installFactory(ProgressFactory);
    setFrameStyle(QFrame::Box | QFrame::Plain);
    setLineWidth(1);
    // Every pixel of the client is painted, so nothing needs erasing first.
    setAttribute(Qt::WA_OpaquePaintEvent);
}

uint32_t GradientProgressCtrl::SetRange(int32_t newLower, int32_t newUpper)
{
    const uint32_t previous =
        (static_cast<uint32_t>(upper) & 0xFFFF) << 16 | (static_cast<uint32_t>(lower) & 0xFFFF);
    upper = newUpper;
    lower = newLower;
    position = newLower;
    update();
    AnnounceValue(this);
    return previous;
}

int32_t GradientProgressCtrl::SetPos(int32_t newPosition)
{
    const int32_t previous = position;
    position = newPosition;
    update();
    if (position != previous)
        AnnounceValue(this);
    return previous;
}

bool GradientProgressCtrl::ShowsBar() const
{
    // A range with no positive upper bound has nothing to divide by: plain face.
    return upper > 0 && lower < position && position < upper;
}

int GradientProgressCtrl::Percent() const
{
    if (upper <= lower)
        return 0;
    const int64_t part = std::clamp<int64_t>(int64_t(position) - lower, 0, int64_t(upper) - lower);
    return static_cast<int>(part * 100 / (int64_t(upper) - lower));
}

int GradientProgressCtrl::BarWidth(int width) const
{
    return static_cast<int>(static_cast<double>(position) / upper * width);
}

void GradientProgressCtrl::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    drawFrame(&painter);
    PaintClient(painter, contentsRect());
}

void GradientProgressCtrl::PaintClient(QPainter &painter, const QRect &client) const
{
    painter.save();
    painter.translate(client.topLeft());
    painter.setClipRect(QRect(QPoint(0, 0), client.size()), Qt::IntersectClip);
    const QRect local(0, 0, client.width(), client.height());
    if (ShowsBar()) {
        DrawGradient(painter, local, BarWidth(local.width()));
        if (showPercent) {
            const double percent = static_cast<double>(position) * 100.0 / upper;
            painter.setPen(ToQColor(textColor));
            painter.setBackgroundMode(Qt::TransparentMode);
            painter.drawText(local, Qt::AlignCenter | Qt::TextSingleLine,
                             QString::asprintf("%.0f%%", percent));
        }
    } else {
        // The face as it is now, not the colour read at construction.
        painter.fillRect(local, ToQColor(ButtonFace()));
    }
    painter.restore();
}

void GradientProgressCtrl::DrawGradient(QPainter &target, const QRect &client, int barWidth) const
{
    BufferedDC buffered(target, client, ToQColor(backgroundColor));
    QPainter &painter = buffered.Painter();
    const int width = client.width();
    const int height = client.height();

    const int start[3] = {Channel(startColor, 0), Channel(startColor, 8), Channel(startColor, 16)};
    const int diff[3] = {Channel(endColor, 0) - start[0], Channel(endColor, 8) - start[1],
                         Channel(endColor, 16) - start[2]};
    const int bands = std::max({std::abs(diff[0]), std::abs(diff[1]), std::abs(diff[2])});
    if (bands <= 0)
        return;

    // Band width and channel steps in single precision; products and sums in double. The
    // band edges depend only on the width, so advancing reveals more of one fixed gradient.
    const float bandWidth = static_cast<float>(width) / static_cast<float>(bands);
    float stepOf[3];
    for (int c = 0; c < 3; ++c)
        stepOf[c] = static_cast<float>(diff[c]) / static_cast<float>(bands);

    for (int i = 0; i < bands; ++i) {
        const int left = static_cast<int>(i * static_cast<double>(bandWidth));
        const int right = static_cast<int>((i + 1) * static_cast<double>(bandWidth));
        int value[3];
        for (int c = 0; c < 3; ++c)
            value[c] = static_cast<int>(static_cast<double>(static_cast<float>(start[c])) +
                                        i * static_cast<double>(stepOf[c]));
        painter.fillRect(QRect(left, 0, right - left, height + 1),
                         QColor(value[0] & 0xFF, value[1] & 0xFF, value[2] & 0xFF));
        if (right > barWidth) {
            painter.fillRect(QRect(right, 0, width - right, height), ToQColor(backgroundColor));
            break;
        }
    }
}
