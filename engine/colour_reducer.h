// SPDX-License-Identifier: AGPL-3.0-or-later
#pragma once

#include "engine/capabilities.h"
#include "engine/writers/image_writer.h"
#include "render/document.h"

#include <cstdint>
#include <vector>

namespace rastool {

// Turns the rendered rows of one page into rows of the chosen depth and hands them to the
// writer. True colour, grey and black-and-white stream band by band; palette depths need the
// whole page to choose the palette, so they keep it until Finish().
class PageReducer {
public:
    // format gives the page's size and resolution; depth and palette are filled in here.
    // faxThreshold: at 1 bit, near-black and near-white cut at mid-grey (crisp text and rules),
    // only the tones between diffused; otherwise every pixel is diffused.
    PageReducer(Depth depth, bool faxThreshold, const PageFormat &format, ImageWriter &writer);

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
    void Quantise();

    Depth depth_;
    bool faxThreshold_;
    PageFormat format_;
    ImageWriter &writer_;
    int rowsTaken_ = 0;
    std::vector<uint8_t> rowsOut_;
    // Error diffusion: the error carried into the current and the next row, one slot of margin
    // on either side.
    std::vector<int> errorThis_, errorNext_;
    // Palette depths: the page's RGB pixels.
    std::vector<uint8_t> page_;
};

} // namespace rastool
