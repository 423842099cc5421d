// SPDX-License-Identifier: AGPL-3.0-or-later
// A page drawn in bands must look as the page drawn whole: images, above all scanned and
// striped ones, must not shift where a band begins.
#include "cmyk_chart.h"
#include "render/document.h"
#include "test_pdf.h"

#include <gtest/gtest.h>

#include <cmath>

using render::Document;
using render::PixelFormat;

namespace {

struct ImagePage {
    const char *name;
    const char *colourSpace;
    int components;
    int width, height; // samples
    double dpi;
    double minPsnr;
};

// An image over the whole Letter page: horizontal stripes of varying width, with a slow
// horizontal ramp so that every row differs from its neighbours.
std::string StripedPage(const ImagePage &p)
{
    std::string samples;
    samples.reserve(static_cast<size_t>(p.width) * p.height * p.components);
    for (int y = 0; y < p.height; ++y) {
        const bool dark = (y / (1 + y % 3)) % 2 == 0;
        for (int x = 0; x < p.width; ++x) {
            const int v = dark ? 30 + x * 60 / p.width : 220 - x * 60 / p.width;
            for (int k = 0; k < p.components; ++k) {
                samples += static_cast<char>(p.components == 4 ? (k == 3 ? 255 - v : v / 4)
                                                               : (v + 40 * k) % 256);
            }
        }
    }
    testpdf::PdfBuilder b;
    const int image = b.AddStream(
        "/Type /XObject /Subtype /Image /Width " + std::to_string(p.width) + " /Height " +
            std::to_string(p.height) + " /ColorSpace " + p.colourSpace + " /BitsPerComponent 8",
        samples);
    return b.Build(612, 792, "<< /XObject << /Scan " + std::to_string(image) + " 0 R >> >>",
                   "q 612 0 0 792 0 0 cm /Scan Do Q");
}

// The same stripes as a stencil mask (one bit a sample) painted in blue: the library paints
// masks through a painter of their own.
std::string StripedMaskPage(int width, int height)
{
    const int rowBytes = (width + 7) / 8;
    std::string samples;
    for (int y = 0; y < height; ++y) {
        const bool dark = (y / (1 + y % 3)) % 2 == 0;
        samples.append(static_cast<size_t>(rowBytes), dark ? '\0' : '\xff');
    }
    testpdf::PdfBuilder b;
    const int mask =
        b.AddStream("/Type /XObject /Subtype /Image /Width " + std::to_string(width) + " /Height " +
                        std::to_string(height) + " /ImageMask true /BitsPerComponent 1",
                    samples);
    return b.Build(612, 792, "<< /XObject << /Mask " + std::to_string(mask) + " 0 R >> >>",
                   "0.1 0.2 0.9 rg q 612 0 0 792 0 0 cm /Mask Do Q");
}

std::vector<unsigned char> Draw(Document &doc, double dpi, int bandRows)
{
    const auto size = doc.PagePixelSize(0, dpi, dpi);
    const size_t row = static_cast<size_t>(size.width) * 3;
    std::vector<unsigned char> pixels(row * size.height);
    for (int y0 = 0; y0 < size.height; y0 += bandRows) {
        const int rows = std::min(bandRows, size.height - y0);
        doc.RenderBand(0, dpi, dpi, y0, rows, PixelFormat::Rgb, pixels.data() + row * y0,
                       static_cast<std::ptrdiff_t>(row));
    }
    return pixels;
}

double Psnr(const std::vector<unsigned char> &a, const std::vector<unsigned char> &b)
{
    double sum = 0;
    for (size_t i = 0; i < a.size(); ++i) {
        const double d = a[i] - b[i];
        sum += d * d;
    }
    const double mse = sum / static_cast<double>(a.size());
    return mse == 0 ? 99 : 10 * std::log10(255.0 * 255.0 / mse);
}

class BandSeamTest : public ::testing::TestWithParam<ImagePage> {};

TEST_P(BandSeamTest, BandedPageMatchesTheWholePage)
{
    const ImagePage &p = GetParam();
    const std::string pdf = StripedPage(p);
    Document whole(testpdf::Bytes(pdf));
    Document banded(testpdf::Bytes(pdf));
    const auto reference = Draw(whole, p.dpi, 1 << 20);
    EXPECT_GE(Psnr(reference, Draw(banded, p.dpi, 512)), p.minPsnr);
    EXPECT_GE(Psnr(reference, Draw(banded, p.dpi, 97)), p.minPsnr);
}

TEST(BandSeamMaskTest, BandedMaskMatchesTheWholeMask)
{
    const std::string pdf = StripedMaskPage(850, 1100);
    Document whole(testpdf::Bytes(pdf));
    Document banded(testpdf::Bytes(pdf));
    const auto reference = Draw(whole, 150, 1 << 20);
    EXPECT_GE(Psnr(reference, Draw(banded, 150, 512)), 40);
    EXPECT_GE(Psnr(reference, Draw(banded, 150, 97)), 40);
}

INSTANTIATE_TEST_SUITE_P(Pages, BandSeamTest,
                         ::testing::Values(
                             // Reduced: a scan of 200 or 300 dpi shown at 72 to 150 dpi, where
                             // each band used to scale its own part of the image and rows moved
                             // by pixels.
                             ImagePage{"GreyReduced", "/DeviceGray", 1, 2550, 3300, 96, 40},
                             ImagePage{"RgbReduced", "/DeviceRGB", 3, 2550, 3300, 150, 40},
                             ImagePage{"CmykReduced", "/DeviceCMYK", 4, 1700, 2200, 72, 40},
                             // Enlarged, as a 100 dpi scan shown at 150 or 200 dpi: the library
                             // interpolates it stepping down from each band's first row in
                             // fixed point, and its rows used to drift apart by band.
                             ImagePage{"GreyEnlarged", "/DeviceGray", 1, 850, 1100, 200, 40},
                             ImagePage{"RgbEnlarged", "/DeviceRGB", 3, 850, 1100, 150, 40},
                             ImagePage{"CmykEnlarged", "/DeviceCMYK", 4, 850, 1100, 150, 40}),
                         [](const auto &info) { return std::string(info.param.name); });

} // namespace
