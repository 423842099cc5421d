// SPDX-License-Identifier: AGPL-3.0-or-later
#include "engine/writers/single_page_writer.h"

#include <array>
#include <cstring>

namespace rastool {
namespace {

constexpr uint8_t kTypeMappedRle = 9;
constexpr uint8_t kTypeTrueColourRle = 10;
constexpr uint8_t kTypeGreyRle = 11;
constexpr uint8_t kTopLeftOrigin = 0x20;
constexpr int kMaxSide = 0xFFFF;
constexpr int kMaxPacket = 128;

// Run-length encoded TGA: 8 bits colour-mapped or grey, 24 bits B G R. The descriptor puts
// the origin at the top left, so rows go out in the order they arrive.
class TgaWriter : public SinglePageWriter {
public:
    explicit TgaWriter(std::FILE *out) : SinglePageWriter(out, "TGA", {8, 24}) {}

private:
    void StartImage(const PageFormat &format) override
    {
        if (format.width > kMaxSide || format.height > kMaxSide) {
            Refuse("the page is larger than the format's 65535-pixel limit");
        }
        pixelBytes_ = format.bitsPerPixel / 8;
        pixels_.assign(static_cast<std::size_t>(format.width) * pixelBytes_, 0);
        encoded_.clear();

        const bool trueColour = format.bitsPerPixel == 24;
        std::vector<Colour> palette;
        if (!trueColour) {
            palette = FullPalette(format);
        }
        grey_ = format.greyscale && !trueColour;
        if (grey_) {
            for (std::size_t i = 0; i < palette.size(); ++i) {
                const Colour &c = palette[i];
                greyLevel_[i] = static_cast<uint8_t>((299 * c.r + 587 * c.g + 114 * c.b) / 1000);
            }
        }
        const bool mapped = !trueColour && !grey_;

        ByteBuffer header;
        header.U8(0); // no image id
        header.U8(mapped ? 1 : 0);
        header.U8(trueColour ? kTypeTrueColourRle : grey_ ? kTypeGreyRle : kTypeMappedRle);
        header.U16Le(0); // first map entry
        header.U16Le(mapped ? static_cast<uint32_t>(palette.size()) : 0);
        header.U8(mapped ? 24 : 0);
        header.U16Le(0); // x origin
        header.U16Le(0); // y origin
        header.U16Le(static_cast<uint32_t>(format.width));
        header.U16Le(static_cast<uint32_t>(format.height));
        header.U8(static_cast<uint8_t>(format.bitsPerPixel));
        header.U8(kTopLeftOrigin);
        if (mapped) {
            for (const Colour &c : palette) {
                header.U8(c.b);
                header.U8(c.g);
                header.U8(c.r);
            }
        }
        Sink().Write(header);
    }

    void PutRows(const uint8_t *rows, int, int rowCount, std::ptrdiff_t stride) override
    {
        const int width = Format().width;
        for (int y = 0; y < rowCount; ++y) {
            const uint8_t *src = rows + y * stride;
            if (pixelBytes_ == 3) {
                for (int x = 0; x < width; ++x) {
                    pixels_[3 * x] = src[3 * x + 2];
                    pixels_[3 * x + 1] = src[3 * x + 1];
                    pixels_[3 * x + 2] = src[3 * x];
                }
            } else if (grey_) {
                for (int x = 0; x < width; ++x) {
                    pixels_[x] = greyLevel_[src[x]];
                }
            } else {
                std::memcpy(pixels_.data(), src, static_cast<std::size_t>(width));
            }
            EncodeRow();
            Sink().Write(encoded_.data(), encoded_.size());
        }
    }

    bool Same(int a, int b) const
    {
        return std::memcmp(&pixels_[a * pixelBytes_], &pixels_[b * pixelBytes_], pixelBytes_) == 0;
    }

    // Packets never cross a row: a run packet repeats one pixel 2..128 times, a raw packet
    // carries 1..128 pixels, stopping where a run begins.
    void EncodeRow()
    {
        encoded_.clear();
        const int width = Format().width;
        int x = 0;
        while (x < width) {
            int run = 1;
            while (x + run < width && run < kMaxPacket && Same(x, x + run)) {
                ++run;
            }
            if (run > 1) {
                encoded_.push_back(static_cast<uint8_t>(0x80 | (run - 1)));
                encoded_.insert(encoded_.end(), &pixels_[x * pixelBytes_],
                                &pixels_[x * pixelBytes_] + pixelBytes_);
                x += run;
                continue;
            }
            int raw = 1;
            while (x + raw < width && raw < kMaxPacket &&
                   !(x + raw + 1 < width && Same(x + raw, x + raw + 1))) {
                ++raw;
            }
            encoded_.push_back(static_cast<uint8_t>(raw - 1));
            encoded_.insert(encoded_.end(), &pixels_[x * pixelBytes_],
                            &pixels_[x * pixelBytes_] + raw * pixelBytes_);
            x += raw;
        }
    }

    int pixelBytes_ = 3;
    bool grey_ = false;
    std::array<uint8_t, 256> greyLevel_{};
    std::vector<uint8_t> pixels_;
    std::vector<uint8_t> encoded_;
};

} // namespace

std::unique_ptr<ImageWriter> MakeTgaWriter(std::FILE *out, const WriterOptions &)
{
    return std::make_unique<TgaWriter>(out);
}

} // namespace rastool
