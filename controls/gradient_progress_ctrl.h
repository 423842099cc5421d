// SPDX-License-Identifier: AGPL-3.0-or-later
#pragma once

#include <QFrame>
#include <cstdint>

class QPainter;

// Colour values as 0x00BBGGRR: red in the lowest byte, then green, then blue.
using ColorRef = uint32_t;
constexpr ColorRef Rgb(int r, int g, int b)
{
    return static_cast<ColorRef>(r & 0xFF) | static_cast<ColorRef>(g & 0xFF) << 8 |
           static_cast<ColorRef>(b & 0xFF) << 16;
}
QColor ToQColor(ColorRef color);

// A progress bar whose filled part reveals a fixed left-to-right colour gradient up to the
// position, with the rest in the background colour and optionally the percentage in the
// middle. At or beyond either bound it shows the plain button face. Screen readers see a
// progress bar with its value.
class GradientProgressCtrl : public QFrame {
    Q_OBJECT
public:
    explicit GradientProgressCtrl(QWidget *parent = nullptr);

    // Sets the range and moves the position to `lower`; returns the previous range, packed
    // as the low 16 bits of each bound (lower in the low word).
    uint32_t SetRange(int32_t lower, int32_t upper);
    // Stores the position unclamped; returns the previous position.
    int32_t SetPos(int32_t position);

    int32_t Lower() const { return lower; }
    int32_t Upper() const { return upper; }
    int32_t Pos() const { return position; }
    // How far the position is through the range, in whole percent from 0 to 100.
    int Percent() const;

    // Paints the control's client area `client` (origin at 0, 0 for the bands) with `painter`.
    void PaintClient(QPainter &painter, const QRect &client) const;

    // The width of the revealed part for a client `width` pixels wide.
    int BarWidth(int width) const;
    // Whether a bar is drawn at all: the position strictly inside the range.
    bool ShowsBar() const;

    int32_t step = 10;
    ColorRef startColor = Rgb(255, 255, 0);
    ColorRef endColor = Rgb(0, 0, 255);
    ColorRef backgroundColor;
    ColorRef textColor = Rgb(255, 255, 255);
    bool showPercent = false;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void DrawGradient(QPainter &painter, const QRect &client, int barWidth) const;

    int32_t lower = 0;
    int32_t upper = 100;
    int32_t position = 0;
};
