// SPDX-License-Identifier: AGPL-3.0-or-later
#include "engine/writers/single_page_writer.h"

#include <algorithm>
#include <cmath>

namespace rastool {

SinglePageWriter::SinglePageWriter(std::FILE *out, const char *formatName,
                                   std::initializer_list<int> depths)
    : sink_(out, formatName), formatName_(formatName), depths_(depths)
{
}

void SinglePageWriter::Refuse(const std::string &reason) const
{
    throw WriteError(std::string(formatName_) + " file: " + reason);
}

void SinglePageWriter::BeginPage(const PageFormat &format)
{
    if (state_ != State::Empty) {
        Refuse("a file holds only one page");
    }
    if (std::find(depths_.begin(), depths_.end(), format.bitsPerPixel) == depths_.end()) {
        Refuse("cannot hold " + std::to_string(format.bitsPerPixel) + " bits per pixel");
    }
    if (format.width <= 0 || format.height <= 0) {
        Refuse("the page has no pixels");
    }
    if (!std::isfinite(format.xDpi) || !std::isfinite(format.yDpi) || format.xDpi <= 0 ||
        format.yDpi <= 0) {
        Refuse("the resolution must be positive");
    }
    if (format.bitsPerPixel < 24 && format.palette.size() > (1u << format.bitsPerPixel)) {
        Refuse("the palette has more colours than " + std::to_string(format.bitsPerPixel) +
               " bits can index");
    }
    format_ = format;
    state_ = State::InPage;
    rowsWritten_ = 0;
    StartImage(format_);
}

void SinglePageWriter::WriteRows(const uint8_t *rows, int rowCount, std::ptrdiff_t stride)
{
    if (state_ != State::InPage) {
        Refuse("rows arrived outside a page");
    }
    if (rowCount < 0 || rowCount > format_.height - rowsWritten_) {
        Refuse("more rows than the page's height");
    }
    if (rowCount == 0) {
        return;
    }
    PutRows(rows, rowsWritten_, rowCount, stride);
    rowsWritten_ += rowCount;
}

void SinglePageWriter::EndPage()
{
    if (state_ != State::InPage) {
        Refuse("a page ended that was not begun");
    }
    if (rowsWritten_ != format_.height) {
        Refuse("the page ended after " + std::to_string(rowsWritten_) + " of " +
               std::to_string(format_.height) + " rows");
    }
    FinishImage();
    state_ = State::PageDone;
}

void SinglePageWriter::Finish()
{
    if (state_ != State::PageDone) {
        Refuse("no complete page was written");
    }
    sink_.Flush();
}

std::vector<Colour> FullPalette(const PageFormat &format)
{
    const std::size_t count = std::size_t{1} << format.bitsPerPixel;
    if (format.palette.empty()) {
        std::vector<Colour> ramp(count);
        for (std::size_t i = 0; i < count; ++i) {
            const auto level = static_cast<uint8_t>(i * 255 / (count - 1));
            ramp[i] = {level, level, level};
        }
        return ramp;
    }
    std::vector<Colour> palette = format.palette;
    palette.resize(count);
    return palette;
}

uint64_t PaddedRowBytes(uint64_t width, int bits, uint64_t align)
{
    const uint64_t bytes = (width * static_cast<uint64_t>(bits) + 7) / 8;
    return (bytes + align - 1) / align * align;
}

namespace {

// Whole bytes first, with the byte's pixel count known to the compiler, then the part-filled
// last byte; every index is ORed into one word, so a single test at the end finds one out of
// range.
template <int kBits> bool PackIndicesAt(const uint8_t *indices, int width, uint8_t *out)
{
    constexpr int kPerByte = 8 / kBits;
    unsigned all = 0;
    const int whole = width / kPerByte;
    for (int i = 0; i < whole; ++i, indices += kPerByte) {
        unsigned byte = 0;
        for (int k = 0; k < kPerByte; ++k) {
            byte = (byte << kBits) | indices[k];
            all |= indices[k];
        }
        out[i] = static_cast<uint8_t>(byte);
    }
    const int rest = width - whole * kPerByte;
    if (rest > 0) {
        unsigned byte = 0;
        for (int k = 0; k < rest; ++k) {
            byte |= static_cast<unsigned>(indices[k]) << (8 - kBits * (k + 1));
            all |= indices[k];
        }
        out[whole] = static_cast<uint8_t>(byte);
    }
    return all < (1u << kBits);
}

} // namespace

bool PackIndices(const uint8_t *indices, int width, int bits, uint8_t *out)
{
    switch (bits) {
    case 8:
        std::copy(indices, indices + width, out);
        return true;
    case 4:
        return PackIndicesAt<4>(indices, width, out);
    case 1:
        return PackIndicesAt<1>(indices, width, out);
    default:
        return false;
    }
}

} // namespace rastool
