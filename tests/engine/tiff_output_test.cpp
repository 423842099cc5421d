// SPDX-License-Identifier: AGPL-3.0-or-later
// TIFF files as libtiff's own tools see them: tags, directories, fax geometry.
#include "rastool_runner.h"
#include "render/document.h"
#include "writer_test_support.h"

#include "../render/test_pdf.h"

#include <gtest/gtest.h>

#include <regex>

namespace {

using engine_test::Capture;
using engine_test::Quote;
using engine_test::RunRastool;

// The value of a tag in tiffdump's listing of one directory, e.g. "1<3>" -> "3".
std::string Tag(const std::string &dump, const std::string &name)
{
    const std::regex line("\\n" + name + " \\(\\d+\\) \\w+ \\(\\d+\\) \\d+<([^>]*)>");
    std::smatch m;
    return std::regex_search(dump, m, line) ? m[1].str() : std::string("(missing)");
}

// The text of each directory of the file.
std::vector<std::string> Directories(const std::string &path)
{
    const std::string dump = Capture("tiffdump " + Quote(path) + " 2>&1");
    std::vector<std::string> dirs;
    size_t at = dump.find("Directory ");
    while (at != std::string::npos) {
        const size_t next = dump.find("Directory ", at + 1);
        dirs.push_back("\n" + dump.substr(at, next == std::string::npos ? next : next - at));
        at = next;
    }
    return dirs;
}

class TiffTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        testpdf::Page text;
        text.Text(72, 650, 28, "Fax me legibly, please").Rect(72, 100, 200, 100, {0, 0, 0});
        testpdf::Page colour;
        colour.Rect(100, 100, 300, 300, {255, 0, 0}).Gradient(100, 450, 300, 200);
        testpdf::Page wide; // A3 landscape: wider than a fax line at 204 dpi
        wide.width = 1190;
        wide.height = 842;
        wide.Rect(0, 0, 595, 842, {0, 0, 0});
        testpdf::WriteFile(dir / "doc.pdf", testpdf::MakePdf({text, colour, wide}));
    }

    engine_test::RunResult Run(std::vector<std::string> extra)
    {
        std::vector<std::string> args{"-i", dir / "doc.pdf"};
        args.insert(args.end(), extra.begin(), extra.end());
        return RunRastool(args, dir / "stderr.txt");
    }

    testpdf::TempDir dir;
};

struct CompressionRow {
    const char *keyword;
    const char *tagValue;
    const char *bits;
};

class TiffCompressionTest : public TiffTest,
                            public ::testing::WithParamInterface<CompressionRow> {};

TEST_P(TiffCompressionTest, CompressionTagAndResolution)
{
    const auto &row = GetParam();
    const std::string out = dir / "c.tif";
    const auto run =
        Run({"-o", out, "-f", "2", "-l", "2", "-r", "150x75", "-b", row.bits, "-c", row.keyword});
    ASSERT_EQ(run.status, 0) << run.err;
    const auto dirs = Directories(out);
    ASSERT_EQ(dirs.size(), 1u);
    EXPECT_EQ(Tag(dirs[0], "Compression"), row.tagValue);
    EXPECT_EQ(Tag(dirs[0], "XResolution"), "150");
    EXPECT_EQ(Tag(dirs[0], "YResolution"), "75");
    EXPECT_EQ(Tag(dirs[0], "ResolutionUnit"), "2");
    // The whole file decodes without a complaint from libtiff.
    EXPECT_EQ(Capture("tiffinfo -D " + Quote(out) + " 2>&1 >/dev/null"), "");
}

INSTANTIATE_TEST_SUITE_P(
    Rows, TiffCompressionTest,
    ::testing::Values(CompressionRow{"none", "1", "24"}, CompressionRow{"PACKBITS", "32773", "8"},
                      CompressionRow{"lzw", "5", "24"}, CompressionRow{"jpeg", "7", "24"},
                      CompressionRow{"g3", "3", "1"}, CompressionRow{"g4", "4", "1"}));

TEST_F(TiffTest, MultiPageFileHoldsEveryPageInOrder)
{
    const std::string out = dir / "all.tif";
    const auto run = Run({"-o", out, "-m", "-c", "lzw", "-r", "30x30"});
    ASSERT_EQ(run.status, 0) << run.err;
    const auto dirs = Directories(out);
    ASSERT_EQ(dirs.size(), 3u);
    // Pages in document order: the third is the landscape one.
    EXPECT_EQ(Tag(dirs[0], "ImageWidth"), "255");
    EXPECT_EQ(Tag(dirs[2], "ImageWidth"), "496");
    for (size_t i = 0; i < dirs.size(); ++i) {
        EXPECT_EQ(Tag(dirs[i], "PageNumber"), std::to_string(i) + " 3");
        EXPECT_EQ(Tag(dirs[i], "SubFileType"), "2");
    }
    EXPECT_EQ(engine_test::FilesIn(dir.path()).count("all-001.tif"), 0u);
}

TEST_F(TiffTest, AFilePerPageCarriesNoMultiPageTags)
{
    const std::string out = dir / "each.tif";
    const auto run = Run({"-o", out, "-c", "g4", "-r", "30x30"});
    ASSERT_EQ(run.status, 0) << run.err;
    for (const char *name : {"each-001.tif", "each-002.tif", "each-003.tif"}) {
        const auto dirs = Directories(dir / name);
        ASSERT_EQ(dirs.size(), 1u) << name;
        EXPECT_EQ(Tag(dirs[0], "PageNumber"), "(missing)") << name;
        EXPECT_EQ(Tag(dirs[0], "SubFileType"), "(missing)") << name;
    }
}

TEST_F(TiffTest, ClassFIsOneGroup3FileOfFaxLines)
{
    struct Row {
        const char *resolution;
        const char *yDpi;
    };
    for (const Row &row : {Row{"101x101", "98"}, Row{"200x200", "196"}, Row{"300x140", "98"},
                           Row{"204x160", "196"}}) {
        const std::string out = dir / "fax.tif";
        const auto run = Run({"-o", out, "-r", row.resolution, "-c", "CLASSF"});
        ASSERT_EQ(run.status, 0) << run.err;
        const auto dirs = Directories(out);
        ASSERT_EQ(dirs.size(), 3u) << row.resolution;
        for (size_t i = 0; i < dirs.size(); ++i) {
            const std::string &d = dirs[i];
            EXPECT_EQ(Tag(d, "ImageWidth"), "1728");
            EXPECT_EQ(Tag(d, "Compression"), "3");
            EXPECT_EQ(Tag(d, "BitsPerSample"), "1");
            EXPECT_EQ(Tag(d, "Photometric"), "0");
            EXPECT_EQ(Tag(d, "XResolution"), "204");
            EXPECT_EQ(Tag(d, "YResolution"), row.yDpi) << row.resolution;
            EXPECT_EQ(Tag(d, "ResolutionUnit"), "2");
            EXPECT_EQ(Tag(d, "SubFileType"), "2");
            EXPECT_EQ(Tag(d, "PageNumber"), std::to_string(i) + " 3");
            EXPECT_EQ(Tag(d, "BadFaxLines"), "0");
            EXPECT_EQ(Tag(d, "CleanFaxData"), "0");
            EXPECT_EQ(Tag(d, "ConsecutiveBadFaxLines"), "0");
            EXPECT_EQ(Tag(d, "StripByteCounts").find(' '), std::string::npos) << "one strip";
        }
        EXPECT_EQ(Capture("tiffinfo -D " + Quote(out) + " 2>&1 >/dev/null"), "");
    }
    // The landscape page is scaled into the fax line: its left half is black, right half white.
    const auto page = writer_test::Decode(writer_test::Reader::ImageMagick, dir / "fax.tif[2]");
    ASSERT_EQ(page.width, 1728);
    const int y = page.height / 2;
    EXPECT_EQ(page.rgb[(static_cast<size_t>(y) * page.width + 10) * 3], 0);
    EXPECT_EQ(page.rgb[(static_cast<size_t>(y) * page.width + 1717) * 3], 255);
}

TEST_F(TiffTest, FaxTextIsLegible)
{
    // The text page through the renderer as fax pages are drawn (no anti-aliasing),
    // thresholded: text pixels must come out black.
    render::Document doc(dir / "doc.pdf");
    doc.SetAntiAliasing(false);
    const auto size = doc.PagePixelSize(0, 204, 196);
    std::vector<uint8_t> grey(static_cast<size_t>(size.width) * size.height);
    doc.RenderBand(0, 204, 196, 0, size.height, render::PixelFormat::Grey, grey.data(), size.width);
    // Only the text line: from 650 pt up 28 pt, from the top of a 792 pt page.
    const int top = static_cast<int>((792 - 650 - 28) * 196 / 72.0);
    const int bottom = static_cast<int>((792 - 645) * 196 / 72.0);
    long textPixels = 0;
    for (int y = top; y < bottom; ++y) {
        for (int x = 0; x < size.width; ++x) {
            textPixels += grey[static_cast<size_t>(y) * size.width + x] < 128;
        }
    }
    ASSERT_GT(textPixels, 2000);

    for (const char *keyword : {"g3", "g4", "CLASSF"}) {
        const std::string out = dir / (std::string(keyword) + ".tif");
        ASSERT_EQ(Run({"-o", out, "-f", "1", "-l", "1", "-r", "204x196", "-c", keyword}).status, 0);
        const auto fax = writer_test::Decode(writer_test::Reader::ImageMagick, out + "[0]");
        auto black = [&](int x, int y) {
            return fax.rgb[(static_cast<size_t>(y) * fax.width + x) * 3] < 128;
        };
        if (std::string(keyword) != "CLASSF") {
            ASSERT_EQ(fax.width, size.width);
            long agree = 0;
            for (int y = top; y < bottom; ++y) {
                for (int x = 0; x < size.width; ++x) {
                    agree += grey[static_cast<size_t>(y) * size.width + x] < 128 && black(x, y);
                }
            }
            EXPECT_EQ(agree, textPixels) << keyword;
        } else {
            // A letter page is a little wider than the fax line and is scaled by 0.997: the
            // text keeps nearly all its black.
            long count = 0;
            for (int y = top; y < bottom; ++y) {
                for (int x = 0; x < fax.width; ++x) {
                    count += black(x, y);
                }
            }
            EXPECT_NEAR(count, textPixels, textPixels / 20) << keyword;
        }
    }
}

} // namespace
