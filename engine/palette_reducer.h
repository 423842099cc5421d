// SPDX-License-Identifier: AGPL-3.0-or-later
#pragma once

#include "engine/writers/image_writer.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

namespace rastool {

// A small rendering of a whole page: RGB rows without padding.
struct PageSample {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgb;
};
using PageSampler = std::function<PageSample()>;

// Nearest palette entry (squared RGB distance) of any colour. Most colours fall in a cell of a
// 32 x 32 x 32 grid that one entry is nearest to throughout, found the first time the cell is
// asked for; the rest go through a direct-mapped cache (rendered pages repeat few colours many
// times) in front of a search among the few entries that can be nearest to anything in their
// cell of a 16 x 16 x 16 grid.
class NearestColour {
public:
    explicit NearestColour(const std::vector<Colour> &palette);
    uint8_t Find(uint32_t rgb)
    {
        const uint32_t cell = (rgb >> 9 & 0x7C00) | (rgb >> 6 & 0x3E0) | (rgb >> 3 & 0x1F);
        uint16_t sole = sole_[cell];
        if (sole == kUnknown) {
            sole = sole_[cell] = SoleNearest(cell);
        }
        if (sole < kUnknown) {
            return static_cast<uint8_t>(sole);
        }
        const uint32_t slot = (rgb * 0x9E3779B1u) >> (32 - kCacheBits);
        uint32_t cached = cache_[slot];
        if (cached >> 8 != rgb) {
            cached = rgb << 8 | Search(rgb);
            cache_[slot] = cached;
        }
        return static_cast<uint8_t>(cached);
    }

private:
    static constexpr int kCacheBits = 16;
    static constexpr int kCellBits = 4; // the search grid's cells are 16 levels on each side
    static constexpr uint16_t kUnknown = 0x100; // sole_: not yet worked out
    static constexpr uint16_t kShared = 0x101;  // sole_: no one entry is nearest to all the cell
    struct Entry {
        int r, g, b;
        uint8_t index;
    };
    uint16_t SoleNearest(uint32_t cell) const;
    uint8_t Search(uint32_t rgb);
    const std::vector<Entry> &Candidates(int cell);

    std::vector<Entry> palette_;
    std::vector<uint16_t> sole_;            // per cell of 8 levels on each side
    std::vector<std::vector<Entry>> cells_; // empty until asked for
    // A colour in the upper 24 bits, its nearest entry in the lower 8: one load per look-up.
    // Every slot starts as black and black's entry, so none is ever empty.
    std::vector<uint32_t> cache_;
};

// Reduces one page to at most 1 << bits colours band by band, in memory bounded whatever the
// page's size. Every output type writes the palette before the pixels, and a good palette needs
// the whole page's colours, so the bands are kept as indices of the page's exact colours
// (16 bits, compressed once they grow large) with a count of each colour. At the end of the page:
// - no more colours than the palette holds: they are the palette, and every pixel keeps its
//   colour (most text pages, anti-aliased black on white at 8 bits);
// - more: the palette is quantised from the counted colours and each colour maps to its nearest
//   entry (4 bits: with error diffusion, which sixteen entries need to show gradients).
// A page with more distinct colours than the table tracks (photographs), or whose kept indices
// outgrow their bound, takes its palette from the colours counted so far and a small rendering of
// the whole page (the sampler); the kept bands are written mapped to it, and every later band is
// mapped as it arrives.
class PaletteReducer {
public:
    PaletteReducer(int bits, const PageFormat &format, ImageWriter &writer, PageSampler sampler);
    ~PaletteReducer();
    PaletteReducer(const PaletteReducer &) = delete;
    PaletteReducer &operator=(const PaletteReducer &) = delete;

    // The next RGB rows of the page, top to bottom.
    void Take(const uint8_t *rgb, int rowCount, std::ptrdiff_t stride);
    // After the last row: the page has begun and all its rows are written; the caller ends it.
    void Finish();

    // After Finish: whether every pixel was written in its own colour.
    bool Exact() const { return exact_; }
    // Whether the palette was chosen before the page ended, with the help of the sample.
    bool Streamed() const { return streaming_; }

private:
    struct KeptBand;
    bool Count(const uint8_t *rgb, uint16_t *out, int width);
    void Grow();
    uint16_t *Scratch(std::size_t count);
    void Keep(int rowCount);
    void Begin(std::vector<Colour> palette);
    void WriteKept();
    void Remap(const uint8_t *rgb, int rowCount, std::ptrdiff_t stride);
    void MapNearest(const uint8_t *rgb, uint8_t *out);
    template <typename Row> void Diffuse(const Row &row, uint8_t *out);

    int capacity_;
    PageFormat format_;
    ImageWriter &writer_;
    PageSampler sampler_;
    // The page's colours: an open-addressed table of colour + 1 (0 is empty) in the upper bits
    // and its index in colours_ in the lower 16, and how many pixels have each.
    int slotBits_;
    std::vector<uint64_t> slots_;
    std::vector<Colour> colours_;
    std::vector<uint64_t> counts_;
    std::vector<KeptBand> kept_;
    std::size_t keptBytes_ = 0;
    std::unique_ptr<uint16_t[]> counted_; // the band being counted, or one being unpacked
    std::size_t countedSize_ = 0;
    std::vector<uint8_t> indices_; // the band being written
    bool exact_ = false;
    bool streaming_ = false;
    // Writing with a chosen palette.
    std::unique_ptr<NearestColour> nearest_;
    std::vector<int> errorThis_, errorNext_; // three channels per slot, one slot of margin
    // The spans [first, second) of the error rows that may hold error, left to right; every
    // slot outside them is zero.
    std::vector<std::pair<int, int>> dirtyThis_, dirtyNext_;
    // Each colour diffused to in the upper 32 bits, its nearest entry and that entry's colour
    // below.
    std::vector<uint64_t> shown_;
};

} // namespace rastool
