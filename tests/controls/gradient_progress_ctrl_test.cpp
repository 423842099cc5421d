// SPDX-License-Identifier: AGPL-3.0-or-later
#include "controls/buffered_dc.h"
#include "controls/gradient_progress_ctrl.h"

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QPalette>
#include <gtest/gtest.h>

namespace {

constexpr int kHeight = 12;

QImage Render(const GradientProgressCtrl &ctrl, int width)
{
    QImage image(width, kHeight, QImage::Format_RGB32);
    image.fill(Qt::magenta); // anything left unpainted shows up
    QPainter painter(&image);
    ctrl.PaintClient(painter, image.rect());
    return image;
}

QRgb ColumnColor(const QImage &image, int x)
{
    return image.pixel(x, 0);
}

// Every row of the column has one colour.
bool ColumnIsUniform(const QImage &image, int x)
{
    for (int y = 1; y < image.height(); ++y) {
        if (image.pixel(x, y) != image.pixel(x, 0))
            return false;
    }
    return true;
}

QRgb Face()
{
    return QApplication::palette().color(QPalette::Button).rgb();
}

struct BarCase {
    int32_t upper;
    int32_t position;
    int width;
    int bandColumns; // columns per band
    int lastBand;    // the last band drawn
};

class GradientBarTest : public ::testing::TestWithParam<BarCase> {};

TEST_P(GradientBarTest, RevealsBandsUpToTheFirstPastTheBarThenTheBackground)
{
    const BarCase c = GetParam();
    GradientProgressCtrl ctrl;
    ctrl.backgroundColor = Rgb(10, 20, 30);
    ctrl.SetRange(0, c.upper);
    ctrl.SetPos(c.position);
    const QImage image = Render(ctrl, c.width);
    const int firstBackground = (c.lastBand + 1) * c.bandColumns;
    for (int x = 0; x < c.width; ++x) {
        ASSERT_TRUE(ColumnIsUniform(image, x)) << x;
        const int band = x / c.bandColumns;
        const QRgb expected =
            x < firstBackground ? qRgb(255 - band, 255 - band, band) : qRgb(10, 20, 30);
        ASSERT_EQ(ColumnColor(image, x), expected) << "column " << x;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, GradientBarTest,
    ::testing::Values(
        // 50 of 100 at 255 columns: bar width 127, one column per band, band 127 still drawn.
        BarCase{100, 50, 255, 1, 127},
        // 25 of 100 at 510 columns: bar width 127, two columns per band, band 63 the last.
        BarCase{100, 25, 510, 2, 63},
        // 128 of 255 at 255 columns: bar width 128 lies exactly on the edge of band 127, so
        // band 128 is drawn too.
        BarCase{255, 128, 255, 1, 128},
        // 99 of 100: bar width 252, the last two columns keep the background.
        BarCase{100, 99, 255, 1, 252}));

struct BandEdgeCase {
    int column;
    int band;
};

class BandWidthTest : public ::testing::TestWithParam<BandEdgeCase> {};

// At 155 columns and 255 bands the band width is 0.6078..., which single precision rounds up:
// every 51st band then starts one column later than in double precision and is left empty,
// and its left neighbour keeps the column. Integer division would draw no band at all.
TEST_P(BandWidthTest, BandEdgesFollowTheSinglePrecisionWidth)
{
    const BandEdgeCase c = GetParam();
    GradientProgressCtrl ctrl;
    ctrl.SetRange(0, 100);
    ctrl.SetPos(99);
    const QImage image = Render(ctrl, 155);
    EXPECT_EQ(ColumnColor(image, c.column), qRgb(255 - c.band, 255 - c.band, c.band))
        << "column " << c.column;
}

INSTANTIATE_TEST_SUITE_P(Columns, BandWidthTest,
                         ::testing::Values(BandEdgeCase{29, 49}, BandEdgeCase{30, 50},
                                           BandEdgeCase{31, 52}, BandEdgeCase{61, 101},
                                           BandEdgeCase{92, 152}, BandEdgeCase{123, 203},
                                           BandEdgeCase{124, 205}, BandEdgeCase{153, 253}));

struct PercentCase {
    int32_t upper;
    int32_t position;
    // The position of 0..100 that shows the same bar and the same percentage.
    int32_t sameOfHundred;
};

class PercentOfUpperTest : public ::testing::TestWithParam<PercentCase> {};

TEST_P(PercentOfUpperTest, TextIsThePositionScaledToTheUpperBound)
{
    const PercentCase c = GetParam();
    GradientProgressCtrl ctrl;
    ctrl.SetRange(0, c.upper);
    ctrl.SetPos(c.position);
    const QImage bare = Render(ctrl, 255);
    ctrl.showPercent = true;
    const QImage scaled = Render(ctrl, 255);
    GradientProgressCtrl hundred;
    hundred.SetRange(0, 100);
    hundred.SetPos(c.sameOfHundred);
    hundred.showPercent = true;
    ASSERT_EQ(ctrl.BarWidth(255), hundred.BarWidth(255));
    ASSERT_NE(scaled, bare) << "no percentage was drawn";
    EXPECT_EQ(scaled, Render(hundred, 255));
}

INSTANTIATE_TEST_SUITE_P(Ranges, PercentOfUpperTest,
                         ::testing::Values(PercentCase{200, 50, 25}, PercentCase{400, 100, 25},
                                           PercentCase{1000, 700, 70}, PercentCase{50, 10, 20},
                                           PercentCase{100, 37, 37}));

TEST(GradientProgressCtrl, BandsKeepTheirColumnsWhateverThePosition)
{
    GradientProgressCtrl ctrl;
    ctrl.SetRange(0, 100);
    ctrl.SetPos(20);
    const QImage early = Render(ctrl, 300);
    const int earlyWidth = ctrl.BarWidth(300);
    ctrl.SetPos(90);
    const QImage late = Render(ctrl, 300);
    EXPECT_EQ(earlyWidth, 60);
    for (int x = 0; x <= earlyWidth; ++x)
        ASSERT_EQ(ColumnColor(early, x), ColumnColor(late, x)) << x;
}

class PlainFaceTest : public ::testing::TestWithParam<int32_t> {};

TEST_P(PlainFaceTest, AtOrBeyondTheBoundsTheWholeClientIsButtonFaceWithoutText)
{
    GradientProgressCtrl ctrl;
    ctrl.SetRange(0, 100);
    ctrl.showPercent = true;
    ctrl.SetPos(GetParam());
    const QImage image = Render(ctrl, 200);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            ASSERT_EQ(image.pixel(x, y), Face()) << x << "," << y;
}

INSTANTIATE_TEST_SUITE_P(Positions, PlainFaceTest, ::testing::Values(0, 100, -5, 150));

TEST(GradientProgressCtrl, PlainFaceIsTheCurrentOneWhileTheRemainderKeepsTheColourReadAtStart)
{
    const QPalette original = QApplication::palette();
    GradientProgressCtrl ctrl;
    const QColor atStart = original.color(QPalette::Button);
    QPalette changed = original;
    changed.setColor(QPalette::Button, QColor(1, 2, 3));
    QApplication::setPalette(changed);

    ctrl.SetRange(0, 100);
    const QImage empty = Render(ctrl, 100);
    ctrl.SetPos(10);
    const QImage bar = Render(ctrl, 100);
    QApplication::setPalette(original);

    EXPECT_EQ(empty.pixel(50, 5), qRgb(1, 2, 3));
    EXPECT_EQ(bar.pixel(99, 5), atStart.rgb());
}

TEST(GradientProgressCtrl, PercentageTextOnlyWhenSwitchedOn)
{
    GradientProgressCtrl ctrl;
    ctrl.SetRange(0, 100);
    ctrl.SetPos(50);
    ctrl.backgroundColor = Rgb(0, 0, 0);
    auto textPixels = [](const QImage &image) {
        int count = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) {
                // Only the white text is light in all three channels here.
                const QColor c = image.pixelColor(x, y);
                count += c.red() > 200 && c.green() > 200 && c.blue() > 200;
            }
        return count;
    };
    QImage plain(255, 30, QImage::Format_RGB32);
    {
        QPainter painter(&plain);
        ctrl.PaintClient(painter, plain.rect());
    }
    ctrl.showPercent = true;
    QImage withText(255, 30, QImage::Format_RGB32);
    {
        QPainter painter(&withText);
        ctrl.PaintClient(painter, withText.rect());
    }
    EXPECT_EQ(textPixels(plain), 0);
    EXPECT_GT(textPixels(withText), 10);
    // The text sits in the middle: the left and right quarters are untouched.
    for (int y = 0; y < 30; ++y) {
        EXPECT_EQ(withText.pixel(10, y), plain.pixel(10, y));
        EXPECT_EQ(withText.pixel(240, y), plain.pixel(240, y));
    }
}

TEST(GradientProgressCtrl, RangeAndPositionBookkeeping)
{
    GradientProgressCtrl ctrl;
    EXPECT_EQ(ctrl.SetRange(-3, 70000), (100u << 16) | 0u);
    // The packed result keeps the low 16 bits of each bound; the bounds keep all 32.
    EXPECT_EQ(ctrl.SetRange(0, 100), ((70000u & 0xFFFF) << 16) | 0xFFFDu);
    EXPECT_EQ(ctrl.Upper(), 100);
    EXPECT_EQ(ctrl.SetPos(150), 0);
    EXPECT_EQ(ctrl.Pos(), 150); // not clamped
    ctrl.SetRange(5, 100);
    EXPECT_EQ(ctrl.Pos(), 5);
    EXPECT_FALSE(ctrl.ShowsBar());
}

TEST(GradientProgressCtrl, NoPositiveUpperBoundShowsThePlainFace)
{
    GradientProgressCtrl ctrl;
    ctrl.SetRange(-10, 0);
    ctrl.SetPos(-5);
    EXPECT_FALSE(ctrl.ShowsBar());
    EXPECT_EQ(Render(ctrl, 50).pixel(25, 5), Face());
}

TEST(GradientProgressCtrl, EqualColoursGiveTheBackgroundColour)
{
    GradientProgressCtrl ctrl;
    ctrl.startColor = ctrl.endColor = Rgb(9, 9, 9);
    ctrl.backgroundColor = Rgb(40, 50, 60);
    ctrl.SetRange(0, 100);
    ctrl.SetPos(50);
    const QImage image = Render(ctrl, 100);
    EXPECT_EQ(image.pixel(0, 0), qRgb(40, 50, 60));
    EXPECT_EQ(image.pixel(99, 11), qRgb(40, 50, 60));
}

TEST(GradientProgressCtrl, TheWidgetPaintsItsClientInsideTheBorder)
{
    GradientProgressCtrl ctrl;
    ctrl.resize(257, 14);
    ASSERT_EQ(ctrl.contentsRect(), QRect(1, 1, 255, 12));
    ctrl.SetRange(0, 100);
    ctrl.SetPos(50);
    const QImage image = ctrl.grab().toImage();
    EXPECT_EQ(image.pixel(1, 1), qRgb(255, 255, 0));
    EXPECT_EQ(image.pixel(1 + 127, 6), qRgb(128, 128, 127));
    EXPECT_EQ(image.pixel(1 + 128, 6), ToQColor(ctrl.backgroundColor).rgb());
    EXPECT_NE(image.pixel(0, 6), qRgb(255, 255, 0)); // the border
}

TEST(BufferedDC, CopiesOnlyTheClipAreaAtTheSameCoordinates)
{
    QImage image(100, 100, QImage::Format_RGB32);
    image.fill(Qt::red);
    {
        QPainter target(&image);
        target.setClipRect(QRect(10, 10, 20, 20));
        BufferedDC buffered(target, image.rect(), Qt::blue);
        EXPECT_EQ(buffered.Area(), QRect(10, 10, 20, 20));
        buffered.Painter().fillRect(QRect(15, 15, 5, 5), Qt::green);
        // Nothing reaches the target before the buffer ends.
        EXPECT_EQ(image.pixel(16, 16), qRgb(255, 0, 0));
    }
    EXPECT_EQ(image.pixel(16, 16), qRgb(0, 255, 0));
    EXPECT_EQ(image.pixel(10, 10), qRgb(0, 0, 255));
    EXPECT_EQ(image.pixel(29, 29), qRgb(0, 0, 255));
    EXPECT_EQ(image.pixel(30, 30), qRgb(255, 0, 0));
    EXPECT_EQ(image.pixel(9, 10), qRgb(255, 0, 0));
}

} // namespace
