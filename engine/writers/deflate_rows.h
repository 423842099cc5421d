// SPDX-License-Identifier: AGPL-3.0-or-later
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace rastool {

// Deflates true-colour rows, each behind its filter byte, into one raw deflate stream (no zlib
// header or checksum) appended to `out`. False if libdeflate failed.
//
// A rendered page is half blank: rows of one colour cost a general compressor as much as any
// other row, though they say almost nothing. Such rows are written here as runs, at a cost per
// row instead of per byte; the stretches of rows between them go to libdeflate at `level`. Its
// streams end in a final block, so the end of each is found, its final bit cleared and an empty
// stored block appended, which brings the next stretch to a byte boundary.
//
// Rows of packed indices or grey are not split so: measured on rendered pages, they lose 10-20 %
// in size, because libdeflate at their level draws on the rows before a blank gap.
bool DeflateRows(const uint8_t *rows, std::size_t rowCount, std::size_t rowStride, int level,
                 std::vector<uint8_t> &out);

// `data` deflated by libdeflate at `level` into one raw deflate stream appended to `out`.
bool DeflateBytes(const uint8_t *data, std::size_t size, int level, std::vector<uint8_t> &out);

// Where a raw deflate stream's final block begins and where the stream ends, in bits from the
// start of `data`; nothing when the stream is not a well-formed deflate stream within `size`.
struct DeflateStreamEnd {
    std::size_t finalBlockBit = 0;
    std::size_t endBit = 0;
};
std::optional<DeflateStreamEnd> FindDeflateStreamEnd(const uint8_t *data, std::size_t size);

} // namespace rastool
