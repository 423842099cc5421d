// SPDX-License-Identifier: AGPL-3.0-or-later
#include "writer_test_support.h"

namespace writer_test {
namespace {

using rastool::MakeGifWriter;

// Width 1 and 3 end the code stream on a partial byte; 400 grows the code table past its first
// sizes.
INSTANTIATE_TEST_SUITE_P(Gif, WriterRoundTripTest,
                         ::testing::ValuesIn(Cases("gif", MakeGifWriter, {1, 4, 8}, {1, 3, 400},
                                                   Reader::ImageMagick)),
                         RoundTripName);
INSTANTIATE_TEST_SUITE_P(GifGrey, WriterRoundTripTest,
                         ::testing::Values(RoundTripCase{"gif", MakeGifWriter, 8, 17, true,
                                                         Reader::ImageMagick}),
                         RoundTripName);

// Sides are 16-bit: a 65536-pixel row would be stored as a row of 0 pixels.
INSTANTIATE_TEST_SUITE_P(Gif, WriterContractTest,
                         ::testing::Values(WriterCase{"GIF", MakeGifWriter, 8, 24, 65536, 1},
                                           WriterCase{"GIF", MakeGifWriter, 1, 24, 1, 65536}));
// The codec would keep only the index's low bits, a wrong colour instead of a refusal.
INSTANTIATE_TEST_SUITE_P(Gif, PaletteIndexTest,
                         ::testing::Values(WriterCase{"GIF", MakeGifWriter, 1, 24, 1, 65536},
                                           WriterCase{"GIF", MakeGifWriter, 4, 24, 1, 65536}));

} // namespace
} // namespace writer_test
