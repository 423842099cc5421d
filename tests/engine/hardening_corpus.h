// SPDX-License-Identifier: AGPL-3.0-or-later
// Broken and hostile PDF documents for the hardening tests, made from the small documents of
// the tests' PDF maker or written object by object.
#pragma once

#include "render/test_pdf.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>
#include <zlib.h>

namespace hardening {

// A document of numbered objects ("1 0 obj" .. "N 0 obj" in order) with a correct
// cross-reference table; object 1 is the catalog.
inline std::string RawPdf(const std::vector<std::string> &objects)
{
    std::string out = "%PDF-1.5\n%\xE2\xE3\xCF\xD3\n";
    std::vector<size_t> offsets;
    for (const std::string &body : objects) {
        offsets.push_back(out.size());
        out += std::to_string(offsets.size()) + " 0 obj\n" + body + "\nendobj\n";
    }
    const size_t xref = out.size();
    out += "xref\n0 " + std::to_string(offsets.size() + 1) + "\n0000000000 65535 f \n";
    for (size_t offset : offsets) {
        char line[24];
        std::snprintf(line, sizeof line, "%010zu 00000 n \n", offset);
        out += line;
    }
    out += "trailer\n<< /Size " + std::to_string(offsets.size() + 1) +
           " /Root 1 0 R >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
    return out;
}

inline std::string Stream(const std::string &dict, const std::string &data)
{
    return "<< " + dict + " /Length " + std::to_string(data.size()) + " >>\nstream\n" + data +
           "\nendstream";
}

// A one-page document whose page draws `content` with `resources`; objects from 4 on are the
// caller's `extra` objects.
inline std::string OnePage(const std::string &mediaBox, const std::string &content,
                           const std::string &resources = "<< >>",
                           const std::vector<std::string> &extra = {})
{
    std::vector<std::string> objects = {
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox " + mediaBox + " /Resources " + resources +
            " /Contents " + std::to_string(4 + extra.size()) + " 0 R >>",
    };
    objects.insert(objects.end(), extra.begin(), extra.end());
    objects.push_back(Stream("", content));
    return RawPdf(objects);
}

// Hostile documents, each a few lines as an attacker would write them.

// A page that draws a form that draws the next form, `depth` forms deep.
inline std::string FormChain(int depth)
{
    std::vector<std::string> forms;
    for (int k = 0; k < depth; ++k) {
        const bool last = k + 1 == depth;
        const std::string resources =
            last ? "<< >>" : "<< /XObject << /X " + std::to_string(5 + k) + " 0 R >> >>";
        forms.push_back(
            Stream("/Type /XObject /Subtype /Form /BBox [0 0 612 792] /Resources " + resources,
                   last ? "0 g 0 0 100 100 re f" : "/X Do"));
    }
    return OnePage("[0 0 612 792]", "/X Do", "<< /XObject << /X 4 0 R >> >>", forms);
}

// A tree of forms `levels` deep in which every form draws the next one twice: a few hundred
// bytes that ask for 2^levels drawings.
inline std::string FormTree(int levels)
{
    std::vector<std::string> forms;
    for (int k = 0; k < levels; ++k) {
        const bool last = k + 1 == levels;
        const std::string next = std::to_string(5 + k) + " 0 R";
        forms.push_back(Stream("/Type /XObject /Subtype /Form /BBox [0 0 612 792] /Resources " +
                                   (last ? std::string("<< >>")
                                         : "<< /XObject << /A " + next + " /B " + next + " >> >>"),
                               last ? "0 g 0 0 100 100 re f" : "/A Do /B Do"));
    }
    return OnePage("[0 0 612 792]", "/X Do", "<< /XObject << /X 4 0 R >> >>", forms);
}

// A full page filled with a tiling pattern whose cells are `step` points apart.
inline std::string TinyTilingPattern(const std::string &step)
{
    const std::string pattern =
        Stream("/Type /Pattern /PatternType 1 /PaintType 1 /TilingType 1 /BBox [0 0 " + step + " " +
                   step + "] /XStep " + step + " /YStep " + step + " /Resources << >>",
               "1 0 0 rg 0 0 " + step + " " + step + " re f");
    return OnePage("[0 0 612 792]", "/Pattern cs /P scn 0 0 612 792 re f",
                   "<< /Pattern << /P 4 0 R >> >>", {pattern});
}

// `count` saved graphics states that are never restored.
inline std::string NestedSaves(int count)
{
    std::string content;
    content.reserve(static_cast<size_t>(count) * 2 + 32);
    for (int i = 0; i < count; ++i) {
        content += "q\n";
    }
    return OnePage("[0 0 612 792]", content + "0 g 0 0 100 100 re f");
}

// `count` bytes of `fill`, deflated as they stream by: a thousand to one, without ever holding
// the whole in memory.
inline std::string Deflated(size_t count, char fill)
{
    const std::string chunk(1 << 20, fill);
    z_stream z{};
    deflateInit(&z, 1);
    std::string packed;
    std::string out(1 << 16, '\0');
    size_t left = count;
    int flush = Z_NO_FLUSH;
    do {
        const size_t take = std::min(left, chunk.size());
        z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(chunk.data()));
        z.avail_in = static_cast<uInt>(take);
        left -= take;
        flush = left == 0 ? Z_FINISH : Z_NO_FLUSH;
        do {
            z.next_out = reinterpret_cast<Bytef *>(&out[0]);
            z.avail_out = static_cast<uInt>(out.size());
            deflate(&z, flush);
            packed.append(out.data(), out.size() - z.avail_out);
        } while (z.avail_out == 0);
    } while (flush != Z_FINISH);
    deflateEnd(&z);
    return packed;
}

// A page whose image of width x height true-colour samples arrives deflated from zeros.
inline std::string FlateBombImage(int width, int height)
{
    const std::string image =
        Stream("/Type /XObject /Subtype /Image /Width " + std::to_string(width) + " /Height " +
                   std::to_string(height) +
                   " /ColorSpace /DeviceRGB /BitsPerComponent 8 /Filter /FlateDecode",
               Deflated(static_cast<size_t>(width) * height * 3, '\0'));
    return OnePage("[0 0 612 792]", "q 612 0 0 792 0 0 cm /Im Do Q",
                   "<< /XObject << /Im 4 0 R >> >>", {image});
}

// A page whose content stream inflates to `bytes` of blanks.
inline std::string FlateBombContent(size_t bytes)
{
    return RawPdf({"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
                   "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R >>",
                   Stream("/Filter /FlateDecode", Deflated(bytes, ' '))});
}

// Two pages of text, filled shapes and an image: the document that the damage is done to.
inline std::string HealthyDocument()
{
    testpdf::Page first;
    first.Rect(0, 0, 612, 396, {255, 0, 0}).Text(72, 700, 24, "First page of the corpus");
    testpdf::Page second;
    second.Gradient(100, 100, 300, 300, 16, 16).Text(72, 50, 12, "Second page");
    return testpdf::MakePdf({first, second});
}

// Bytes from a fixed-seed generator, so that a failure can be reproduced.
inline std::string Garbage(size_t size, uint32_t seed)
{
    std::string out(size, '\0');
    for (char &c : out) {
        seed = seed * 1664525u + 1013904223u;
        c = static_cast<char>(seed >> 24);
    }
    return out;
}

// Every cross-reference entry points at the wrong place.
inline std::string WithShiftedCrossReferences(const std::string &original)
{
    std::string pdf = original;
    const size_t table = pdf.rfind("xref\n");
    for (size_t at = pdf.find(" 00000 n", table); at != std::string::npos;
         at = pdf.find(" 00000 n", at + 1)) {
        pdf[at - 1] = pdf[at - 1] == '9' ? '0' : static_cast<char>(pdf[at - 1] + 1);
        pdf[at - 3] = pdf[at - 3] == '9' ? '0' : static_cast<char>(pdf[at - 3] + 1);
    }
    return pdf;
}

// The table and its pointer are gone; only the objects remain.
inline std::string WithoutCrossReferences(const std::string &pdf)
{
    return pdf.substr(0, pdf.rfind("xref\n")) + "%%EOF\n";
}

// The pointer to the table points past the end of the file.
inline std::string WithStartXrefPastTheEnd(const std::string &pdf)
{
    const size_t at = pdf.rfind("startxref\n") + 10;
    return pdf.substr(0, at) + "99999999\n%%EOF\n";
}

} // namespace hardening
