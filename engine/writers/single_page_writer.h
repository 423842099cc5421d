// SPDX-License-Identifier: AGPL-3.0-or-later
#pragma once

#include "engine/writers/byte_sink.h"
#include "engine/writers/image_writer.h"

#include <initializer_list>
#include <vector>

namespace rastool {

// The bookkeeping shared by writers whose file holds exactly one page: which depths the
// format holds, the page's size and resolution checked before any byte is written, rows
// counted so that a short or overlong page is refused instead of written wrongly.
class SinglePageWriter : public ImageWriter {
public:
    void BeginPage(const PageFormat &format) final;
    void WriteRows(const uint8_t *rows, int rowCount, std::ptrdiff_t stride) final;
    void EndPage() final;
    void Finish() final;

protected:
    SinglePageWriter(std::FILE *out, const char *formatName, std::initializer_list<int> depths);

    // Called once the page format has passed the common checks; writes the header.
    virtual void StartImage(const PageFormat &format) = 0;
    // Rows firstRow .. firstRow + rowCount - 1, counted from the top of the page.
    virtual void PutRows(const uint8_t *rows, int firstRow, int rowCount,
                         std::ptrdiff_t stride) = 0;
    // Called after the last row; writes what follows the pixels.
    virtual void FinishImage() {}

    ByteSink &Sink() { return sink_; }
    const PageFormat &Format() const { return format_; }
    [[noreturn]] void Refuse(const std::string &reason) const;

private:
    enum class State { Empty, InPage, PageDone };

    ByteSink sink_;
    const char *formatName_;
    std::vector<int> depths_;
    PageFormat format_;
    State state_ = State::Empty;
    int rowsWritten_ = 0;
};

// The page's palette with exactly 1 << bitsPerPixel entries: the given colours, then black.
// Without given colours: a grey ramp from black to white.
std::vector<Colour> FullPalette(const PageFormat &format);

// Bytes of one row of `width` pixels at `bits` per pixel, padded to a multiple of `align`.
uint64_t PaddedRowBytes(uint64_t width, int bits, uint64_t align);

// Packs one row of palette indices (one per byte) at 1, 4 or 8 bits per pixel, leftmost pixel
// in the high bits. Returns false if an index does not fit in `bits`.
bool PackIndices(const uint8_t *indices, int width, int bits, uint8_t *out);

} // namespace rastool
