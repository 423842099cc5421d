// SPDX-License-Identifier: AGPL-3.0-or-later
#pragma once

#include "engine/writers/byte_sink.h"
#include "engine/writers/image_writer.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace rastool {

// A device-independent bitmap as BMP files and metafiles hold it: a 40-byte info header, the
// colour table, then the rows bottom-up, each padded to 4 bytes. Pages arrive top-down, so
// each band is written in place from the bottom of the pixel area instead of holding the page.
class DibLayout {
public:
    explicit DibLayout(const PageFormat &format);

    uint64_t InfoBytes() const { return 40 + 4 * static_cast<uint64_t>(colourCount_); }
    uint64_t RowBytes() const { return rowBytes_; }
    uint64_t BitsBytes() const { return rowBytes_ * static_cast<uint64_t>(format_.height); }
    // Info header and colour table; the caller has checked that BitsBytes() fits 32 bits.
    ByteBuffer Info() const;
    // Writes rows firstRow.. of the page into the pixel area starting at bitsOffset.
    // Returns false if a palette index does not fit the depth.
    bool PutRows(ByteSink &sink, uint64_t bitsOffset, const uint8_t *rows, int firstRow,
                 int rowCount, std::ptrdiff_t stride);

private:
    PageFormat format_;
    int colourCount_;
    uint64_t rowBytes_;
    std::vector<uint8_t> row_;
};

// Pixels per metre for a resolution in dots per inch, as the info header stores it.
int32_t PixelsPerMetre(double dpi);

} // namespace rastool
