// SPDX-License-Identifier: AGPL-3.0-or-later
// TIFF rows of 1 and 4 bits are packed a byte at a time: widths that end mid-byte, and bilevel
// fax pages that store black as 1, must still read back pixel for pixel.
#include "writer_test_support.h"

namespace writer_test {
namespace {

using rastool::MakeTiffWriter;
using rastool::TiffCompression;
using rastool::WriterOptions;

std::unique_ptr<rastool::ImageWriter> MakeG4TiffWriter(std::FILE *out, const WriterOptions &)
{
    WriterOptions options;
    options.compression = TiffCompression::G4;
    return MakeTiffWriter(out, options);
}

INSTANTIATE_TEST_SUITE_P(TiffPacked, WriterRoundTripTest,
                         ::testing::ValuesIn(Cases("tif", MakeTiffWriter, {1, 4},
                                                   {1, 3, 9, 17, 400}, Reader::ImageMagick)),
                         RoundTripName);
INSTANTIATE_TEST_SUITE_P(TiffG4, WriterRoundTripTest,
                         ::testing::ValuesIn(Cases("tif", MakeG4TiffWriter, {1}, {1, 7, 13, 1728},
                                                   Reader::ImageMagick)),
                         RoundTripName);

} // namespace
} // namespace writer_test
