// SPDX-License-Identifier: AGPL-3.0-or-later
#include "writer_test_support.h"

#include <climits>

namespace writer_test {
namespace {

using rastool::MakeRasWriter;

// Widths 1, 3 and 17 pad rows to 16 bits at every depth.
INSTANTIATE_TEST_SUITE_P(Ras, WriterRoundTripTest,
                         ::testing::ValuesIn(Cases("ras", MakeRasWriter, {1, 8, 24},
                                                   {1, 3, 17, 400}, Reader::ImageMagick)),
                         RoundTripName);
INSTANTIATE_TEST_SUITE_P(RasOtherReader, WriterRoundTripTest,
                         ::testing::ValuesIn(Cases("ras", MakeRasWriter, {1, 8, 24}, {3, 17},
                                                   Reader::Netpbm)),
                         RoundTripName);
INSTANTIATE_TEST_SUITE_P(RasGrey, WriterRoundTripTest,
                         ::testing::Values(RoundTripCase{"ras", MakeRasWriter, 8, 17, true,
                                                         Reader::ImageMagick}),
                         RoundTripName);

// The 32-bit length of the pixel data cannot hold INT_MAX x 40 pixels even at 1 bit.
INSTANTIATE_TEST_SUITE_P(Ras, WriterContractTest,
                         ::testing::Values(WriterCase{"RAS", MakeRasWriter, 1, 4, INT_MAX, 40}));
INSTANTIATE_TEST_SUITE_P(Ras, PaletteIndexTest,
                         ::testing::Values(WriterCase{"RAS", MakeRasWriter, 1, 4, INT_MAX, 40}));

// The file carries no map at 1 bit, so whatever the palette, dark entries must become set bits
// (black) and light ones clear bits (white).
TEST(RasWriter, OneBitPaletteInEitherOrderReadsAsBlackAndWhite)
{
    TempDir dir;
    TestImage image = MakeTestImage(1, 17, 3);
    image.format.palette = {{255, 255, 255}, {0, 0, 0}};
    const auto path = dir.Path() / "inverted.ras";
    WriteImage(MakeRasWriter, image, path);
    EXPECT_EQ(Decode(Reader::ImageMagick, path).rgb, image.ExpectedRgb());
}

} // namespace
} // namespace writer_test
