// SPDX-License-Identifier: AGPL-3.0-or-later
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace rastool {

// LZW as image files store it, fed in pieces:
// - Tiff: codes most significant bit first, 9 to 12 bits wide and widened one code early, a
//   Clear code first and whenever the table fills, End of Information last;
// - Gif: codes least significant bit first, from one bit more than the minimum code size up to
//   12 bits, with GIF's Clear and End codes.
// The compressed bytes are appended to the output vector as they are complete.
class LzwEncoder {
public:
    enum class Style { Tiff, Gif };
    // minCodeSize: GIF's minimum code size (2 to 8); TIFF's is always 8.
    // runByte: the byte whose runs are followed fast, or -1 for the first byte fed.
    LzwEncoder(Style style, int minCodeSize, std::vector<uint8_t> &out, int runByte = -1);
    ~LzwEncoder();
    LzwEncoder(const LzwEncoder &) = delete;
    LzwEncoder &operator=(const LzwEncoder &) = delete;

    void Add(const uint8_t *data, std::size_t size);
    // Writes the last code and End of Information, padding the last byte with zero bits.
    void Finish();

private:
    struct Table;
    void Put(unsigned code);
    void Added();
    void Reset();

    Style style_;
    int minBits_;
    unsigned clear_, end_;
    std::vector<uint8_t> &out_;
    uint8_t *at_ = nullptr; // where the next byte goes, within out_
    uint64_t buffer_ = 0;
    int pending_ = 0;
    unsigned next_ = 0;
    int bits_ = 0;
    int prefix_ = -1;   // the string matched so far, -1 before the first byte
    int runLength_ = 0; // its length if it is a run of the commonest byte, else 0
    std::unique_ptr<Table> table_;
};

// One TIFF strip compressed whole; replaces out's contents. Predicted strips (flat areas are
// zeros) say so; in others the strip's first byte, its background, is taken to be commonest.
void TiffLzwEncode(const uint8_t *data, std::size_t size, bool predicted,
                   std::vector<uint8_t> &out);

// TIFF's horizontal predictor for 8-bit samples: one row copied to `out` with each sample
// replaced by its difference from the same sample of the pixel to its left.
void TiffHorizontalDifference(const uint8_t *row, uint8_t *out, std::size_t rowBytes,
                              int samplesPerPixel);

} // namespace rastool
