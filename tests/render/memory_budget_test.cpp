// SPDX-License-Identifier: AGPL-3.0-or-later
// The memory budget of the PDF library: what it counts, and what a page past it gets.
#include "render/document.h"
#include "render/memory_budget.h"
#include "render/test_pdf.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

std::string SavesWithoutEnd(int count)
{
    testpdf::Page page;
    for (int i = 0; i < count; ++i) {
        page.content += "q\n";
    }
    page.Rect(0, 0, 100, 100, {0, 0, 0});
    return testpdf::MakePdf({page});
}

std::vector<unsigned char> Bytes(const std::string &pdf)
{
    return std::vector<unsigned char>(pdf.begin(), pdf.end());
}

// Renders page 1 at 36 dpi.
void Draw(render::Document &doc)
{
    const auto size = doc.PagePixelSize(0, 36, 36);
    std::vector<unsigned char> pixels(static_cast<size_t>(size.width) * size.height * 3);
    doc.RenderBand(0, 36, 36, 0, size.height, render::PixelFormat::Rgb, pixels.data(),
                   size.width * 3);
}

class MemoryBudgetTest : public ::testing::Test {
protected:
    ~MemoryBudgetTest() override { render::SetMemoryLimit(render::kDefaultMemoryLimit); }
};

// Every byte counted is given back: after documents of all kinds (growing arrays reallocated
// thousands of times among them) are closed, the count is where it started.
TEST_F(MemoryBudgetTest, CountReturnsToWhereItWas)
{
    const size_t before = render::MemoryInUse();
    {
        testpdf::Page text;
        text.Text(72, 700, 24, "Counted").Gradient(0, 0, 300, 300, 128, 128);
        render::Document plain(Bytes(testpdf::MakePdf({text})));
        render::Document saves(Bytes(SavesWithoutEnd(20000)));
        Draw(plain);
        Draw(saves);
        EXPECT_GT(render::MemoryInUse(), before + (256u << 10))
            << "the library's memory is counted";
    }
    EXPECT_EQ(render::MemoryInUse(), before);
}

// Past the limit the page fails with a reason of its own; the limit raised again, the same
// document in a new reader draws, and nothing stays counted of the failed one.
TEST_F(MemoryBudgetTest, PagePastTheLimitFailsAndSaysSo)
{
    const size_t before = render::MemoryInUse();
    const std::string pdf = SavesWithoutEnd(100000); // about 120 MB of saved states
    render::SetMemoryLimit(32u << 20);
    try {
        render::Document doc(Bytes(pdf));
        Draw(doc);
        FAIL() << "drawn within 32 MB";
    } catch (const render::RenderError &e) {
        EXPECT_EQ(e.kind(), render::RenderError::Kind::MemoryLimit);
        EXPECT_STREQ(e.what(),
                     "document in memory: page 1 needs more memory than the limit of 32 MB");
    }
    EXPECT_EQ(render::MemoryInUse(), before);
    render::SetMemoryLimit(0);
    render::Document doc(Bytes(pdf));
    EXPECT_NO_THROW(Draw(doc));
}

// A plain shortage of memory is not blamed on the limit: a refusal is told only once, to the
// thread whose allocation was refused.
TEST_F(MemoryBudgetTest, RefusalIsToldOnceToItsThread)
{
    render::SetMemoryLimit(1u << 20);
    EXPECT_EQ(render::budget::Allocate(nullptr, 2u << 20), nullptr);
    EXPECT_TRUE(render::budget::TakeRefusal());
    EXPECT_FALSE(render::budget::TakeRefusal());
    void *small = render::budget::Allocate(nullptr, 1000);
    ASSERT_NE(small, nullptr);
    void *grown = render::budget::Reallocate(nullptr, small, 4u << 20);
    EXPECT_EQ(grown, nullptr) << "grown past the limit";
    EXPECT_TRUE(render::budget::TakeRefusal());
    // A refused growth leaves the block as it was, still counted once.
    void *same = render::budget::Reallocate(nullptr, small, 2000);
    ASSERT_NE(same, nullptr);
    render::budget::Release(nullptr, same);
    EXPECT_FALSE(render::budget::TakeRefusal());
}

} // namespace
