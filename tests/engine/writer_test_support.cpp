// SPDX-License-Identifier: AGPL-3.0-or-later
#include "writer_test_support.h"

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

namespace writer_test {

using rastool::Colour;
using rastool::PageFormat;
using rastool::WriteError;

std::vector<uint8_t> TestImage::ExpectedRgb() const
{
    if (format.bitsPerPixel == 24) {
        return pixels;
    }
    std::vector<uint8_t> rgb;
    rgb.reserve(pixels.size() * 3);
    for (uint8_t index : pixels) {
        const Colour &c = format.palette.at(index);
        rgb.insert(rgb.end(), {c.r, c.g, c.b});
    }
    return rgb;
}

TestImage MakeTestImage(int bits, int width, int height, bool greyscale, double xDpi, double yDpi)
{
    TestImage image;
    PageFormat &f = image.format;
    f.width = width;
    f.height = height;
    f.xDpi = xDpi;
    f.yDpi = yDpi;
    f.bitsPerPixel = bits;
    f.greyscale = greyscale;
    if (bits == 24) {
        // Three solid bands on top (values above 0xC0 and long runs), a gradient below.
        static const Colour solid[3] = {{255, 0, 0}, {0, 200, 255}, {250, 250, 250}};
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                if (y < height / 3) {
                    const Colour &c = solid[x * 3 / width];
                    image.pixels.insert(image.pixels.end(), {c.r, c.g, c.b});
                } else {
                    image.pixels.push_back(static_cast<uint8_t>(x * 255 / std::max(1, width - 1)));
                    image.pixels.push_back(static_cast<uint8_t>(y * 255 / std::max(1, height - 1)));
                    image.pixels.push_back(static_cast<uint8_t>((x * 7 + y * 13) & 0xFF));
                }
            }
        }
        return image;
    }
    const int colours = 1 << bits;
    for (int i = 0; i < colours; ++i) {
        if (greyscale || bits == 1) {
            const auto level = static_cast<uint8_t>(i * 255 / (colours - 1));
            f.palette.push_back({level, level, level});
        } else {
            f.palette.push_back({static_cast<uint8_t>(i * 37 + 11), static_cast<uint8_t>(255 - i),
                                 static_cast<uint8_t>(i * 101 + 3)});
        }
    }
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            // Runs of one index on top, every index changing from pixel to pixel below.
            const int index = y < height / 2 ? (x / 70 + y) % colours : (x * 3 + y * 5) % colours;
            image.pixels.push_back(static_cast<uint8_t>(index));
        }
    }
    return image;
}

void WriteImage(WriterFactory make, const TestImage &image, const std::filesystem::path &path,
                int bandRows)
{
    std::FILE *file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr) << path;
    const PageFormat &f = image.format;
    const std::ptrdiff_t stride =
        static_cast<std::ptrdiff_t>(f.width) * (f.bitsPerPixel == 24 ? 3 : 1);
    try {
        auto writer = make(file, rastool::WriterOptions{});
        writer->BeginPage(f);
        for (int y = 0; y < f.height; y += bandRows) {
            writer->WriteRows(image.pixels.data() + y * stride, std::min(bandRows, f.height - y),
                              stride);
        }
        writer->EndPage();
        writer->Finish();
    } catch (...) {
        std::fclose(file);
        throw;
    }
    EXPECT_EQ(std::fclose(file), 0);
}

std::string RunCommand(const std::string &command)
{
    std::FILE *pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        ADD_FAILURE() << "cannot start: " << command;
        return {};
    }
    std::string output;
    char buffer[65536];
    std::size_t count;
    while ((count = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
        output.append(buffer, count);
    }
    const int status = pclose(pipe);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << "failed (" << status << "): " << command;
    return output;
}

std::string QuotePath(const std::filesystem::path &path)
{
    std::string quoted = "'";
    for (char c : path.string()) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
}

namespace {

// Parses the binary PPM that every reader pipeline ends in.
DecodedImage ParsePpm(const std::string &data)
{
    DecodedImage image;
    std::istringstream in(data);
    std::string magic;
    int maxValue = 0;
    in >> magic >> image.width >> image.height >> maxValue;
    in.get();
    if (magic != "P6" || maxValue != 255 || !in) {
        ADD_FAILURE() << "reader did not produce an 8-bit PPM";
        return {};
    }
    const std::size_t bytes = static_cast<std::size_t>(image.width) * image.height * 3;
    const auto offset = static_cast<std::size_t>(in.tellg());
    if (data.size() < offset + bytes) {
        ADD_FAILURE() << "PPM shorter than its header says";
        return {};
    }
    image.rgb.assign(data.begin() + static_cast<std::ptrdiff_t>(offset),
                     data.begin() + static_cast<std::ptrdiff_t>(offset + bytes));
    return image;
}

std::string NetpbmDecoder(const std::filesystem::path &path)
{
    const std::string extension = path.extension().string();
    if (extension == ".pcx") {
        return "pcxtoppm";
    }
    if (extension == ".ras") {
        return "rasttopnm";
    }
    if (extension == ".tga") {
        return "tgatoppm";
    }
    return "bmptopnm";
}

} // namespace

DecodedImage Decode(Reader reader, const std::filesystem::path &path, double dpi)
{
    const std::string file = QuotePath(path);
    switch (reader) {
    case Reader::ImageMagick:
        return ParsePpm(RunCommand("convert " + file + " -depth 8 -strip ppm:- 2>/dev/null"));
    case Reader::Netpbm:
        return ParsePpm(
            RunCommand(NetpbmDecoder(path) + " " + file + " 2>/dev/null | ppmtoppm 2>/dev/null"));
    case Reader::Inkscape: {
        // Its settings go to a folder of the test's own, not the user's.
        const std::filesystem::path home = path.parent_path() / "inkscape-home";
        std::filesystem::create_directories(home);
        const std::filesystem::path png = path.string() + ".png";
        RunCommand("HOME=" + QuotePath(home) + " XDG_CONFIG_HOME=" + QuotePath(home) +
                   " inkscape --export-type=png --export-dpi=" + std::to_string(dpi) +
                   " --export-background=white --export-background-opacity=1" +
                   " --export-filename=" + QuotePath(png) + " " + file + " >/dev/null 2>&1");
        return Decode(Reader::ImageMagick, png);
    }
    }
    return {};
}

bool ReadResolution(const std::filesystem::path &path, double &xDpi, double &yDpi)
{
    std::istringstream in(RunCommand("identify -format '%x %y %U' " + QuotePath(path)));
    std::string units;
    in >> xDpi >> yDpi >> units;
    if (units == "PixelsPerCentimeter") {
        xDpi *= 2.54;
        yDpi *= 2.54;
        return true;
    }
    return units == "PixelsPerInch";
}

TempDir::TempDir()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "writer-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("cannot create a temporary folder");
    }
    path_ = pattern;
}

TempDir::~TempDir()
{
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

namespace {

const char *ReaderName(Reader reader)
{
    switch (reader) {
    case Reader::ImageMagick:
        return "ImageMagick";
    case Reader::Netpbm:
        return "Netpbm";
    case Reader::Inkscape:
        return "Inkscape";
    }
    return "";
}

} // namespace

std::ostream &operator<<(std::ostream &out, const RoundTripCase &c)
{
    return out << c.format << " " << c.bits << (c.greyscale ? " grey" : "") << " bits, width "
               << c.width << ", read by " << ReaderName(c.reader);
}

std::string RoundTripName(const ::testing::TestParamInfo<RoundTripCase> &info)
{
    const RoundTripCase &c = info.param;
    return std::string(ReaderName(c.reader)) + "_" + std::to_string(c.bits) +
           (c.greyscale ? "grey" : "bit") + "_w" + std::to_string(c.width);
}

std::ostream &operator<<(std::ostream &out, const WriterCase &c)
{
    return out << c.format;
}

std::vector<RoundTripCase> Cases(const char *format, WriterFactory make,
                                 const std::vector<int> &depths, const std::vector<int> &widths,
                                 Reader reader)
{
    std::vector<RoundTripCase> cases;
    for (int bits : depths) {
        for (int width : widths) {
            cases.push_back({format, make, bits, width, false, reader});
        }
    }
    return cases;
}

TEST_P(WriterRoundTripTest, ReaderGetsBackEveryPixel)
{
    const RoundTripCase &c = GetParam();
    TempDir dir;
    const std::filesystem::path path = dir.Path() / (std::string("page.") + c.format);
    const TestImage image = MakeTestImage(c.bits, c.width, 11, c.greyscale);
    WriteImage(c.make, image, path);
    const DecodedImage decoded = Decode(c.reader, path, image.format.xDpi);
    ASSERT_EQ(decoded.width, c.width);
    ASSERT_EQ(decoded.height, 11);
    const std::vector<uint8_t> expected = image.ExpectedRgb();
    ASSERT_EQ(decoded.rgb.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        if (decoded.rgb[i] != expected[i]) {
            const std::size_t pixel = i / 3;
            FAIL() << "pixel (" << pixel % c.width << ", " << pixel / c.width << ") channel "
                   << i % 3 << ": " << int(decoded.rgb[i]) << " instead of " << int(expected[i]);
        }
    }
}

namespace {

// Starts a page of `format` on a fresh file and reports whether anything reached the file.
std::uintmax_t BytesAfterRefusedPage(const WriterCase &c, const PageFormat &format)
{
    TempDir dir;
    const std::filesystem::path path = dir.Path() / "refused";
    std::FILE *file = std::fopen(path.c_str(), "wb");
    EXPECT_NE(file, nullptr);
    auto writer = c.make(file, rastool::WriterOptions{});
    EXPECT_THROW(writer->BeginPage(format), WriteError);
    std::fclose(file);
    return std::filesystem::file_size(path);
}

} // namespace

TEST_P(WriterContractTest, FullDiskIsReportedAsWriteError)
{
    const WriterCase &c = GetParam();
    const TestImage image = MakeTestImage(c.bits, 64, 64);
    try {
        WriteImage(c.make, image, "/dev/full");
        FAIL() << "writing to a full disk succeeded";
    } catch (const WriteError &error) {
        EXPECT_NE(std::string(error.what()).find(c.format), std::string::npos) << error.what();
    }
}

TEST_P(WriterContractTest, RefusedPagesWriteNothing)
{
    const WriterCase &c = GetParam();
    PageFormat format = MakeTestImage(c.bits, 3, 3).format;
    {
        SCOPED_TRACE("empty page");
        PageFormat empty = format;
        empty.height = 0;
        EXPECT_EQ(BytesAfterRefusedPage(c, empty), 0u);
    }
    {
        SCOPED_TRACE("no resolution");
        PageFormat noDpi = format;
        noDpi.yDpi = 0;
        EXPECT_EQ(BytesAfterRefusedPage(c, noDpi), 0u);
    }
    {
        SCOPED_TRACE("beyond the format's size limits");
        PageFormat huge = format;
        huge.width = c.tooWide;
        huge.height = c.tooHigh;
        EXPECT_EQ(BytesAfterRefusedPage(c, huge), 0u);
    }
    if (c.unsupportedBits != 0) {
        SCOPED_TRACE("depth the format cannot hold");
        PageFormat otherDepth = MakeTestImage(c.unsupportedBits, 3, 3).format;
        EXPECT_EQ(BytesAfterRefusedPage(c, otherDepth), 0u);
    }
    if (c.bits < 24) {
        SCOPED_TRACE("palette larger than the depth can index");
        PageFormat bigPalette = format;
        bigPalette.palette.resize((1u << c.bits) + 1);
        EXPECT_EQ(BytesAfterRefusedPage(c, bigPalette), 0u);
    }
}

TEST_P(WriterContractTest, WrongRowCountsAndPageSequencesAreRefused)
{
    const WriterCase &c = GetParam();
    const TestImage image = MakeTestImage(c.bits, 5, 3);
    const std::ptrdiff_t stride = c.bits == 24 ? 15 : 5;
    std::vector<uint8_t> rows(image.pixels);
    rows.resize(rows.size() + stride);
    TempDir dir;
    std::FILE *file = std::fopen((dir.Path() / "page").c_str(), "wb");
    ASSERT_NE(file, nullptr);
    {
        auto writer = c.make(file, rastool::WriterOptions{});
        EXPECT_THROW(writer->Finish(), WriteError) << "finished without a page";
        EXPECT_THROW(writer->WriteRows(rows.data(), 1, stride), WriteError) << "rows before page";
    }
    {
        auto writer = c.make(file, rastool::WriterOptions{});
        writer->BeginPage(image.format);
        EXPECT_THROW(writer->WriteRows(rows.data(), 4, stride), WriteError) << "rows past height";
        writer->WriteRows(rows.data(), 2, stride);
        EXPECT_THROW(writer->EndPage(), WriteError) << "page ended one row early";
        writer->WriteRows(rows.data() + 2 * stride, 1, stride);
        writer->EndPage();
        EXPECT_THROW(writer->BeginPage(image.format), WriteError) << "second page";
    }
    std::fclose(file);
}

TEST_P(PaletteIndexTest, IndexBeyondTheDepthIsRefused)
{
    const WriterCase &c = GetParam();
    ASSERT_LT(c.bits, 8) << "every byte is a valid index at 8 bits";
    // Nine pixels a row: pixel 7 lies in a full byte, pixel 8 in the part-filled last one.
    for (const int at : {7, 8}) {
        SCOPED_TRACE(at);
        TestImage image = MakeTestImage(c.bits, 9, 2);
        image.pixels[static_cast<size_t>(at)] = static_cast<uint8_t>(1 << c.bits);
        TempDir dir;
        EXPECT_THROW(WriteImage(c.make, image, dir.Path() / "page"), WriteError);
    }
}

} // namespace writer_test
