// SPDX-License-Identifier: AGPL-3.0-or-later
// libtiff's and giflib's LZW encoders spend most of their time probing their hash tables. Here
// the strings that extend a code by the page's commonest byte (zero in predicted TIFF strips,
// where flat areas become zeros; otherwise the first byte fed, the background) sit
// in a direct table, and runs of that byte are followed string by string rather than byte by
// byte; everything else goes through a small open-addressed table.
#include "engine/writers/lzw.h"

#include <algorithm>
#include <cstring>

namespace rastool {

namespace {

constexpr int kMaxBits = 12;
constexpr int kHashBits = 14;
constexpr uint32_t kHashSize = 1u << kHashBits;

} // namespace

struct LzwEncoder::Table {
    int runByte = -1;
    uint16_t runChild[4096];
    // The strings of one to longestRun run bytes are all in the table (each is added only once
    // the one shorter is), so a run can be followed to its longest known string in one step.
    uint16_t runCode[4096];
    int longestRun = 1;
    uint32_t keys[kHashSize]; // (prefix << 8 | byte) + 1; 0 is empty
    uint16_t codes[kHashSize];
};

LzwEncoder::LzwEncoder(Style style, int minCodeSize, std::vector<uint8_t> &out, int runByte)
    : style_(style), out_(out), table_(std::make_unique<Table>())
{
    table_->runByte = runByte;
    const int size = style == Style::Tiff ? 8 : minCodeSize;
    minBits_ = size + 1;
    clear_ = 1u << size;
    end_ = clear_ + 1;
    Reset();
    const std::size_t used = out_.size();
    out_.resize(used + 16);
    at_ = out_.data() + used;
    Put(clear_);
    out_.resize(static_cast<std::size_t>(at_ - out_.data()));
}

LzwEncoder::~LzwEncoder() = default;

void LzwEncoder::Reset()
{
    std::memset(table_->runChild, 0, sizeof table_->runChild);
    std::memset(table_->keys, 0, sizeof table_->keys);
    table_->runCode[1] = static_cast<uint16_t>(std::max(table_->runByte, 0));
    table_->longestRun = 1;
    next_ = end_ + 1;
    bits_ = minBits_;
}

void LzwEncoder::Add(const uint8_t *data, std::size_t size)
{
    if (size == 0) {
        return;
    }
    // At most one code of 12 bits per byte, and a Clear code per table's worth.
    const std::size_t used = out_.size();
    out_.resize(used + size * 3 / 2 + size / 1024 * 2 + 16);
    at_ = out_.data() + used;
    Table &t = *table_;
    std::size_t i = 0;
    if (prefix_ < 0) {
        prefix_ = data[0];
        if (t.runByte < 0) {
            t.runByte = data[0];
        }
        t.runCode[1] = static_cast<uint16_t>(t.runByte);
        runLength_ = data[0] == t.runByte ? 1 : 0;
        i = 1;
    }
    auto prefix = static_cast<unsigned>(prefix_);
    int run = runLength_;
    const auto runByte = static_cast<uint8_t>(t.runByte);
    for (; i < size; ++i) {
        const uint8_t byte = data[i];
        unsigned found;
        uint32_t slot = 0;
        const uint32_t key = (prefix << 8 | byte) + 1;
        if (byte == runByte) {
            if (run > 0 && run < t.longestRun) {
                const std::size_t most =
                    std::min(static_cast<std::size_t>(t.longestRun - run), size - i);
                std::size_t ahead = 1;
                while (ahead < most && data[i + ahead] == runByte) {
                    ++ahead;
                }
                run += static_cast<int>(ahead);
                prefix = t.runCode[run];
                i += ahead - 1;
                continue;
            }
            found = t.runChild[prefix];
        } else {
            slot = (key * 0x9E3779B1u) >> (32 - kHashBits);
            while (t.keys[slot] != 0 && t.keys[slot] != key) {
                slot = (slot + 1) & (kHashSize - 1);
            }
            found = t.keys[slot] != 0 ? t.codes[slot] : 0;
        }
        if (found != 0) {
            prefix = found;
            run = 0;
            continue;
        }
        Put(prefix);
        if (style_ == Style::Gif && next_ >= (1u << kMaxBits) - 1) {
            // GIF: the table is full; the string just ended is not added.
            Put(clear_);
            Reset();
        } else {
            if (byte == runByte) {
                t.runChild[prefix] = static_cast<uint16_t>(next_);
                if (run > 0) {
                    t.runCode[run + 1] = static_cast<uint16_t>(next_);
                    t.longestRun = run + 1;
                }
            } else {
                t.keys[slot] = key;
                t.codes[slot] = static_cast<uint16_t>(next_);
            }
            if (style_ == Style::Tiff) {
                Added();
            } else {
                ++next_;
            }
        }
        prefix = byte;
        run = byte == runByte ? 1 : 0;
    }
    prefix_ = static_cast<int>(prefix);
    runLength_ = run;
    out_.resize(static_cast<std::size_t>(at_ - out_.data()));
}

void LzwEncoder::Finish()
{
    const std::size_t used = out_.size();
    out_.resize(used + 16);
    at_ = out_.data() + used;
    if (prefix_ >= 0) {
        Put(static_cast<unsigned>(prefix_));
        if (style_ == Style::Tiff) {
            Added();
        }
    }
    Put(end_);
    if (pending_ > 0) {
        *at_++ = static_cast<uint8_t>(style_ == Style::Tiff ? buffer_ << (8 - pending_) : buffer_);
        pending_ = 0;
        buffer_ = 0;
    }
    out_.resize(static_cast<std::size_t>(at_ - out_.data()));
    prefix_ = -1;
}

// TIFF, after a code is assigned: a full table starts over behind a Clear code (the last code
// assigned is 4093, as every reader expects); otherwise the codes widen as soon as the next
// code needs the extra bit.
void LzwEncoder::Added()
{
    ++next_;
    if (next_ == (1u << kMaxBits) - 2) {
        Put(clear_);
        Reset();
    } else if (next_ > (1u << bits_) - 1) {
        ++bits_;
    }
}

void LzwEncoder::Put(unsigned code)
{
    if (style_ == Style::Tiff) {
        buffer_ = buffer_ << bits_ | code;
        pending_ += bits_;
        while (pending_ >= 8) {
            pending_ -= 8;
            *at_++ = static_cast<uint8_t>(buffer_ >> pending_);
        }
        return;
    }
    buffer_ |= static_cast<uint64_t>(code) << pending_;
    pending_ += bits_;
    while (pending_ >= 8) {
        *at_++ = static_cast<uint8_t>(buffer_);
        buffer_ >>= 8;
        pending_ -= 8;
    }
    // GIF widens once the next code to be assigned no longer fits, after writing this one.
    if (next_ >= (1u << bits_) && bits_ < kMaxBits) {
        ++bits_;
    }
}

void TiffLzwEncode(const uint8_t *data, std::size_t size, bool predicted, std::vector<uint8_t> &out)
{
    out.clear();
    LzwEncoder encoder(LzwEncoder::Style::Tiff, 8, out, predicted ? 0 : -1);
    encoder.Add(data, size);
    encoder.Finish();
}

void TiffHorizontalDifference(const uint8_t *row, uint8_t *out, std::size_t rowBytes,
                              int samplesPerPixel)
{
    const auto step = std::min(static_cast<std::size_t>(samplesPerPixel), rowBytes);
    std::memcpy(out, row, step);
    // Eight differences at a time in a 64-bit word, each byte's borrow kept inside it: the
    // byte loop is not vectorised at -O2, and took a seventh of a 24-bit LZW page's time.
    constexpr uint64_t kHigh = 0x8080808080808080u;
    std::size_t i = step;
    for (; i + 8 <= rowBytes; i += 8) {
        uint64_t a = 0, b = 0;
        std::memcpy(&a, row + i, 8);
        std::memcpy(&b, row + i - step, 8);
        const uint64_t difference = ((a | kHigh) - (b & ~kHigh)) ^ ((a ^ ~b) & kHigh);
        std::memcpy(out + i, &difference, 8);
    }
    for (; i < rowBytes; ++i) {
        out[i] = static_cast<uint8_t>(row[i] - row[i - step]);
    }
}

} // namespace rastool
