// SPDX-License-Identifier: AGPL-3.0-or-later
#include "engine/writers/single_page_writer.h"

#include <algorithm>
#include <cmath>

namespace rastool {
namespace {

constexpr uint32_t kMaxField = 0xFFFF;

// PCX version 5, run-length encoded. Depths are stored the way readers expect them:
// 1 bit in one plane, 4 bits as four 1-bit planes (the 16-colour layout), 8 bits in one plane
// with the 256-colour palette after the pixels, 24 bits as red, green and blue planes.
class PcxWriter : public SinglePageWriter {
public:
    explicit PcxWriter(std::FILE *out) : SinglePageWriter(out, "PCX", {1, 4, 8, 24}) {}

private:
    void StartImage(const PageFormat &format) override
    {
        const int bits = format.bitsPerPixel;
        planes_ = bits == 4 ? 4 : bits == 24 ? 3 : 1;
        const int bitsPerPlane = (bits == 1 || bits == 4) ? 1 : 8;
        // Each plane's line is padded to an even number of bytes.
        const uint64_t bytesPerLine =
            PaddedRowBytes(static_cast<uint64_t>(format.width), bitsPerPlane, 2);
        if (static_cast<uint64_t>(format.width) - 1 > kMaxField ||
            static_cast<uint64_t>(format.height) - 1 > kMaxField || bytesPerLine > kMaxField) {
            Refuse("the page is larger than the format's 65535-pixel limit");
        }
        bytesPerLine_ = static_cast<std::size_t>(bytesPerLine);
        plane_.assign(bytesPerLine_, 0);
        bitPlane_.assign(static_cast<std::size_t>(format.width), 0);
        encoded_.clear();
        encoded_.reserve(2 * bytesPerLine_);
        if (bits < 24) {
            palette_ = FullPalette(format);
        }

        ByteBuffer header;
        header.U8(10); // manufacturer
        header.U8(5);  // version
        header.U8(1);  // run-length encoding
        header.U8(static_cast<uint8_t>(bitsPerPlane));
        header.U16Le(0);
        header.U16Le(0);
        header.U16Le(static_cast<uint32_t>(format.width - 1));
        header.U16Le(static_cast<uint32_t>(format.height - 1));
        header.U16Le(DpiField(format.xDpi));
        header.U16Le(DpiField(format.yDpi));
        for (int i = 0; i < 16; ++i) {
            const Colour c = i < static_cast<int>(palette_.size()) ? palette_[i] : Colour{};
            header.U8(c.r);
            header.U8(c.g);
            header.U8(c.b);
        }
        header.U8(0); // reserved
        header.U8(static_cast<uint8_t>(planes_));
        header.U16Le(static_cast<uint32_t>(bytesPerLine_));
        header.U16Le(format.greyscale ? 2 : 1);
        header.U16Le(0); // screen size: unknown
        header.U16Le(0);
        header.Zeros(54);
        Sink().Write(header);
    }

    static uint32_t DpiField(double dpi)
    {
        return static_cast<uint32_t>(std::min<double>(std::round(dpi), kMaxField));
    }

    void PutRows(const uint8_t *rows, int, int rowCount, std::ptrdiff_t stride) override
    {
        const int width = Format().width;
        for (int y = 0; y < rowCount; ++y) {
            const uint8_t *src = rows + y * stride;
            encoded_.clear();
            switch (Format().bitsPerPixel) {
            case 24:
                for (int p = 0; p < 3; ++p) {
                    for (int x = 0; x < width; ++x) {
                        plane_[x] = src[3 * x + p];
                    }
                    Encode();
                }
                break;
            case 8:
                std::copy(src, src + width, plane_.begin());
                Encode();
                break;
            default:
                for (int p = 0; p < planes_; ++p) {
                    for (int x = 0; x < width; ++x) {
                        if (src[x] >> Format().bitsPerPixel) {
                            Refuse("a palette index does not fit the colour depth");
                        }
                        bitPlane_[x] = (src[x] >> p) & 1;
                    }
                    PackIndices(bitPlane_.data(), width, 1, plane_.data());
                    Encode();
                }
                break;
            }
            Sink().Write(encoded_.data(), encoded_.size());
        }
    }

    // Appends one plane line: a byte with the two top bits set is a count (1..63) of repeats
    // of the next byte, so such data bytes always go out as a count of one.
    void Encode()
    {
        std::size_t i = 0;
        while (i < bytesPerLine_) {
            const uint8_t value = plane_[i];
            std::size_t run = 1;
            while (i + run < bytesPerLine_ && run < 63 && plane_[i + run] == value) {
                ++run;
            }
            if (run > 1 || value >= 0xC0) {
                encoded_.push_back(static_cast<uint8_t>(0xC0 | run));
            }
            encoded_.push_back(value);
            i += run;
        }
    }

    void FinishImage() override
    {
        if (Format().bitsPerPixel != 8) {
            return;
        }
        ByteBuffer trailer;
        trailer.U8(0x0C);
        for (const Colour &c : palette_) {
            trailer.U8(c.r);
            trailer.U8(c.g);
            trailer.U8(c.b);
        }
        Sink().Write(trailer);
    }

    int planes_ = 1;
    std::size_t bytesPerLine_ = 0;
    std::vector<uint8_t> plane_;
    std::vector<uint8_t> bitPlane_;
    std::vector<uint8_t> encoded_;
    std::vector<Colour> palette_;
};

} // namespace

std::unique_ptr<ImageWriter> MakePcxWriter(std::FILE *out, const WriterOptions &)
{
    return std::make_unique<PcxWriter>(out);
}

} // namespace rastool
