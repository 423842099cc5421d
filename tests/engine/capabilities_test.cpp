// SPDX-License-Identifier: AGPL-3.0-or-later
#include "engine/capabilities.h"
#include "engine/output_file.h"

#include <gtest/gtest.h>

using namespace rastool;

TEST(CapabilitiesTest, TypeFromTheExtension)
{
    const std::vector<std::pair<std::string, std::string>> rows{
        {"a.tif", "TIF"},     {"A.TIFF", "TIF"}, {"x/y.Jpeg", "JPG"}, {"x.jpg", "JPG"},
        {"a.b.c.png", "PNG"}, {"p.bmp", "BMP"},  {"p.emf", "EMF"},    {"p.gif", "GIF"},
        {"p.pcx", "PCX"},     {"p.ras", "RAS"},  {"p.tga", "TGA"},    {"p.WMF", "WMF"}};
    for (const auto &[path, name] : rows) {
        const TypeCapability *type = FindTypeForPath(path);
        ASSERT_NE(type, nullptr) << path;
        EXPECT_EQ(type->name, name) << path;
    }
    for (const char *path : {"a.pdf", "noext", "dir.png/noext", "a.", "a.tif.bak"}) {
        EXPECT_EQ(FindTypeForPath(path), nullptr) << path;
    }
    EXPECT_EQ(Capabilities().size(), 10u);
}

TEST(CapabilitiesTest, TiffCompressionNarrowsTheDepths)
{
    const TypeCapability &tif = *FindTypeForPath("x.tif");
    for (auto c : {TiffCompression::G3, TiffCompression::G4, TiffCompression::ClassF}) {
        EXPECT_EQ(HeldDepths(tif, c), std::vector<Depth>{Depth::Bw1});
    }
    EXPECT_EQ(HeldDepths(tif, TiffCompression::Jpeg),
              (std::vector<Depth>{Depth::Grey8, Depth::Rgb24}));
    EXPECT_EQ(HeldDepths(tif, TiffCompression::Lzw).size(), 5u);
    // The compression does not concern other types.
    const TypeCapability &png = *FindTypeForPath("x.png");
    EXPECT_EQ(HeldDepths(png, TiffCompression::G4).size(), 5u);
}

struct DepthRow {
    const char *path;
    TiffCompression compression;
    int bits;
    bool grey;
    Depth expected;
    bool substituted;
};

class ChooseDepthTest : public ::testing::TestWithParam<DepthRow> {};

TEST_P(ChooseDepthTest, NearestHeldDepth)
{
    const DepthRow &row = GetParam();
    const auto choice =
        ChooseDepth(HeldDepths(*FindTypeForPath(row.path), row.compression), row.bits, row.grey);
    EXPECT_EQ(choice.depth, row.expected);
    EXPECT_EQ(choice.substituted, row.substituted);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ChooseDepthTest,
    ::testing::Values(
        // Automatic: true colour where held, else the best the type holds, never a warning.
        DepthRow{"a.png", TiffCompression::PackBits, 0, false, Depth::Rgb24, false},
        DepthRow{"a.gif", TiffCompression::PackBits, 0, false, Depth::Pal8, false},
        DepthRow{"a.tif", TiffCompression::G4, 0, false, Depth::Bw1, false},
        DepthRow{"a.tif", TiffCompression::ClassF, 0, false, Depth::Bw1, false},
        DepthRow{"a.png", TiffCompression::PackBits, 0, true, Depth::Grey8, false},
        // Held as asked.
        DepthRow{"a.bmp", TiffCompression::PackBits, 4, false, Depth::Pal4, false},
        DepthRow{"a.tif", TiffCompression::Lzw, 8, true, Depth::Grey8, false},
        DepthRow{"a.tga", TiffCompression::PackBits, 8, false, Depth::Pal8, false},
        DepthRow{"a.jpg", TiffCompression::PackBits, 24, true, Depth::Rgb24, false},
        // Not held: the nearest, with a warning.
        DepthRow{"a.gif", TiffCompression::PackBits, 24, false, Depth::Pal8, true},
        DepthRow{"a.jpg", TiffCompression::PackBits, 8, false, Depth::Rgb24, true},
        DepthRow{"a.jpg", TiffCompression::PackBits, 1, false, Depth::Grey8, true},
        DepthRow{"a.tga", TiffCompression::PackBits, 1, false, Depth::Pal8, true},
        DepthRow{"a.ras", TiffCompression::PackBits, 4, false, Depth::Pal8, true},
        DepthRow{"a.tif", TiffCompression::G3, 24, false, Depth::Bw1, true},
        DepthRow{"a.tif", TiffCompression::Jpeg, 1, false, Depth::Grey8, true},
        DepthRow{"a.tif", TiffCompression::Jpeg, 4, false, Depth::Rgb24, true}));

TEST(PageFileNameTest, NumberedBesideTheBase)
{
    EXPECT_EQ(PageFileName("/out/report.png", 1, 3), "/out/report-001.png");
    EXPECT_EQ(PageFileName("/out/report.png", 12, 999), "/out/report-012.png");
    EXPECT_EQ(PageFileName("/out/report.png", 7, 1000), "/out/report-0007.png");
    EXPECT_EQ(PageFileName("/o.ut/a.b.TIF", 2, 2), "/o.ut/a.b-002.TIF");
    EXPECT_EQ(PageFileName("/o.ut/noext", 2, 2), "/o.ut/noext-002");
    EXPECT_EQ(PageFileName("rel.gif", 1234, 1234), "rel-1234.gif");
}
