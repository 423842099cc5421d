// SPDX-License-Identifier: AGPL-3.0-or-later
// Rows of CMYK pixels converted through the profile's grid: every pixel as the profile gives it,
// whatever came before it in the row, in the converter or in another document's thread.
#include "render/cmyk_to_rgb.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <thread>
#include <vector>

using render::CmykToRgb;

namespace {

std::vector<unsigned char> RandomCmyk(int pixels, std::uint32_t seed)
{
    std::vector<unsigned char> cmyk(static_cast<size_t>(pixels) * 4);
    for (unsigned char &v : cmyk) {
        seed = seed * 1664525u + 1013904223u;
        v = static_cast<unsigned char>(seed >> 24);
    }
    return cmyk;
}

std::vector<unsigned char> Row(CmykToRgb &colour, const std::vector<unsigned char> &cmyk)
{
    const int width = static_cast<int>(cmyk.size() / 4);
    std::vector<unsigned char> rgb(static_cast<size_t>(width) * 3);
    colour.Pixels(cmyk.data(), 0, rgb.data(), 0, width, 1);
    return rgb;
}

// Each pixel on its own, by a converter that has seen nothing else.
std::vector<unsigned char> OneByOne(const std::vector<unsigned char> &cmyk)
{
    std::vector<unsigned char> rgb(cmyk.size() / 4 * 3);
    for (size_t i = 0; i < cmyk.size() / 4; ++i) {
        CmykToRgb alone(std::nullopt);
        EXPECT_TRUE(alone.Ready());
        alone.Pixels(cmyk.data() + i * 4, 0, rgb.data() + i * 3, 0, 1, 1);
    }
    return rgb;
}

} // namespace

// Far more colours than the converter remembers, so that remembered colours are replaced all
// the time, and runs and repeats among them.
TEST(CmykToRgbTest, EveryPixelOfARowIsItsOwnColour)
{
    std::vector<unsigned char> cmyk = RandomCmyk(60000, 7);
    const auto copyPixel = [&](size_t to, size_t from) {
        std::copy_n(cmyk.begin() + from * 4, 4, cmyk.begin() + to * 4);
    };
    // A run of one colour, and colours that come back after others.
    for (size_t p = 1000; p < 1100; ++p) {
        copyPixel(p, 1000);
    }
    for (size_t p = 2000; p < 12000; ++p) {
        copyPixel(p, p % 100);
    }
    CmykToRgb colour(std::nullopt);
    ASSERT_TRUE(colour.Ready());
    const auto rgb = Row(colour, cmyk);

    const std::vector<unsigned char> first(cmyk.begin(), cmyk.begin() + 4 * 200);
    EXPECT_EQ(std::vector<unsigned char>(rgb.begin(), rgb.begin() + 3 * 200), OneByOne(first));
    for (size_t p = 2000; p < 12000; ++p) {
        ASSERT_TRUE(
            std::equal(rgb.begin() + p * 3, rgb.begin() + p * 3 + 3, rgb.begin() + p % 100 * 3))
            << "pixel " << p;
    }

    // And near the profile's exact colour: the grid strays by half a level on average, most in
    // the darkest colours.
    double sum = 0;
    int worst = 0;
    for (size_t i = 0; i < rgb.size() / 3; ++i) {
        float in[4], out[3];
        for (int k = 0; k < 4; ++k) {
            in[k] = cmyk[i * 4 + k] / 255.0f;
        }
        colour.Colour(in, out);
        for (int k = 0; k < 3; ++k) {
            const int d = std::abs(rgb[i * 3 + k] - static_cast<int>(std::lround(out[k] * 255)));
            sum += d;
            worst = std::max(worst, d);
        }
    }
    EXPECT_LT(sum / static_cast<double>(rgb.size()), 1.0);
    EXPECT_LE(worst, 20);
}

// The first pixel of a row is converted even when it looks like no colour at all.
TEST(CmykToRgbTest, RowsStartingWithFullInkOrPaper)
{
    CmykToRgb colour(std::nullopt);
    ASSERT_TRUE(colour.Ready());
    const std::vector<unsigned char> ink = {255, 255, 255, 255, 255, 255, 255, 255};
    const std::vector<unsigned char> paper = {0, 0, 0, 0, 0, 0, 0, 0};
    const auto dark = Row(colour, ink);
    const auto white = Row(colour, paper);
    EXPECT_EQ(dark, OneByOne(ink));
    EXPECT_EQ(white, OneByOne(paper));
    EXPECT_LT(dark[0] + dark[1] + dark[2], 3 * 40);
    EXPECT_EQ(white, std::vector<unsigned char>(6, 255));
}

// Converters of one profile share its grid, filled as their pixels need it: documents drawn at
// once in their own threads get the same colours as one drawn alone.
TEST(CmykToRgbTest, DocumentsDrawnAtOnceGetTheSameColours)
{
    std::vector<std::vector<unsigned char>> rows;
    for (std::uint32_t seed = 1; seed <= 4; ++seed) {
        rows.push_back(RandomCmyk(20000, seed));
    }
    std::vector<std::vector<unsigned char>> alone;
    for (const auto &row : rows) {
        CmykToRgb colour(std::nullopt);
        EXPECT_TRUE(colour.Ready());
        alone.push_back(Row(colour, row));
    }
    // Fresh converters again, while the grid they share is held by none of the first ones.
    std::vector<std::vector<unsigned char>> together(rows.size());
    std::vector<std::thread> threads;
    for (size_t i = 0; i < rows.size(); ++i) {
        threads.emplace_back([&, i] {
            CmykToRgb colour(std::nullopt);
            if (colour.Ready()) {
                together[i] = Row(colour, rows[i]);
            }
        });
    }
    for (std::thread &t : threads) {
        t.join();
    }
    EXPECT_EQ(together, alone);
}
