// SPDX-License-Identifier: AGPL-3.0-or-later
#include "writer_test_support.h"

namespace writer_test {
namespace {

using rastool::MakeWmfWriter;

// The converter is slow, so each depth once and the row paddings at 24 bits.
std::vector<RoundTripCase> WmfCases()
{
    std::vector<RoundTripCase> cases =
        Cases("wmf", MakeWmfWriter, {1, 4, 8, 24}, {17}, Reader::Inkscape);
    for (const RoundTripCase &c : Cases("wmf", MakeWmfWriter, {24}, {1, 3}, Reader::Inkscape)) {
        cases.push_back(c);
    }
    return cases;
}
INSTANTIATE_TEST_SUITE_P(Wmf, WriterRoundTripTest, ::testing::ValuesIn(WmfCases()), RoundTripName);

// Source sizes in the bitmap record are 16-bit.
INSTANTIATE_TEST_SUITE_P(Wmf, WriterContractTest,
                         ::testing::Values(WriterCase{"WMF", MakeWmfWriter, 1, 0, 32768, 1}));
INSTANTIATE_TEST_SUITE_P(Wmf, PaletteIndexTest,
                         ::testing::Values(WriterCase{"WMF", MakeWmfWriter, 1, 0, 32768, 1}));

struct SizeCase {
    int width, height;
    double xDpi, yDpi;
    double exportDpi;
    int expectedWidth, expectedHeight;
};

class WmfSizeTest : public ::testing::TestWithParam<SizeCase> {};

TEST_P(WmfSizeTest, PictureHasThePagesPhysicalSize)
{
    const SizeCase &c = GetParam();
    TempDir dir;
    const auto path = dir.Path() / "page.wmf";
    WriteImage(MakeWmfWriter, MakeTestImage(1, c.width, c.height, false, c.xDpi, c.yDpi), path);
    const DecodedImage decoded = Decode(Reader::Inkscape, path, c.exportDpi);
    EXPECT_NEAR(decoded.width, c.expectedWidth, 1);
    EXPECT_NEAR(decoded.height, c.expectedHeight, 1);
}

// Different resolutions across and down; a 40-inch page whose size in pixel units would not fit
// 16-bit coordinates.
INSTANTIATE_TEST_SUITE_P(Wmf, WmfSizeTest,
                         ::testing::Values(SizeCase{17, 13, 204, 98, 204, 17, 27},
                                           SizeCase{2000, 400, 50, 50, 5, 200, 40}));

} // namespace
} // namespace writer_test
