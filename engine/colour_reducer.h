// SPDX-License-Identifier: AGPL-3.0-or-later
#pragma once

#include "engine/capabilities.h"
#include "engine/palette_reducer.h"
#include "engine/writers/image_writer.h"
#include "render/document.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace rastool {

// Turns the rendered rows of one page into rows of the chosen depth and hands them to the
// writer, band by band; palette depths go through PaletteReducer.
class PageReducer {
public:
    // format gives the page's size and resolution; depth and palette are filled in here.
    // faxThreshold: at 1 bit, near-black and near-white cut at mid-grey (crisp text and rules),
    // only the tones between diffused; otherwise every pixel is diffused.
    // sampler: a small rendering of the page, asked for only at palette depths and only when
    // the page has more colours than the palette holds.
    PageReducer(Depth depth, bool faxThreshold, const PageFormat &format, ImageWriter &writer,
                PageSampler sampler = nullptr);

    // What the renderer must deliver for this depth.
    static render::PixelFormat InputFormatFor(Depth depth);
    render::PixelFormat InputFormat() const { return InputFormatFor(depth_); }
    // The next rows of the page, top to bottom, in InputFormat().
    void Take(const uint8_t *pixels, int rowCount, std::ptrdiff_t stride);
    // After the last row: writes what was kept and ends the page.
    void Finish();

private:
    static void Threshold(const uint8_t *grey, uint8_t *out, size_t width);
    void Diffuse(const uint8_t *grey, uint8_t *out);

    Depth depth_;
    bool faxThreshold_;
    PageFormat format_;
    ImageWriter &writer_;
    int rowsTaken_ = 0;
    std::vector<uint8_t> rowsOut_;
    // Error diffusion: the error carried into the current and the next row, one slot of margin
    // on either side.
    std::vector<int> errorThis_, errorNext_;
    std::unique_ptr<PaletteReducer> palette_;
};

} // namespace rastool
