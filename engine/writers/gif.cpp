// SPDX-License-Identifier: AGPL-3.0-or-later
// GIF through giflib: palettes of 2, 16 or 256 colours. GIF has no field for the resolution.
#include "engine/writers/single_page_writer.h"

#include <gif_lib.h>

#include <cerrno>
#include <cstring>

namespace rastool {

namespace {

constexpr int kMaxSide = 0xFFFF;

int WriteBytes(GifFileType *gif, const GifByteType *data, int count)
{
    auto *out = static_cast<std::FILE *>(gif->UserData);
    return static_cast<int>(std::fwrite(data, 1, static_cast<size_t>(count), out));
}

class GifWriter : public SinglePageWriter {
public:
    explicit GifWriter(std::FILE *out) : SinglePageWriter(out, "GIF", {1, 4, 8}), out_(out) {}
    ~GifWriter() override
    {
        if (gif_ != nullptr) {
            int ignored = 0;
            EGifCloseFile(gif_, &ignored);
        }
    }

private:
    void StartImage(const PageFormat &format) override
    {
        // Sides are stored in 16 bits; giflib would silently keep only the low bits.
        if (format.width > kMaxSide || format.height > kMaxSide) {
            Refuse("the page is larger than the format's 65535-pixel limit");
        }
        int error = 0;
        gif_ = EGifOpen(out_, WriteBytes, &error);
        if (gif_ == nullptr) {
            Failed(error);
        }
        const std::vector<Colour> palette = FullPalette(format);
        std::vector<GifColorType> colours;
        for (const Colour &c : palette) {
            colours.push_back(GifColorType{c.r, c.g, c.b});
        }
        ColorMapObject *map = GifMakeMapObject(static_cast<int>(colours.size()), colours.data());
        if (map == nullptr) {
            throw std::bad_alloc();
        }
        errno = 0;
        const bool ok =
            EGifPutScreenDesc(gif_, format.width, format.height, format.bitsPerPixel, 0, map) !=
                GIF_ERROR &&
            EGifPutImageDesc(gif_, 0, 0, format.width, format.height, false, nullptr) != GIF_ERROR;
        GifFreeMapObject(map);
        if (!ok) {
            Failed(gif_->Error);
        }
    }
    void PutRows(const uint8_t *rows, int, int rowCount, std::ptrdiff_t stride) override
    {
        // The codec masks each index to the depth in place: it gets a checked copy of the row,
        // so an index too large is refused instead of becoming another colour.
        const auto width = static_cast<std::size_t>(Format().width);
        const unsigned limit = 1u << Format().bitsPerPixel;
        row_.resize(width);
        errno = 0;
        for (int i = 0; i < rowCount; ++i) {
            const uint8_t *src = rows + i * stride;
            for (std::size_t x = 0; x < width; ++x) {
                if (src[x] >= limit) {
                    Refuse("a palette index does not fit the colour depth");
                }
                row_[x] = src[x];
            }
            if (EGifPutLine(gif_, row_.data(), Format().width) == GIF_ERROR) {
                Failed(gif_->Error);
            }
        }
    }
    void FinishImage() override
    {
        int error = 0;
        errno = 0;
        GifFileType *gif = gif_;
        gif_ = nullptr;
        if (EGifCloseFile(gif, &error) == GIF_ERROR) {
            Failed(error);
        }
    }
    [[noreturn]] void Failed(int gifError)
    {
        const int error = errno;
        const char *reason = error != 0 ? std::strerror(error) : GifErrorString(gifError);
        Refuse(std::string("cannot write: ") + (reason != nullptr ? reason : "GIF error"));
    }

    std::FILE *out_;
    GifFileType *gif_ = nullptr;
    std::vector<GifPixelType> row_;
};

} // namespace

std::unique_ptr<ImageWriter> MakeGifWriter(std::FILE *out, const WriterOptions &)
{
    return std::make_unique<GifWriter>(out);
}

} // namespace rastool
