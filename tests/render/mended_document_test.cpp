// SPDX-License-Identifier: AGPL-3.0-or-later
// Documents the library can mend open and draw, and say what was mended.
#include "cmyk_chart.h"
#include "render/document.h"
#include "test_pdf.h"

#include <gtest/gtest.h>

using render::Document;
using render::PixelFormat;
using render::RenderError;

namespace {

// A page that draws an image over its middle and a blue square at the bottom left.
std::string ImagePage()
{
    testpdf::PdfBuilder b;
    const int image = b.AddStream("/Type /XObject /Subtype /Image /Width 2 /Height 2 "
                                  "/ColorSpace /DeviceRGB /BitsPerComponent 8",
                                  std::string(12, '\x40'));
    return b.Build(200, 200, "<< /XObject << /Im1 " + std::to_string(image) + " 0 R >> >>",
                   "q 100 0 0 100 50 50 cm /Im1 Do Q 0 0 1 rg 0 0 20 20 re f");
}

// The cross-reference table marks the object free: whatever refers to it finds nothing.
std::string WithoutObject(std::string pdf, int number)
{
    size_t line = pdf.rfind("\nxref\n") + 1;
    line = pdf.find('\n', pdf.find('\n', line) + 1) + 1; // past "xref" and "0 N"
    line += static_cast<size_t>(number) * 20;
    pdf.replace(line, 20, "0000000000 00001 f \n");
    return pdf;
}

// The file as it is after its first line was lost: it starts at the binary comment.
std::string WithoutHeader(const std::string &pdf)
{
    return pdf.substr(pdf.find('\n') + 1);
}

struct Damage {
    const char *name;
    std::string pdf;
    const char *problem;
};

class MendedDocumentTest : public ::testing::TestWithParam<Damage> {};

TEST_P(MendedDocumentTest, DrawsWhatIsLeftAndSaysWhatWasMended)
{
    testpdf::TempDir dir;
    testpdf::WriteFile(dir / "doc.pdf", GetParam().pdf);
    for (bool fromFile : {true, false}) {
        SCOPED_TRACE(fromFile ? "from a file" : "from memory");
        auto doc = fromFile ? std::make_unique<Document>(dir / "doc.pdf")
                            : std::make_unique<Document>(testpdf::Bytes(GetParam().pdf));
        ASSERT_EQ(doc->PageCount(), 1);
        const auto size = doc->PagePixelSize(0, 72, 72);
        std::vector<unsigned char> pixels(static_cast<size_t>(size.width) * size.height * 3);
        doc->RenderBand(0, 72, 72, 0, size.height, PixelFormat::Rgb, pixels.data(), size.width * 3);
        // The blue square is drawn whatever else was lost.
        const unsigned char *corner =
            pixels.data() + (static_cast<size_t>(size.height) - 10) * size.width * 3 + 10 * 3;
        EXPECT_EQ(corner[0], 0);
        EXPECT_EQ(corner[2], 255);
        const auto problems = doc->Problems();
        ASSERT_EQ(problems.size(), 1u);
        EXPECT_NE(problems[0].find(GetParam().problem), std::string::npos) << problems[0];
    }
}

INSTANTIATE_TEST_SUITE_P(
    Damages, MendedDocumentTest,
    ::testing::Values(Damage{"HeaderLost", WithoutHeader(ImagePage()), "repaired"},
                      Damage{"ImageObjectMissing", WithoutObject(ImagePage(), 5), "left out"}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(MendedDocumentTest, AnIntactDocumentHasNothingToSay)
{
    Document doc(testpdf::Bytes(ImagePage()));
    std::vector<unsigned char> pixels(200 * 200 * 3);
    doc.RenderBand(0, 72, 72, 0, 200, PixelFormat::Rgb, pixels.data(), 600);
    EXPECT_TRUE(doc.Problems().empty());
}

// What the library cannot read as a PDF at all is still told apart from a damaged PDF.
TEST(MendedDocumentTest, WhatIsNoPdfAtAllIsSaidToBeNone)
{
    for (const std::string &bytes :
         {std::string("Plain text, and no document in it.\n"), std::string(5000, '\x07')}) {
        try {
            Document doc(testpdf::Bytes(bytes));
            ADD_FAILURE() << "opened";
        } catch (const RenderError &e) {
            EXPECT_EQ(e.kind(), RenderError::Kind::Unreadable);
            EXPECT_NE(std::string(e.what()).find("not a PDF document"), std::string::npos)
                << e.what();
        }
    }
}

} // namespace
