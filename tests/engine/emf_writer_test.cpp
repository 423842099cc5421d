// SPDX-License-Identifier: AGPL-3.0-or-later
#include "writer_test_support.h"

#include <climits>

namespace writer_test {
namespace {

using rastool::MakeEmfWriter;

// The converter is slow, so each depth once and the row paddings at 24 bits. Pages are at
// 127 dpi, where a pixel is exactly 0.2 mm and the frame in hundredths of a millimetre is exact.
std::vector<RoundTripCase> EmfCases()
{
    std::vector<RoundTripCase> cases =
        Cases("emf", MakeEmfWriter, {1, 4, 8, 24}, {17}, Reader::Inkscape);
    for (const RoundTripCase &c : Cases("emf", MakeEmfWriter, {24}, {1, 3}, Reader::Inkscape)) {
        cases.push_back(c);
    }
    return cases;
}
INSTANTIATE_TEST_SUITE_P(Emf, WriterRoundTripTest, ::testing::ValuesIn(EmfCases()), RoundTripName);

INSTANTIATE_TEST_SUITE_P(Emf, WriterContractTest,
                         ::testing::Values(WriterCase{"EMF", MakeEmfWriter, 1, 0, INT_MAX, 40}));
INSTANTIATE_TEST_SUITE_P(Emf, PaletteIndexTest,
                         ::testing::Values(WriterCase{"EMF", MakeEmfWriter, 1, 0, INT_MAX, 40}));

// 17 x 13 pixels at 204 x 98 dpi are 0.0833 x 0.1327 inches: at 204 dpi that is 17 x 27 pixels.
TEST(EmfWriter, PictureHasThePagesPhysicalSizeOnEachAxis)
{
    TempDir dir;
    const auto path = dir.Path() / "fax.emf";
    WriteImage(MakeEmfWriter, MakeTestImage(1, 17, 13, false, 204, 98), path);
    const DecodedImage decoded = Decode(Reader::Inkscape, path, 204);
    EXPECT_EQ(decoded.width, 17);
    EXPECT_NEAR(decoded.height, 27, 1);
}

} // namespace
} // namespace writer_test
