// SPDX-License-Identifier: AGPL-3.0-or-later
#include "engine/colour_reducer.h"

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

} // namespace

PageReducer::PageReducer(Depth depth, bool faxThreshold, const PageFormat &format,
                         ImageWriter &writer, PageSampler sampler)
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
        palette_ = std::make_unique<PaletteReducer>(format_.bitsPerPixel, format_, writer_,
                                                    std::move(sampler));
        return; // the palette reducer begins the page once it knows the palette
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
        palette_->Take(pixels, rowCount, stride);
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

void PageReducer::Finish()
{
    if (rowsTaken_ != format_.height) {
        throw std::logic_error("the page ended early");
    }
    if (palette_) {
        palette_->Finish();
    }
    writer_.EndPage();
}

} // namespace rastool
