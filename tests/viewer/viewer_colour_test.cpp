// SPDX-License-Identifier: AGPL-3.0-or-later
// The viewer shows a CMYK page in the colours the engine writes: both draw through the render
// layer's colour management, and nothing on the way to the screen changes them.
#include "../render/cmyk_chart.h"
#include "render/document.h"
#include "viewer/viewer_fixture.h"

#include <cmath>

namespace {

TEST_F(DocViewerTest, CmykPatchesShowTheManagedColours)
{
    const testpdf::Chart chart = testpdf::MakeCmykChart(
        testpdf::ReadBytes("/usr/share/color/icc/ghostscript/default_cmyk.icc"));
    const QString path = dir.filePath(QStringLiteral("chart.pdf"));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(chart.pdf.data(), static_cast<qint64>(chart.pdf.size()));
    file.close();

    ASSERT_TRUE(Open(path).toBool());
    Call(DocViewerControl::kApplyDisplaySetting,
         {QVariant::fromValue<short>(DocViewerControl::kFitPage)});
    Show(560, 600);
    const QRect page = viewer.pageView()->ViewportRect(0);
    ASSERT_FALSE(page.isEmpty());
    WaitForPages(viewer);
    const QImage shown = viewer.pageView()->viewport()->grab().toImage();

    // The engine's page at the scale shown.
    const double dpi = page.width() * 72.0 / chart.width;
    render::Document doc(path.toStdString());
    const auto size = doc.PagePixelSize(0, dpi, dpi);
    std::vector<unsigned char> engine(static_cast<size_t>(size.width) * size.height * 3);
    doc.RenderBand(0, dpi, dpi, 0, size.height, render::PixelFormat::Rgb, engine.data(),
                   size.width * 3);
    for (const testpdf::ChartPatch &p : chart.patches) {
        const int x = static_cast<int>(p.x * dpi / 72);
        const int y = static_cast<int>((chart.height - p.y) * dpi / 72);
        const unsigned char *want = engine.data() + (static_cast<size_t>(y) * size.width + x) * 3;
        const QRgb got = shown.pixel(page.left() + x, page.top() + y);
        EXPECT_NEAR(qRed(got), want[0], 2) << p.kind;
        EXPECT_NEAR(qGreen(got), want[1], 2) << p.kind;
        EXPECT_NEAR(qBlue(got), want[2], 2) << p.kind;
    }
}

} // namespace
