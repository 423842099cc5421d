// SPDX-License-Identifier: AGPL-3.0-or-later
// A colour chart that says CMYK in every way a page can: patches of 40 pt, each of one flat
// colour at its centre, with the CMYK values that colour stands for. Shared by the render and
// engine tests (header only).
#pragma once

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace testpdf {

struct Cmyk {
    float c, m, y, k;
};

struct ChartPatch {
    std::string kind;
    // Centre in PDF user space (points, origin bottom left).
    double x, y;
    Cmyk colour;
};

struct Chart {
    std::string pdf;
    double width = 0, height = 0;
    std::vector<ChartPatch> patches;
    // Flat RGB and grey patches beside the CMYK ones, which must come out exactly as given.
    struct Exact {
        double x, y;
        int r, g, b;
    };
    std::vector<Exact> exact;
};

inline std::vector<unsigned char> ReadBytes(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A one-page document from its content, resources and further objects (numbered from 5 on).
class PdfBuilder {
public:
    int Add(const std::string &body)
    {
        objects_.push_back(body);
        return 4 + static_cast<int>(objects_.size());
    }
    int AddStream(const std::string &dict, const std::string &data)
    {
        return Add("<< " + dict + " /Length " + std::to_string(data.size()) + " >>\nstream\n" +
                   data + "\nendstream");
    }
    std::string Build(double width, double height, const std::string &resources,
                      const std::string &content, const std::string &catalogExtra = "") const
    {
        std::string out = "%PDF-1.6\n%\xE2\xE3\xCF\xD3\n";
        std::vector<size_t> offsets;
        auto object = [&](const std::string &body) {
            offsets.push_back(out.size());
            out += std::to_string(offsets.size()) + " 0 obj\n" + body + "\nendobj\n";
        };
        char box[64];
        std::snprintf(box, sizeof box, "[0 0 %.2f %.2f]", width, height);
        object("<< /Type /Catalog /Pages 2 0 R " + catalogExtra + " >>");
        object("<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
        object(std::string("<< /Type /Page /Parent 2 0 R /MediaBox ") + box + " /Resources " +
               resources + " /Contents 4 0 R >>");
        object("<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content +
               "\nendstream");
        for (const std::string &body : objects_) {
            object(body);
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

private:
    std::vector<std::string> objects_;
};

inline std::string Num(double v)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.6f", v);
    return buf;
}

inline std::string Values(Cmyk c)
{
    return Num(c.c) + " " + Num(c.m) + " " + Num(c.y) + " " + Num(c.k);
}

inline Cmyk Scaled(Cmyk c, float t)
{
    return {c.c * t, c.m * t, c.y * t, c.k * t};
}

// embeddedProfile: the bytes of the CMYK profile of the ICCBased space (and of the output
// intent when outputIntent is set).
inline Chart MakeCmykChart(const std::vector<unsigned char> &embeddedProfile,
                           bool outputIntent = false)
{
    Chart chart;
    chart.width = 520;
    chart.height = 560;
    PdfBuilder b;
    std::string content;
    std::string resources;
    const double size = 40;
    int slot = 0;
    // Patches sit in rows of ten from the top left, 50 pt apart.
    auto at = [&](int n, double *x, double *y) {
        *x = 10 + (n % 10) * 50;
        *y = chart.height - 60 - (n / 10) * 50;
    };
    auto next = [&](double *x, double *y) { at(slot++, x, y); };
    auto patch = [&](const std::string &kind, double x, double y, Cmyk c) {
        chart.patches.push_back({kind, x + size / 2, y + size / 2, c});
    };
    double x = 0, y = 0;

    const std::vector<Cmyk> fills = {{1, 0, 0, 0},
                                     {1, 0, 1, 0},
                                     {1, 1, 0, 0},
                                     {0, 0, 0, 1},
                                     {0, 0.5f, 0, 0},
                                     {0, 1, 1, 0},
                                     {0, 0, 1, 0},
                                     {0.3f, 0.3f, 0.3f, 1},
                                     {0.2f, 0.4f, 0.6f, 0.1f},
                                     {0.05f, 0.05f, 0.05f, 0}};
    for (const Cmyk &c : fills) {
        next(&x, &y);
        content += Values(c) + " k " + Num(x) + " " + Num(y) + " 40 40 re f\n";
        patch("DeviceCMYK fill", x, y, c);
    }

    const Cmyk stroke{0.7f, 0.1f, 0.2f, 0.05f};
    next(&x, &y);
    content += Values(stroke) + " K 30 w " + Num(x) + " " + Num(y + 20) + " m " + Num(x + 40) +
               " " + Num(y + 20) + " l S\n";
    patch("DeviceCMYK stroke", x, y, stroke);

    const std::string profileData(embeddedProfile.begin(), embeddedProfile.end());
    const int profile = b.AddStream("/N 4 /Alternate /DeviceCMYK", profileData);
    const Cmyk icc{0.1f, 0.8f, 0.3f, 0.0f};
    next(&x, &y);
    content += "/Icc cs " + Values(icc) + " sc " + Num(x) + " " + Num(y) + " 40 40 re f\n";
    patch("ICCBased N=4", x, y, icc);

    const Cmyk spot{0.1f, 0.7f, 0.9f, 0.05f};
    const std::string spotSpace = "[/Separation /Copper /DeviceCMYK << /FunctionType 2 /Domain "
                                  "[0 1] /C0 [0 0 0 0] /C1 [" +
                                  Values(spot) + "] /N 1 >>]";
    const std::string postscript = "{ dup 0.9 mul exch dup 0.1 mul exch dup 0.5 mul exch 0.3 mul }";
    const int type4 =
        b.AddStream("/FunctionType 4 /Domain [0 1] /Range [0 1 0 1 0 1 0 1]", postscript);
    const std::string spot4Space =
        "[/Separation /Teal /DeviceCMYK " + std::to_string(type4) + " 0 R]";
    for (float tint : {1.0f, 0.6f}) {
        next(&x, &y);
        content += "/Spot cs " + Num(tint) + " scn " + Num(x) + " " + Num(y) + " 40 40 re f\n";
        patch("Separation", x, y, Scaled(spot, tint));
        next(&x, &y);
        content += "/Spot4 cs " + Num(tint) + " scn " + Num(x) + " " + Num(y) + " 40 40 re f\n";
        patch("Separation (Type 4)", x, y,
              Cmyk{0.9f * tint, 0.1f * tint, 0.5f * tint, 0.3f * tint});
    }

    // Raw CMYK and Indexed images of 2 x 2 samples, one patch per sample.
    const Cmyk samples[4] = {
        {0, 0.2f, 0.9f, 0}, {0.8f, 0, 0.4f, 0.1f}, {0, 0, 0, 0.6f}, {0.5f, 0.9f, 0, 0}};
    std::string raw;
    for (const Cmyk &c : samples) {
        for (float v : {c.c, c.m, c.y, c.k}) {
            raw += static_cast<char>(static_cast<int>(v * 255 + 0.5f));
        }
    }
    const int image =
        b.AddStream("/Type /XObject /Subtype /Image /Width 2 /Height 2 /ColorSpace /DeviceCMYK "
                    "/BitsPerComponent 8",
                    raw);
    const int indexed = b.AddStream(
        "/Type /XObject /Subtype /Image /Width 2 /Height 2 /BitsPerComponent 8 /ColorSpace "
        "[/Indexed /DeviceCMYK 3 " +
            std::to_string(b.AddStream("", raw)) + " 0 R]",
        std::string("\x03\x02\x01\x00", 4));
    auto quantised = [](Cmyk c) {
        auto q = [](float v) { return static_cast<int>(v * 255 + 0.5f) / 255.0f; };
        return Cmyk{q(c.c), q(c.m), q(c.y), q(c.k)};
    };
    // Each image covers four slots, two by two, in rows 4 and 5.
    for (int which = 0; which < 2; ++which) {
        double x0, y0;
        at(40 + 2 * which, &x0, &y0);
        const double top = y0 + size;
        content += "q 100 0 0 100 " + Num(x0) + " " + Num(top - 100) + " cm /" +
                   (which == 0 ? "Raw" : "Pal") + " Do Q\n";
        for (int i = 0; i < 4; ++i) {
            chart.patches.push_back({which == 0 ? "DeviceCMYK image" : "Indexed CMYK image",
                                     x0 + 25 + 50 * (i % 2), top - 25 - 50 * (i / 2),
                                     quantised(samples[which == 0 ? i : 3 - i])});
        }
    }
    slot = 20;

    // An axial shading whose colour changes slowly, measured where t = 0.5.
    const Cmyk from{0.6f, 0.1f, 0.1f, 0.1f};
    const Cmyk to{0.7f, 0.2f, 0.0f, 0.1f};
    next(&x, &y);
    const int axial = b.Add("<< /ShadingType 2 /ColorSpace /DeviceCMYK /Coords [" + Num(x - 200) +
                            " 0 " + Num(x + 240) +
                            " 0] /Extend [true true] /Function << /FunctionType 2 /Domain [0 1] "
                            "/C0 [" +
                            Values(from) + "] /C1 [" + Values(to) + "] /N 1 >> >>");
    content += "q " + Num(x) + " " + Num(y) + " 40 40 re W n /Axial sh Q\n";
    patch("CMYK axial shading", x, y,
          Cmyk{(from.c + to.c) / 2, (from.m + to.m) / 2, (from.y + to.y) / 2, (from.k + to.k) / 2});

    next(&x, &y);
    const int spotAxial = b.Add("<< /ShadingType 2 /ColorSpace " + spotSpace + " /Coords [" +
                                Num(x - 200) + " 0 " + Num(x + 240) +
                                " 0] /Extend [true true] /Function << /FunctionType 2 /Domain "
                                "[0 1] /C0 [0.45] /C1 [0.55] /N 1 >> >>");
    content += "q " + Num(x) + " " + Num(y) + " 40 40 re W n /SpotAxial sh Q\n";
    patch("Separation axial shading", x, y, Scaled(spot, 0.5f));

    // A triangle mesh (type 4) with one colour at every vertex, covering its patch.
    const Cmyk mesh{0.3f, 0.6f, 0.0f, 0.2f};
    next(&x, &y);
    std::string vertices;
    auto vertex = [&](int vx, int vy) {
        vertices += '\0';
        vertices += static_cast<char>(vx);
        vertices += static_cast<char>(vy);
        for (float v : {mesh.c, mesh.m, mesh.y, mesh.k}) {
            vertices += static_cast<char>(static_cast<int>(v * 255 + 0.5f));
        }
    };
    vertex(0, 0), vertex(255, 0), vertex(255, 255);
    vertex(0, 0), vertex(255, 255), vertex(0, 255);
    const int meshShading = b.AddStream(
        "/ShadingType 4 /ColorSpace /DeviceCMYK /BitsPerCoordinate 8 /BitsPerComponent 8 "
        "/BitsPerFlag 8 /Decode [" +
            Num(x) + " " + Num(x + 40) + " " + Num(y) + " " + Num(y + 40) + " 0 1 0 1 0 1 0 1]",
        vertices);
    content += "/Mesh sh\n";
    patch("CMYK mesh shading", x, y, quantised(mesh));

    const Cmyk masked{0.0f, 0.6f, 0.8f, 0.2f};
    next(&x, &y);
    content += "q 40 0 0 40 " + Num(x) + " " + Num(y) + " cm " + Values(masked) +
               " k BI /IM true /W 8 /H 8 /BPC 1 ID " + std::string(8, '\0') + "\nEI Q\n";
    patch("CMYK image mask", x, y, masked);

    // A transparency group blended in CMYK, converted when it ends.
    const Cmyk grouped{0.2f, 0.0f, 0.7f, 0.3f};
    next(&x, &y);
    const int group = b.AddStream("/Type /XObject /Subtype /Form /BBox [" + Num(x) + " " + Num(y) +
                                      " " + Num(x + 40) + " " + Num(y + 40) +
                                      "] /Group << /S /Transparency /CS /DeviceCMYK /I true >>",
                                  Values(grouped) + " k " + Num(x) + " " + Num(y) + " 40 40 re f");
    content += "/Group Do\n";
    patch("CMYK transparency group", x, y, grouped);

    // Text in a CMYK colour: the stem of a bold I is 18 pt wide at 120 pt, and the glyph rises
    // into the empty slot above it.
    const Cmyk text{0.9f, 0.4f, 0.0f, 0.1f};
    at(26, &x, &y);
    content +=
        "BT /F2 120 Tf " + Values(text) + " k " + Num(x + 4) + " " + Num(y - 5) + " Td (I) Tj ET\n";
    chart.patches.push_back({"CMYK text", x + 4 + 16.7, y - 5 + 43, text});

    // A Separation image of two samples, full and half tint, and a DeviceN fill of a process
    // ink and a spot, both over CMYK.
    at(27, &x, &y);
    const int spotImage = b.AddStream("/Type /XObject /Subtype /Image /Width 2 /Height 1 "
                                      "/BitsPerComponent 8 /ColorSpace " +
                                          spotSpace,
                                      std::string("\xff\x80", 2));
    content += "q 100 0 0 40 " + Num(x) + " " + Num(y) + " cm /SpotImage Do Q\n";
    // Images are drawn in 8 bits: each sample's CMYK is too.
    chart.patches.push_back({"Separation image", x + 25, y + 20, quantised(spot)});
    chart.patches.push_back(
        {"Separation image", x + 75, y + 20, quantised(Scaled(spot, 128 / 255.0f))});
    const int deviceNFunction =
        b.AddStream("/FunctionType 4 /Domain [0 1 0 1] /Range [0 1 0 1 0 1 0 1]",
                    "{ dup 0.7 mul exch dup 0.9 mul exch 0.05 mul }");
    const std::string deviceNSpace =
        "[/DeviceN [/Cyan /Copper] /DeviceCMYK " + std::to_string(deviceNFunction) + " 0 R]";
    at(29, &x, &y);
    content += "/Inks cs 0.3 0.8 scn " + Num(x) + " " + Num(y) + " 40 40 re f\n";
    patch("DeviceN", x, y, Cmyk{0.3f, 0.56f, 0.72f, 0.04f});

    // RGB and grey, which colour management must leave alone.
    slot = 30;
    // Multiples of 51, whose fractions of 255 survive the trip through floating point.
    const int exact[][3] = {{204, 51, 0}, {0, 102, 255}, {153, 153, 153}, {255, 255, 0}};
    for (const auto &c : exact) {
        next(&x, &y);
        content += Num(c[0] / 255.0) + " " + Num(c[1] / 255.0) + " " + Num(c[2] / 255.0) + " rg " +
                   Num(x) + " " + Num(y) + " 40 40 re f\n";
        chart.exact.push_back({x + 20, y + 20, c[0], c[1], c[2]});
    }
    next(&x, &y);
    content += "0.4 g " + Num(x) + " " + Num(y) + " 40 40 re f\n";
    chart.exact.push_back({x + 20, y + 20, 102, 102, 102});

    resources = "<< /Font << /F2 << /Type /Font /Subtype /Type1 /BaseFont /Helvetica-Bold >> >>"
                " /ColorSpace << /Icc [/ICCBased " +
                std::to_string(profile) + " 0 R] /Spot " + spotSpace + " /Spot4 " + spot4Space +
                " /Inks " + deviceNSpace + " >> /XObject << /Raw " + std::to_string(image) +
                " 0 R /Pal " + std::to_string(indexed) + " 0 R /Group " + std::to_string(group) +
                " 0 R /SpotImage " + std::to_string(spotImage) + " 0 R >> /Shading << /Axial " +
                std::to_string(axial) + " 0 R /SpotAxial " + std::to_string(spotAxial) +
                " 0 R /Mesh " + std::to_string(meshShading) + " 0 R >> >>";
    std::string catalogExtra;
    if (outputIntent) {
        catalogExtra = "/OutputIntents [<< /Type /OutputIntent /S /GTS_PDFX "
                       "/OutputConditionIdentifier (Chart) /DestOutputProfile " +
                       std::to_string(profile) + " 0 R >>]";
    }
    chart.pdf = b.Build(chart.width, chart.height, resources, content, catalogExtra);
    return chart;
}

} // namespace testpdf
