// SPDX-License-Identifier: AGPL-3.0-or-later
// The PNG writer's deflate of rows, read back through zlib's inflate, which is not ours: rows of
// one colour are written as runs and spliced between libdeflate's streams, so every boundary
// between the two, and every kind of block libdeflate emits, must decode to the exact rows.
#include "engine/writers/deflate_rows.h"

#include <gtest/gtest.h>
#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <functional>
#include <random>
#include <string>

using namespace rastool;

namespace {

// Inflates a raw deflate stream that must end exactly at the end of `data`.
std::vector<uint8_t> Inflate(const std::vector<uint8_t> &data, std::size_t expected)
{
    z_stream z{};
    EXPECT_EQ(inflateInit2(&z, -15), Z_OK);
    std::vector<uint8_t> out(expected + 64);
    z.next_in = const_cast<Bytef *>(data.data());
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    const int status = inflate(&z, Z_FINISH);
    EXPECT_EQ(status, Z_STREAM_END) << (z.msg ? z.msg : "");
    EXPECT_EQ(z.avail_in, 0u) << "bytes after the end of the stream";
    out.resize(z.total_out);
    inflateEnd(&z);
    return out;
}

// Rows behind their filter bytes, each filled by `row(y, bytes)`.
std::vector<uint8_t> Rows(std::size_t rowBytes, std::size_t count,
                          const std::function<void(std::size_t, uint8_t *)> &row)
{
    std::vector<uint8_t> rows(count * (rowBytes + 1), 0);
    for (std::size_t y = 0; y < count; ++y) {
        row(y, rows.data() + y * (rowBytes + 1) + 1);
    }
    return rows;
}

void Fill(uint8_t *row, std::size_t bytes, std::initializer_list<uint8_t> pixel)
{
    for (std::size_t i = 0; i < bytes; ++i) {
        row[i] = pixel.begin()[i % pixel.size()];
    }
}

// Text-like content: a few short dark marks on white, different from row to row.
void Marks(std::size_t y, uint8_t *row, std::size_t bytes)
{
    Fill(row, bytes, {255});
    for (std::size_t x = (y * 37) % 50; x + 6 < bytes; x += 50 + y % 7) {
        for (std::size_t i = 0; i < 6; ++i) {
            row[x + i] = static_cast<uint8_t>(40 + (y * 13 + i * 29) % 200);
        }
    }
}

struct RowsCase {
    const char *name;
    std::size_t rowBytes;
    std::size_t rows;
    // Which rows are of one colour (the others carry marks or noise).
    std::function<bool(std::size_t)> oneColour;
    bool noise;
    int level;
};
std::ostream &operator<<(std::ostream &out, const RowsCase &c)
{
    return out << c.name;
}

class DeflateRowsTest : public testing::TestWithParam<RowsCase> {};

TEST_P(DeflateRowsTest, InflatesToTheExactRows)
{
    const RowsCase &c = GetParam();
    std::mt19937 random(7);
    const auto rows = Rows(c.rowBytes, c.rows, [&](std::size_t y, uint8_t *row) {
        if (c.oneColour(y)) {
            // The colour changes from stretch to stretch, and is not a grey.
            const auto v = static_cast<uint8_t>(255 - (y / 16) * 3);
            Fill(row, c.rowBytes, {v, static_cast<uint8_t>(v / 2), 17});
        } else if (c.noise) {
            for (std::size_t i = 0; i < c.rowBytes; ++i) {
                row[i] = static_cast<uint8_t>(random());
            }
        } else {
            Marks(y, row, c.rowBytes);
        }
    });
    std::vector<uint8_t> out = {0xaa}; // what the stream is appended to stays as it was
    ASSERT_TRUE(DeflateRows(rows.data(), c.rows, c.rowBytes + 1, c.level, out));
    ASSERT_EQ(out[0], 0xaa);
    out.erase(out.begin());
    EXPECT_EQ(Inflate(out, rows.size()), rows);
}

const auto kAll = [](std::size_t) { return true; };
const auto kNone = [](std::size_t) { return false; };
// Stretches of 16 rows, of one colour and not, by turns.
const auto kStretches = [](std::size_t y) { return (y / 16) % 2 == 0; };
// Single rows of one colour between content: too short a stretch to be a run of its own.
const auto kSingles = [](std::size_t y) { return y % 3 == 1; };
// Pairs: the shortest stretch written as a run.
const auto kPairs = [](std::size_t y) { return y % 5 < 2; };

INSTANTIATE_TEST_SUITE_P(
    Pages, DeflateRowsTest,
    testing::Values(RowsCase{"Blank", 1240 * 3, 300, kAll, false, 2},
                    RowsCase{"ContentOnly", 600 * 3, 200, kNone, false, 2},
                    RowsCase{"Stretches", 1240 * 3, 400, kStretches, false, 2},
                    RowsCase{"StretchesSmallestLevel", 900 * 3, 160, kStretches, false, 12},
                    RowsCase{"SingleRowsOfOneColour", 500 * 3, 120, kSingles, false, 2},
                    RowsCase{"Pairs", 259 * 3, 150, kPairs, false, 2},
                    // Random rows: libdeflate stores them, so stored blocks end its streams.
                    RowsCase{"NoiseBetweenRuns", 400 * 3, 120, kStretches, true, 2},
                    RowsCase{"NoiseFastestLevel", 1000 * 3, 90, kStretches, true, 1},
                    // After the first pixel, copies of 258 bytes and a rest of 1, 2, 3 and 4 bytes:
                    // a rest under three is not a copy deflate can write.
                    RowsCase{"CopyRestOne", 3 + 258 * 4 + 1, 40, kStretches, false, 2},
                    RowsCase{"CopyRestTwo", 3 + 258 * 2 + 2, 40, kStretches, false, 2},
                    RowsCase{"CopyRestThree", 3 + 258 + 3, 40, kStretches, false, 2},
                    RowsCase{"CopyRestFour", 3 + 258 + 4, 40, kStretches, false, 2},
                    // Rows around the shortest that is written as a run.
                    RowsCase{"Narrow66", 66, 64, kStretches, false, 2},
                    RowsCase{"Narrow67", 67, 64, kStretches, false, 2},
                    RowsCase{"OnePixelWide", 3, 10, kAll, false, 2},
                    RowsCase{"OneRow", 1240 * 3, 1, kAll, false, 2},
                    RowsCase{"OneContentRow", 200 * 3, 1, kNone, false, 2}),
    [](const testing::TestParamInfo<RowsCase> &info) { return std::string(info.param.name); });

TEST(DeflateRowsTest, RunsBetweenContentAreBlocksOfTheirOwn)
{
    const std::size_t rowBytes = 300 * 3;
    const auto rows = Rows(rowBytes, 40, [&](std::size_t y, uint8_t *row) {
        if (y % 10 == 9) {
            Marks(y, row, rowBytes);
        } else {
            Fill(row, rowBytes, {0x20, 0x40, 0x80});
        }
    });
    std::vector<uint8_t> out;
    ASSERT_TRUE(DeflateRows(rows.data(), 40, rowBytes + 1, 2, out));
    EXPECT_EQ(Inflate(out, rows.size()), rows);
    // The stream's final block is not its first, and the blocks before it end on byte
    // boundaries: an empty stored block follows each.
    const auto end = FindDeflateStreamEnd(out.data(), out.size());
    ASSERT_TRUE(end);
    EXPECT_GT(end->finalBlockBit, 0u);
    const uint8_t flush[] = {0x00, 0x00, 0xff, 0xff};
    EXPECT_NE(std::search(out.begin(), out.end(), flush, flush + 4), out.end());
}

TEST(DeflateRowsTest, BlankRowsCostAFewBytesEach)
{
    const std::size_t rowBytes = 1240 * 3;
    const auto rows = Rows(rowBytes, 2000, [&](std::size_t y, uint8_t *row) {
        if (y % 500 < 450) {
            Fill(row, rowBytes, {255});
        } else {
            Marks(y, row, rowBytes);
        }
    });
    std::vector<uint8_t> ours;
    ASSERT_TRUE(DeflateRows(rows.data(), 2000, rowBytes + 1, 2, ours));
    EXPECT_EQ(Inflate(ours, rows.size()), rows);
    // libdeflate alone, for the size the runs must not lose against.
    auto *compressor = libdeflate_alloc_compressor(2);
    std::vector<uint8_t> whole(libdeflate_deflate_compress_bound(compressor, rows.size()));
    whole.resize(libdeflate_deflate_compress(compressor, rows.data(), rows.size(), whole.data(),
                                             whole.size()));
    libdeflate_free_compressor(compressor);
    EXPECT_LE(ours.size(), whole.size() * 105 / 100);
}

// ---- Finding the end of streams that other compressors wrote

// `first` with its final block made not final and an empty stored block after it, then
// `second`: one stream, if the end of `first` was found exactly.
std::vector<uint8_t> Join(const std::vector<uint8_t> &first, const DeflateStreamEnd &end,
                          const std::vector<uint8_t> &second)
{
    std::vector<uint8_t> joined(first.begin(),
                                first.begin() + static_cast<long>((end.endBit + 7) / 8));
    joined[end.finalBlockBit / 8] &= static_cast<uint8_t>(~(1u << (end.finalBlockBit % 8)));
    // Three zero bits (a stored block, not final) after the end, then the byte boundary.
    const std::size_t header = end.endBit + 3;
    joined.resize((header + 7) / 8, 0);
    if (end.endBit % 8 != 0) {
        joined[end.endBit / 8] &= static_cast<uint8_t>((1u << (end.endBit % 8)) - 1);
    }
    for (uint8_t b : {0x00, 0x00, 0xff, 0xff}) {
        joined.push_back(b);
    }
    joined.insert(joined.end(), second.begin(), second.end());
    return joined;
}

std::vector<uint8_t> ZlibRaw(const std::vector<uint8_t> &data, int level, int strategy)
{
    z_stream z{};
    deflateInit2(&z, level, Z_DEFLATED, -15, 8, strategy);
    std::vector<uint8_t> out(deflateBound(&z, data.size()) + 16);
    z.next_in = const_cast<Bytef *>(data.data());
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

TEST(FindDeflateStreamEndTest, FindsTheEndOfStoredFixedAndDynamicBlocks)
{
    std::mt19937 random(11);
    std::vector<uint8_t> text(200000);
    for (std::size_t i = 0; i < text.size(); ++i) {
        // Mostly a few letters, now and then anything: long dynamic codes, some over 10 bits.
        text[i] = random() % 50 == 0 ? static_cast<uint8_t>(random())
                                     : static_cast<uint8_t>('a' + random() % 6);
    }
    std::vector<uint8_t> noise(70000);
    for (uint8_t &b : noise) {
        b = static_cast<uint8_t>(random());
    }
    const std::vector<uint8_t> tail(5000, 'z');
    const auto tailStream = ZlibRaw(tail, 6, Z_DEFAULT_STRATEGY);
    struct Stream {
        const char *name;
        std::vector<uint8_t> data, bytes;
    };
    const std::vector<Stream> streams = {
        {"stored", noise, ZlibRaw(noise, 0, Z_DEFAULT_STRATEGY)},
        {"fixed", text, ZlibRaw(text, 6, Z_FIXED)},
        {"dynamic", text, ZlibRaw(text, 9, Z_DEFAULT_STRATEGY)},
        {"empty", {}, ZlibRaw({}, 6, Z_DEFAULT_STRATEGY)},
    };
    for (const Stream &s : streams) {
        SCOPED_TRACE(s.name);
        const auto end = FindDeflateStreamEnd(s.bytes.data(), s.bytes.size());
        ASSERT_TRUE(end);
        EXPECT_LE(end->endBit, s.bytes.size() * 8);
        EXPECT_GT(end->endBit + 8, s.bytes.size() * 8) << "the end lies in the last byte";
        std::vector<uint8_t> expected = s.data;
        expected.insert(expected.end(), tail.begin(), tail.end());
        EXPECT_EQ(Inflate(Join(s.bytes, *end, tailStream), expected.size()), expected);
    }
}

TEST(FindDeflateStreamEndTest, RefusesWhatIsNotAWholeStream)
{
    std::vector<uint8_t> text(50000);
    for (std::size_t i = 0; i < text.size(); ++i) {
        text[i] = static_cast<uint8_t>("pagemint"[i % 8] + i % 13);
    }
    const auto stream = ZlibRaw(text, 6, Z_DEFAULT_STRATEGY);
    ASSERT_TRUE(FindDeflateStreamEnd(stream.data(), stream.size()));
    // Cut short: the end code is never reached.
    EXPECT_FALSE(FindDeflateStreamEnd(stream.data(), stream.size() / 2));
    // Block type 3 does not exist.
    const uint8_t reserved[] = {0x07, 0x00};
    EXPECT_FALSE(FindDeflateStreamEnd(reserved, sizeof reserved));
    // A stored block whose length and complement disagree.
    const uint8_t stored[] = {0x01, 0x05, 0x00, 0xfa, 0xfe, 1, 2, 3, 4, 5};
    EXPECT_FALSE(FindDeflateStreamEnd(stored, sizeof stored));
    // A stored block longer than the data.
    const uint8_t longer[] = {0x01, 0x05, 0x00, 0xfa, 0xff, 1, 2};
    EXPECT_FALSE(FindDeflateStreamEnd(longer, sizeof longer));
    // A non-final block and then nothing.
    const uint8_t unfinished[] = {0x00, 0x00, 0x00, 0xff, 0xff};
    EXPECT_FALSE(FindDeflateStreamEnd(unfinished, sizeof unfinished));
}

} // namespace
