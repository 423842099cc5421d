// SPDX-License-Identifier: AGPL-3.0-or-later
// A CMYK chart through rastool at each depth: every output is derived from the colour-managed
// page that the render layer draws (its colours are checked against the profile in the render
// tests), so a grey page has the lightness of the colours and palettes hold them.
#include "../render/cmyk_chart.h"
#include "../render/test_pdf.h"
#include "rastool_runner.h"
#include "render/document.h"
#include "writer_test_support.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

struct DepthCase {
    const char *name;
    const char *extension;
    std::vector<std::string> options;
    bool grey;
    int tolerance; // per component, 0..255
};

class CmykOutputTest : public ::testing::TestWithParam<DepthCase> {};

TEST_P(CmykOutputTest, PatchesShowTheManagedColours)
{
    const DepthCase &c = GetParam();
    const testpdf::Chart chart = testpdf::MakeCmykChart(
        testpdf::ReadBytes("/usr/share/color/icc/ghostscript/default_cmyk.icc"));
    writer_test::TempDir dir;
    const std::string pdf = (dir.Path() / "chart.pdf").string();
    const std::string out = (dir.Path() / (std::string("chart.") + c.extension)).string();
    testpdf::WriteFile(pdf, chart.pdf);
    std::vector<std::string> args{"-i", pdf, "-o", out, "-r", "72x72"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    const auto run = engine_test::RunRastool(args, (dir.Path() / "err").string());
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");

    render::Document doc(pdf);
    const auto size = doc.PagePixelSize(0, 72, 72);
    std::vector<unsigned char> page(static_cast<size_t>(size.width) * size.height * 3);
    doc.RenderBand(0, 72, 72, 0, size.height, render::PixelFormat::Rgb, page.data(),
                   size.width * 3);
    const auto decoded = writer_test::Decode(writer_test::Reader::ImageMagick, out);
    ASSERT_EQ(decoded.width, size.width);
    ASSERT_EQ(decoded.height, size.height);
    for (const testpdf::ChartPatch &p : chart.patches) {
        const size_t at =
            (static_cast<size_t>(chart.height - p.y) * size.width + static_cast<size_t>(p.x)) * 3;
        const unsigned char *want = page.data() + at;
        const unsigned char *got = decoded.rgb.data() + at;
        if (c.grey) {
            const double grey = want[0] * 0.3 + want[1] * 0.59 + want[2] * 0.11;
            EXPECT_NEAR(got[0], grey, c.tolerance + 1) << p.kind << " at " << p.x << "," << p.y;
        } else {
            for (int k = 0; k < 3; ++k) {
                EXPECT_NEAR(got[k], want[k], c.tolerance)
                    << p.kind << " at " << p.x << "," << p.y << " component " << k;
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Depths, CmykOutputTest,
                         ::testing::Values(DepthCase{"Png24", "png", {}, false, 0},
                                           DepthCase{"PngGrey", "png", {"-g", "-b", "8"}, true, 1},
                                           DepthCase{"TiffGrey", "tif", {"-g", "-b", "8"}, true, 1},
                                           DepthCase{"Bmp8Palette", "bmp", {"-b", "8"}, false, 6},
                                           DepthCase{"Jpeg", "jpg", {"-q", "95"}, false, 6}),
                         [](const auto &info) { return std::string(info.param.name); });

} // namespace
