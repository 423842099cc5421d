// SPDX-License-Identifier: AGPL-3.0-or-later
#include "engine/writers/deflate_rows.h"

#include <libdeflate.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <queue>
#include <utility>

namespace rastool {

namespace {

constexpr int kLengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                 31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr int kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                  2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr int kDistanceBase[30] = {1,    2,    3,    4,    5,    7,    9,    13,    17,    25,
                                   33,   49,   65,   97,   129,  193,  257,  385,   513,   769,
                                   1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr int kDistanceExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                    6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
// The order in which a dynamic block gives the code lengths of its code-length alphabet.
constexpr int kCodeLengthOrder[19] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                      11, 4,  12, 3, 13, 2, 14, 1, 15};
constexpr int kEndOfBlock = 256;
constexpr int kMaxMatch = 258;
constexpr int kMaxBits = 15;
// Rows are of true colour: three bytes to the pixel.
constexpr std::size_t kPixelBytes = 3;

// Rows of one colour shorter than this are left to libdeflate: their run would save nothing.
constexpr std::size_t kMinRunBytes = 64;
// A stretch of one-colour rows shorter than this stays with the rows around it, so that
// libdeflate keeps its context across a gap of a single row.
constexpr std::size_t kMinRunRows = 2;

struct CompressorDeleter {
    void operator()(libdeflate_compressor *c) const { libdeflate_free_compressor(c); }
};

// ---- Writing

class BitWriter {
public:
    explicit BitWriter(std::vector<uint8_t> &out) : out_(out) {}

    // Goes on from bit `bit` of the output (counted from its start), dropping what follows.
    void ResumeAt(std::size_t bit)
    {
        out_.resize((bit + 7) / 8);
        pending_ = static_cast<int>(bit % 8);
        accumulator_ = 0;
        if (pending_ > 0) {
            accumulator_ = out_.back() & ((1u << pending_) - 1);
            out_.pop_back();
        }
    }

    void Put(uint32_t value, int count)
    {
        accumulator_ |= static_cast<uint64_t>(value) << pending_;
        pending_ += count;
        while (pending_ >= 8) {
            out_.push_back(static_cast<uint8_t>(accumulator_));
            accumulator_ >>= 8;
            pending_ -= 8;
        }
    }

    void Align()
    {
        if (pending_ > 0) {
            out_.push_back(static_cast<uint8_t>(accumulator_));
        }
        accumulator_ = 0;
        pending_ = 0;
    }

    // An empty stored block that is not final: the stream goes on at the next byte.
    void SyncFlush()
    {
        Put(0, 3);
        Align();
        static const uint8_t kEmpty[] = {0x00, 0x00, 0xff, 0xff};
        out_.insert(out_.end(), kEmpty, kEmpty + sizeof kEmpty);
    }

private:
    std::vector<uint8_t> &out_;
    uint64_t accumulator_ = 0;
    int pending_ = 0;
};

// Huffman code lengths for the given symbol frequencies, none longer than `limit`: where the
// optimal code is too deep, the frequencies are halved until it is not.
std::vector<uint8_t> HuffmanLengths(std::vector<uint32_t> frequencies, int limit)
{
    std::vector<uint8_t> lengths(frequencies.size(), 0);
    for (;;) {
        struct Node {
            uint64_t weight;
            int left, right, symbol;
        };
        std::vector<Node> nodes;
        using Entry = std::pair<uint64_t, int>;
        std::priority_queue<Entry, std::vector<Entry>, std::greater<Entry>> queue;
        for (std::size_t s = 0; s < frequencies.size(); ++s) {
            if (frequencies[s] > 0) {
                queue.push({frequencies[s], static_cast<int>(nodes.size())});
                nodes.push_back({frequencies[s], -1, -1, static_cast<int>(s)});
            }
        }
        if (nodes.empty()) {
            return lengths;
        }
        if (nodes.size() == 1) {
            lengths[static_cast<std::size_t>(nodes[0].symbol)] = 1;
            return lengths;
        }
        while (queue.size() > 1) {
            const Entry a = queue.top();
            queue.pop();
            const Entry b = queue.top();
            queue.pop();
            queue.push({a.first + b.first, static_cast<int>(nodes.size())});
            nodes.push_back({a.first + b.first, a.second, b.second, -1});
        }
        // Children come before their parent, so one pass down from the root gives every depth.
        std::vector<int> depth(nodes.size(), 0);
        int deepest = 0;
        for (std::size_t i = nodes.size(); i-- > 0;) {
            if (nodes[i].symbol >= 0) {
                lengths[static_cast<std::size_t>(nodes[i].symbol)] =
                    static_cast<uint8_t>(std::min(depth[i], 255));
                deepest = std::max(deepest, depth[i]);
            } else {
                depth[static_cast<std::size_t>(nodes[i].left)] = depth[i] + 1;
                depth[static_cast<std::size_t>(nodes[i].right)] = depth[i] + 1;
            }
        }
        if (deepest <= limit) {
            return lengths;
        }
        for (uint32_t &f : frequencies) {
            f = f > 0 ? (f + 1) / 2 : 0;
        }
    }
}

// Canonical codes for the lengths, bit-reversed: deflate sends a code's first bit first.
std::vector<uint16_t> CanonicalCodes(const std::vector<uint8_t> &lengths)
{
    int count[kMaxBits + 1] = {};
    for (uint8_t l : lengths) {
        ++count[l];
    }
    count[0] = 0;
    int next[kMaxBits + 2] = {};
    for (int bits = 1, code = 0; bits <= kMaxBits; ++bits) {
        code = (code + count[bits - 1]) << 1;
        next[bits] = code;
    }
    std::vector<uint16_t> codes(lengths.size(), 0);
    for (std::size_t s = 0; s < lengths.size(); ++s) {
        const int l = lengths[s];
        if (l == 0) {
            continue;
        }
        unsigned code = static_cast<unsigned>(next[l]++), reversed = 0;
        for (int i = 0; i < l; ++i) {
            reversed = (reversed << 1) | (code & 1);
            code >>= 1;
        }
        codes[s] = static_cast<uint16_t>(reversed);
    }
    return codes;
}

int LengthSymbol(int length)
{
    int s = 28;
    while (kLengthBase[s] > length) {
        --s;
    }
    return s;
}

int DistanceSymbol(int distance)
{
    int s = 29;
    while (kDistanceBase[s] > distance) {
        --s;
    }
    return s;
}

// A literal (distance 0) or a copy of `length` bytes from `distance` back.
struct Token {
    uint16_t length;
    uint16_t distance;
};

// One dynamic-Huffman block holding the tokens.
void WriteBlock(const std::vector<Token> &tokens, bool final, BitWriter &bits)
{
    std::vector<uint32_t> litFreq(286, 0), distFreq(30, 0);
    for (const Token &t : tokens) {
        if (t.distance == 0) {
            ++litFreq[t.length];
        } else {
            ++litFreq[257 + static_cast<std::size_t>(LengthSymbol(t.length))];
            ++distFreq[static_cast<std::size_t>(DistanceSymbol(t.distance))];
        }
    }
    litFreq[kEndOfBlock] = 1;
    if (std::all_of(distFreq.begin(), distFreq.end(), [](uint32_t f) { return f == 0; })) {
        distFreq[0] = 1; // a block declares at least one distance code
    }
    const auto litLengths = HuffmanLengths(litFreq, kMaxBits);
    const auto distLengths = HuffmanLengths(distFreq, kMaxBits);
    const auto litCodes = CanonicalCodes(litLengths);
    const auto distCodes = CanonicalCodes(distLengths);

    std::size_t hlit = 286, hdist = 30;
    while (hlit > 257 && litLengths[hlit - 1] == 0) {
        --hlit;
    }
    while (hdist > 1 && distLengths[hdist - 1] == 0) {
        --hdist;
    }
    std::vector<uint8_t> all(litLengths.begin(), litLengths.begin() + static_cast<long>(hlit));
    all.insert(all.end(), distLengths.begin(), distLengths.begin() + static_cast<long>(hdist));

    // The code lengths, with runs of zeros (17, 18) and repeats of the length before (16).
    struct LengthCode {
        uint8_t symbol, extra;
    };
    std::vector<LengthCode> coded;
    for (std::size_t i = 0; i < all.size();) {
        std::size_t run = 1;
        while (i + run < all.size() && all[i + run] == all[i]) {
            ++run;
        }
        if (all[i] == 0 && run >= 3) {
            const std::size_t n = std::min<std::size_t>(run, 138);
            coded.push_back(n >= 11 ? LengthCode{18, static_cast<uint8_t>(n - 11)}
                                    : LengthCode{17, static_cast<uint8_t>(n - 3)});
            i += n;
        } else if (all[i] != 0 && run >= 4) {
            coded.push_back({all[i], 0});
            const std::size_t n = std::min<std::size_t>(run - 1, 6);
            coded.push_back({16, static_cast<uint8_t>(n - 3)});
            i += 1 + n;
        } else {
            coded.push_back({all[i], 0});
            ++i;
        }
    }
    std::vector<uint32_t> clFreq(19, 0);
    for (const LengthCode &c : coded) {
        ++clFreq[c.symbol];
    }
    const auto clLengths = HuffmanLengths(clFreq, 7);
    const auto clCodes = CanonicalCodes(clLengths);
    std::size_t hclen = 19;
    while (hclen > 4 && clLengths[static_cast<std::size_t>(kCodeLengthOrder[hclen - 1])] == 0) {
        --hclen;
    }

    bits.Put(final ? 1 : 0, 1);
    bits.Put(2, 2); // dynamic Huffman codes
    bits.Put(static_cast<uint32_t>(hlit - 257), 5);
    bits.Put(static_cast<uint32_t>(hdist - 1), 5);
    bits.Put(static_cast<uint32_t>(hclen - 4), 4);
    for (std::size_t i = 0; i < hclen; ++i) {
        bits.Put(clLengths[static_cast<std::size_t>(kCodeLengthOrder[i])], 3);
    }
    for (const LengthCode &c : coded) {
        bits.Put(clCodes[c.symbol], clLengths[c.symbol]);
        if (c.symbol == 16) {
            bits.Put(c.extra, 2);
        } else if (c.symbol == 17) {
            bits.Put(c.extra, 3);
        } else if (c.symbol == 18) {
            bits.Put(c.extra, 7);
        }
    }
    for (const Token &t : tokens) {
        if (t.distance == 0) {
            bits.Put(litCodes[t.length], litLengths[t.length]);
            continue;
        }
        const int ls = LengthSymbol(t.length);
        const auto lsym = static_cast<std::size_t>(257 + ls);
        bits.Put(litCodes[lsym], litLengths[lsym]);
        bits.Put(static_cast<uint32_t>(t.length - kLengthBase[ls]), kLengthExtra[ls]);
        const auto ds = static_cast<std::size_t>(DistanceSymbol(t.distance));
        bits.Put(distCodes[ds], distLengths[ds]);
        bits.Put(static_cast<uint32_t>(t.distance - kDistanceBase[ds]), kDistanceExtra[ds]);
    }
    bits.Put(litCodes[kEndOfBlock], litLengths[kEndOfBlock]);
}

// Whether the row (after its filter byte) repeats its first pixel to the end.
bool IsOneColour(const uint8_t *row, std::size_t rowBytes)
{
    if (rowBytes < kMinRunBytes + kPixelBytes) {
        return false;
    }
    return std::memcmp(row + 1 + kPixelBytes, row + 1, rowBytes - kPixelBytes) == 0;
}

// A row of one colour as tokens: the filter byte and the first pixel as literals, the rest of
// the row a copy of the pixel before.
void RunTokens(const uint8_t *row, std::size_t rowBytes, std::vector<Token> &tokens)
{
    for (std::size_t i = 0; i <= kPixelBytes; ++i) {
        tokens.push_back({row[i], 0});
    }
    std::size_t left = rowBytes - kPixelBytes;
    while (left > 0) {
        std::size_t n = std::min<std::size_t>(left, kMaxMatch);
        if (left - n > 0 && left - n < 3) {
            n = left - 3; // leave a copy of at least three bytes
        }
        tokens.push_back({static_cast<uint16_t>(n), static_cast<uint16_t>(kPixelBytes)});
        left -= n;
    }
}

// ---- Reading, only as far as finding where a stream ends

class BitReader {
public:
    BitReader(const uint8_t *data, std::size_t size) : data_(data), size_(size) {}

    // The next `count` bits (at most 56), zeros past the end.
    uint64_t Peek(int count) const
    {
        const std::size_t byte = position_ / 8;
        uint64_t word = 0;
        if (byte + 8 <= size_) {
            std::memcpy(&word, data_ + byte, 8);
        } else {
            for (std::size_t i = 0; byte + i < size_ && i < 8; ++i) {
                word |= static_cast<uint64_t>(data_[byte + i]) << (8 * i);
            }
        }
        return (word >> (position_ % 8)) & ((uint64_t{1} << count) - 1);
    }
    uint32_t Take(int count)
    {
        const auto v = static_cast<uint32_t>(Peek(count));
        position_ += static_cast<std::size_t>(count);
        return v;
    }
    void Skip(std::size_t count) { position_ += count; }
    void AlignToByte() { position_ = (position_ + 7) / 8 * 8; }
    bool Overrun() const { return position_ > size_ * 8; }
    std::size_t Position() const { return position_; }

private:
    const uint8_t *data_;
    std::size_t size_;
    std::size_t position_ = 0;
};

class HuffmanDecoder {
public:
    static constexpr int kFastBits = 10;

    // False for lengths that no prefix code has.
    bool Build(const uint8_t *lengths, int n)
    {
        std::fill(std::begin(count_), std::end(count_), 0);
        for (int s = 0; s < n; ++s) {
            ++count_[lengths[s]];
        }
        count_[0] = 0;
        int left = 1;
        for (int bits = 1; bits <= kMaxBits; ++bits) {
            left = (left << 1) - count_[bits];
            if (left < 0) {
                return false;
            }
        }
        int offset[kMaxBits + 2] = {};
        for (int bits = 1; bits <= kMaxBits; ++bits) {
            offset[bits + 1] = offset[bits] + count_[bits];
        }
        for (int s = 0; s < n; ++s) {
            if (lengths[s] != 0) {
                symbols_[offset[lengths[s]]++] = static_cast<uint16_t>(s);
            }
        }
        std::fill(std::begin(fast_), std::end(fast_), 0);
        int next[kMaxBits + 1] = {};
        for (int bits = 1, code = 0; bits <= kMaxBits; ++bits) {
            code = (code + count_[bits - 1]) << 1;
            next[bits] = code;
        }
        for (int s = 0; s < n; ++s) {
            const int l = lengths[s];
            if (l == 0) {
                continue;
            }
            unsigned code = static_cast<unsigned>(next[l]++), reversed = 0;
            if (l > kFastBits) {
                continue;
            }
            for (int i = 0; i < l; ++i) {
                reversed = (reversed << 1) | (code & 1);
                code >>= 1;
            }
            for (unsigned i = reversed; i < (1u << kFastBits); i += 1u << l) {
                fast_[i] = static_cast<uint16_t>((s << 4) | l);
            }
        }
        return true;
    }

    // The symbol whose code starts at the lowest of `bits` and its length, or -1 for bits that
    // are no code.
    int Decode(uint64_t bits, int &length) const
    {
        const uint16_t entry = fast_[bits & ((1u << kFastBits) - 1)];
        if (entry != 0) {
            length = entry & 15;
            return entry >> 4;
        }
        int code = 0, first = 0, index = 0;
        for (int len = 1; len <= kMaxBits; ++len) {
            code |= static_cast<int>((bits >> (len - 1)) & 1);
            const int count = count_[len];
            if (code - count < first) {
                length = len;
                return symbols_[index + (code - first)];
            }
            index += count;
            first = (first + count) << 1;
            code <<= 1;
        }
        return -1;
    }

    int Decode(BitReader &in) const
    {
        int length = 0;
        const int symbol = Decode(in.Peek(kMaxBits), length);
        in.Skip(static_cast<std::size_t>(length));
        return symbol;
    }

private:
    uint16_t fast_[1u << kFastBits] = {};
    int count_[kMaxBits + 1] = {};
    uint16_t symbols_[288] = {};
};

bool ReadDynamicCodes(BitReader &in, HuffmanDecoder &lit, HuffmanDecoder &dist)
{
    const int hlit = static_cast<int>(in.Take(5)) + 257;
    const int hdist = static_cast<int>(in.Take(5)) + 1;
    const int hclen = static_cast<int>(in.Take(4)) + 4;
    if (hlit > 286 || hdist > 30) {
        return false;
    }
    uint8_t clLengths[19] = {};
    for (int i = 0; i < hclen; ++i) {
        clLengths[kCodeLengthOrder[i]] = static_cast<uint8_t>(in.Take(3));
    }
    HuffmanDecoder cl;
    if (!cl.Build(clLengths, 19)) {
        return false;
    }
    uint8_t lengths[286 + 30] = {};
    for (int i = 0; i < hlit + hdist;) {
        const int symbol = cl.Decode(in);
        if (symbol < 0 || in.Overrun()) {
            return false;
        }
        if (symbol < 16) {
            lengths[i++] = static_cast<uint8_t>(symbol);
            continue;
        }
        int repeat = 0;
        uint8_t value = 0;
        if (symbol == 16) {
            if (i == 0) {
                return false;
            }
            value = lengths[i - 1];
            repeat = 3 + static_cast<int>(in.Take(2));
        } else if (symbol == 17) {
            repeat = 3 + static_cast<int>(in.Take(3));
        } else {
            repeat = 11 + static_cast<int>(in.Take(7));
        }
        if (i + repeat > hlit + hdist) {
            return false;
        }
        std::fill(lengths + i, lengths + i + repeat, value);
        i += repeat;
    }
    return lengths[kEndOfBlock] != 0 && lit.Build(lengths, hlit) &&
           dist.Build(lengths + hlit, hdist);
}

// Reads the Huffman-coded data of a block up to its end code. The bits are taken 56 at a time
// and decoded from a register, the costliest loop of finding a stream's end.
bool SkipCodedData(BitReader &in, const HuffmanDecoder &lit, const HuffmanDecoder &dist)
{
    constexpr int kWindowBits = 56;
    uint64_t bits = in.Peek(kWindowBits);
    int used = 0;
    // Past the end the reader gives zeros, and every code takes at least a bit, so running off
    // the end is found at the next refill.
    bool overrun = false;
    const auto need = [&](int count) {
        if (used + count > kWindowBits) {
            in.Skip(static_cast<std::size_t>(used));
            bits = in.Peek(kWindowBits);
            used = 0;
            overrun = in.Overrun();
        }
    };
    for (;;) {
        need(kMaxBits);
        int length = 0;
        const int symbol = lit.Decode(bits >> used, length);
        used += length;
        if (symbol < 0 || overrun) {
            return false;
        }
        if (symbol < kEndOfBlock) {
            continue;
        }
        if (symbol == kEndOfBlock) {
            in.Skip(static_cast<std::size_t>(used));
            return !in.Overrun();
        }
        const int ls = symbol - 257;
        if (ls >= 29) {
            return false;
        }
        need(5 + kMaxBits + 13);
        used += kLengthExtra[ls];
        const int ds = dist.Decode(bits >> used, length);
        if (ds < 0 || ds >= 30) {
            return false;
        }
        used += length + kDistanceExtra[ds];
    }
}

// The codes of blocks with fixed Huffman codes.
struct FixedCodes {
    HuffmanDecoder lit, dist;
    FixedCodes()
    {
        uint8_t lengths[288 + 30];
        std::fill(lengths, lengths + 144, 8);
        std::fill(lengths + 144, lengths + 256, 9);
        std::fill(lengths + 256, lengths + 280, 7);
        std::fill(lengths + 280, lengths + 288, 8);
        std::fill(lengths + 288, lengths + 318, 5);
        lit.Build(lengths, 288);
        dist.Build(lengths + 288, 30);
    }
};

// `data` deflated by libdeflate onto the end of `out`, as a stream that goes on unless `last`.
bool AppendCompressed(libdeflate_compressor *compressor, const uint8_t *data, std::size_t size,
                      bool last, std::vector<uint8_t> &out)
{
    // Compressed into a buffer kept from call to call: growing `out` by the bound would clear
    // as many bytes as the rows hold, to overwrite most of them.
    thread_local std::vector<uint8_t> scratch;
    const std::size_t bound = libdeflate_deflate_compress_bound(compressor, size);
    if (scratch.size() < bound) {
        scratch.resize(bound);
    }
    const std::size_t written =
        libdeflate_deflate_compress(compressor, data, size, scratch.data(), bound);
    if (written == 0) {
        return false;
    }
    const std::size_t start = out.size();
    out.insert(out.end(), scratch.begin(), scratch.begin() + static_cast<std::ptrdiff_t>(written));
    if (last) {
        return true;
    }
    const auto end = FindDeflateStreamEnd(out.data() + start, written);
    if (!end) {
        return false;
    }
    const std::size_t finalBit = start * 8 + end->finalBlockBit;
    out[finalBit / 8] = static_cast<uint8_t>(out[finalBit / 8] & ~(1u << (finalBit % 8)));
    BitWriter bits(out);
    bits.ResumeAt(start * 8 + end->endBit);
    bits.SyncFlush();
    return true;
}

} // namespace

std::optional<DeflateStreamEnd> FindDeflateStreamEnd(const uint8_t *data, std::size_t size)
{
    BitReader in(data, size);
    HuffmanDecoder lit, dist;
    for (;;) {
        const std::size_t header = in.Position();
        const bool final = in.Take(1) != 0;
        const uint32_t type = in.Take(2);
        if (type == 0) {
            in.AlignToByte();
            const uint32_t length = in.Take(16);
            const uint32_t complement = in.Take(16);
            if ((length ^ 0xffffu) != complement) {
                return std::nullopt;
            }
            in.Skip(static_cast<std::size_t>(length) * 8);
        } else if (type == 1) {
            static const FixedCodes fixed;
            if (!SkipCodedData(in, fixed.lit, fixed.dist)) {
                return std::nullopt;
            }
        } else if (type == 2) {
            if (!ReadDynamicCodes(in, lit, dist) || !SkipCodedData(in, lit, dist)) {
                return std::nullopt;
            }
        } else {
            return std::nullopt;
        }
        if (in.Overrun()) {
            return std::nullopt;
        }
        if (final) {
            return DeflateStreamEnd{header, in.Position()};
        }
    }
}

bool DeflateBytes(const uint8_t *data, std::size_t size, int level, std::vector<uint8_t> &out)
{
    std::unique_ptr<libdeflate_compressor, CompressorDeleter> compressor(
        libdeflate_alloc_compressor(level));
    if (!compressor) {
        throw std::bad_alloc();
    }
    return AppendCompressed(compressor.get(), data, size, true, out);
}

bool DeflateRows(const uint8_t *rows, std::size_t rowCount, std::size_t rowStride, int level,
                 std::vector<uint8_t> &out)
{
    std::unique_ptr<libdeflate_compressor, CompressorDeleter> compressor(
        libdeflate_alloc_compressor(level));
    if (!compressor) {
        throw std::bad_alloc();
    }
    if (rowCount == 0) {
        return AppendCompressed(compressor.get(), rows, 0, true, out);
    }
    const std::size_t start = out.size();
    const std::size_t rowBytes = rowStride - 1;

    // Stretches of rows of one colour each, and of the rows between them.
    struct Stretch {
        std::size_t first;
        bool run;
    };
    std::vector<Stretch> stretches;
    const auto add = [&stretches](std::size_t first, bool run) {
        if (stretches.empty() || stretches.back().run != run) {
            stretches.push_back({first, run});
        }
    };
    for (std::size_t r = 0; r < rowCount;) {
        std::size_t end = r;
        while (end < rowCount && IsOneColour(rows + end * rowStride, rowBytes)) {
            ++end;
        }
        if (end - r >= kMinRunRows) {
            add(r, true);
            r = end;
        } else {
            add(r, false);
            r = std::max(end, r + 1);
        }
    }

    std::vector<Token> tokens;
    for (std::size_t i = 0; i < stretches.size(); ++i) {
        const std::size_t first = stretches[i].first;
        const std::size_t end = i + 1 < stretches.size() ? stretches[i + 1].first : rowCount;
        const bool last = i + 1 == stretches.size();
        if (!stretches[i].run) {
            if (!AppendCompressed(compressor.get(), rows + first * rowStride,
                                  (end - first) * rowStride, last, out)) {
                // A stream whose end could not be found: the rows go to libdeflate whole.
                out.resize(start);
                return AppendCompressed(compressor.get(), rows, rowCount * rowStride, true, out);
            }
            continue;
        }
        tokens.clear();
        for (std::size_t r = first; r < end; ++r) {
            RunTokens(rows + r * rowStride, rowBytes, tokens);
        }
        BitWriter bits(out);
        WriteBlock(tokens, last, bits);
        if (last) {
            bits.Align();
        } else {
            bits.SyncFlush();
        }
    }
    return true;
}

} // namespace rastool
