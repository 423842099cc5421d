// SPDX-License-Identifier: AGPL-3.0-or-later
#include "engine/colour_reducer.h"

#include <gtest/gtest.h>

#include <set>

using namespace rastool;

namespace {

// Records what the reducer hands to a writer.
class RecordingWriter : public ImageWriter {
public:
    void BeginPage(const PageFormat &format) override
    {
        format_ = format;
        ++begun;
    }
    void WriteRows(const uint8_t *rows, int rowCount, std::ptrdiff_t stride) override
    {
        const int n = format_.bitsPerPixel == 24 ? 3 : 1;
        for (int r = 0; r < rowCount; ++r) {
            pixels.insert(pixels.end(), rows + r * stride, rows + r * stride + format_.width * n);
        }
    }
    void EndPage() override { ++ended; }
    void Finish() override {}

    const PageFormat &format() const { return format_; }
    std::vector<uint8_t> pixels;
    int begun = 0, ended = 0;

private:
    PageFormat format_;
};

PageFormat Page(int width, int height)
{
    PageFormat f;
    f.width = width;
    f.height = height;
    f.xDpi = f.yDpi = 100;
    return f;
}

// Feeds the page in bands of bandRows, with a stride wider than the row.
void Feed(PageReducer &reducer, const std::vector<uint8_t> &pixels, int width, int components,
          int height, int bandRows)
{
    const std::ptrdiff_t stride = width * components + 3;
    for (int y0 = 0; y0 < height; y0 += bandRows) {
        const int rows = std::min(bandRows, height - y0);
        std::vector<uint8_t> band(static_cast<size_t>(stride) * rows, 0xEE);
        for (int r = 0; r < rows; ++r) {
            std::copy_n(&pixels[static_cast<size_t>((y0 + r) * width * components)],
                        width * components, &band[static_cast<size_t>(r * stride)]);
        }
        reducer.Take(band.data(), rows, stride);
    }
    reducer.Finish();
}

} // namespace

TEST(ColourReducerTest, FaxCutsSolidTonesAtMidGrey)
{
    const std::vector<uint8_t> grey{0, 48, 208, 255, 30, 220};
    RecordingWriter w;
    PageReducer reducer(Depth::Bw1, true, Page(3, 2), w);
    EXPECT_EQ(reducer.InputFormat(), render::PixelFormat::Grey);
    Feed(reducer, grey, 3, 1, 2, 1);
    EXPECT_EQ(w.pixels, (std::vector<uint8_t>{0, 0, 1, 1, 0, 1}));
    EXPECT_EQ(w.format().bitsPerPixel, 1);
    ASSERT_EQ(w.format().palette.size(), 2u);
    EXPECT_EQ(w.format().palette[0], (Colour{0, 0, 0}));
    EXPECT_EQ(w.format().palette[1], (Colour{255, 255, 255}));
    EXPECT_EQ(w.ended, 1);
}

// Rows of solid tones only are compared eight pixels at a time; the last pixels of a row and the
// levels at the edges of the solid ranges must come out the same as one at a time.
TEST(ColourReducerTest, FaxCutHoldsAcrossWholeWordsAndTheRowEnd)
{
    const std::vector<uint8_t> row{48, 208, 0,   255, 47,  209, 1,   254, 208, 48,
                                   20, 230, 240, 10,  212, 40,  255, 0,   208};
    const std::vector<uint8_t> blackWhite{0, 1, 0, 1, 0, 1, 0, 1, 1, 0, 0, 1, 1, 0, 1, 0, 1, 0, 1};
    const int width = static_cast<int>(row.size());
    std::vector<uint8_t> grey = row;
    grey.insert(grey.end(), row.rbegin(), row.rend());
    std::vector<uint8_t> expected = blackWhite;
    expected.insert(expected.end(), blackWhite.rbegin(), blackWhite.rend());

    RecordingWriter w;
    PageReducer reducer(Depth::Bw1, true, Page(width, 2), w);
    Feed(reducer, grey, width, 1, 2, 1);
    EXPECT_EQ(w.pixels, expected);
}

// A fax page with a photograph beside text: the photo's tones are diffused (a mid-grey area is
// about half black, not one black blob), while the text beside it stays exactly its solid
// pixels, neither taking the photo's error nor passing any on, whatever the bands.
TEST(ColourReducerTest, FaxDiffusesPhotoTonesAndKeepsTextCrisp)
{
    const int width = 64, height = 48;
    std::vector<uint8_t> grey(width * height);
    std::vector<uint8_t> text;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const bool inPhoto = x < 32;
            const uint8_t solid = (x * 7 + y * 3) % 5 < 2 ? 0 : 255;
            grey[static_cast<size_t>(y * width + x)] =
                inPhoto ? static_cast<uint8_t>(96 + (x + y) % 64) : solid;
            if (!inPhoto) {
                text.push_back(solid == 255 ? 1 : 0);
            }
        }
    }
    std::vector<uint8_t> firstRun;
    for (const int bandRows : {height, 5, 1}) {
        RecordingWriter w;
        PageReducer reducer(Depth::Bw1, true, Page(width, height), w);
        Feed(reducer, grey, width, 1, height, bandRows);
        ASSERT_EQ(w.pixels.size(), grey.size());
        std::vector<uint8_t> right;
        double white = 0, wanted = 0;
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                const size_t i = static_cast<size_t>(y * width + x);
                if (x < 32) {
                    white += w.pixels[i];
                    wanted += grey[i] / 255.0;
                } else {
                    right.push_back(w.pixels[i]);
                }
            }
        }
        EXPECT_EQ(right, text) << bandRows;
        EXPECT_NEAR(white / (32 * height), wanted / (32 * height), 0.03) << bandRows;
        if (firstRun.empty()) {
            firstRun = w.pixels;
        }
        EXPECT_EQ(w.pixels, firstRun) << "bands of " << bandRows << " rows";
    }
}

TEST(ColourReducerTest, ErrorDiffusionKeepsTheGreyLevelAcrossBands)
{
    const int width = 64, height = 64;
    for (int level : {64, 128, 192}) {
        const std::vector<uint8_t> grey(width * height, static_cast<uint8_t>(level));
        RecordingWriter whole, banded;
        PageReducer a(Depth::Bw1, false, Page(width, height), whole);
        Feed(a, grey, width, 1, height, height);
        PageReducer b(Depth::Bw1, false, Page(width, height), banded);
        Feed(b, grey, width, 1, height, 5);
        // The error carried between bands makes banding invisible.
        EXPECT_EQ(whole.pixels, banded.pixels);
        double white = 0;
        for (uint8_t v : whole.pixels) {
            white += v;
        }
        EXPECT_NEAR(white / (width * height), level / 255.0, 0.03) << level;
    }
    // Pure black and white stay pure.
    const std::vector<uint8_t> extremes{0, 0, 255, 255, 0, 255};
    RecordingWriter w;
    PageReducer r(Depth::Bw1, false, Page(3, 2), w);
    Feed(r, extremes, 3, 1, 2, 1);
    EXPECT_EQ(w.pixels, (std::vector<uint8_t>{0, 0, 1, 1, 0, 1}));
}

TEST(ColourReducerTest, PaletteKeepsFewColoursExactly)
{
    // Three flat colours: a quantiser with 16 entries must reproduce them exactly.
    const int width = 30, height = 20;
    std::vector<uint8_t> rgb;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const Colour c = x < 10   ? Colour{200, 30, 40}
                             : x < 20 ? Colour{10, 120, 250}
                                      : Colour{255, 255, 255};
            rgb.insert(rgb.end(), {c.r, c.g, c.b});
        }
    }
    for (Depth depth : {Depth::Pal4, Depth::Pal8}) {
        RecordingWriter w;
        PageReducer reducer(depth, false, Page(width, height), w);
        EXPECT_EQ(reducer.InputFormat(), render::PixelFormat::Rgb);
        Feed(reducer, rgb, width, 3, height, 7);
        ASSERT_EQ(w.begun, 1);
        const auto &palette = w.format().palette;
        EXPECT_EQ(w.format().bitsPerPixel, depth == Depth::Pal4 ? 4 : 8);
        EXPECT_LE(palette.size(), depth == Depth::Pal4 ? 16u : 256u);
        ASSERT_EQ(w.pixels.size(), static_cast<size_t>(width * height));
        for (size_t i = 0; i < w.pixels.size(); ++i) {
            ASSERT_LT(w.pixels[i], palette.size());
            const Colour &got = palette[w.pixels[i]];
            const Colour want{rgb[i * 3], rgb[i * 3 + 1], rgb[i * 3 + 2]};
            ASSERT_EQ(got, want) << "pixel " << i;
        }
    }
}

TEST(ColourReducerTest, SixteenColoursApproximateAGradient)
{
    const int width = 128, height = 32;
    std::vector<uint8_t> rgb;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            rgb.insert(rgb.end(), {static_cast<uint8_t>(x * 2), 128, static_cast<uint8_t>(y * 8)});
        }
    }
    RecordingWriter w;
    // The sample is the page itself.
    PageReducer reducer(Depth::Pal4, false, Page(width, height), w, [&] {
        return PageSample{width, height, rgb};
    });
    Feed(reducer, rgb, width, 3, height, 32);
    const auto &palette = w.format().palette;
    std::set<uint8_t> used(w.pixels.begin(), w.pixels.end());
    EXPECT_GT(used.size(), 8u);
    // Dithering: the mean red of each 8-column block follows the gradient. Sixteen entries
    // cannot reach the far corners of a two-way gradient, so the outer blocks only need to
    // stay ordered.
    std::vector<double> means;
    for (int x0 = 0; x0 < width; x0 += 8) {
        double red = 0;
        for (int y = 0; y < height; ++y) {
            for (int x = x0; x < x0 + 8; ++x) {
                red += palette[w.pixels[static_cast<size_t>(y * width + x)]].r;
            }
        }
        means.push_back(red / (8 * height));
    }
    for (size_t i = 2; i + 3 < means.size(); ++i) {
        EXPECT_NEAR(means[i], (i * 8 + 3.5) * 2, 14) << "block " << i;
    }
    EXPECT_GT(means.back() - means.front(), 150);
}

TEST(ColourReducerTest, GreyAndTrueColourPassThrough)
{
    const std::vector<uint8_t> grey{0, 17, 255, 128};
    RecordingWriter g;
    PageReducer greyReducer(Depth::Grey8, false, Page(2, 2), g);
    Feed(greyReducer, grey, 2, 1, 2, 1);
    EXPECT_EQ(g.pixels, grey);
    EXPECT_TRUE(g.format().greyscale);
    ASSERT_EQ(g.format().palette.size(), 256u);
    EXPECT_EQ(g.format().palette[17], (Colour{17, 17, 17}));

    const std::vector<uint8_t> rgb{1, 2, 3, 4, 5, 6};
    RecordingWriter c;
    PageReducer colour(Depth::Rgb24, false, Page(1, 2), c);
    Feed(colour, rgb, 1, 3, 2, 2);
    EXPECT_EQ(c.pixels, rgb);
    EXPECT_EQ(c.format().bitsPerPixel, 24);
}

TEST(ColourReducerTest, RefusesRowsPastThePageAndAShortPage)
{
    RecordingWriter w;
    PageReducer reducer(Depth::Rgb24, false, Page(1, 2), w);
    const uint8_t px[9] = {};
    EXPECT_THROW(reducer.Take(px, 3, 3), std::logic_error);
    reducer.Take(px, 1, 3);
    EXPECT_THROW(reducer.Finish(), std::logic_error);
}
