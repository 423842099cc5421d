// SPDX-License-Identifier: AGPL-3.0-or-later
// PNG: 1, 4 and 8-bit palettes, 8-bit grey, 24-bit colour; pHYs holds the dpi, sRGB the colour
// space. The chunks are written here. A page of ordinary size is deflated whole with libdeflate,
// which at the same size is about twice as fast as zlib; in true colour, rows of one colour go
// around it as runs.
// A large page is deflated with zlib in bands, several bands at once, so memory stays bounded:
// each band ends on a byte boundary (sync flush), so the bands' deflate streams concatenate
// into one zlib stream whose checksum is combined from the bands' checksums.
#include "engine/writers/deflate_rows.h"
#include "engine/writers/single_page_writer.h"

#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <deque>
#include <future>
#include <memory>
#include <thread>

namespace rastool {

namespace {

// Bytes per band before compression. Large enough that restarting the compressor (with the
// previous band's last 32 KiB as its dictionary) costs well under a percent of the size, small
// enough that a page of a few megabytes still splits over the cores.
constexpr std::size_t kBandBytes = 1 << 20;
// The deflate window: the dictionary a band inherits from the one before it.
constexpr std::size_t kWindow = 32768;
// Pages up to this many bytes of filtered rows are deflated whole (A4 at 300 dpi in true colour
// is 26 MB); larger ones in bands.
constexpr std::size_t kWholePageBytes = 48u << 20;
// libdeflate's levels, measured on rendered pages (150 dpi text and figures): for true colour,
// level 2 is as small as zlib's level 4 at twice its speed, and higher levels save 1-3 % for
// up to three times the time. 8-bit palette, grey and bilevel rows are a third of the bytes or
// less and level 6 makes them 5 % smaller than level 2 at a small cost. 4-bit rows, after a
// colour reduction that already costs about as much as rendering: level 4 takes a quarter less
// time than 6 for files 2 % larger.
constexpr int kTrueColourLevel = 2;
constexpr int kIndexLevel = 6;
constexpr int kFourBitLevel = 4;

// One band of rows, each behind its filter byte, deflated on its own.
struct Band {
    std::vector<uint8_t> bytes;
    int bits = 24;
    std::size_t rowStride = 0; // bytes of a row and its filter byte
    // The last bytes before the band: what the decoder has just produced, so the compressor
    // may refer back to them.
    std::vector<uint8_t> dictionary;
    bool first = false;
    bool last = false;
};

struct Deflated {
    std::vector<uint8_t> bytes;
    uLong adler = 0;
    uLong length = 0; // bytes before compression
    bool ok = false;
};

// A whole page: one raw deflate stream, ending the zlib stream. True colour rows of one colour
// become runs (see DeflateRows); index and grey rows, a third of the bytes or less, compress
// 10-20 % smaller deflated in one piece.
Deflated DeflateWhole(const Band &band)
{
    Deflated result;
    result.ok = band.bits == 24
                    ? DeflateRows(band.bytes.data(), band.bytes.size() / band.rowStride,
                                  band.rowStride, kTrueColourLevel, result.bytes)
                    : DeflateBytes(band.bytes.data(), band.bytes.size(),
                                   band.bits == 4 ? kFourBitLevel : kIndexLevel, result.bytes);
    result.adler = libdeflate_adler32(1, band.bytes.data(), band.bytes.size());
    result.length = static_cast<uLong>(band.bytes.size());
    return result;
}

Deflated DeflateBand(const Band &band)
{
    if (band.last && band.first) {
        return DeflateWhole(band);
    }
    Deflated result;
    z_stream z{};
    // Measured on rendered pages (150 dpi text and figures, a 1200 dpi figure page, 101 dpi
    // grey): rows left unfiltered deflate smaller than with Up, Sub, Paeth or a per-row choice
    // among all five filters, because flat areas and repeated glyphs become long matches.
    // Level 4 is the fastest level that keeps the 1200 dpi page small: levels 1-3 give it
    // nearly twice the size, 5 and 6 save 1-2 % for 10-20 % more time.
    if (deflateInit2(&z, 4, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
        return result;
    }
    if (!band.dictionary.empty() &&
        deflateSetDictionary(&z, band.dictionary.data(),
                             static_cast<uInt>(band.dictionary.size())) != Z_OK) {
        deflateEnd(&z);
        return result;
    }
    result.bytes.resize(deflateBound(&z, band.bytes.size()) + 64);
    z.next_in = const_cast<Bytef *>(band.bytes.data());
    z.avail_in = static_cast<uInt>(band.bytes.size());
    const int flush = band.last ? Z_FINISH : Z_SYNC_FLUSH;
    int status = Z_OK;
    // Repeats only if the bound was short.
    do {
        const std::size_t used = z.total_out;
        if (used == result.bytes.size()) {
            result.bytes.resize(result.bytes.size() * 2);
        }
        z.next_out = result.bytes.data() + used;
        z.avail_out = static_cast<uInt>(result.bytes.size() - used);
        status = deflate(&z, flush);
    } while (status == Z_OK && (band.last || z.avail_out == 0));
    result.ok = band.last ? status == Z_STREAM_END : status == Z_OK && z.avail_in == 0;
    result.bytes.resize(z.total_out);
    deflateEnd(&z);
    result.adler =
        adler32(adler32(0, nullptr, 0), band.bytes.data(), static_cast<uInt>(band.bytes.size()));
    result.length = static_cast<uLong>(band.bytes.size());
    return result;
}

class PngWriter : public SinglePageWriter {
public:
    explicit PngWriter(std::FILE *out) : SinglePageWriter(out, "PNG", {1, 4, 8, 24}) {}

private:
    void StartImage(const PageFormat &format) override
    {
        rowBytes_ = PaddedRowBytes(static_cast<uint64_t>(format.width), format.bitsPerPixel, 1);
        // zlib counts a call's input in 32 bits: a band of at least one row must fit.
        if (rowBytes_ + 1 + kBandBytes > UINT32_MAX) {
            Refuse("a row of " + std::to_string(format.width) + " pixels is too long");
        }
        static const uint8_t kSignature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
        Sink().Write(kSignature, sizeof kSignature);

        int bitDepth = 8;
        int colourType = 2; // RGB
        if (format.bitsPerPixel == 1) {
            // Index 0 black, 1 white: exactly the values of 1-bit grey.
            colourType = 0;
            bitDepth = 1;
        } else if (format.greyscale && format.bitsPerPixel == 8) {
            colourType = 0;
        } else if (format.bitsPerPixel < 24) {
            colourType = 3;
            bitDepth = format.bitsPerPixel;
        }
        bits_ = format.bitsPerPixel;
        whole_ = (rowBytes_ + 1) * static_cast<std::size_t>(format.height) <= kWholePageBytes;
        submitted_ = false;
        own_.clear();
        own_.reserve(whole_ ? (rowBytes_ + 1) * static_cast<std::size_t>(format.height)
                            : kBandBytes + rowBytes_ + 1);
        dictionary_.clear();

        ByteBuffer ihdr;
        ihdr.U32Be(static_cast<uint32_t>(format.width));
        ihdr.U32Be(static_cast<uint32_t>(format.height));
        ihdr.U8(static_cast<uint8_t>(bitDepth));
        ihdr.U8(static_cast<uint8_t>(colourType));
        ihdr.Zeros(3); // deflate, adaptive filtering, no interlace
        Chunk("IHDR", ihdr);
        // The pixels are sRGB (grey ones too, reduced from it); gAMA and cHRM repeat that for
        // decoders that do not know the sRGB chunk.
        ByteBuffer srgb;
        srgb.U8(1); // relative colorimetric, as the pages were drawn
        Chunk("sRGB", srgb);
        ByteBuffer gamma;
        gamma.U32Be(45455);
        Chunk("gAMA", gamma);
        ByteBuffer chromaticities;
        for (const uint32_t v : {31270u, 32900u, 64000u, 33000u, 30000u, 60000u, 15000u, 6000u}) {
            chromaticities.U32Be(v);
        }
        Chunk("cHRM", chromaticities);
        if (colourType == 3) {
            // The palette as given: PNG needs no padding to a power of two.
            ByteBuffer plte;
            for (const Colour &c : format.palette.empty() ? FullPalette(format) : format.palette) {
                plte.U8(c.r);
                plte.U8(c.g);
                plte.U8(c.b);
            }
            Chunk("PLTE", plte);
        }
        ByteBuffer phys;
        phys.U32Be(static_cast<uint32_t>(std::lround(format.xDpi / 0.0254)));
        phys.U32Be(static_cast<uint32_t>(std::lround(format.yDpi / 0.0254)));
        phys.U8(1); // per metre
        Chunk("pHYs", phys);

        static const uint8_t kZlibHeader[] = {0x78, 0x9c}; // deflate, 32 KiB window
        WriteIdat(kZlibHeader, sizeof kZlibHeader);
        adler_ = adler32(0, nullptr, 0);
    }

    void PutRows(const uint8_t *rows, int, int rowCount, std::ptrdiff_t stride) override
    {
        for (int i = 0; i < rowCount; ++i) {
            const uint8_t *row = rows + i * stride;
            if (bits_ >= 8) {
                // Whole bytes: appended as they are, not into cleared space.
                own_.push_back(0); // filter: none
                own_.insert(own_.end(), row, row + rowBytes_);
            } else {
                const std::size_t at = own_.size();
                own_.resize(at + 1 + rowBytes_);
                own_[at] = 0;
                if (!PackIndices(row, Format().width, bits_, own_.data() + at + 1)) {
                    Refuse("a pixel's palette index does not fit in " + std::to_string(bits_) +
                           " bits");
                }
            }
            if (!whole_ && own_.size() >= kBandBytes) {
                Submit(false);
            }
        }
    }

    void FinishImage() override
    {
        Submit(true);
        while (!pending_.empty()) {
            Collect();
        }
        ByteBuffer trailer;
        trailer.U32Be(static_cast<uint32_t>(adler_));
        WriteIdat(trailer.Data(), trailer.Size());
        Chunk("IEND", ByteBuffer());
    }

    // Hands the band collected so far to a worker; a page that fits in one band is deflated
    // here, without a thread.
    void Submit(bool last)
    {
        Band band;
        band.bits = bits_;
        band.rowStride = rowBytes_ + 1;
        band.first = !submitted_;
        band.last = last;
        submitted_ = true;
        band.bytes.swap(own_);
        own_.reserve(kBandBytes + rowBytes_ + 1);
        band.dictionary = dictionary_;
        // The next band's dictionary: the last window of everything before it.
        const std::size_t fresh = std::min(kWindow, band.bytes.size());
        const std::size_t old = std::min(kWindow - fresh, dictionary_.size());
        dictionary_.erase(dictionary_.begin(),
                          dictionary_.end() - static_cast<std::ptrdiff_t>(old));
        dictionary_.insert(dictionary_.end(), band.bytes.end() - static_cast<std::ptrdiff_t>(fresh),
                           band.bytes.end());

        if (last && pending_.empty()) {
            Write(DeflateBand(band));
            return;
        }
        pending_.push_back(
            std::async(std::launch::async, [band = std::move(band)] { return DeflateBand(band); }));
        // Bands in flight are bounded by the cores, so memory stays a few bands whatever
        // the page's size.
        const std::size_t limit = std::max(1u, std::thread::hardware_concurrency());
        while (pending_.size() > limit) {
            Collect();
        }
    }

    void Collect()
    {
        Deflated done = pending_.front().get();
        pending_.pop_front();
        Write(done);
    }

    void Write(const Deflated &done)
    {
        if (!done.ok) {
            Refuse("cannot write: compression failed");
        }
        adler_ = adler32_combine(adler_, done.adler, static_cast<z_off_t>(done.length));
        WriteIdat(done.bytes.data(), done.bytes.size());
    }

    void WriteIdat(const uint8_t *data, std::size_t size)
    {
        // Chunks of at most a band's or a whole page's output keep each length far below the
        // 2^31 limit.
        if (size > 0) {
            Chunk("IDAT", data, size);
        }
    }

    void Chunk(const char *type, const ByteBuffer &data) { Chunk(type, data.Data(), data.Size()); }

    void Chunk(const char *type, const uint8_t *data, std::size_t size)
    {
        ByteBuffer head;
        head.U32Be(static_cast<uint32_t>(size));
        head.Append(reinterpret_cast<const uint8_t *>(type), 4);
        // libdeflate's CRC-32, the same function as zlib's, is about twice as fast.
        uint32_t crc = libdeflate_crc32(0, type, 4);
        if (size > 0) {
            crc = libdeflate_crc32(crc, data, size);
        }
        ByteBuffer tail;
        tail.U32Be(static_cast<uint32_t>(crc));
        Sink().Write(head);
        if (size > 0) {
            Sink().Write(data, size);
        }
        Sink().Write(tail);
    }

    int bits_ = 24;
    bool whole_ = false;     // the page is deflated in one piece
    bool submitted_ = false; // a band of the page has gone to the compressor
    std::size_t rowBytes_ = 0;
    std::vector<uint8_t> own_;        // the band being collected, rows behind filter bytes
    std::vector<uint8_t> dictionary_; // the last window of the bands handed out
    std::deque<std::future<Deflated>> pending_;
    uLong adler_ = 0;
};

} // namespace

std::unique_ptr<ImageWriter> MakePngWriter(std::FILE *out, const WriterOptions &)
{
    return std::make_unique<PngWriter>(out);
}

} // namespace rastool
