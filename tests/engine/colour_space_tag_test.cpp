// SPDX-License-Identifier: AGPL-3.0-or-later
// Every type that has a place for it says that its pixels are sRGB, so that colour-managed
// viewers show the files as they were drawn; ImageMagick, an independent reader, reads it back.
#include "writer_test_support.h"

namespace writer_test {
namespace {

struct TagCase {
    const char *name;
    WriterFactory make;
    const char *extension;
    int bits;
    bool greyscale;
    // identify's format and what it must print.
    const char *query;
    const char *expected;
};

class ColourSpaceTagTest : public ::testing::TestWithParam<TagCase> {};

TEST_P(ColourSpaceTagTest, FileSaysItsPixelsAreSrgb)
{
    const TagCase &c = GetParam();
    TempDir dir;
    const auto path = dir.Path() / (std::string("page.") + c.extension);
    WriteImage(c.make, MakeTestImage(c.bits, 23, 9, c.greyscale), path);
    EXPECT_EQ(RunCommand(std::string("identify -format '") + c.query + "' " + QuotePath(path)),
              c.expected);
}

constexpr const char *kPngIntent = "%[png:sRGB]";
constexpr const char *kIccName = "%[icc:description]";

INSTANTIATE_TEST_SUITE_P(
    Types, ColourSpaceTagTest,
    ::testing::Values(
        TagCase{"PngColour", rastool::MakePngWriter, "png", 24, false, kPngIntent,
                "intent=1 (Relative Intent)"},
        TagCase{"PngGrey", rastool::MakePngWriter, "png", 8, true, kPngIntent,
                "intent=1 (Relative Intent)"},
        TagCase{"PngPalette", rastool::MakePngWriter, "png", 4, false, kPngIntent,
                "intent=1 (Relative Intent)"},
        TagCase{"JpegColour", rastool::MakeJpegWriter, "jpg", 24, false, kIccName, "sRGB built-in"},
        TagCase{"JpegGrey", rastool::MakeJpegWriter, "jpg", 8, true, kIccName, "sRGB grey"},
        TagCase{"TiffColour", rastool::MakeTiffWriter, "tif", 24, false, kIccName, "sRGB built-in"},
        TagCase{"TiffPalette", rastool::MakeTiffWriter, "tif", 8, false, kIccName, "sRGB built-in"},
        TagCase{"TiffGrey", rastool::MakeTiffWriter, "tif", 8, true, kIccName, "sRGB grey"},
        // Black and white has no colours to manage.
        TagCase{"TiffBilevel", rastool::MakeTiffWriter, "tif", 1, false, kIccName, ""}),
    [](const auto &info) { return std::string(info.param.name); });

} // namespace
} // namespace writer_test
