// SPDX-License-Identifier: AGPL-3.0-or-later
#include "engine/writers/dib_layout.h"

#include "engine/writers/single_page_writer.h"

#include <cmath>
#include <limits>

namespace rastool {

int32_t PixelsPerMetre(double dpi)
{
    const double ppm = std::round(dpi / 0.0254);
    return ppm >= std::numeric_limits<int32_t>::max() ? std::numeric_limits<int32_t>::max()
                                                      : static_cast<int32_t>(ppm);
}

DibLayout::DibLayout(const PageFormat &format)
    : format_(format), colourCount_(format.bitsPerPixel == 24 ? 0 : 1 << format.bitsPerPixel),
      rowBytes_(PaddedRowBytes(static_cast<uint64_t>(format.width), format.bitsPerPixel, 4))
{
}

ByteBuffer DibLayout::Info() const
{
    ByteBuffer info;
    info.U32Le(40);
    info.I32Le(format_.width);
    info.I32Le(format_.height); // positive: bottom-up
    info.U16Le(1);              // planes
    info.U16Le(static_cast<uint32_t>(format_.bitsPerPixel));
    info.U32Le(0); // uncompressed
    info.U32Le(static_cast<uint32_t>(BitsBytes()));
    info.I32Le(PixelsPerMetre(format_.xDpi));
    info.I32Le(PixelsPerMetre(format_.yDpi));
    info.U32Le(static_cast<uint32_t>(colourCount_)); // colours used
    info.U32Le(0);                                   // all colours important
    if (colourCount_ > 0) {
        for (const Colour &c : FullPalette(format_)) {
            info.U8(c.b);
            info.U8(c.g);
            info.U8(c.r);
            info.U8(0);
        }
    }
    return info;
}

bool DibLayout::PutRows(ByteSink &sink, uint64_t bitsOffset, const uint8_t *rows, int firstRow,
                        int rowCount, std::ptrdiff_t stride)
{
    // Allocated with the first rows, after the writer has checked the page's size.
    row_.resize(static_cast<std::size_t>(rowBytes_));
    const int lowestFileRow = format_.height - (firstRow + rowCount);
    sink.SeekTo(bitsOffset + static_cast<uint64_t>(lowestFileRow) * rowBytes_);
    for (int i = rowCount - 1; i >= 0; --i) {
        const uint8_t *src = rows + i * stride;
        if (format_.bitsPerPixel == 24) {
            uint8_t *dst = row_.data();
            for (int x = 0; x < format_.width; ++x, src += 3, dst += 3) {
                dst[0] = src[2];
                dst[1] = src[1];
                dst[2] = src[0];
            }
        } else if (!PackIndices(src, format_.width, format_.bitsPerPixel, row_.data())) {
            return false;
        }
        sink.Write(row_.data(), row_.size());
    }
    return true;
}

} // namespace rastool
