// SPDX-License-Identifier: AGPL-3.0-or-later
#include "engine/writers/single_page_writer.h"

#include <array>
#include <limits>

namespace rastool {
namespace {

constexpr uint32_t kMagic = 0x59A66A95;
constexpr uint32_t kTypeStandard = 1;
constexpr uint32_t kMapNone = 0;
constexpr uint32_t kMapEqualRgb = 1;

// Sun raster: big-endian header, optional colour map as all reds then all greens then all
// blues, rows padded to 16 bits, colour pixels stored B G R.
class RasWriter : public SinglePageWriter {
public:
    explicit RasWriter(std::FILE *out) : SinglePageWriter(out, "RAS", {1, 8, 24}) {}

private:
    void StartImage(const PageFormat &format) override
    {
        rowBytes_ = PaddedRowBytes(static_cast<uint64_t>(format.width), format.bitsPerPixel, 2);
        const uint64_t length = rowBytes_ * static_cast<uint64_t>(format.height);
        if (length > std::numeric_limits<uint32_t>::max()) {
            Refuse("the page is too large for the format's 4 GB limit");
        }
        row_.assign(static_cast<std::size_t>(rowBytes_), 0);
        indices_.assign(static_cast<std::size_t>(format.width), 0);

        std::vector<Colour> palette;
        if (format.bitsPerPixel < 24) {
            palette = FullPalette(format);
        }
        // A 1-bit image carries no map: readers take a set bit as black, so dark entries of
        // the palette become set bits.
        if (format.bitsPerPixel == 1) {
            for (std::size_t i = 0; i < 2; ++i) {
                const Colour &c = palette[i];
                const int luminance = (299 * c.r + 587 * c.g + 114 * c.b) / 1000;
                oneBit_[i] = luminance < 128 ? 1 : 0;
            }
        }
        const bool mapped = format.bitsPerPixel == 8;

        ByteBuffer header;
        header.U32Be(kMagic);
        header.U32Be(static_cast<uint32_t>(format.width));
        header.U32Be(static_cast<uint32_t>(format.height));
        header.U32Be(static_cast<uint32_t>(format.bitsPerPixel));
        header.U32Be(static_cast<uint32_t>(length));
        header.U32Be(kTypeStandard);
        header.U32Be(mapped ? kMapEqualRgb : kMapNone);
        header.U32Be(mapped ? 3 * 256 : 0);
        if (mapped) {
            for (const Colour &c : palette) {
                header.U8(c.r);
            }
            for (const Colour &c : palette) {
                header.U8(c.g);
            }
            for (const Colour &c : palette) {
                header.U8(c.b);
            }
        }
        Sink().Write(header);
    }

    void PutRows(const uint8_t *rows, int, int rowCount, std::ptrdiff_t stride) override
    {
        const int width = Format().width;
        for (int y = 0; y < rowCount; ++y) {
            const uint8_t *src = rows + y * stride;
            switch (Format().bitsPerPixel) {
            case 24:
                for (int x = 0; x < width; ++x) {
                    row_[3 * x] = src[3 * x + 2];
                    row_[3 * x + 1] = src[3 * x + 1];
                    row_[3 * x + 2] = src[3 * x];
                }
                break;
            case 8:
                std::copy(src, src + width, row_.begin());
                break;
            default:
                for (int x = 0; x < width; ++x) {
                    if (src[x] > 1) {
                        Refuse("a palette index does not fit the colour depth");
                    }
                    indices_[x] = oneBit_[src[x]];
                }
                PackIndices(indices_.data(), width, 1, row_.data());
                break;
            }
            Sink().Write(row_.data(), row_.size());
        }
    }

    uint64_t rowBytes_ = 0;
    std::vector<uint8_t> row_;
    std::vector<uint8_t> indices_;
    std::array<uint8_t, 2> oneBit_{};
};

} // namespace

std::unique_ptr<ImageWriter> MakeRasWriter(std::FILE *out, const WriterOptions &)
{
    return std::make_unique<RasWriter>(out);
}

} // namespace rastool
