// SPDX-License-Identifier: AGPL-3.0-or-later
// Resource nesting measured before a page is loaded: the deepest path counts, however the
// document shares and repeats its dictionaries.
#include "engine/hardening_corpus.h"
#include "render/document.h"

#include <gtest/gtest.h>

namespace {

std::vector<unsigned char> Bytes(const std::string &pdf)
{
    return std::vector<unsigned char>(pdf.begin(), pdf.end());
}

// Whether the page loads (true) or is refused for its nesting (false); anything else fails.
bool Loads(const std::string &pdf)
{
    render::Document doc(Bytes(pdf));
    try {
        doc.PageSize(0);
        return true;
    } catch (const render::RenderError &e) {
        EXPECT_EQ(e.kind(), render::RenderError::Kind::Damaged);
        EXPECT_STREQ(e.what(), "document in memory: page 1 nests its content more than 256 "
                               "levels deep and cannot be drawn");
        return false;
    }
}

// Forms 1..n each draw form k+1 through the resources; form `shortcut` is reached from the page
// directly too, before the long way is walked. Depth through the long way: 1 + n + 1 (the last
// form's own empty resources).
std::string ChainWithShortcut(int n, int shortcut)
{
    std::vector<std::string> forms;
    for (int k = 1; k <= n; ++k) {
        const std::string resources =
            k == n ? "<< >>" : "<< /XObject << /X " + std::to_string(4 + k) + " 0 R >> >>";
        forms.push_back(hardening::Stream(
            "/Type /XObject /Subtype /Form /BBox [0 0 10 10] /Resources " + resources,
            k == n ? "0 g 0 0 1 1 re f" : "/X Do"));
    }
    const std::string page =
        "<< /XObject << /A " + std::to_string(3 + shortcut) + " 0 R /B 4 0 R >> >>";
    return hardening::OnePage("[0 0 10 10]", "/A Do /B Do", page, forms);
}

TEST(ResourceNestingTest, LimitIsExact)
{
    // The page's own resources and each form's: a chain of n forms nests n + 1 deep.
    EXPECT_TRUE(Loads(hardening::FormChain(255)));
    EXPECT_FALSE(Loads(hardening::FormChain(256)));
    EXPECT_FALSE(Loads(hardening::FormChain(60000)));
}

// A dictionary met first on a short path is still as deep as it is on the long one.
TEST(ResourceNestingTest, SharedDictionaryCountsOnItsDeepestPath)
{
    EXPECT_TRUE(Loads(ChainWithShortcut(255, 250)));
    EXPECT_FALSE(Loads(ChainWithShortcut(256, 250)));
}

// Every form of a forty-level tree names the next twice: measured once per dictionary, so it
// loads at once; a form that draws itself is no deeper than one.
TEST(ResourceNestingTest, SharingAndCyclesAreNotDepth)
{
    EXPECT_TRUE(Loads(hardening::FormTree(40)));
    const std::string self = hardening::Stream(
        "/Type /XObject /Subtype /Form /BBox [0 0 10 10] /Resources << /XObject << /X 4 0 R >> "
        ">>",
        "/X Do");
    EXPECT_TRUE(
        Loads(hardening::OnePage("[0 0 10 10]", "/X Do", "<< /XObject << /X 4 0 R >> >>", {self})));
}

// An annotation's appearance is a form the library scans with the page as it loads it.
std::string AnnotationAppearanceChain(int forms)
{
    std::vector<std::string> objects = {
        "<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 10 10] /Annots [<< /Type /Annot /Subtype "
        "/Square /Rect [0 0 10 10] /AP << /N 4 0 R >> >>] >>"};
    for (int k = 0; k < forms; ++k) {
        const bool last = k + 1 == forms;
        objects.push_back(hardening::Stream(
            "/Type /XObject /Subtype /Form /BBox [0 0 10 10] /Resources " +
                (last ? std::string("<< >>")
                      : "<< /XObject << /X " + std::to_string(5 + k) + " 0 R >> >>"),
            last ? "0 g 0 0 1 1 re f" : "/X Do"));
    }
    return hardening::RawPdf(objects);
}

TEST(ResourceNestingTest, AnnotationAppearancesCount)
{
    EXPECT_TRUE(Loads(AnnotationAppearanceChain(200)));
    EXPECT_FALSE(Loads(AnnotationAppearanceChain(300)));
    EXPECT_FALSE(Loads(AnnotationAppearanceChain(60000)));
}

// Patterns, soft masks and Type 3 fonts nest like forms.
TEST(ResourceNestingTest, EveryKindOfNestingCounts)
{
    struct Kind {
        const char *resourcesKey;
        std::string (*object)(const std::string &inner);
    };
    const Kind kinds[] = {
        {"Pattern",
         [](const std::string &inner) {
             return "<< /PatternType 1 /PaintType 1 /TilingType 1 /BBox [0 0 1 1] /XStep 1 "
                    "/YStep 1 /Resources " +
                    inner + " >>";
         }},
        {"ExtGState",
         [](const std::string &inner) {
             return "<< /SMask << /S /Luminosity /G << /Resources " + inner + " >> >> >>";
         }},
        {"Font",
         [](const std::string &inner) {
             return "<< /Type /Font /Subtype /Type3 /FontBBox [0 0 1 1] /FontMatrix [1 0 0 1 0 0] "
                    "/CharProcs << >> /FirstChar 0 /LastChar 0 /Widths [0] /Resources " +
                    inner + " >>";
         }},
    };
    for (const Kind &kind : kinds) {
        SCOPED_TRACE(kind.resourcesKey);
        const auto naming = [&kind](int object) {
            return "<< /" + std::string(kind.resourcesKey) + " << /R " + std::to_string(object) +
                   " 0 R >> >>";
        };
        for (const int depth : {200, 300}) {
            // Object 4 + k is level k + 2; the page's own resources are level 1.
            std::vector<std::string> objects;
            for (int k = 0; k + 1 < depth; ++k) {
                objects.push_back(kind.object(k + 2 < depth ? naming(5 + k) : "<< >>"));
            }
            EXPECT_EQ(Loads(hardening::OnePage("[0 0 10 10]", "", naming(4), objects)),
                      depth <= 256)
                << depth;
        }
    }
}

} // namespace
