// SPDX-License-Identifier: AGPL-3.0-or-later
// The TIFF and GIF writers' own LZW, read back through libtiff's and giflib's decoders, which
// are not ours.
#include "engine/writers/lzw.h"
#include "writer_test_support.h"

#include <gif_lib.h>
#include <gtest/gtest.h>
#include <tiffio.h>

#include <random>

using namespace rastool;
using namespace writer_test;

namespace {

struct LzwPage {
    const char *name;
    int bits;
    bool greyscale;
    int width;
    int height;
    bool noise; // random pixels: the code table fills many times within a strip
};
std::ostream &operator<<(std::ostream &out, const LzwPage &c)
{
    return out << c.name;
}

// The rows libtiff decodes, unpacked: one byte per sample or per pixel index.
std::vector<uint8_t> ReadBack(const std::filesystem::path &path, const PageFormat &format)
{
    TIFF *tif = TIFFOpen(path.c_str(), "r");
    EXPECT_NE(tif, nullptr);
    if (tif == nullptr) {
        return {};
    }
    uint16_t compression = 0;
    TIFFGetField(tif, TIFFTAG_COMPRESSION, &compression);
    EXPECT_EQ(compression, COMPRESSION_LZW);
    std::vector<uint8_t> row(static_cast<size_t>(TIFFScanlineSize64(tif)));
    std::vector<uint8_t> out;
    const int bits = format.bitsPerPixel;
    for (int y = 0; y < format.height; ++y) {
        EXPECT_EQ(TIFFReadScanline(tif, row.data(), static_cast<uint32_t>(y), 0), 1) << y;
        if (bits >= 8) {
            out.insert(out.end(), row.begin(), row.end());
            continue;
        }
        for (int x = 0; x < format.width; ++x) {
            const int bit = x * bits;
            out.push_back(
                static_cast<uint8_t>(row[bit / 8] >> (8 - bits - bit % 8) & ((1 << bits) - 1)));
        }
    }
    TIFFClose(tif);
    return out;
}

class TiffLzwTest : public ::testing::TestWithParam<LzwPage> {};

TEST_P(TiffLzwTest, LibtiffDecodesEveryPixel)
{
    const LzwPage &c = GetParam();
    TestImage image = MakeTestImage(c.bits, c.width, c.height, c.greyscale);
    if (c.noise) {
        std::mt19937 random(17);
        const unsigned limit = c.bits == 24 ? 256u : 1u << c.bits;
        for (uint8_t &v : image.pixels) {
            v = static_cast<uint8_t>(random() % limit);
        }
    }
    TempDir dir;
    const auto path = dir.Path() / "page.tif";
    WriterOptions options;
    options.compression = TiffCompression::Lzw;
    std::FILE *file = std::fopen(path.c_str(), "w+b");
    ASSERT_NE(file, nullptr);
    {
        auto writer = MakeTiffWriter(file, options);
        writer->BeginPage(image.format);
        const int n = c.bits == 24 ? 3 : 1;
        // Bands that do not line up with the strips.
        for (int y0 = 0; y0 < c.height; y0 += 13) {
            const int rows = std::min(13, c.height - y0);
            writer->WriteRows(&image.pixels[static_cast<size_t>(y0) * c.width * n], rows,
                              c.width * n);
        }
        writer->EndPage();
        writer->Finish();
    }
    std::fclose(file);
    const std::vector<uint8_t> decoded = ReadBack(path, image.format);
    ASSERT_EQ(decoded.size(), image.pixels.size());
    size_t wrong = 0;
    for (size_t i = 0; i < decoded.size(); ++i) {
        wrong += decoded[i] != image.pixels[i];
    }
    EXPECT_EQ(wrong, 0u);
}

INSTANTIATE_TEST_SUITE_P(Pages, TiffLzwTest,
                         ::testing::Values(LzwPage{"Colour", 24, false, 701, 90, false},
                                           LzwPage{"ColourNoise", 24, false, 997, 60, true},
                                           LzwPage{"Grey", 8, true, 1201, 70, false},
                                           LzwPage{"PaletteNoise", 8, false, 3001, 40, true},
                                           LzwPage{"Palette4", 4, false, 999, 50, false},
                                           LzwPage{"Bilevel", 1, false, 2003, 80, false},
                                           LzwPage{"OnePixel", 24, false, 1, 1, false}),
                         [](const ::testing::TestParamInfo<LzwPage> &info) {
                             return std::string(info.param.name);
                         });

// Every strip once as predicted (zero runs followed fast) and once not (runs of its first
// byte followed fast).
std::vector<std::pair<std::vector<uint8_t>, bool>>
StripsEitherWay(const std::vector<std::vector<uint8_t>> &strips)
{
    std::vector<std::pair<std::vector<uint8_t>, bool>> both;
    for (const auto &strip : strips) {
        both.emplace_back(strip, true);
        both.emplace_back(strip, false);
    }
    return both;
}

// Edge cases of the encoder alone, decoded by libtiff's codec through a one-strip file: empty
// and one-byte strips, a run long enough that its strings reach the longest code, and the
// point where the table is full and starts over.
TEST(TiffLzwEncode, StripsOfAnyLengthDecode)
{
    std::mt19937 random(3);
    std::vector<std::vector<uint8_t>> strips = {
        {7}, std::vector<uint8_t>(200000, 0), std::vector<uint8_t>(70000, 200)};
    std::vector<uint8_t> noise(50000);
    for (uint8_t &v : noise) {
        v = static_cast<uint8_t>(random());
    }
    strips.push_back(noise);
    // Just short of, at and past the data that fills the table exactly once: distinct pairs
    // add one code each.
    for (size_t length : {7670u, 7672u, 7674u}) {
        std::vector<uint8_t> pairs;
        for (size_t i = 0; pairs.size() < length; ++i) {
            pairs.push_back(static_cast<uint8_t>(i % 256));
            pairs.push_back(static_cast<uint8_t>(i / 256 * 7 + 1));
        }
        pairs.resize(length);
        strips.push_back(pairs);
    }
    for (const auto &[strip, predicted] : StripsEitherWay(strips)) {
        std::vector<uint8_t> packed;
        TiffLzwEncode(strip.data(), strip.size(), predicted, packed);
        TempDir dir;
        const auto path = dir.Path() / "strip.tif";
        TIFF *out = TIFFOpen(path.c_str(), "w");
        ASSERT_NE(out, nullptr);
        TIFFSetField(out, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(strip.size()));
        TIFFSetField(out, TIFFTAG_IMAGELENGTH, 1u);
        TIFFSetField(out, TIFFTAG_BITSPERSAMPLE, 8);
        TIFFSetField(out, TIFFTAG_SAMPLESPERPIXEL, 1);
        TIFFSetField(out, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
        TIFFSetField(out, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
        TIFFSetField(out, TIFFTAG_ROWSPERSTRIP, 1u);
        ASSERT_GE(TIFFWriteRawStrip(out, 0, packed.data(), static_cast<tmsize_t>(packed.size())),
                  0);
        TIFFClose(out);
        TIFF *in = TIFFOpen(path.c_str(), "r");
        ASSERT_NE(in, nullptr);
        std::vector<uint8_t> decoded(strip.size());
        EXPECT_EQ(
            TIFFReadEncodedStrip(in, 0, decoded.data(), static_cast<tmsize_t>(decoded.size())),
            static_cast<tmsize_t>(strip.size()));
        TIFFClose(in);
        EXPECT_EQ(decoded, strip) << strip.size() << " bytes";
    }
}

struct GifPage {
    const char *name;
    int bits;
    int width;
    int height;
    int pattern; // 0: one index throughout, 1: noise, 2: runs of a few indices
};
std::ostream &operator<<(std::ostream &out, const GifPage &c)
{
    return out << c.name;
}

class GifLzwTest : public ::testing::TestWithParam<GifPage> {};

// Noise fills the code table many times over (Clear codes mid-image); one index throughout
// makes strings long enough to need 12-bit codes; every depth has its own minimum code size.
TEST_P(GifLzwTest, GiflibDecodesEveryIndex)
{
    const GifPage &c = GetParam();
    PageFormat format;
    format.width = c.width;
    format.height = c.height;
    format.xDpi = format.yDpi = 100;
    format.bitsPerPixel = c.bits;
    for (int i = 0; i < (1 << c.bits); ++i) {
        format.palette.push_back(Colour{static_cast<uint8_t>(i), static_cast<uint8_t>(255 - i), 7});
    }
    std::mt19937 random(23);
    std::vector<uint8_t> indices(static_cast<size_t>(c.width) * c.height);
    for (size_t i = 0; i < indices.size(); ++i) {
        const unsigned limit = 1u << c.bits;
        indices[i] = static_cast<uint8_t>(c.pattern == 0   ? limit - 1
                                          : c.pattern == 1 ? random() % limit
                                                           : (i / 37 + i / 1000) % 3 % limit);
    }
    TempDir dir;
    const auto path = dir.Path() / "page.gif";
    std::FILE *file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    {
        auto writer = MakeGifWriter(file, WriterOptions{});
        writer->BeginPage(format);
        for (int y0 = 0; y0 < c.height; y0 += 7) {
            writer->WriteRows(&indices[static_cast<size_t>(y0) * c.width],
                              std::min(7, c.height - y0), c.width);
        }
        writer->EndPage();
        writer->Finish();
    }
    std::fclose(file);

    int error = 0;
    GifFileType *gif = DGifOpenFileName(path.c_str(), &error);
    ASSERT_NE(gif, nullptr) << GifErrorString(error);
    ASSERT_EQ(DGifSlurp(gif), GIF_OK) << GifErrorString(gif->Error);
    ASSERT_EQ(gif->ImageCount, 1);
    const SavedImage &image = gif->SavedImages[0];
    ASSERT_EQ(image.ImageDesc.Width, c.width);
    ASSERT_EQ(image.ImageDesc.Height, c.height);
    ASSERT_NE(gif->SColorMap, nullptr);
    EXPECT_EQ(gif->SColorMap->ColorCount, 1 << c.bits);
    const std::vector<uint8_t> decoded(image.RasterBits, image.RasterBits + indices.size());
    DGifCloseFile(gif, &error);
    size_t wrong = 0;
    for (size_t i = 0; i < indices.size(); ++i) {
        wrong += decoded[i] != indices[i];
    }
    EXPECT_EQ(wrong, 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Pages, GifLzwTest,
    ::testing::Values(GifPage{"Flat8", 8, 2000, 900, 0}, GifPage{"Noise8", 8, 1201, 301, 1},
                      GifPage{"Runs8", 8, 999, 200, 2}, GifPage{"Noise4", 4, 1001, 300, 1},
                      GifPage{"Flat1", 1, 3000, 500, 0}, GifPage{"Noise1", 1, 1003, 300, 1},
                      GifPage{"OnePixel", 8, 1, 1, 1}),
    [](const ::testing::TestParamInfo<GifPage> &info) { return std::string(info.param.name); });

// The predictor works on eight bytes at a time: every pair of byte values, including those that
// borrow (a smaller sample after a larger one), and every row length around the word size.
TEST(TiffHorizontalDifferenceTest, EqualsTheByteByByteDifference)
{
    std::mt19937 random(5);
    for (const int samples : {1, 3}) {
        for (std::size_t length = 1; length < 40; ++length) { // a row holds at least a pixel
            std::vector<uint8_t> row(length);
            for (uint8_t &b : row) {
                b = static_cast<uint8_t>(random() % 3 == 0   ? 0
                                         : random() % 3 == 0 ? 255
                                                             : random());
            }
            std::vector<uint8_t> out(length, 0xcc);
            TiffHorizontalDifference(row.data(), out.data(), length, samples);
            for (std::size_t i = 0; i < length; ++i) {
                const auto step = static_cast<std::size_t>(samples);
                const auto expected =
                    static_cast<uint8_t>(i < step ? row[i] : row[i] - row[i - step]);
                ASSERT_EQ(out[i], expected)
                    << "samples " << samples << ", length " << length << ", byte " << i;
            }
        }
    }
    // All 65536 pairs, as byte a after byte b of one-sample pixels.
    std::vector<uint8_t> pairs;
    for (int a = 0; a < 256; ++a) {
        for (int b = 0; b < 256; ++b) {
            pairs.push_back(static_cast<uint8_t>(b));
            pairs.push_back(static_cast<uint8_t>(a));
        }
    }
    std::vector<uint8_t> out(pairs.size());
    TiffHorizontalDifference(pairs.data(), out.data(), pairs.size(), 1);
    for (std::size_t i = 1; i < pairs.size(); ++i) {
        ASSERT_EQ(out[i], static_cast<uint8_t>(pairs[i] - pairs[i - 1])) << i;
    }
}

} // namespace
