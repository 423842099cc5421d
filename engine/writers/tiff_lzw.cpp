// SPDX-License-Identifier: AGPL-3.0-or-later
// libtiff's own LZW encoder spends most of its time probing its hash table; this one keeps the
// strings that extend a code by a zero byte in a direct table, because predicted rows of a
// rendered page are mostly zeros, and everything else in a small open-addressed table.
#include "engine/writers/tiff_lzw.h"

#include <cstring>
#include <memory>

namespace rastool {

namespace {

constexpr unsigned kClear = 256;
constexpr unsigned kEnd = 257;
constexpr unsigned kFirst = 258;
constexpr int kMinBits = 9;
// The last code the table may assign is 4093: the Clear code is written when the next one
// would be 4094, as every reader expects.
constexpr unsigned kFull = 4094;
constexpr int kHashBits = 14;
constexpr uint32_t kHashSize = 1u << kHashBits;

class Encoder {
public:
    explicit Encoder(uint8_t *out) : out_(out) {}

    uint8_t *Run(const uint8_t *data, std::size_t size)
    {
        Reset();
        Put(kClear);
        if (size == 0) {
            Put(kEnd);
            return Flush();
        }
        unsigned prefix = data[0];
        for (std::size_t i = 1; i < size; ++i) {
            const uint8_t byte = data[i];
            unsigned found;
            uint32_t slot = 0;
            const uint32_t key = (prefix << 8 | byte) + 1;
            if (byte == 0) {
                found = zeroChild_[prefix];
            } else {
                slot = (key * 0x9E3779B1u) >> (32 - kHashBits);
                while (keys_[slot] != 0 && keys_[slot] != key) {
                    slot = (slot + 1) & (kHashSize - 1);
                }
                found = keys_[slot] != 0 ? codes_[slot] : 0;
            }
            if (found != 0) {
                prefix = found;
                continue;
            }
            Put(prefix);
            if (byte == 0) {
                zeroChild_[prefix] = static_cast<uint16_t>(next_);
            } else {
                keys_[slot] = key;
                codes_[slot] = static_cast<uint16_t>(next_);
            }
            Added();
            prefix = byte;
        }
        Put(prefix);
        Added();
        Put(kEnd);
        return Flush();
    }

private:
    void Reset()
    {
        std::memset(zeroChild_, 0, sizeof zeroChild_);
        std::memset(keys_, 0, sizeof keys_);
        next_ = kFirst;
        bits_ = kMinBits;
    }

    // After a code is assigned: a full table starts over behind a Clear code; otherwise the
    // codes widen once the next code needs the extra bit.
    void Added()
    {
        ++next_;
        if (next_ == kFull) {
            Put(kClear);
            Reset();
        } else if (next_ > (1u << bits_) - 1) {
            ++bits_;
        }
    }

    void Put(unsigned code)
    {
        buffer_ = buffer_ << bits_ | code;
        pending_ += bits_;
        while (pending_ >= 8) {
            pending_ -= 8;
            *out_++ = static_cast<uint8_t>(buffer_ >> pending_);
        }
    }

    uint8_t *Flush()
    {
        if (pending_ > 0) {
            *out_++ = static_cast<uint8_t>(buffer_ << (8 - pending_));
            pending_ = 0;
        }
        return out_;
    }

    uint8_t *out_;
    uint64_t buffer_ = 0;
    int pending_ = 0;
    unsigned next_ = kFirst;
    int bits_ = kMinBits;
    uint16_t zeroChild_[4096];
    uint32_t keys_[kHashSize];
    uint16_t codes_[kHashSize];
};

} // namespace

void TiffLzwEncode(const uint8_t *data, std::size_t size, std::vector<uint8_t> &out)
{
    // At most one 12-bit code per input byte, plus the Clear codes and the end.
    out.resize(size * 3 / 2 + size / 2048 * 2 + 16);
    auto encoder = std::make_unique<Encoder>(out.data());
    out.resize(static_cast<std::size_t>(encoder->Run(data, size) - out.data()));
}

void TiffHorizontalDifference(uint8_t *rows, std::size_t rowBytes, std::size_t rowCount,
                              int samplesPerPixel)
{
    const auto step = static_cast<std::size_t>(samplesPerPixel);
    for (std::size_t r = 0; r < rowCount; ++r) {
        uint8_t *row = rows + r * rowBytes;
        for (std::size_t i = rowBytes; i-- > step;) {
            row[i] = static_cast<uint8_t>(row[i] - row[i - step]);
        }
    }
}

} // namespace rastool
