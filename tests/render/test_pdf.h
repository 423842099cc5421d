// SPDX-License-Identifier: AGPL-3.0-or-later
// Small PDF documents written by hand for the tests: solid rectangles at known places, text in
// a standard font, an RGB gradient image. Shared by the render and engine tests (header only).
#pragma once

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace testpdf {

struct Rgb {
    int r, g, b;
};

struct Page {
    double width = 612;
    double height = 792;
    int rotate = 0;
    // Content stream operators; the page resources offer the font /F1 (Helvetica).
    std::string content;

    // A filled rectangle in PDF user space (origin bottom left, points).
    Page &Rect(double x, double y, double w, double h, Rgb c)
    {
        char buf[160];
        std::snprintf(buf, sizeof buf, "%.4f %.4f %.4f rg %.2f %.2f %.2f %.2f re f\n", c.r / 255.0,
                      c.g / 255.0, c.b / 255.0, x, y, w, h);
        content += buf;
        return *this;
    }
    Page &Text(double x, double y, double size, const std::string &text)
    {
        char buf[96];
        std::snprintf(buf, sizeof buf, "0 g BT /F1 %.1f Tf %.2f %.2f Td (", size, x, y);
        content += buf + text + ") Tj ET\n";
        return *this;
    }
    // A w×h-sample inline image stretched over the rectangle: red rises left to right, blue top
    // to bottom, green fixed at 128.
    Page &Gradient(double x, double y, double w, double h, int samplesW = 64, int samplesH = 64)
    {
        char buf[160];
        std::snprintf(buf, sizeof buf,
                      "q %.2f 0 0 %.2f %.2f %.2f cm BI /W %d /H %d /CS /RGB /BPC 8 ID ", w, h, x, y,
                      samplesW, samplesH);
        content += buf;
        for (int row = 0; row < samplesH; ++row) {
            for (int col = 0; col < samplesW; ++col) {
                content += static_cast<char>(col * 255 / (samplesW - 1));
                content += static_cast<char>(128);
                content += static_cast<char>(row * 255 / (samplesH - 1));
            }
        }
        content += "\nEI Q\n";
        return *this;
    }
};

inline std::string MakePdf(const std::vector<Page> &pages)
{
    std::string out = "%PDF-1.4\n%\xE2\xE3\xCF\xD3\n";
    std::vector<size_t> offsets;
    auto object = [&](const std::string &body) {
        offsets.push_back(out.size());
        out += std::to_string(offsets.size()) + " 0 obj\n" + body + "\nendobj\n";
    };
    const int n = static_cast<int>(pages.size());
    // 1 catalog, 2 pages, 3 font, then per page: page object, content stream.
    object("<< /Type /Catalog /Pages 2 0 R >>");
    std::string kids;
    for (int i = 0; i < n; ++i) {
        kids += std::to_string(4 + 2 * i) + " 0 R ";
    }
    object("<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(n) + " >>");
    object("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica >>");
    for (int i = 0; i < n; ++i) {
        const Page &p = pages[static_cast<size_t>(i)];
        char box[96];
        std::snprintf(box, sizeof box, "[0 0 %.2f %.2f]", p.width, p.height);
        object(std::string("<< /Type /Page /Parent 2 0 R /MediaBox ") + box + " /Rotate " +
               std::to_string(p.rotate) + " /Resources << /Font << /F1 3 0 R >> >>" +
               " /Contents " + std::to_string(5 + 2 * i) + " 0 R >>");
        object("<< /Length " + std::to_string(p.content.size()) + " >>\nstream\n" + p.content +
               "\nendstream");
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

inline void WriteFile(const std::string &path, const std::string &bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

inline std::vector<unsigned char> Bytes(const std::string &s)
{
    return std::vector<unsigned char>(s.begin(), s.end());
}

// A fresh folder under the system's temporary folder, removed with the object.
class TempDir {
public:
    TempDir()
    {
        std::string pattern = "/tmp/pagemint-test-XXXXXX";
        if (mkdtemp(pattern.data()) == nullptr) {
            std::abort();
        }
        path_ = pattern;
    }
    ~TempDir()
    {
        (void)!std::system(("chmod -R u+rwx '" + path_ + "' && rm -rf '" + path_ + "'").c_str());
    }
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
    const std::string &path() const { return path_; }
    std::string operator/(const std::string &name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// Encrypts src into dst with user password "user" (qpdf from Debian's packages).
inline bool Encrypt(const std::string &src, const std::string &dst)
{
    const std::string cmd =
        "qpdf --encrypt user owner 256 -- '" + src + "' '" + dst + "' >/dev/null 2>&1";
    return std::system(cmd.c_str()) == 0;
}

// An A4 page, a landscape page and the same landscape page turned by 90 degrees.
inline std::vector<Page> MixedPages()
{
    Page a4;
    a4.width = 595.28;
    a4.height = 841.89;
    Page landscape;
    landscape.width = 200;
    landscape.height = 100;
    Page turned = landscape;
    turned.rotate = 90;
    return {a4, landscape, turned};
}

} // namespace testpdf
