// SPDX-License-Identifier: AGPL-3.0-or-later
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace rastool {

// Compresses one strip with LZW as TIFF stores it: codes most significant bit first, 9 to 12
// bits wide and widened one code early, a Clear code first and whenever the table fills, End
// of Information last. Replaces out's contents.
void TiffLzwEncode(const uint8_t *data, std::size_t size, std::vector<uint8_t> &out);

// TIFF's horizontal predictor for 8-bit samples: each sample becomes its difference from the
// same sample of the pixel to its left, in place, row by row.
void TiffHorizontalDifference(uint8_t *rows, std::size_t rowBytes, std::size_t rowCount,
                              int samplesPerPixel);

} // namespace rastool
