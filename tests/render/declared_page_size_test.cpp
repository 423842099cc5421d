// SPDX-License-Identifier: AGPL-3.0-or-later
#include "render/document.h"
#include "test_pdf.h"

#include <gtest/gtest.h>

using render::Document;
using render::RenderError;

namespace {

TEST(DeclaredPageSizeTest, IsThePageSizeWhetherOrNotThePageIsLoaded)
{
    const auto bytes = testpdf::Bytes(testpdf::MakePdf(testpdf::MixedPages()));
    Document loaded(bytes);
    Document declared(bytes);
    for (int page : {2, 0, 1}) {
        SCOPED_TRACE(page);
        const auto expected = loaded.PageSize(page);
        const auto size = declared.DeclaredPageSize(page);
        EXPECT_DOUBLE_EQ(size.width, expected.width);
        EXPECT_DOUBLE_EQ(size.height, expected.height);
        // The same from the document whose page this is now.
        const auto again = loaded.DeclaredPageSize(page);
        EXPECT_DOUBLE_EQ(again.width, expected.width);
        EXPECT_DOUBLE_EQ(again.height, expected.height);
    }
    // The rotated page is taller than wide, as it is shown.
    EXPECT_NEAR(declared.DeclaredPageSize(2).width, 100, 0.01);
    EXPECT_NEAR(declared.DeclaredPageSize(2).height, 200, 0.01);
    EXPECT_THROW(declared.DeclaredPageSize(3), RenderError);
    EXPECT_THROW(declared.DeclaredPageSize(-1), RenderError);
}

// A page tree may claim more pages than it has: those pages have no size, and asking for one
// fails instead of answering an empty box.
TEST(DeclaredPageSizeTest, PagesATreeOnlyClaimsCannotBeFound)
{
    std::string pdf = testpdf::MakePdf(testpdf::MixedPages());
    const std::string count = "/Count 3 >>";
    const size_t at = pdf.find(count);
    ASSERT_NE(at, std::string::npos);
    pdf.replace(at, count.size(), "/Count 99>>"); // same length: the offsets stay right
    Document doc(testpdf::Bytes(pdf));
    ASSERT_EQ(doc.PageCount(), 99);
    EXPECT_NEAR(doc.DeclaredPageSize(1).width, 200, 0.01);
    for (int page : {3, 50, 98}) {
        SCOPED_TRACE(page);
        EXPECT_THROW(doc.DeclaredPageSize(page), RenderError);
        EXPECT_THROW(doc.PageSize(page), RenderError);
    }
    // The real pages are still there after those failures.
    EXPECT_NEAR(doc.DeclaredPageSize(0).width, 595.28, 0.01);
    EXPECT_NEAR(doc.PageSize(2).height, 200, 0.01);
}

} // namespace
