// SPDX-License-Identifier: AGPL-3.0-or-later
#include "engine/colour_reducer.h"

#include <libimagequant.h>

#include <cstring>
#include <memory>
#include <stdexcept>

namespace rastool {

namespace {

constexpr int kMidGrey = 128;
// Fax pages: grey levels this close to black or white are cut at mid-grey and take no part in
// the error diffusion, so text and rules, drawn solid, stay crisp; only the tones between (photos,
// shading) are diffused.
constexpr uint8_t kSolidBlack = 48;
constexpr uint8_t kSolidWhite = 208;

bool AllSolid(const uint8_t *grey, size_t width)
{
    for (size_t x = 0; x < width; ++x) {
        if (grey[x] > kSolidBlack && grey[x] < kSolidWhite) {
            return false;
        }
    }
    return true;
}
// Palette pages are remapped and handed to the writer in slices of this many rows.
constexpr int kSliceRows = 256;

struct LiqDeleter {
    void operator()(liq_attr *p) const { liq_attr_destroy(p); }
    void operator()(liq_image *p) const { liq_image_destroy(p); }
    void operator()(liq_result *p) const { liq_result_destroy(p); }
};
template <typename T> using LiqPtr = std::unique_ptr<T, LiqDeleter>;

struct RgbPage {
    const uint8_t *pixels;
    int width;
};

// Feeds the quantiser from the kept RGB page without a second, RGBA copy of it.
void RgbaRow(liq_color rowOut[], int row, int width, void *user)
{
    const auto *page = static_cast<const RgbPage *>(user);
    const uint8_t *src = page->pixels + static_cast<size_t>(row) * page->width * 3;
    for (int x = 0; x < width; ++x) {
        rowOut[x] = liq_color{src[0], src[1], src[2], 255};
        src += 3;
    }
}

void Check(liq_error error, const char *what)
{
    if (error == LIQ_OUT_OF_MEMORY) {
        throw std::bad_alloc();
    }
    if (error != LIQ_OK) {
        throw std::runtime_error(std::string("colour quantisation failed: ") + what);
    }
}

} // namespace

PageReducer::PageReducer(Depth depth, bool faxThreshold, const PageFormat &format,
                         ImageWriter &writer)
    : depth_(depth), faxThreshold_(faxThreshold), format_(format), writer_(writer)
{
    format_.bitsPerPixel = BitsOf(depth);
    format_.greyscale = depth == Depth::Grey8;
    format_.palette.clear();
    const size_t width = static_cast<size_t>(format_.width);
    switch (depth) {
    case Depth::Bw1:
        format_.palette = {Colour{0, 0, 0}, Colour{255, 255, 255}};
        errorThis_.assign(width + 2, 0);
        errorNext_.assign(width + 2, 0);
        break;
    case Depth::Grey8:
        for (int level = 0; level < 256; ++level) {
            const auto v = static_cast<uint8_t>(level);
            format_.palette.push_back(Colour{v, v, v});
        }
        break;
    case Depth::Pal4:
    case Depth::Pal8:
        page_.reserve(width * static_cast<size_t>(format_.height) * 3);
        return; // the palette is known only at the end of the page
    case Depth::Rgb24:
        break;
    }
    writer_.BeginPage(format_);
}

render::PixelFormat PageReducer::InputFormatFor(Depth depth)
{
    return depth == Depth::Bw1 || depth == Depth::Grey8 ? render::PixelFormat::Grey
                                                        : render::PixelFormat::Rgb;
}

void PageReducer::Take(const uint8_t *pixels, int rowCount, std::ptrdiff_t stride)
{
    if (rowCount <= 0 || rowCount > format_.height - rowsTaken_) {
        throw std::logic_error("more rows than the page holds");
    }
    rowsTaken_ += rowCount;
    const size_t width = static_cast<size_t>(format_.width);
    switch (depth_) {
    case Depth::Rgb24:
    case Depth::Grey8:
        writer_.WriteRows(pixels, rowCount, stride);
        return;
    case Depth::Pal4:
    case Depth::Pal8:
        for (int row = 0; row < rowCount; ++row) {
            const uint8_t *src = pixels + row * stride;
            page_.insert(page_.end(), src, src + width * 3);
        }
        return;
    case Depth::Bw1:
        break;
    }
    rowsOut_.resize(width * static_cast<size_t>(rowCount));
    for (int row = 0; row < rowCount; ++row) {
        const uint8_t *src = pixels + row * stride;
        uint8_t *out = rowsOut_.data() + static_cast<size_t>(row) * width;
        if (faxThreshold_ && AllSolid(src, width)) {
            Threshold(src, out, width);
            std::fill(errorThis_.begin(), errorThis_.end(), 0);
        } else {
            Diffuse(src, out);
        }
    }
    writer_.WriteRows(rowsOut_.data(), rowCount, static_cast<std::ptrdiff_t>(width));
}

// A fax page is mostly this loop, so eight pixels are compared at once: with the threshold at
// 128, a grey level is at or above it exactly when its high bit is set.
void PageReducer::Threshold(const uint8_t *grey, uint8_t *out, size_t width)
{
    static_assert(kMidGrey == 128, "the high bit of a grey level is the comparison");
    constexpr uint64_t kLowBits = 0x0101010101010101ull;
    size_t x = 0;
    for (; x + 8 <= width; x += 8) {
        uint64_t word;
        std::memcpy(&word, grey + x, sizeof word);
        word = (word >> 7) & kLowBits;
        std::memcpy(out + x, &word, sizeof word);
    }
    for (; x < width; ++x) {
        out[x] = grey[x] >= kMidGrey ? 1 : 0;
    }
}

// Floyd–Steinberg: each pixel's rounding error goes 7/16 right, 3/16 down-left, 5/16 down and
// 1/16 down-right. The error row carries over from one band to the next. On fax pages solid
// pixels are cut and neither take nor pass on an error.
void PageReducer::Diffuse(const uint8_t *grey, uint8_t *out)
{
    const size_t width = static_cast<size_t>(format_.width);
    std::fill(errorNext_.begin(), errorNext_.end(), 0);
    for (size_t x = 0; x < width; ++x) {
        if (faxThreshold_ && (grey[x] <= kSolidBlack || grey[x] >= kSolidWhite)) {
            out[x] = grey[x] >= kMidGrey ? 1 : 0;
            continue;
        }
        const int wanted = grey[x] * 16 + errorThis_[x + 1];
        const int shown = wanted >= kMidGrey * 16 ? 255 * 16 : 0;
        out[x] = shown != 0 ? 1 : 0;
        const int error = (wanted - shown) / 16;
        errorThis_[x + 2] += error * 7;
        errorNext_[x] += error * 3;
        errorNext_[x + 1] += error * 5;
        errorNext_[x + 2] += error;
    }
    errorThis_.swap(errorNext_);
}

void PageReducer::Quantise()
{
    LiqPtr<liq_attr> attr(liq_attr_create());
    if (!attr) {
        throw std::bad_alloc();
    }
    Check(liq_set_max_colors(attr.get(), 1 << format_.bitsPerPixel), "palette size");
    RgbPage source{page_.data(), format_.width};
    LiqPtr<liq_image> image(
        liq_image_create_custom(attr.get(), RgbaRow, &source, format_.width, format_.height, 0));
    if (!image) {
        throw std::runtime_error("colour quantisation failed: page size");
    }
    liq_result *raw = nullptr;
    Check(liq_image_quantize(image.get(), attr.get(), &raw), "palette");
    LiqPtr<liq_result> result(raw);
    Check(liq_set_dithering_level(result.get(), 1.0f), "dithering");

    const size_t width = static_cast<size_t>(format_.width);
    std::vector<uint8_t> indices(width * static_cast<size_t>(format_.height));
    Check(liq_write_remapped_image(result.get(), image.get(), indices.data(), indices.size()),
          "remapping");
    const liq_palette *palette = liq_get_palette(result.get());
    for (unsigned i = 0; i < palette->count; ++i) {
        const liq_color &c = palette->entries[i];
        format_.palette.push_back(Colour{c.r, c.g, c.b});
    }
    page_.clear();
    page_.shrink_to_fit();

    writer_.BeginPage(format_);
    for (int y0 = 0; y0 < format_.height; y0 += kSliceRows) {
        const int rows = std::min(kSliceRows, format_.height - y0);
        writer_.WriteRows(indices.data() + static_cast<size_t>(y0) * width, rows,
                          static_cast<std::ptrdiff_t>(width));
    }
}

void PageReducer::Finish()
{
    if (rowsTaken_ != format_.height) {
        throw std::logic_error("the page ended early");
    }
    if (depth_ == Depth::Pal4 || depth_ == Depth::Pal8) {
        Quantise();
    }
    writer_.EndPage();
}

} // namespace rastool
