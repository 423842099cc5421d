// SPDX-License-Identifier: AGPL-3.0-or-later
#include "writer_test_support.h"

namespace writer_test {
namespace {

using rastool::MakeTgaWriter;

// Width 400 needs run packets split at 128 pixels; 1 and 3 end rows on short raw packets.
INSTANTIATE_TEST_SUITE_P(Tga, WriterRoundTripTest,
                         ::testing::ValuesIn(Cases("tga", MakeTgaWriter, {8, 24}, {1, 3, 17, 400},
                                                   Reader::ImageMagick)),
                         RoundTripName);
INSTANTIATE_TEST_SUITE_P(TgaOtherReader, WriterRoundTripTest,
                         ::testing::ValuesIn(Cases("tga", MakeTgaWriter, {8, 24}, {3, 400},
                                                   Reader::Netpbm)),
                         RoundTripName);
INSTANTIATE_TEST_SUITE_P(
    TgaGrey, WriterRoundTripTest,
    ::testing::Values(RoundTripCase{"tga", MakeTgaWriter, 8, 400, true, Reader::ImageMagick},
                      RoundTripCase{"tga", MakeTgaWriter, 8, 17, true, Reader::Netpbm}),
    RoundTripName);

INSTANTIATE_TEST_SUITE_P(Tga, WriterContractTest,
                         ::testing::Values(WriterCase{"TGA", MakeTgaWriter, 8, 4, 65536, 1}));

TEST(TgaWriter, GreyPagesAreStoredAsGreyImages)
{
    TempDir dir;
    const auto path = dir.Path() / "grey.tga";
    WriteImage(MakeTgaWriter, MakeTestImage(8, 17, 5, true), path);
    EXPECT_EQ(RunCommand("identify -format '%[type]' " + QuotePath(path)), "Grayscale");
}

} // namespace
} // namespace writer_test
