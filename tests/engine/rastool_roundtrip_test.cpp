// SPDX-License-Identifier: AGPL-3.0-or-later
// Every output type at every depth it holds, written by the real rastool and decoded by a
// reader that is not ours (ImageMagick; Inkscape for the metafiles).
#include "engine/capabilities.h"
#include "rastool_runner.h"
#include "render/document.h"
#include "writer_test_support.h"

#include "../render/test_pdf.h"

#include <gtest/gtest.h>

using namespace rastool;

namespace {

struct Case {
    std::string type;
    std::string keyword; // TIFF compression for -c, empty for the other types
    TiffCompression compression;
    Depth depth;
};

std::ostream &operator<<(std::ostream &out, const Case &c)
{
    return out << c.type << " " << c.keyword << " " << DepthName(c.depth);
}

std::vector<Case> AllCases()
{
    const std::vector<std::pair<std::string, TiffCompression>> tiff{
        {"none", TiffCompression::None}, {"PACKBITS", TiffCompression::PackBits},
        {"lzw", TiffCompression::Lzw},   {"jpeg", TiffCompression::Jpeg},
        {"g3", TiffCompression::G3},     {"g4", TiffCompression::G4}};
    std::vector<Case> cases;
    for (const TypeCapability &type : Capabilities()) {
        const bool isTiff = type.name == "TIF";
        for (const auto &[keyword, compression] : tiff) {
            if (!isTiff && compression != TiffCompression::PackBits) {
                continue;
            }
            for (Depth depth : HeldDepths(type, compression)) {
                cases.push_back({type.name, isTiff ? keyword : "", compression, depth});
            }
        }
    }
    return cases;
}

std::string CaseName(const ::testing::TestParamInfo<Case> &info)
{
    const char *depths[] = {"bw1", "pal4", "pal8", "grey8", "rgb24"};
    return info.param.type + info.param.keyword + "_" + depths[static_cast<int>(info.param.depth)];
}

// 240 × 160 pt: flat regions (centres listed below), a gradient and a line of text.
constexpr double kPageW = 240, kPageH = 160;
struct Region {
    double x, y; // centre in PDF points
    testpdf::Rgb colour;
};
const Region kRegions[] = {
    {60, 50, {255, 0, 0}},     // red
    {180, 50, {0, 0, 255}},    // blue
    {60, 120, {0, 0, 0}},      // black
    {120, 50, {255, 255, 255}} // white gap
};

std::string TestPage()
{
    testpdf::Page p;
    p.width = kPageW;
    p.height = kPageH;
    p.Rect(20, 20, 80, 60, {255, 0, 0})
        .Rect(140, 20, 80, 60, {0, 0, 255})
        .Rect(20, 100, 80, 40, {0, 0, 0})
        .Gradient(130, 95, 100, 50)
        .Text(110, 148, 9, "Round trip");
    return testpdf::MakePdf({p});
}

int Luma(const testpdf::Rgb &c)
{
    // The renderer's plain RGB to grey conversion.
    return (c.r * 77 + c.g * 151 + c.b * 28 + 128) >> 8;
}

class RastoolRoundTripTest : public ::testing::TestWithParam<Case> {};

TEST_P(RastoolRoundTripTest, DecodedPixelsMatchTheRendering)
{
    const Case &c = GetParam();
    const bool metafile = c.type == "EMF" || c.type == "WMF";
    // Metafiles are read back at one resolution, so they get equal ones.
    const int xDpi = 90, yDpi = metafile ? 90 : 120;
    testpdf::TempDir dir;
    testpdf::WriteFile(dir / "in.pdf", TestPage());
    std::string extension = c.type == "JPG" ? "jpg" : c.type;
    for (auto &ch : extension) {
        ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    }
    const std::string out = dir / ("out." + extension);
    std::vector<std::string> args{"-i", dir / "in.pdf",
                                  "-o", out,
                                  "-r", std::to_string(xDpi) + "x" + std::to_string(yDpi),
                                  "-b", std::to_string(BitsOf(c.depth))};
    if (c.depth == Depth::Grey8) {
        args.push_back("-g");
    }
    if (!c.keyword.empty()) {
        args.insert(args.end(), {"-c", c.keyword});
    }
    const auto run = engine_test::RunRastool(args, dir / "stderr.txt");
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, ""); // every case here is a depth the type holds: no warning

    render::Document reference(dir / "in.pdf");
    const bool grey = c.depth == Depth::Grey8 || c.depth == Depth::Bw1;
    const auto size = reference.PagePixelSize(0, xDpi, yDpi);
    const int n = grey ? 1 : 3;
    std::vector<uint8_t> expected(static_cast<size_t>(size.width) * size.height * n);
    reference.RenderBand(0, xDpi, yDpi, 0, size.height,
                         grey ? render::PixelFormat::Grey : render::PixelFormat::Rgb,
                         expected.data(), size.width * n);

    // ImageMagick reads 1-bit PCX without its palette; Netpbm reads it right.
    auto reader = writer_test::Reader::ImageMagick;
    if (metafile) {
        reader = writer_test::Reader::Inkscape;
    } else if (c.type == "PCX" && c.depth == Depth::Bw1) {
        reader = writer_test::Reader::Netpbm;
    }
    const auto decoded = writer_test::Decode(reader, out, xDpi);
    ASSERT_NEAR(decoded.width, size.width, metafile ? 1 : 0);
    ASSERT_NEAR(decoded.height, size.height, metafile ? 1 : 0);
    auto at = [&](int x, int y, int channel) {
        return static_cast<int>(
            decoded.rgb[(static_cast<size_t>(y) * decoded.width + x) * 3 + channel]);
    };

    const bool lossy = c.type == "JPG" || c.compression == TiffCompression::Jpeg || metafile;
    if (!lossy && (c.depth == Depth::Rgb24 || c.depth == Depth::Grey8)) {
        int mismatches = 0;
        for (int y = 0; y < size.height; ++y) {
            for (int x = 0; x < size.width; ++x) {
                for (int ch = 0; ch < 3; ++ch) {
                    const int want =
                        expected[(static_cast<size_t>(y) * size.width + x) * n + (grey ? 0 : ch)];
                    mismatches += at(x, y, ch) != want;
                }
            }
        }
        EXPECT_EQ(mismatches, 0);
    }

    // Fax pages cut near-black and near-white at mid-grey and diffuse the tones between.
    const bool fax = c.compression == TiffCompression::G3 || c.compression == TiffCompression::G4;
    for (const Region &r : kRegions) {
        const int cx = static_cast<int>(r.x * xDpi / 72),
                  cy = static_cast<int>((kPageH - r.y) * yDpi / 72);
        int want[3] = {r.colour.r, r.colour.g, r.colour.b};
        const int luma = Luma(r.colour);
        const bool cut = fax && (luma <= 48 || luma >= 208);
        if (grey) {
            const int level = cut ? (luma < 128 ? 0 : 255) : luma;
            want[0] = want[1] = want[2] = level;
        }
        int tolerance = 12;
        if (c.depth == Depth::Bw1 && !cut) {
            tolerance = 40; // error diffusion: the mean of a block
        } else if (c.depth == Depth::Pal4 || c.depth == Depth::Pal8 || metafile) {
            tolerance = 16;
        }
        for (int ch = 0; ch < 3; ++ch) {
            double sum = 0;
            for (int y = cy - 4; y < cy + 4; ++y) {
                for (int x = cx - 4; x < cx + 4; ++x) {
                    sum += at(x, y, ch);
                }
            }
            EXPECT_NEAR(sum / 64, want[ch], tolerance)
                << "region at " << r.x << "," << r.y << " channel " << ch;
        }
    }

    if (c.type == "BMP" || c.type == "PNG" || c.type == "JPG" || c.type == "TIF" ||
        c.type == "PCX") {
        double x = 0, y = 0;
        ASSERT_TRUE(writer_test::ReadResolution(out, x, y));
        EXPECT_NEAR(x, xDpi, 0.5);
        EXPECT_NEAR(y, yDpi, 0.5);
    }
}

INSTANTIATE_TEST_SUITE_P(Capabilities, RastoolRoundTripTest, ::testing::ValuesIn(AllCases()),
                         CaseName);

} // namespace
