// SPDX-License-Identifier: AGPL-3.0-or-later
#include "engine/palette_reducer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <random>

using namespace rastool;

namespace {

// Records the page as the writer receives it, and how many rows had arrived when asked.
class IndexWriter : public ImageWriter {
public:
    void BeginPage(const PageFormat &format) override
    {
        format_ = format;
        ++begun;
    }
    void WriteRows(const uint8_t *rows, int rowCount, std::ptrdiff_t stride) override
    {
        ASSERT_EQ(begun, 1) << "rows before the page began";
        for (int r = 0; r < rowCount; ++r) {
            indices.insert(indices.end(), rows + r * stride, rows + r * stride + format_.width);
        }
        rowsWritten += rowCount;
    }
    void EndPage() override {}
    void Finish() override {}

    const PageFormat &format() const { return format_; }
    std::vector<uint8_t> indices;
    int begun = 0;
    int rowsWritten = 0;

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

Colour At(const std::vector<uint8_t> &rgb, size_t pixel)
{
    return Colour{rgb[pixel * 3], rgb[pixel * 3 + 1], rgb[pixel * 3 + 2]};
}

int Distance(const Colour &a, const Colour &b)
{
    const int dr = a.r - b.r, dg = a.g - b.g, db = a.b - b.b;
    return dr * dr + dg * dg + db * db;
}

// Feeds a whole page in bands with a stride wider than a row.
void Feed(PaletteReducer &reducer, const std::vector<uint8_t> &rgb, int width, int height,
          int bandRows)
{
    const std::ptrdiff_t stride = width * 3 + 5;
    for (int y0 = 0; y0 < height; y0 += bandRows) {
        const int rows = std::min(bandRows, height - y0);
        std::vector<uint8_t> band(static_cast<size_t>(stride) * rows, 0x5A);
        for (int r = 0; r < rows; ++r) {
            std::copy_n(&rgb[static_cast<size_t>(y0 + r) * width * 3], width * 3,
                        &band[static_cast<size_t>(r * stride)]);
        }
        reducer.Take(band.data(), rows, stride);
    }
    reducer.Finish();
}

// A page of exactly `colours` distinct colours, scattered so that no band holds them all.
std::vector<uint8_t> ScatteredColours(int width, int height, int colours, unsigned seed)
{
    std::mt19937 random(seed);
    std::vector<uint8_t> rgb;
    for (int i = 0; i < width * height; ++i) {
        // The first pixels hold every colour once; the rest repeat them at random.
        const int c = i < colours ? i : static_cast<int>(random() % colours);
        rgb.insert(rgb.end(), {static_cast<uint8_t>(c * 37), static_cast<uint8_t>(c * 11 + c / 7),
                               static_cast<uint8_t>(255 - c)});
    }
    return rgb;
}

struct PaletteCase {
    int bits;
    int colours;
};

class ExactColoursTest : public ::testing::TestWithParam<PaletteCase> {};

// Up to the palette's size, every pixel keeps its exact colour and no sample is rendered; the
// boundary (16 at 4 bits, 256 at 8) is where an off-by-one would show.
TEST_P(ExactColoursTest, EveryColourIsKept)
{
    const auto [bits, colours] = GetParam();
    const int width = 40, height = 30;
    const auto rgb = ScatteredColours(width, height, colours, 7);
    IndexWriter w;
    int samples = 0;
    PaletteReducer reducer(bits, Page(width, height), w, [&] {
        ++samples;
        return PageSample{width, height, rgb};
    });
    Feed(reducer, rgb, width, height, 7);
    EXPECT_EQ(samples, 0);
    EXPECT_TRUE(reducer.Exact());
    EXPECT_FALSE(reducer.Streamed());
    ASSERT_EQ(w.begun, 1);
    EXPECT_EQ(w.format().bitsPerPixel, bits);
    ASSERT_EQ(w.format().palette.size(), static_cast<size_t>(colours));
    ASSERT_EQ(w.indices.size(), static_cast<size_t>(width * height));
    for (size_t i = 0; i < w.indices.size(); ++i) {
        ASSERT_LT(w.indices[i], colours);
        ASSERT_EQ(w.format().palette[w.indices[i]], At(rgb, i)) << "pixel " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(UpToThePaletteSize, ExactColoursTest,
                         ::testing::Values(PaletteCase{4, 1}, PaletteCase{4, 16}, PaletteCase{8, 2},
                                           PaletteCase{8, 256}));

// One colour more than the palette holds: the palette is quantised from the page's counted
// colours, no sample is needed, and every pixel is near its own colour. The extra colour appears
// only in the last band, after the others have been kept.
TEST(PaletteReducerTest, OneColourTooManyIsQuantisedFromThePagesColours)
{
    for (int bits : {4, 8}) {
        const int capacity = 1 << bits;
        const int width = 32, height = 24;
        auto rgb = ScatteredColours(width, height, capacity, 3);
        const size_t last = static_cast<size_t>(width * height - 1);
        rgb[last * 3] = 1;
        rgb[last * 3 + 1] = 2;
        rgb[last * 3 + 2] = 3;
        IndexWriter w;
        int samples = 0;
        PaletteReducer reducer(bits, Page(width, height), w, [&] {
            ++samples;
            return PageSample{width, height, rgb};
        });
        Feed(reducer, rgb, width, height, 5);
        EXPECT_EQ(samples, 0) << bits;
        EXPECT_FALSE(reducer.Exact());
        EXPECT_FALSE(reducer.Streamed());
        const auto &palette = w.format().palette;
        ASSERT_LE(palette.size(), static_cast<size_t>(capacity));
        ASSERT_EQ(w.indices.size(), static_cast<size_t>(width * height));
        double squared = 0;
        for (size_t i = 0; i < w.indices.size(); ++i) {
            ASSERT_LT(w.indices[i], palette.size());
            squared += Distance(palette[w.indices[i]], At(rgb, i));
        }
        // Mean squared error per channel: a page mapped from a wrong row or a stale palette
        // would be off by thousands.
        EXPECT_LT(squared / (3.0 * width * height), bits == 8 ? 4.0 : 200.0) << bits;
    }
}

// Thousands of colours make the colour table grow while bands are counted; at 8 bits each
// colour is then written as its nearest entry, so a colour that lost its place or was given
// another's index in the growing table shows as a pixel off its nearest entry.
TEST(PaletteReducerTest, ColoursCountedAcrossTableGrowthMapToTheirNearestEntry)
{
    for (int colours : {2049, 5000, 40000}) {
        const int width = 300, height = colours / 150 + 40;
        // Red and green spell out the colour's number, so every one is distinct.
        std::mt19937 random(13);
        std::vector<uint8_t> rgb;
        for (int i = 0; i < width * height; ++i) {
            const int c = i < colours ? i : static_cast<int>(random() % colours);
            rgb.insert(rgb.end(), {static_cast<uint8_t>(c), static_cast<uint8_t>(c >> 8),
                                   static_cast<uint8_t>(c * 97)});
        }
        IndexWriter w;
        PaletteReducer reducer(8, Page(width, height), w, [&] {
            return PageSample{width, height, rgb};
        });
        Feed(reducer, rgb, width, height, 9);
        EXPECT_FALSE(reducer.Streamed()) << colours;
        const auto &palette = w.format().palette;
        ASSERT_EQ(w.indices.size(), static_cast<size_t>(width * height));
        for (size_t i = 0; i < w.indices.size(); ++i) {
            int best = INT_MAX;
            for (const Colour &p : palette) {
                best = std::min(best, Distance(p, At(rgb, i)));
            }
            ASSERT_LT(w.indices[i], palette.size());
            ASSERT_EQ(Distance(palette[w.indices[i]], At(rgb, i)), best)
                << colours << " colours, pixel " << i;
        }
    }
}

// More distinct colours than the table tracks (a photograph): the palette comes from the
// colours counted so far and the sample, and the page is written while its bands arrive.
TEST(PaletteReducerTest, PhotographStreamsWithAPaletteFromTheSample)
{
    const int width = 320, height = 320;
    std::vector<uint8_t> rgb;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            rgb.insert(rgb.end(), {static_cast<uint8_t>(x * 255 / width),
                                   static_cast<uint8_t>(y * 255 / height),
                                   static_cast<uint8_t>((x + y) % 256)});
        }
    }
    PageSample sample{width / 4, height / 4, {}};
    for (int y = 0; y < height; y += 4) {
        for (int x = 0; x < width; x += 4) {
            const size_t i = static_cast<size_t>(y * width + x) * 3;
            sample.rgb.insert(sample.rgb.end(), {rgb[i], rgb[i + 1], rgb[i + 2]});
        }
    }
    IndexWriter w;
    int samples = 0;
    PaletteReducer reducer(8, Page(width, height), w, [&] {
        ++samples;
        return sample;
    });
    const std::ptrdiff_t stride = width * 3;
    const int bandRows = 16;
    int rowsBeforeTheEnd = 0;
    for (int y0 = 0; y0 < height; y0 += bandRows) {
        reducer.Take(&rgb[static_cast<size_t>(y0) * stride], bandRows, stride);
        rowsBeforeTheEnd = w.rowsWritten;
    }
    reducer.Finish();
    EXPECT_EQ(samples, 1);
    EXPECT_TRUE(reducer.Streamed());
    EXPECT_EQ(rowsBeforeTheEnd, height);
    const auto &palette = w.format().palette;
    ASSERT_EQ(w.indices.size(), static_cast<size_t>(width * height));
    double squared = 0;
    for (size_t i = 0; i < w.indices.size(); ++i) {
        ASSERT_LT(w.indices[i], palette.size());
        squared += Distance(palette[w.indices[i]], At(rgb, i));
    }
    // 256 entries over a gradient of 100000 colours: about six levels off on average. The
    // bottom third comes after the table is full, so a palette without the sample's colours
    // would miss it by tens of levels.
    EXPECT_LT(squared / (3.0 * width * height), 100.0);
}

// The white background stays exactly white when diffusing to sixteen colours, so flat areas
// carry no dither noise (which would also spoil compression).
TEST(PaletteReducerTest, DiffusionLeavesTheBackgroundFlat)
{
    const int width = 64, height = 64;
    std::vector<uint8_t> rgb(static_cast<size_t>(width * height) * 3, 255);
    // A two-way gradient in the top half: far more than sixteen colours.
    for (int y = 0; y < height / 2; ++y) {
        for (int x = 0; x < width; ++x) {
            const size_t i = static_cast<size_t>(y * width + x) * 3;
            rgb[i] = static_cast<uint8_t>(x * 4);
            rgb[i + 1] = static_cast<uint8_t>(y * 8);
            rgb[i + 2] = 100;
        }
    }
    IndexWriter w;
    PaletteReducer reducer(4, Page(width, height), w, [&] {
        return PageSample{width, height, rgb};
    });
    Feed(reducer, rgb, width, height, 16);
    const auto &palette = w.format().palette;
    // Diffused error dies out within a couple of rows below the gradient.
    for (size_t i = static_cast<size_t>(width * (height / 2 + 2)); i < w.indices.size(); ++i) {
        ASSERT_EQ(palette[w.indices[i]], (Colour{255, 255, 255})) << "pixel " << i;
    }
}

// Floyd–Steinberg written plainly: every pixel, errors in sixteenths, the nearest entry by
// comparing all of them (the lowest index on a tie), and no error passed on that is at most two
// levels in every channel.
std::vector<uint8_t> PlainDiffusion(const std::vector<uint8_t> &rgb, int width, int height,
                                    const std::vector<Colour> &palette)
{
    std::vector<uint8_t> out;
    std::vector<int> here((static_cast<size_t>(width) + 2) * 3, 0), next(here.size(), 0);
    for (int y = 0; y < height; ++y) {
        std::fill(next.begin(), next.end(), 0);
        for (int x = 0; x < width; ++x) {
            const size_t i = (static_cast<size_t>(y) * width + x) * 3;
            int wanted[3];
            for (int c = 0; c < 3; ++c) {
                wanted[c] = std::clamp((rgb[i + c] * 16 + here[(x + 1) * 3 + c] + 8) >> 4, 0, 255);
            }
            const Colour w{static_cast<uint8_t>(wanted[0]), static_cast<uint8_t>(wanted[1]),
                           static_cast<uint8_t>(wanted[2])};
            size_t best = 0;
            for (size_t p = 1; p < palette.size(); ++p) {
                if (Distance(palette[p], w) < Distance(palette[best], w)) {
                    best = p;
                }
            }
            out.push_back(static_cast<uint8_t>(best));
            const int error[3] = {wanted[0] - palette[best].r, wanted[1] - palette[best].g,
                                  wanted[2] - palette[best].b};
            if (std::abs(error[0]) <= 2 && std::abs(error[1]) <= 2 && std::abs(error[2]) <= 2) {
                continue;
            }
            for (int c = 0; c < 3; ++c) {
                here[(x + 2) * 3 + c] += error[c] * 7;
                next[x * 3 + c] += error[c] * 3;
                next[(x + 1) * 3 + c] += error[c] * 5;
                next[(x + 2) * 3 + c] += error[c];
            }
        }
        here.swap(next);
    }
    return out;
}

// White with anti-aliased dark marks of many grey and blue levels, some touching the left and
// right edges and the band boundaries; with `photo`, a top area of about 90000 colours.
std::vector<uint8_t> MarkedPage(int width, int height, bool photo)
{
    std::vector<uint8_t> rgb(static_cast<size_t>(width) * height * 3, 255);
    std::mt19937 random(11);
    for (int mark = 0; mark < 60; ++mark) {
        const int cx =
            mark % 3 == 0 ? (mark % 2 ? 0 : width - 1) : static_cast<int>(random() % width);
        const int cy =
            mark % 4 == 0 ? (mark / 4 % 6 + 1) * 16 : static_cast<int>(random() % height);
        const int radius = 2 + static_cast<int>(random() % 6);
        for (int y = std::max(0, cy - radius - 2); y < std::min(height, cy + radius + 2); ++y) {
            for (int x = std::max(0, cx - radius - 2); x < std::min(width, cx + radius + 2); ++x) {
                const double d = std::hypot(x - cx, y - cy) - radius;
                const double cover = std::clamp(0.5 - d / 2, 0.0, 1.0);
                const size_t i = (static_cast<size_t>(y) * width + x) * 3;
                rgb[i] = static_cast<uint8_t>(255 - std::lround(cover * 235));
                rgb[i + 1] = static_cast<uint8_t>(255 - std::lround(cover * 235));
                rgb[i + 2] = static_cast<uint8_t>(255 - std::lround(cover * (mark % 2 ? 90 : 235)));
            }
        }
    }
    if (photo) {
        for (int y = 0; y < 300; ++y) {
            for (int x = 0; x < 300; ++x) {
                const size_t i = (static_cast<size_t>(y) * width + x) * 3;
                rgb[i] = static_cast<uint8_t>(x);
                rgb[i + 1] = static_cast<uint8_t>(y);
                rgb[i + 2] = static_cast<uint8_t>(x * y % 256);
            }
        }
    }
    return rgb;
}

// Diffusion skips the flat runs no error reaches; what it writes must still be exactly what
// diffusing every pixel writes, for kept pages and for pages written as they arrive, with the
// error crossing band boundaries.
TEST(PaletteReducerTest, DiffusionMatchesDiffusingEveryPixel)
{
    for (bool photo : {false, true}) {
        const int width = photo ? 333 : 257, height = 400;
        const auto rgb = MarkedPage(width, height, photo);
        IndexWriter w;
        PaletteReducer reducer(4, Page(width, height), w, [&] {
            return PageSample{width, height, rgb};
        });
        Feed(reducer, rgb, width, height, 16);
        EXPECT_EQ(reducer.Streamed(), photo);
        EXPECT_FALSE(reducer.Exact());
        const auto &palette = w.format().palette;
        ASSERT_EQ(palette.size(), 16u);
        const auto plain = PlainDiffusion(rgb, width, height, palette);
        ASSERT_EQ(w.indices.size(), plain.size());
        size_t differing = 0;
        for (size_t i = 0; i < plain.size(); ++i) {
            differing += w.indices[i] != plain[i];
        }
        EXPECT_EQ(differing, 0u) << (photo ? "streamed" : "kept");
    }
}

// Runs are found several pixels at a time. Row y of this page is one colour but for pixel y,
// which differs in one channel by `step` levels, so the odd pixel sits at every place of the
// blocks compared at once, and at both ends of the row.
std::vector<uint8_t> OddPixelPerRow(int width, int channel, int step)
{
    std::vector<uint8_t> rgb;
    for (int i = 0; i < width * width; ++i) {
        rgb.insert(rgb.end(), {200, 120, 40});
    }
    for (int y = 0; y < width; ++y) {
        rgb[(static_cast<size_t>(y) * width + y) * 3 + channel] += static_cast<uint8_t>(step);
    }
    return rgb;
}

class OddPixelTest : public ::testing::TestWithParam<int> {};

// One level off in any one channel is another colour, kept exactly.
TEST_P(OddPixelTest, OneLevelOffEndsTheRun)
{
    const int channel = GetParam(), width = 45;
    const auto rgb = OddPixelPerRow(width, channel, 1);
    IndexWriter w;
    PaletteReducer reducer(4, Page(width, width), w, nullptr);
    Feed(reducer, rgb, width, width, 8);
    ASSERT_TRUE(reducer.Exact());
    ASSERT_EQ(w.indices.size(), rgb.size() / 3);
    for (size_t i = 0; i < w.indices.size(); ++i) {
        ASSERT_EQ(w.format().palette[w.indices[i]], At(rgb, i)) << "pixel " << i;
    }
}

// Diffused, the kept rows go by runs of their colours' indices: they must stop at the odd pixel
// just as diffusing every pixel does. A gradient in the last rows gives the page more colours
// than sixteen.
TEST_P(OddPixelTest, DiffusedRunsStopAtTheOddPixel)
{
    const int channel = GetParam(), width = 45;
    auto rgb = OddPixelPerRow(width, channel, -150);
    for (size_t i = static_cast<size_t>(width) * (width - 4) * 3; i < rgb.size(); i += 3) {
        rgb[i + 1] = static_cast<uint8_t>(i / 3 * 5);
    }
    IndexWriter w;
    PaletteReducer reducer(4, Page(width, width), w, nullptr);
    Feed(reducer, rgb, width, width, 8);
    ASSERT_FALSE(reducer.Exact());
    const auto plain = PlainDiffusion(rgb, width, width, w.format().palette);
    ASSERT_EQ(w.indices.size(), plain.size());
    for (size_t i = 0; i < plain.size(); ++i) {
        ASSERT_EQ(w.indices[i], plain[i]) << "pixel " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(EachChannel, OddPixelTest, ::testing::Values(0, 1, 2));

// A page of few colours whose kept indices cannot be compressed below their bound stops
// waiting for its end: it is written while its bands still arrive, so memory stays bounded.
// Random indices over 256 colours hardly compress: 14000 rows of them pass 24 MB.
TEST(PaletteReducerTest, KeptRowsOverTheirBoundAreWrittenBeforeThePageEnds)
{
    const int width = 2600, height = 14000, bandRows = 200;
    std::vector<Colour> colours;
    for (int c = 0; c < 256; ++c) {
        colours.push_back(Colour{static_cast<uint8_t>(c), static_cast<uint8_t>(255 - c),
                                 static_cast<uint8_t>(c / 2 * 2)});
    }
    PageSample sample{16, 16, {}};
    for (const Colour &c : colours) {
        sample.rgb.insert(sample.rgb.end(), {c.r, c.g, c.b});
    }
    IndexWriter w;
    int rowsBeforeTheEnd = -1;
    PaletteReducer reducer(8, Page(width, height), w, [&] { return sample; });
    std::mt19937 random(11);
    std::vector<uint8_t> band(static_cast<size_t>(width) * bandRows * 3);
    std::vector<uint8_t> wanted;
    for (int y0 = 0; y0 < height; y0 += bandRows) {
        for (size_t i = 0; i < band.size(); i += 3) {
            const Colour &c = colours[random() % 256];
            band[i] = c.r;
            band[i + 1] = c.g;
            band[i + 2] = c.b;
        }
        // Only the last band is remembered: it is what the check below needs.
        if (y0 + bandRows >= height) {
            wanted = band;
        }
        reducer.Take(band.data(), bandRows, width * 3);
    }
    rowsBeforeTheEnd = w.rowsWritten;
    reducer.Finish();
    EXPECT_TRUE(reducer.Streamed());
    EXPECT_GT(rowsBeforeTheEnd, 0);
    EXPECT_EQ(w.rowsWritten, height);
    // Every page colour is in the sample, so the last band maps back close to its colours.
    const auto &palette = w.format().palette;
    const size_t lastBand = static_cast<size_t>(width) * (height - bandRows);
    double squared = 0;
    for (size_t i = 0; i < wanted.size() / 3; ++i) {
        squared += Distance(palette[w.indices[lastBand + i]], At(wanted, i));
    }
    EXPECT_LT(squared / (wanted.size()), 4.0);
}

// Kept indices past the raw bound are deflated; a large exact page must come back unchanged.
TEST(PaletteReducerTest, LargeExactPageSurvivesItsCompressedRows)
{
    const int width = 3000, height = 4000;
    const Colour ink{20, 40, 200}, paper{255, 255, 250}, mark{200, 10, 10};
    auto colourOf = [&](int x, int y) {
        return (x / 7 + y / 5) % 11 == 0 ? ink : (x * y) % 97 == 0 ? mark : paper;
    };
    IndexWriter w;
    PaletteReducer reducer(8, Page(width, height), w, [] {
        ADD_FAILURE() << "a page of three colours needs no sample";
        return PageSample{1, 1, {255, 255, 255}};
    });
    std::vector<uint8_t> band;
    const int bandRows = 250;
    for (int y0 = 0; y0 < height; y0 += bandRows) {
        band.clear();
        for (int y = y0; y < y0 + bandRows; ++y) {
            for (int x = 0; x < width; ++x) {
                const Colour c = colourOf(x, y);
                band.insert(band.end(), {c.r, c.g, c.b});
            }
        }
        reducer.Take(band.data(), bandRows, width * 3);
    }
    EXPECT_EQ(w.rowsWritten, 0) << "an exact page is written once its palette is known";
    reducer.Finish();
    ASSERT_EQ(w.format().palette.size(), 3u);
    ASSERT_EQ(w.indices.size(), static_cast<size_t>(width) * height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            ASSERT_EQ(w.format().palette[w.indices[static_cast<size_t>(y) * width + x]],
                      colourOf(x, y))
                << x << "," << y;
        }
    }
}

// The search stops early along green; it must still find what comparing all entries finds.
TEST(NearestColourTest, AgreesWithComparingEveryEntry)
{
    std::mt19937 random(5);
    for (int size : {1, 2, 16, 255, 256}) {
        std::vector<Colour> palette;
        for (int i = 0; i < size; ++i) {
            palette.push_back(Colour{static_cast<uint8_t>(random()), static_cast<uint8_t>(random()),
                                     static_cast<uint8_t>(random())});
        }
        NearestColour nearest(palette);
        for (int n = 0; n < 4000; ++n) {
            const Colour c{static_cast<uint8_t>(random()), static_cast<uint8_t>(random()),
                           static_cast<uint8_t>(random())};
            int best = INT_MAX;
            for (const Colour &p : palette) {
                best = std::min(best, Distance(p, c));
            }
            const uint8_t found = nearest.Find(static_cast<uint32_t>(c.r) << 16 | c.g << 8 | c.b);
            ASSERT_LT(found, palette.size());
            ASSERT_EQ(Distance(palette[found], c), best) << size;
            // Asked again, the cached answer is the same.
            ASSERT_EQ(nearest.Find(static_cast<uint32_t>(c.r) << 16 | c.g << 8 | c.b), found);
        }
    }
}

} // namespace
