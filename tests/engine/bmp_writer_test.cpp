// SPDX-License-Identifier: AGPL-3.0-or-later
#include "writer_test_support.h"

#include <climits>

namespace writer_test {
namespace {

using rastool::MakeBmpWriter;

// Widths 1, 3 and 17 leave 3, 1 and 3 bytes of row padding at 24 bits and odd nibbles and bits
// at 4 and 1 bit; 400 gives long runs. Bands of 4 rows over 11 rows land at every offset of the
// bottom-up pixel area.
INSTANTIATE_TEST_SUITE_P(Bmp, WriterRoundTripTest,
                         ::testing::ValuesIn(Cases("bmp", MakeBmpWriter, {1, 4, 8, 24},
                                                   {1, 3, 17, 400}, Reader::ImageMagick)),
                         RoundTripName);
INSTANTIATE_TEST_SUITE_P(BmpOtherReader, WriterRoundTripTest,
                         ::testing::ValuesIn(Cases("bmp", MakeBmpWriter, {1, 4, 8, 24}, {17},
                                                   Reader::Netpbm)),
                         RoundTripName);

// A 1-bit page of INT_MAX x 40 pixels needs 10 GB, beyond the 32-bit file size field.
INSTANTIATE_TEST_SUITE_P(Bmp, WriterContractTest,
                         ::testing::Values(WriterCase{"BMP", MakeBmpWriter, 1, 0, INT_MAX, 40}));
INSTANTIATE_TEST_SUITE_P(Bmp, PaletteIndexTest,
                         ::testing::Values(WriterCase{"BMP", MakeBmpWriter, 1, 0, INT_MAX, 40}));

TEST(BmpWriter, RecordsEachAxisResolution)
{
    TempDir dir;
    const auto path = dir.Path() / "fax.bmp";
    WriteImage(MakeBmpWriter, MakeTestImage(8, 17, 5, true, 204, 98), path);
    double x = 0, y = 0;
    ASSERT_TRUE(ReadResolution(path, x, y));
    // Stored as whole pixels per metre and reported in pixels per centimetre to two places.
    EXPECT_NEAR(x, 204, 0.02);
    EXPECT_NEAR(y, 98, 0.02);
}

} // namespace
} // namespace writer_test
