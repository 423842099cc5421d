// SPDX-License-Identifier: AGPL-3.0-or-later
#include "writer_test_support.h"

namespace writer_test {
namespace {

using rastool::MakePcxWriter;

// Width 400 gives runs longer than the 63 bytes one count can hold and bytes of 0xC0 and above,
// which must be escaped; widths 1, 3 and 17 pad each plane's line to an even length.
INSTANTIATE_TEST_SUITE_P(Pcx, WriterRoundTripTest,
                         ::testing::ValuesIn(Cases("pcx", MakePcxWriter, {1, 4, 8, 24},
                                                   {1, 3, 17, 400}, Reader::Netpbm)),
                         RoundTripName);
// ImageMagick reads 1-bit files with the bit meaning the other way round from other readers, so
// it checks the other depths.
INSTANTIATE_TEST_SUITE_P(PcxOtherReader, WriterRoundTripTest,
                         ::testing::ValuesIn(Cases("pcx", MakePcxWriter, {4, 8, 24}, {3, 400},
                                                   Reader::ImageMagick)),
                         RoundTripName);
INSTANTIATE_TEST_SUITE_P(
    PcxGrey, WriterRoundTripTest,
    ::testing::Values(RoundTripCase{"pcx", MakePcxWriter, 8, 17, true, Reader::Netpbm},
                      RoundTripCase{"pcx", MakePcxWriter, 8, 17, true, Reader::ImageMagick}),
    RoundTripName);

// Coordinates are 16-bit: the last column of a 65537-pixel row cannot be addressed.
INSTANTIATE_TEST_SUITE_P(Pcx, WriterContractTest,
                         ::testing::Values(WriterCase{"PCX", MakePcxWriter, 1, 0, 65537, 1}));
INSTANTIATE_TEST_SUITE_P(Pcx, PaletteIndexTest,
                         ::testing::Values(WriterCase{"PCX", MakePcxWriter, 1, 0, 65537, 1}));

TEST(PcxWriter, RecordsEachAxisResolution)
{
    TempDir dir;
    const auto path = dir.Path() / "fax.pcx";
    WriteImage(MakePcxWriter, MakeTestImage(1, 17, 5, false, 204, 98), path);
    double x = 0, y = 0;
    ASSERT_TRUE(ReadResolution(path, x, y));
    EXPECT_EQ(x, 204);
    EXPECT_EQ(y, 98);
}

} // namespace
} // namespace writer_test
