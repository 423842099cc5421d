// SPDX-License-Identifier: AGPL-3.0-or-later
// The PNG writer's deflate of true-colour rows, which writes rows of one colour as runs and
// joins libdeflate's streams between them by finding where each ends. The input describes a
// page: its row length, the compression level and, row by row, either a colour that fills the
// row or bytes that make it up. Besides crashes and sanitizer reports, a stream that zlib's
// inflate does not turn back into exactly the rows is a finding.
//
// With the first byte odd, the rest of the input is handed to the stream-end finder as it is:
// it must refuse what is not a whole stream, never read or answer beyond the data.
#include "engine/writers/deflate_rows.h"

#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

void Require(bool condition, const char *what)
{
    if (!condition) {
        std::fprintf(stderr, "contract broken: %s\n", what);
        std::abort();
    }
}

std::vector<uint8_t> Page(const uint8_t *data, std::size_t size, std::size_t rowBytes)
{
    std::vector<uint8_t> rows;
    std::size_t at = 0;
    while (at < size && rows.size() < (1u << 22)) {
        const uint8_t kind = data[at++];
        rows.push_back(0);
        if (kind & 0x80) {
            const uint8_t pixel[3] = {data[at % size], data[(at + 1) % size],
                                      data[(at + 2) % size]};
            at += 3;
            for (std::size_t i = 0; i < rowBytes; ++i) {
                rows.push_back(pixel[i % 3]);
            }
        } else {
            // Bytes of the input, repeated as needed: rows alike in part, as rendered rows are.
            for (std::size_t i = 0; i < rowBytes; ++i) {
                rows.push_back(data[(at + i * (kind + 1u)) % size]);
            }
            at += kind % 16;
        }
    }
    return rows;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size)
{
    if (size < 4) {
        return 0;
    }
    if (data[0] & 1) {
        const auto end = rastool::FindDeflateStreamEnd(data + 1, size - 1);
        if (end) {
            Require(end->finalBlockBit < end->endBit, "the final block lies before the end");
            Require(end->endBit <= (size - 1) * 8, "the end lies within the data");
        }
        return 0;
    }
    const std::size_t rowBytes = 1 + ((data[1] | data[2] << 8) % 2000);
    const int level = 1 + data[3] % 12;
    const std::vector<uint8_t> rows = Page(data + 4, size - 4, rowBytes);
    if (rows.empty()) {
        return 0;
    }
    std::vector<uint8_t> out;
    Require(
        rastool::DeflateRows(rows.data(), rows.size() / (rowBytes + 1), rowBytes + 1, level, out),
        "the rows are deflated");

    std::vector<uint8_t> back(rows.size() + 1);
    z_stream z{};
    Require(inflateInit2(&z, -15) == Z_OK, "inflate starts");
    z.next_in = out.data();
    z.avail_in = static_cast<uInt>(out.size());
    z.next_out = back.data();
    z.avail_out = static_cast<uInt>(back.size());
    const int status = inflate(&z, Z_FINISH);
    Require(status == Z_STREAM_END, "the stream ends where it should");
    Require(z.avail_in == 0, "nothing after the end of the stream");
    Require(z.total_out == rows.size(), "as many bytes as the rows");
    back.resize(z.total_out);
    Require(back == rows, "the very rows");
    inflateEnd(&z);
    return 0;
}
