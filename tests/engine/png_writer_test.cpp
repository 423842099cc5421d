// SPDX-License-Identifier: AGPL-3.0-or-later
#include "writer_test_support.h"

#include <zlib.h>

#include <climits>
#include <fstream>
#include <iterator>

namespace writer_test {
namespace {

using rastool::MakePngWriter;

INSTANTIATE_TEST_SUITE_P(Png, WriterRoundTripTest,
                         ::testing::ValuesIn(Cases("png", MakePngWriter, {1, 4, 8, 24},
                                                   {1, 3, 17, 400}, Reader::ImageMagick)),
                         RoundTripName);
INSTANTIATE_TEST_SUITE_P(
    PngGrey, WriterRoundTripTest,
    ::testing::Values(RoundTripCase{"png", MakePngWriter, 8, 400, true, Reader::ImageMagick},
                      RoundTripCase{"png", MakePngWriter, 8, 17, true, Reader::ImageMagick}),
    RoundTripName);
INSTANTIATE_TEST_SUITE_P(Png, WriterContractTest,
                         ::testing::Values(WriterCase{"PNG", MakePngWriter, 24, 0, INT_MAX, 1}));
INSTANTIATE_TEST_SUITE_P(Png, PaletteIndexTest,
                         ::testing::Values(WriterCase{"PNG", MakePngWriter, 1, 0, 0, 0},
                                           WriterCase{"PNG", MakePngWriter, 4, 0, 0, 0}));

// Pages of ordinary size are deflated in one piece; pages of more than 48 MB of rows in bands
// on several threads, whose pieces must join into one valid stream whatever the row size,
// however the rows arrive, and also when the last band ends exactly on a band boundary and the
// final piece holds no rows.
struct LargePage {
    const char *name;
    int bits;
    int width;
    int height;
    bool greyscale;
    int rowsPerCall;
};
std::ostream &operator<<(std::ostream &out, const LargePage &c)
{
    return out << c.name;
}

std::vector<uint8_t> ReadFile(const std::filesystem::path &path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

uint32_t U32Be(const uint8_t *p)
{
    return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}

// Checks every chunk's CRC and inflates the joined IDAT data strictly (zlib verifies the
// stream's checksum, which image readers may skip); returns the inflated size.
std::size_t CheckChunksAndInflate(const std::filesystem::path &path)
{
    const std::vector<uint8_t> file = ReadFile(path);
    std::vector<uint8_t> idat;
    std::size_t at = 8;
    while (at + 12 <= file.size()) {
        const uint32_t length = U32Be(&file[at]);
        EXPECT_LE(at + 12 + length, file.size());
        if (at + 12 + length > file.size()) {
            return 0;
        }
        const uint8_t *type = &file[at + 4];
        EXPECT_EQ(crc32(0, type, length + 4), U32Be(type + 4 + length))
            << std::string(type, type + 4) << " at " << at;
        if (std::equal(type, type + 4, "IDAT")) {
            idat.insert(idat.end(), type + 4, type + 4 + length);
        }
        at += 12 + length;
    }
    EXPECT_EQ(at, file.size());
    z_stream z{};
    EXPECT_EQ(inflateInit(&z), Z_OK);
    std::vector<uint8_t> out(1 << 16);
    std::size_t total = 0;
    z.next_in = idat.data();
    z.avail_in = static_cast<uInt>(idat.size());
    int status = Z_OK;
    while (status == Z_OK) {
        z.next_out = out.data();
        z.avail_out = static_cast<uInt>(out.size());
        status = inflate(&z, Z_NO_FLUSH);
        total += out.size() - z.avail_out;
    }
    EXPECT_EQ(status, Z_STREAM_END) << (z.msg != nullptr ? z.msg : "");
    EXPECT_EQ(z.avail_in, 0u) << "bytes after the end of the stream";
    inflateEnd(&z);
    return total;
}

class PngLargePageTest : public ::testing::TestWithParam<LargePage> {};

TEST_P(PngLargePageTest, BandedStreamDecodesToEveryPixel)
{
    const LargePage &c = GetParam();
    TempDir dir;
    const auto path = dir.Path() / "page.png";
    const TestImage image = MakeTestImage(c.bits, c.width, c.height, c.greyscale);
    WriteImage(MakePngWriter, image, path, c.rowsPerCall);
    const std::size_t rowBytes = (static_cast<std::size_t>(c.width) * c.bits + 7) / 8;
    EXPECT_EQ(CheckChunksAndInflate(path), (rowBytes + 1) * c.height);
    RunCommand("pngcheck -q " + QuotePath(path));
    const DecodedImage decoded = Decode(Reader::ImageMagick, path);
    ASSERT_EQ(decoded.width, c.width);
    ASSERT_EQ(decoded.height, c.height);
    const std::vector<uint8_t> expected = image.ExpectedRgb();
    ASSERT_EQ(decoded.rgb.size(), expected.size());
    std::size_t wrong = 0;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        wrong += decoded.rgb[i] != expected[i];
    }
    EXPECT_EQ(wrong, 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Png, PngLargePageTest,
    ::testing::Values(
        // 3001-byte rows: bands end mid-way through the page at no row multiple of a power of 2.
        LargePage{"Colour", 24, 1000, 1100, false, 37},
        // 1024-byte rows: 2048 rows fill exactly two bands.
        LargePage{"GreyExactBands", 8, 1023, 2048, true, 64},
        LargePage{"Bilevel", 1, 9000, 1200, false, 1},
        LargePage{"Palette", 4, 3001, 900, false, 500},
        // 12303-byte rows, 50 MB: past the limit of pages deflated in one piece.
        LargePage{"ColourInBands", 24, 4100, 4100, false, 333},
        // 8192-byte rows, 6145 of them (just past 48 MiB): the last band holds one row.
        LargePage{"GreyInBandsLastRowAlone", 8, 8191, 6145, true, 1000}),
    [](const ::testing::TestParamInfo<LargePage> &info) { return std::string(info.param.name); });

TEST(PngWriter, ResolutionAndGreyTypeAreStored)
{
    TempDir dir;
    const auto path = dir.Path() / "grey.png";
    WriteImage(MakePngWriter, MakeTestImage(8, 17, 5, true, 300, 150), path);
    double xDpi = 0, yDpi = 0;
    ASSERT_TRUE(ReadResolution(path, xDpi, yDpi));
    EXPECT_NEAR(xDpi, 300, 0.1);
    EXPECT_NEAR(yDpi, 150, 0.1);
    EXPECT_EQ(RunCommand("identify -format '%[type]' " + QuotePath(path)), "Grayscale");
}

// A page of flat areas, the bulk of a rendered document page, must shrink to a small fraction:
// a stream that stored its bands uncompressed would still decode.
TEST(PngWriter, FlatPageIsCompressed)
{
    TempDir dir;
    const auto path = dir.Path() / "flat.png";
    TestImage image = MakeTestImage(24, 2000, 600);
    std::fill(image.pixels.begin(), image.pixels.end(), 0xFF);
    WriteImage(MakePngWriter, image, path, 100);
    EXPECT_LT(ReadFile(path).size(), image.pixels.size() / 200);
    EXPECT_EQ(CheckChunksAndInflate(path), (2000 * 3 + 1) * 600u);
}

} // namespace
} // namespace writer_test
