// SPDX-License-Identifier: AGPL-3.0-or-later
#include "viewer/page_layout.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <limits>

namespace {

constexpr int kMargin = PageLayout::kMargin;
constexpr render::PageSizePt kLetter{612, 792};

// Every page's slot holds its top row and its last margin row, and no other page's.
void ExpectConsistent(const PageLayout &layout, int page)
{
    SCOPED_TRACE(page);
    const qint64 top = layout.Top(page);
    EXPECT_EQ(layout.PageAt(top), page);
    EXPECT_EQ(layout.PageAt(top + layout.Height(page) + kMargin - 1), page);
    if (page > 0) {
        EXPECT_EQ(layout.PageAt(top - 1), page - 1);
        EXPECT_EQ(layout.Top(page - 1) + layout.Height(page - 1) + kMargin, top);
    }
}

TEST(PageLayoutTest, TwoBillionDeclaredPagesNeedNoStoragePerPage)
{
    PageLayout layout;
    layout.Reset(INT_MAX, kLetter);
    layout.SetScale(1.0);
    const qint64 slot = 792 + kMargin;
    // Far beyond 32 bits: an int position would have wrapped around long before.
    EXPECT_EQ(layout.ContentHeight(), kMargin + qint64(INT_MAX) * slot);
    EXPECT_EQ(layout.Top(INT_MAX - 1), kMargin + qint64(INT_MAX - 1) * slot);
    EXPECT_EQ(layout.PageAt(layout.ContentHeight() - 1), INT_MAX - 1);
    EXPECT_EQ(layout.PageAt(std::numeric_limits<qint64>::max()), INT_MAX - 1);
    EXPECT_EQ(layout.PageAt(-5), 0);
    for (int page : {1, 1000, 1 << 20, INT_MAX / 2, INT_MAX - 1}) {
        ExpectConsistent(layout, page);
    }
    EXPECT_EQ(layout.measuredCount(), 0u);
}

TEST(PageLayoutTest, MeasuringAPageMovesOnlyThePagesAfterIt)
{
    PageLayout layout;
    layout.Reset(1000, kLetter);
    layout.SetScale(0.5);
    const qint64 before400 = layout.Top(400);
    const qint64 before401 = layout.Top(401);
    const qint64 height = layout.ContentHeight();

    // A landscape page: 306 pixels tall instead of 396.
    layout.SetMeasured(400, {792, 612});
    EXPECT_EQ(layout.Top(400), before400);
    EXPECT_EQ(layout.Top(401), before401 - 90);
    EXPECT_EQ(layout.ContentHeight(), height - 90);
    EXPECT_EQ(layout.Height(400), 306);

    // A taller page before it moves it, and the estimate holds for the pages between.
    layout.SetMeasured(10, {612, 1008});
    EXPECT_EQ(layout.Top(400), before400 + 108);
    EXPECT_EQ(layout.Top(401), before401 - 90 + 108);
    EXPECT_EQ(layout.Top(10) + 504 + kMargin, layout.Top(11));
    for (int page : {9, 10, 11, 12, 399, 400, 401, 402, 999}) {
        ExpectConsistent(layout, page);
    }
    EXPECT_EQ(layout.measuredCount(), 2u);
    EXPECT_TRUE(layout.IsMeasured(10));
    EXPECT_FALSE(layout.IsMeasured(11));

    // Outside the document: nothing is kept.
    layout.SetMeasured(-1, {1, 1});
    layout.SetMeasured(1000, {1, 1});
    EXPECT_EQ(layout.measuredCount(), 2u);
}

TEST(PageLayoutTest, ScaleRoundsEachPageAsItIsDrawn)
{
    PageLayout layout;
    layout.Reset(4, {100.4, 100.4});
    layout.SetMeasured(1, {50.2, 30.6});
    layout.SetMeasured(3, {200.0, 61.0});
    for (double scale : {1.0, 1.5, 2.37}) {
        SCOPED_TRACE(scale);
        layout.SetScale(scale);
        qint64 y = kMargin;
        for (int page = 0; page < 4; ++page) {
            const render::PageSizePt size = layout.Size(page);
            EXPECT_EQ(layout.Top(page), y);
            EXPECT_EQ(layout.Height(page), std::lround(size.height * scale));
            y += std::lround(size.height * scale) + kMargin;
        }
        EXPECT_EQ(layout.ContentHeight(), y);
        // The widest page sets the column's width; narrower ones are centred in it.
        const int widest = static_cast<int>(std::lround(200 * scale));
        EXPECT_EQ(layout.ContentWidth(), widest + 2 * kMargin);
        EXPECT_EQ(layout.Left(3), kMargin);
        EXPECT_EQ(layout.Left(1), kMargin + (widest - layout.Width(1)) / 2);
    }
}

TEST(PageLayoutTest, BrokenSizesStillGiveAnOrderedColumn)
{
    PageLayout layout;
    layout.Reset(5, kLetter);
    layout.SetScale(1.0);
    layout.SetMeasured(1, {std::nan(""), -20});
    layout.SetMeasured(2, {0, 0});
    layout.SetMeasured(3, {1e12, 1e12});
    for (int page : {1, 2}) {
        EXPECT_EQ(layout.Width(page), 1);
        EXPECT_EQ(layout.Height(page), 1);
    }
    // A page box too large for any screen is capped, and the positions after it stay exact.
    EXPECT_GT(layout.Height(3), 1 << 20);
    EXPECT_LT(layout.Height(3), INT_MAX / 4);
    for (int page = 1; page < 5; ++page) {
        ExpectConsistent(layout, page);
    }
}

TEST(PageLayoutTest, EmptyLayoutHasNoPages)
{
    PageLayout layout;
    layout.Reset(0, kLetter);
    EXPECT_EQ(layout.ContentHeight(), 0);
    EXPECT_EQ(layout.ContentWidth(), 0);
    EXPECT_EQ(layout.PageAt(0), -1);
}

} // namespace
