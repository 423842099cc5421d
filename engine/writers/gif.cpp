// SPDX-License-Identifier: AGPL-3.0-or-later
// GIF: palettes of 2, 16 or 256 colours, one image with a global colour table. The blocks are
// written here and the pixels compressed by our LZW encoder as the rows arrive (giflib's
// encoder spent a third of a palette page's time probing its hash table). GIF has no field for
// the resolution.
#include "engine/writers/lzw.h"
#include "engine/writers/single_page_writer.h"

#include <algorithm>
#include <memory>

namespace rastool {

namespace {

constexpr int kMaxSide = 0xFFFF;
// Image data goes out in sub-blocks of at most 255 bytes, each behind its length.
constexpr std::size_t kSubBlock = 255;

class GifWriter : public SinglePageWriter {
public:
    explicit GifWriter(std::FILE *out) : SinglePageWriter(out, "GIF", {1, 4, 8}) {}

private:
    void StartImage(const PageFormat &format) override
    {
        // Sides are stored in 16 bits.
        if (format.width > kMaxSide || format.height > kMaxSide) {
            Refuse("the page is larger than the format's 65535-pixel limit");
        }
        const int bits = format.bitsPerPixel;
        ByteBuffer head;
        head.Append(reinterpret_cast<const uint8_t *>("GIF87a"), 6);
        head.U16Le(static_cast<uint32_t>(format.width));
        head.U16Le(static_cast<uint32_t>(format.height));
        // A global colour table of 2^bits entries, colour resolution of as many bits.
        head.U8(static_cast<uint8_t>(0x80 | (bits - 1) << 4 | (bits - 1)));
        head.U8(0); // background: entry 0
        head.U8(0); // no aspect ratio
        for (const Colour &c : FullPalette(format)) {
            head.U8(c.r);
            head.U8(c.g);
            head.U8(c.b);
        }
        head.U8(0x2C); // image descriptor: the whole screen, no local table, not interlaced
        head.U16Le(0);
        head.U16Le(0);
        head.U16Le(static_cast<uint32_t>(format.width));
        head.U16Le(static_cast<uint32_t>(format.height));
        head.U8(0);
        // LZW codes start one bit wider than the minimum code size, which is at least 2.
        const int codeSize = bits < 2 ? 2 : bits;
        head.U8(static_cast<uint8_t>(codeSize));
        Sink().Write(head);
        compressed_.clear();
        encoder_ = std::make_unique<LzwEncoder>(LzwEncoder::Style::Gif, codeSize, compressed_);
    }

    void PutRows(const uint8_t *rows, int, int rowCount, std::ptrdiff_t stride) override
    {
        const auto width = static_cast<std::size_t>(Format().width);
        const unsigned limit = 1u << Format().bitsPerPixel;
        for (int i = 0; i < rowCount; ++i) {
            const uint8_t *row = rows + i * stride;
            uint8_t largest = 0;
            for (std::size_t x = 0; x < width; ++x) {
                largest = std::max(largest, row[x]);
            }
            if (largest >= limit) {
                Refuse("a palette index does not fit the colour depth");
            }
            encoder_->Add(row, width);
        }
        WriteBlocks(false);
    }

    void FinishImage() override
    {
        encoder_->Finish();
        WriteBlocks(true);
        static const uint8_t kEnd[] = {0, 0x3B}; // no more sub-blocks; trailer
        Sink().Write(kEnd, sizeof kEnd);
        encoder_.reset();
    }

    // Writes the complete sub-blocks compressed so far; at the end, the short last one too.
    void WriteBlocks(bool all)
    {
        std::size_t at = 0;
        ByteBuffer blocks;
        while (compressed_.size() - at >= kSubBlock || (all && at < compressed_.size())) {
            const std::size_t n = std::min(kSubBlock, compressed_.size() - at);
            blocks.U8(static_cast<uint8_t>(n));
            blocks.Append(compressed_.data() + at, n);
            at += n;
        }
        Sink().Write(blocks);
        compressed_.erase(compressed_.begin(),
                          compressed_.begin() + static_cast<std::ptrdiff_t>(at));
    }

    std::vector<uint8_t> compressed_;
    std::unique_ptr<LzwEncoder> encoder_;
};

} // namespace

std::unique_ptr<ImageWriter> MakeGifWriter(std::FILE *out, const WriterOptions &)
{
    return std::make_unique<GifWriter>(out);
}

} // namespace rastool
