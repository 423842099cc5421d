// SPDX-License-Identifier: AGPL-3.0-or-later
#include "render/document.h"
#include "test_pdf.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sys/stat.h>
#include <thread>

using render::Document;
using render::PixelFormat;
using render::RenderError;

namespace {

using Kind = RenderError::Kind;

// Letter page: red square at (72,72)-(216,216) in PDF space, blue bar along the top, text,
// and a gradient: every band boundary crosses something.
testpdf::Page ColourPage()
{
    testpdf::Page p;
    p.Rect(72, 72, 144, 144, {255, 0, 0})
        .Rect(0, 742, 612, 50, {0, 0, 255})
        .Text(300, 400, 36, "Band edges")
        .Gradient(300, 100, 250, 250);
    return p;
}

std::vector<unsigned char> RenderWhole(Document &doc, int page, double x, double y,
                                       PixelFormat format)
{
    const auto size = doc.PagePixelSize(page, x, y);
    const int n = format == PixelFormat::Rgb ? 3 : 1;
    std::vector<unsigned char> pixels(static_cast<size_t>(size.width) * size.height * n);
    doc.RenderBand(page, x, y, 0, size.height, format, pixels.data(), size.width * n);
    return pixels;
}

Kind OpenKind(const std::string &path)
{
    try {
        Document doc(path);
    } catch (const RenderError &e) {
        EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
        return e.kind();
    }
    ADD_FAILURE() << path << " opened";
    return Kind::Failed;
}

} // namespace

TEST(DocumentTest, PageCountAndSizesFollowEachPageAndItsRotation)
{
    Document doc(testpdf::Bytes(testpdf::MakePdf(testpdf::MixedPages())));

    ASSERT_EQ(doc.PageCount(), 3);
    EXPECT_NEAR(doc.PageSize(0).width, 595.28, 0.01);
    EXPECT_NEAR(doc.PageSize(0).height, 841.89, 0.01);
    EXPECT_NEAR(doc.PageSize(1).width, 200, 0.01);
    EXPECT_NEAR(doc.PageSize(2).width, 100, 0.01);
    EXPECT_NEAR(doc.PageSize(2).height, 200, 0.01);

    // The page box rounded outwards: 835.04 × 1180.99 pixels at 101 dpi.
    const auto a4px = doc.PagePixelSize(0, 101, 101);
    EXPECT_EQ(a4px.width, 836);
    EXPECT_EQ(a4px.height, 1181);
    // Separate resolutions across and down, as for fax: 566.7 × 136.1.
    const auto fax = doc.PagePixelSize(1, 204, 98);
    EXPECT_EQ(fax.width, 567);
    EXPECT_EQ(fax.height, 137);
    EXPECT_THROW(doc.PageSize(3), RenderError);
    EXPECT_THROW(doc.PageSize(-1), RenderError);
}

TEST(DocumentTest, RendersColoursAtTheirPlacesOnWhite)
{
    Document doc(testpdf::Bytes(testpdf::MakePdf({ColourPage()})));
    const auto size = doc.PagePixelSize(0, 72, 144);
    ASSERT_EQ(size.width, 612);
    ASSERT_EQ(size.height, 1584);
    const auto rgb = RenderWhole(doc, 0, 72, 144, PixelFormat::Rgb);
    auto at = [&](int x, int y) {
        const unsigned char *p = &rgb[(static_cast<size_t>(y) * size.width + x) * 3];
        return std::vector<int>{p[0], p[1], p[2]};
    };
    // Red square: x 72..216, PDF y 72..216 -> rows (792-216)*2 .. (792-72)*2.
    EXPECT_EQ(at(144, 1300), (std::vector<int>{255, 0, 0}));
    EXPECT_EQ(at(144, 20), (std::vector<int>{0, 0, 255}));
    EXPECT_EQ(at(20, 800), (std::vector<int>{255, 255, 255}));
    // Gradient corners: little red at its left, much at its right.
    EXPECT_LT(at(305, 1200)[0], 40);
    EXPECT_GT(at(545, 1200)[0], 215);

    const auto grey = RenderWhole(doc, 0, 72, 144, PixelFormat::Grey);
    EXPECT_EQ(grey[1300u * size.width + 144], 76); // red's luminance
    EXPECT_EQ(grey[800u * size.width + 20], 255);
}

class BandTest : public ::testing::TestWithParam<std::tuple<int, PixelFormat>> {};

TEST_P(BandTest, BandsPutTogetherEqualTheWholePage)
{
    const auto [rows, format] = GetParam();
    Document doc(testpdf::Bytes(testpdf::MakePdf({ColourPage(), ColourPage()})));
    const double x = 96, y = 75;
    const auto whole = RenderWhole(doc, 1, x, y, format);
    const auto size = doc.PagePixelSize(1, x, y);
    const int n = format == PixelFormat::Rgb ? 3 : 1;
    // A stride wider than the row, with a guard byte pattern that must survive.
    const std::ptrdiff_t stride = size.width * n + 5;
    std::vector<unsigned char> banded(static_cast<size_t>(stride) * size.height, 0xA5);
    // Alternate pages so the kept display list is dropped and rebuilt between bands.
    for (int y0 = 0; y0 < size.height; y0 += rows) {
        const int count = std::min(rows, size.height - y0);
        doc.RenderBand(1, x, y, y0, count, format, banded.data() + y0 * stride, stride);
        doc.PageSize(0);
    }
    // Anti-aliased glyph edges may differ by a few levels where a band cuts through them;
    // anything more, or more than one sample in a thousand, is a misplaced band.
    int worst = 0;
    long offBy3 = 0;
    for (int row = 0; row < size.height; ++row) {
        for (int i = 0; i < size.width * n; ++i) {
            const int a = whole[static_cast<size_t>(row) * size.width * n + i];
            const int b = banded[static_cast<size_t>(row) * stride + i];
            worst = std::max(worst, std::abs(a - b));
            offBy3 += std::abs(a - b) > 2;
        }
        for (std::ptrdiff_t i = size.width * n; i < stride; ++i) {
            ASSERT_EQ(banded[static_cast<size_t>(row * stride + i)], 0xA5) << "row " << row;
        }
    }
    EXPECT_LE(worst, 8);
    EXPECT_LE(offBy3, static_cast<long>(size.width) * size.height * n / 1000);
}

INSTANTIATE_TEST_SUITE_P(Heights, BandTest,
                         ::testing::Combine(::testing::Values(1, 7, 256, 100000),
                                            ::testing::Values(PixelFormat::Rgb,
                                                              PixelFormat::Grey)));

TEST(DocumentTest, RefusesBandsOutsideThePageAndHugeRasters)
{
    testpdf::Page huge;
    huge.width = 100000;
    huge.height = 100;
    Document doc(testpdf::Bytes(testpdf::MakePdf({ColourPage(), huge})));
    const auto size = doc.PagePixelSize(0, 72, 72);
    std::vector<unsigned char> buf(static_cast<size_t>(size.width) * 3 * 2);
    const std::ptrdiff_t stride = size.width * 3;
    EXPECT_THROW(doc.RenderBand(0, 72, 72, -1, 1, PixelFormat::Rgb, buf.data(), stride),
                 RenderError);
    EXPECT_THROW(
        doc.RenderBand(0, 72, 72, size.height - 1, 2, PixelFormat::Rgb, buf.data(), stride),
        RenderError);
    EXPECT_THROW(doc.RenderBand(0, 72, 72, 0, 0, PixelFormat::Rgb, buf.data(), stride),
                 RenderError);
    EXPECT_THROW(doc.RenderBand(0, 72, 72, 0, 1, PixelFormat::Rgb, buf.data(), stride - 1),
                 RenderError);
    EXPECT_THROW(doc.RenderBand(2, 72, 72, 0, 1, PixelFormat::Rgb, buf.data(), stride),
                 RenderError);
    EXPECT_THROW(doc.PagePixelSize(0, 0, 72), RenderError);
    try {
        doc.PagePixelSize(1, 1200, 1200);
        ADD_FAILURE() << "a 1.6 million pixel wide raster was accepted";
    } catch (const RenderError &e) {
        EXPECT_EQ(e.kind(), Kind::TooLarge);
    }
    // The document stays usable after a refused call.
    EXPECT_NO_THROW(doc.RenderBand(0, 72, 72, 0, 1, PixelFormat::Rgb, buf.data(), stride));
}

TEST(DocumentTest, OpenFailuresAreClassified)
{
    testpdf::TempDir dir;
    const std::string good = testpdf::MakePdf({ColourPage(), ColourPage()});
    testpdf::WriteFile(dir / "empty.pdf", "");
    testpdf::WriteFile(dir / "text.pdf", "Hello, this is plain text and not a document.\n");
    testpdf::WriteFile(dir / "garbage.pdf", "%PDF-1.7\n" + std::string(4000, '\x01'));
    testpdf::WriteFile(dir / "good.pdf", good);
    ASSERT_TRUE(testpdf::Encrypt(dir / "good.pdf", dir / "locked.pdf"));
    testpdf::WriteFile(dir / "unreadable.pdf", good);
    ::chmod((dir / "unreadable.pdf").c_str(), 0);

    EXPECT_EQ(OpenKind(dir / "missing.pdf"), Kind::NotFound);
    EXPECT_EQ(OpenKind(dir / "no-such-folder/x.pdf"), Kind::NotFound);
    EXPECT_EQ(OpenKind(dir.path()), Kind::Unreadable);
    EXPECT_EQ(OpenKind(dir / "empty.pdf"), Kind::Unreadable);
    EXPECT_EQ(OpenKind(dir / "text.pdf"), Kind::Unreadable);
    // A named pipe with no writer would hold a blocking open for ever.
    ASSERT_EQ(::mkfifo((dir / "pipe.pdf").c_str(), 0600), 0);
    EXPECT_EQ(OpenKind(dir / "pipe.pdf"), Kind::Unreadable);
    const Kind garbage = OpenKind(dir / "garbage.pdf");
    EXPECT_TRUE(garbage == Kind::Damaged || garbage == Kind::Unreadable);
    EXPECT_EQ(OpenKind(dir / "locked.pdf"), Kind::Password);
    if (::geteuid() != 0) {
        EXPECT_EQ(OpenKind(dir / "unreadable.pdf"), Kind::Unreadable);
    }
    EXPECT_THROW(Document(std::vector<unsigned char>{}), RenderError);
    EXPECT_EQ(Document(dir / "good.pdf").PageCount(), 2);
}

TEST(DocumentTest, TruncatedDocumentsOpenRepairedOrFailCleanly)
{
    const std::string good = testpdf::MakePdf({ColourPage(), ColourPage(), ColourPage()});
    int repaired = 0;
    for (size_t cut = 16; cut < good.size(); cut += good.size() / 23) {
        try {
            Document doc(testpdf::Bytes(good.substr(0, cut)));
            ASSERT_GE(doc.PageCount(), 1);
            std::vector<unsigned char> row(static_cast<size_t>(doc.PagePixelSize(0, 36, 36).width) *
                                           3);
            doc.RenderBand(0, 36, 36, 0, 1, PixelFormat::Rgb, row.data(), 0 + row.size());
            ++repaired;
        } catch (const RenderError &e) {
            EXPECT_TRUE(e.kind() == Kind::Damaged || e.kind() == Kind::Unreadable ||
                        e.kind() == Kind::Failed)
                << "cut at " << cut << ": " << e.what();
        }
    }
    // Cutting off only the cross-reference table leaves pages the library can rebuild.
    EXPECT_GT(repaired, 0);
}

TEST(DocumentTest, IndependentDocumentsRenderTheSameOnParallelThreads)
{
    const auto bytes = testpdf::Bytes(testpdf::MakePdf({ColourPage()}));
    Document reference(bytes);
    const auto expected = RenderWhole(reference, 0, 150, 150, PixelFormat::Rgb);
    std::vector<std::vector<unsigned char>> results(3);
    std::vector<std::thread> threads;
    for (auto &result : results) {
        threads.emplace_back([&bytes, &result] {
            Document doc(bytes);
            for (int i = 0; i < 3; ++i) {
                result = RenderWhole(doc, 0, 150, 150, PixelFormat::Rgb);
            }
        });
    }
    for (auto &t : threads) {
        t.join();
    }
    for (const auto &result : results) {
        EXPECT_TRUE(result == expected);
    }
}

// Rules a quarter point thick, stroked and filled, at 98 dpi down: anti-aliased they are light
// grey rows that a threshold at mid-grey drops; without anti-aliasing each is a black row.
TEST(DocumentTest, WithoutAntiAliasingThinRulesStayBlack)
{
    testpdf::Page p;
    p.width = 200;
    p.height = 100;
    p.content = "0 G 0.25 w 10 70 m 190 70 l S 0 g 10 30.1 180 0.25 re f\n";
    Document doc(testpdf::Bytes(testpdf::MakePdf({p})));
    const auto darkestOfEachRule = [&doc] {
        const auto size = doc.PagePixelSize(0, 204, 98);
        const auto grey = RenderWhole(doc, 0, 204, 98, PixelFormat::Grey);
        std::vector<int> darkest;
        for (const int row : {(100 - 70) * 98 / 72, (100 - 30) * 98 / 72}) {
            int value = 255;
            for (int y = row - 2; y <= row + 2; ++y) {
                value = std::min<int>(value, grey[static_cast<size_t>(y * size.width + 100)]);
            }
            darkest.push_back(value);
        }
        return darkest;
    };
    for (const int value : darkestOfEachRule()) {
        EXPECT_GE(value, 128) << "anti-aliased, a thin rule is lighter than mid-grey";
    }
    doc.SetAntiAliasing(false);
    EXPECT_EQ(darkestOfEachRule(), (std::vector<int>{0, 0}));
    doc.SetAntiAliasing(true);
    EXPECT_GE(darkestOfEachRule()[0], 128);
}

// What the library mended is reported; a sound document reports nothing.
TEST(DocumentTest, ProblemsNameWhatWasMended)
{
    testpdf::Page p;
    p.Text(72, 700, 24, "Some text").Rect(72, 72, 100, 100, {0, 0, 0});
    const std::string sound = testpdf::MakePdf({p, p});
    {
        Document doc(testpdf::Bytes(sound));
        RenderWhole(doc, 1, 20, 20, PixelFormat::Grey);
        EXPECT_TRUE(doc.Problems().empty());
    }
    {
        std::string noTable = sound.substr(0, sound.rfind("xref\n")) + "%%EOF\n";
        Document doc(testpdf::Bytes(noTable));
        RenderWhole(doc, 0, 20, 20, PixelFormat::Grey);
        EXPECT_EQ(doc.Problems(), std::vector<std::string>{"the file is damaged and was repaired"});
    }
    {
        std::string noBox = sound;
        // Same length, so the cross-reference table still points at every object.
        const std::string box = "/MediaBox [0 0 612.00 792.00]";
        noBox.replace(noBox.find(box), box.size(), "/MediaBox [1 1 1 1]" + std::string(10, ' '));
        Document doc(testpdf::Bytes(noBox));
        RenderWhole(doc, 0, 20, 20, PixelFormat::Grey);
        RenderWhole(doc, 1, 20, 20, PixelFormat::Grey);
        RenderWhole(doc, 0, 20, 20, PixelFormat::Grey);
        EXPECT_EQ(doc.Problems(), std::vector<std::string>{
                                      "page 1 has no valid size and was drawn at Letter size"});
    }
}
