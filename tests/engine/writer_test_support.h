// SPDX-License-Identifier: AGPL-3.0-or-later
#pragma once

#include "engine/writers/image_writer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

namespace writer_test {

using WriterFactory = std::unique_ptr<rastool::ImageWriter> (*)(std::FILE *,
                                                                const rastool::WriterOptions &);

// Decoders that are not ours, started as separate programs.
enum class Reader { ImageMagick, Netpbm, Inkscape };

// A page as the pipeline hands it to a writer, with the colours a reader must give back.
struct TestImage {
    rastool::PageFormat format;
    std::vector<uint8_t> pixels; // rows top-down: RGB at 24 bits, one palette index otherwise
    std::vector<uint8_t> ExpectedRgb() const;
};

// Solid regions and a gradient (24 bits), or runs and a changing index pattern over a palette
// of distinct colours (black and white at 1 bit, the grey ramp with `greyscale`).
TestImage MakeTestImage(int bits, int width, int height, bool greyscale = false, double xDpi = 127,
                        double yDpi = 127);

// Hands the page to the writer in bands of `bandRows` and finishes the file.
void WriteImage(WriterFactory make, const TestImage &image, const std::filesystem::path &path,
                int bandRows = 4);

struct DecodedImage {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgb;
};

// Decodes `path` with `reader` into 8-bit RGB. Inkscape renders at `dpi`.
DecodedImage Decode(Reader reader, const std::filesystem::path &path, double dpi = 127);

// Runs a shell command; returns its standard output and fails the test on a non-zero status.
std::string RunCommand(const std::string &command);

// What `identify` reports as the file's resolution, in dots per inch; false if it reports none.
bool ReadResolution(const std::filesystem::path &path, double &xDpi, double &yDpi);

std::string QuotePath(const std::filesystem::path &path);

// A fresh folder under the system's temporary folder, removed with its contents.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
    const std::filesystem::path &Path() const { return path_; }

private:
    std::filesystem::path path_;
};

// One round trip: a format's writer at a depth and width, read back by `reader`.
struct RoundTripCase {
    const char *format;
    WriterFactory make;
    int bits;
    int width;
    bool greyscale;
    Reader reader;
};
std::ostream &operator<<(std::ostream &out, const RoundTripCase &c);
std::string RoundTripName(const ::testing::TestParamInfo<RoundTripCase> &info);

// Writes the test image, decodes it and compares every pixel exactly.
class WriterRoundTripTest : public ::testing::TestWithParam<RoundTripCase> {};

// Rules every single-page writer keeps, whatever the format: see the TEST_Ps in the .cpp.
struct WriterCase {
    const char *format;
    WriterFactory make;
    int bits;            // a depth the format holds
    int unsupportedBits; // a depth it does not hold, or 0 if it holds all four
    int tooWide;         // a page of tooWide x tooHigh pixels at `bits` is beyond the
    int tooHigh;         // format's limits
};
std::ostream &operator<<(std::ostream &out, const WriterCase &c);
class WriterContractTest : public ::testing::TestWithParam<WriterCase> {};
// For formats holding 1 or 4 bits: an index too large for the depth must not spill into the
// neighbouring pixels' bits.
class PaletteIndexTest : public ::testing::TestWithParam<WriterCase> {};

// Every combination of the given depths and widths, read by `reader`.
std::vector<RoundTripCase> Cases(const char *format, WriterFactory make,
                                 const std::vector<int> &depths, const std::vector<int> &widths,
                                 Reader reader);

} // namespace writer_test
