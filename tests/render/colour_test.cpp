// SPDX-License-Identifier: AGPL-3.0-or-later
#include "cmyk_chart.h"
#include "render/document.h"
#include "test_pdf.h"

#include <gtest/gtest.h>
#include <lcms2.h>

#include <algorithm>
#include <cmath>

using render::Document;
using render::PixelFormat;

namespace {

const std::string kIccFolder = "/usr/share/color/icc/ghostscript/";

// The colour a CMYK value should show, computed without any of the shortcuts a renderer may
// take: floating point all the way, no precalculated tables.
class Reference {
public:
    explicit Reference(const std::string &cmykProfile)
    {
        cmsHPROFILE cmyk = cmsOpenProfileFromFile(cmykProfile.c_str(), "r");
        cmsHPROFILE srgb = cmsCreate_sRGBProfile();
        cmsHPROFILE lab = cmsCreateLab4Profile(nullptr);
        toRgb_ = cmsCreateTransform(cmyk, TYPE_CMYK_DBL, srgb, TYPE_RGB_DBL,
                                    INTENT_RELATIVE_COLORIMETRIC,
                                    cmsFLAGS_BLACKPOINTCOMPENSATION | cmsFLAGS_NOOPTIMIZE);
        toLab_ = cmsCreateTransform(srgb, TYPE_RGB_DBL, lab, TYPE_Lab_DBL,
                                    INTENT_RELATIVE_COLORIMETRIC, cmsFLAGS_NOOPTIMIZE);
        cmsCloseProfile(cmyk);
        cmsCloseProfile(srgb);
        cmsCloseProfile(lab);
    }
    ~Reference()
    {
        cmsDeleteTransform(toRgb_);
        cmsDeleteTransform(toLab_);
    }
    Reference(const Reference &) = delete;
    Reference &operator=(const Reference &) = delete;

    // sRGB components 0..255.
    void Rgb(testpdf::Cmyk c, double rgb[3]) const
    {
        const double in[4] = {c.c * 100.0, c.m * 100.0, c.y * 100.0, c.k * 100.0};
        cmsDoTransform(toRgb_, in, rgb, 1);
        for (int i = 0; i < 3; ++i) {
            rgb[i] = std::clamp(rgb[i], 0.0, 1.0) * 255;
        }
    }
    // CIE76 difference of two sRGB colours (components 0..255).
    double DeltaE(const double a[3], const double b[3]) const
    {
        const double inA[3] = {a[0] / 255, a[1] / 255, a[2] / 255};
        const double inB[3] = {b[0] / 255, b[1] / 255, b[2] / 255};
        cmsCIELab labA, labB;
        cmsDoTransform(toLab_, inA, &labA, 1);
        cmsDoTransform(toLab_, inB, &labB, 1);
        return cmsDeltaE(&labA, &labB);
    }

private:
    cmsHTRANSFORM toRgb_;
    cmsHTRANSFORM toLab_;
};

constexpr double kDpi = 72;

struct Raster {
    int width = 0, height = 0, n = 3;
    std::vector<unsigned char> pixels;
    const unsigned char *At(double x, double y, double pageHeight) const
    {
        const int px = static_cast<int>(x * kDpi / 72);
        const int py = static_cast<int>((pageHeight - y) * kDpi / 72);
        return pixels.data() + (static_cast<size_t>(py) * width + px) * n;
    }
};

Raster Render(Document &doc, PixelFormat format, int bandRows = 0)
{
    Raster r;
    const auto size = doc.PagePixelSize(0, kDpi, kDpi);
    r.width = size.width;
    r.height = size.height;
    r.n = format == PixelFormat::Rgb ? 3 : 1;
    r.pixels.resize(static_cast<size_t>(r.width) * r.height * r.n);
    const int step = bandRows > 0 ? bandRows : r.height;
    for (int y0 = 0; y0 < r.height; y0 += step) {
        const int rows = std::min(step, r.height - y0);
        doc.RenderBand(0, kDpi, kDpi, y0, rows, format,
                       r.pixels.data() + static_cast<size_t>(y0) * r.width * r.n, r.width * r.n);
    }
    return r;
}

// Every CMYK patch within dE 1 of the profile's colour, every RGB and grey patch exact.
void ExpectChartColours(const testpdf::Chart &chart, const Raster &r, const Reference &ref)
{
    for (const testpdf::ChartPatch &p : chart.patches) {
        double expected[3];
        ref.Rgb(p.colour, expected);
        const unsigned char *px = r.At(p.x, p.y, chart.height);
        if (r.n == 3) {
            const double got[3] = {double(px[0]), double(px[1]), double(px[2])};
            EXPECT_LE(ref.DeltaE(got, expected), 1.0)
                << p.kind << " at " << p.x << "," << p.y << ": got " << int(px[0]) << " "
                << int(px[1]) << " " << int(px[2]) << ", expected " << expected[0] << " "
                << expected[1] << " " << expected[2];
        } else {
            // Grey is the colour reduced by the library's weights; its own rounding differs
            // between fills and images by a level or two.
            const double grey = expected[0] * 0.3 + expected[1] * 0.59 + expected[2] * 0.11;
            EXPECT_NEAR(px[0], grey, 3.0) << p.kind << " at " << p.x << "," << p.y;
        }
    }
    for (const testpdf::Chart::Exact &e : chart.exact) {
        const unsigned char *px = r.At(e.x, e.y, chart.height);
        if (r.n == 3) {
            EXPECT_EQ(px[0], e.r) << "RGB patch at " << e.x << "," << e.y;
            EXPECT_EQ(px[1], e.g) << "RGB patch at " << e.x << "," << e.y;
            EXPECT_EQ(px[2], e.b) << "RGB patch at " << e.x << "," << e.y;
        } else {
            EXPECT_NEAR(px[0], e.r * 0.3 + e.g * 0.59 + e.b * 0.11, 1.0);
        }
    }
}

class ChartTest : public ::testing::TestWithParam<PixelFormat> {};

TEST_P(ChartTest, EveryKindOfCmykFollowsTheDefaultProfile)
{
    const std::string profile = kIccFolder + "default_cmyk.icc";
    const testpdf::Chart chart = testpdf::MakeCmykChart(testpdf::ReadBytes(profile));
    Document doc(testpdf::Bytes(chart.pdf));
    ExpectChartColours(chart, Render(doc, GetParam()), Reference(profile));
    EXPECT_TRUE(doc.Problems().empty());
}

TEST_P(ChartTest, TheOutputIntentsProfileWins)
{
    const std::string profile = kIccFolder + "ps_cmyk.icc";
    const testpdf::Chart chart = testpdf::MakeCmykChart(testpdf::ReadBytes(profile), true);
    Document doc(testpdf::Bytes(chart.pdf));
    ExpectChartColours(chart, Render(doc, GetParam()), Reference(profile));
    EXPECT_TRUE(doc.Problems().empty());
}

INSTANTIATE_TEST_SUITE_P(Formats, ChartTest, ::testing::Values(PixelFormat::Rgb, PixelFormat::Grey),
                         [](const auto &info) {
                             return info.param == PixelFormat::Rgb ? "Rgb" : "Grey";
                         });

// Each band converts its own part of an image or shading: the seams must not show.
TEST(ColourTest, BandsConvertAsTheWholePageDoes)
{
    const testpdf::Chart chart =
        testpdf::MakeCmykChart(testpdf::ReadBytes(kIccFolder + "default_cmyk.icc"));
    Document doc(testpdf::Bytes(chart.pdf));
    const Raster whole = Render(doc, PixelFormat::Rgb);
    const Raster banded = Render(doc, PixelFormat::Rgb, 37);
    int differing = 0;
    for (size_t i = 0; i < whole.pixels.size(); ++i) {
        differing += std::abs(whole.pixels[i] - banded.pixels[i]) > 2;
    }
    EXPECT_LE(differing, 16);
}

struct BadProfile {
    const char *name;
    std::vector<unsigned char> bytes;
};

class BadProfileTest : public ::testing::TestWithParam<BadProfile> {};

// The chart's patches must then show the default profile's colours, with one problem named.
TEST_P(BadProfileTest, FallsBackToTheDefaultWithOneProblem)
{
    const std::string fallback = kIccFolder + "default_cmyk.icc";
    testpdf::Chart chart = testpdf::MakeCmykChart(GetParam().bytes, true);
    Document doc(testpdf::Bytes(chart.pdf));
    const Raster r = Render(doc, PixelFormat::Rgb);
    // The ICCBased space of the chart carries the same bad profile: leave it out.
    chart.patches.erase(std::remove_if(chart.patches.begin(), chart.patches.end(),
                                       [](const auto &p) { return p.kind == "ICCBased N=4"; }),
                        chart.patches.end());
    ExpectChartColours(chart, r, Reference(fallback));
    const auto problems = doc.Problems();
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_NE(problems[0].find("profile"), std::string::npos) << problems[0];
}

std::vector<unsigned char> Truncated()
{
    auto bytes = testpdf::ReadBytes(kIccFolder + "default_cmyk.icc");
    bytes.resize(bytes.size() / 3);
    return bytes;
}

std::vector<unsigned char> Scrambled()
{
    auto bytes = testpdf::ReadBytes(kIccFolder + "default_cmyk.icc");
    for (size_t i = 128; i < bytes.size(); i += 7) {
        bytes[i] = static_cast<unsigned char>(bytes[i] * 31 + 17);
    }
    return bytes;
}

INSTANTIATE_TEST_SUITE_P(
    Profiles, BadProfileTest,
    ::testing::Values(BadProfile{"Truncated", Truncated()}, BadProfile{"Scrambled", Scrambled()},
                      BadProfile{"NotAProfile", testpdf::Bytes(std::string(600, 'x'))},
                      BadProfile{"RgbProfile", testpdf::ReadBytes(kIccFolder + "srgb.icc")},
                      BadProfile{"LabProfile", testpdf::ReadBytes(kIccFolder + "lab.icc")}),
    [](const auto &info) { return std::string(info.param.name); });

} // namespace
