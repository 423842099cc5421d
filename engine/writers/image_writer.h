// SPDX-License-Identifier: AGPL-3.0-or-later
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace rastool {

struct Colour {
    uint8_t r = 0, g = 0, b = 0;
    bool operator==(const Colour &o) const { return r == o.r && g == o.g && b == o.b; }
};

// What one page looks like in the file being written.
struct PageFormat {
    int width = 0;
    int height = 0;
    double xDpi = 0;
    double yDpi = 0;
    // Bits per pixel stored in the file: 1, 4, 8 or 24.
    int bitsPerPixel = 24;
    // For 1, 4 and 8 bits: the palette, at most 1 << bitsPerPixel entries. A greyscale page
    // at 8 bits has the ramp 0..255; a 1-bit page has black at index 0 and white at index 1.
    bool greyscale = false;
    std::vector<Colour> palette;
};

// Failure to write (disk full, codec error); the message names what failed.
class WriteError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// TIFF compression chosen with -c (ignored by the other writers).
enum class TiffCompression { None, PackBits, Lzw, Jpeg, G3, G4, ClassF };

struct WriterOptions {
    int jpegQuality = 75;
    TiffCompression compression = TiffCompression::PackBits;
    // Pages the file will receive (multi-page files number their pages); 0 when not known.
    int pageCount = 0;
};

// One output file. Pages arrive top to bottom as bands of rows:
//   24 bits: 3 bytes per pixel, R G B;
//   1, 4, 8 bits: 1 byte per pixel holding the palette index.
// A writer that needs the whole page before it can encode (GIF, metafiles) keeps it itself.
// Only a multi-page writer receives more than one page.
class ImageWriter {
public:
    virtual ~ImageWriter() = default;
    virtual void BeginPage(const PageFormat &format) = 0;
    virtual void WriteRows(const uint8_t *rows, int rowCount, std::ptrdiff_t stride) = 0;
    virtual void EndPage() = 0;
    // Writes what is left (trailer, flush). After it returns the file is complete.
    virtual void Finish() = 0;
};

// Each writer writes to a file already open for writing (binary); it does not close it.
std::unique_ptr<ImageWriter> MakeBmpWriter(std::FILE *out, const WriterOptions &options);
std::unique_ptr<ImageWriter> MakeEmfWriter(std::FILE *out, const WriterOptions &options);
std::unique_ptr<ImageWriter> MakeGifWriter(std::FILE *out, const WriterOptions &options);
std::unique_ptr<ImageWriter> MakeJpegWriter(std::FILE *out, const WriterOptions &options);
std::unique_ptr<ImageWriter> MakePcxWriter(std::FILE *out, const WriterOptions &options);
std::unique_ptr<ImageWriter> MakePngWriter(std::FILE *out, const WriterOptions &options);
std::unique_ptr<ImageWriter> MakeRasWriter(std::FILE *out, const WriterOptions &options);
std::unique_ptr<ImageWriter> MakeTiffWriter(std::FILE *out, const WriterOptions &options);
std::unique_ptr<ImageWriter> MakeTgaWriter(std::FILE *out, const WriterOptions &options);
std::unique_ptr<ImageWriter> MakeWmfWriter(std::FILE *out, const WriterOptions &options);

} // namespace rastool
