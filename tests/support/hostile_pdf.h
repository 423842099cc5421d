// SPDX-License-Identifier: AGPL-3.0-or-later
// PDF documents made to hurt a parser, small to write and quick to make: a chain of forms too
// deep for the library's stack, and a tiling pattern whose tiny steps take minutes to draw.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace hostile {

// Objects 1.. in order, with an xref table, so that opening needs no repair.
inline std::string Assemble(const std::vector<std::string> &bodies)
{
    std::string out = "%PDF-1.4\n";
    std::vector<size_t> offsets;
    for (size_t i = 0; i < bodies.size(); ++i) {
        offsets.push_back(out.size());
        out += std::to_string(i + 1) + " 0 obj\n" + bodies[i] + "\nendobj\n";
    }
    const size_t xref = out.size();
    out += "xref\n0 " + std::to_string(bodies.size() + 1) + "\n0000000000 65535 f \n";
    for (const size_t offset : offsets) {
        char line[24];
        std::snprintf(line, sizeof line, "%010zu 00000 n \n", offset);
        out += line;
    }
    out += "trailer\n<< /Size " + std::to_string(bodies.size() + 1) +
           " /Root 1 0 R >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
    return out;
}

inline std::string Stream(const std::string &dictionary, const std::string &data)
{
    return "<< " + dictionary + " /Length " + std::to_string(data.size()) + " >>\nstream\n" + data +
           "\nendstream";
}

// One Letter page whose content draws form 5, which draws form 6, and so on `depth` deep.
inline std::string DeepFormChain(int depth)
{
    std::vector<std::string> bodies = {
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Resources << /XObject << /X 5 0 "
        "R >> >> /Contents 4 0 R >>",
        Stream("", "/X Do"),
    };
    for (int i = 0; i < depth; ++i) {
        const int next = 5 + i + 1;
        const std::string resources =
            i + 1 < depth ? "/Resources << /XObject << /X " + std::to_string(next) + " 0 R >> >>"
                          : std::string("/Resources << >>");
        bodies.push_back(Stream("/Type /XObject /Subtype /Form /BBox [0 0 612 792] " + resources,
                                i + 1 < depth ? "/X Do" : "0 0 10 10 re f"));
    }
    return Assemble(bodies);
}

// One Letter page filled with a coloured tiling pattern of `step`-point tiles.
inline std::string TinyTilingPattern(double step)
{
    char pattern[200];
    std::snprintf(pattern, sizeof pattern,
                  "/Type /Pattern /PatternType 1 /PaintType 1 /TilingType 1 /BBox [0 0 %g %g] "
                  "/XStep %g /YStep %g /Resources << >>",
                  step, step, step, step);
    char tile[80];
    std::snprintf(tile, sizeof tile, "0 0 1 rg 0 0 %g %g re f", step / 2, step / 2);
    return Assemble({
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Resources << /Pattern << /P 5 0 "
        "R >> >> /Contents 4 0 R >>",
        Stream("", "/Pattern cs /P scn 0 0 612 792 re f"),
        Stream(pattern, tile),
    });
}

} // namespace hostile
