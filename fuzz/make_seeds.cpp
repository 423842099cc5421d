// SPDX-License-Identifier: AGPL-3.0-or-later
// Writes the seed corpora of the fuzz targets into <folder>/render and <folder>/options:
// small PDF documents of the kinds the tests use (also rewritten by qpdf with compressed object
// streams and encrypted, when qpdf is installed) and typical engine argument vectors (without the
// program name).
#include "render/test_pdf.h"

#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

namespace {

std::string Join(const std::vector<std::string> &args)
{
    // The option fuzzer splits its input at NUL bytes into one argument each.
    std::string out;
    for (size_t i = 0; i < args.size(); ++i) {
        out += (i ? std::string(1, '\0') : std::string()) + args[i];
    }
    return out;
}

bool Qpdf(const std::string &options, const std::string &src, const std::string &dst)
{
    const std::string cmd = "qpdf " + options + " '" + src + "' '" + dst + "' >/dev/null 2>&1";
    const int status = std::system(cmd.c_str());
    // qpdf exits 3 when it succeeded with warnings.
    return status != -1 && WIFEXITED(status) &&
           (WEXITSTATUS(status) == 0 || WEXITSTATUS(status) == 3);
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::cerr << "usage: make_seeds <folder>\n";
        return 2;
    }
    namespace fs = std::filesystem;
    const fs::path root = argv[1];
    const fs::path pdfs = root / "render";
    const fs::path options = root / "options";
    fs::create_directories(pdfs);
    fs::create_directories(options);

    using testpdf::Page;
    Page text;
    text.Text(72, 700, 24, "Hello fuzzer").Text(72, 650, 10, "small text (with) \\ escapes");
    Page shapes;
    shapes.width = 300;
    shapes.height = 200;
    shapes.Rect(10, 10, 100, 50, {255, 0, 0}).Gradient(150, 20, 120, 160, 8, 8);
    Page rotated = shapes;
    rotated.rotate = 90;
    Page empty;
    empty.width = 0;
    empty.height = 0;

    testpdf::WriteFile((pdfs / "text.pdf").string(), testpdf::MakePdf({text}));
    testpdf::WriteFile((pdfs / "shapes.pdf").string(), testpdf::MakePdf({shapes, rotated}));
    testpdf::WriteFile((pdfs / "empty_page.pdf").string(), testpdf::MakePdf({empty, text}));
    const std::string plain = (pdfs / "shapes.pdf").string();
    Qpdf("--object-streams=generate --compress-streams=y", plain,
         (pdfs / "object_streams.pdf").string());
    Qpdf("--encrypt user owner 128 --", plain, (pdfs / "encrypted.pdf").string());
    Qpdf("--encrypt '' owner 256 --", plain, (pdfs / "owner_only.pdf").string());

    const std::vector<std::vector<std::string>> vectors = {
        {"-i", "in.pdf", "-o", "out.tif", "-r", "101x101", "-b", "0", "-c", "PACKBITS"},
        {"-i", "in.pdf", "-o", "out.jpg", "-r", "150x150", "-f", "2", "-l", "5", "-b", "24", "-q",
         "75"},
        {"-i", "in.pdf", "-o", "out.tif", "-r", "300x300", "-b", "8", "-g", "-m", "-c", "lzw"},
        {"-i", "in.pdf", "-o", "out.TIFF", "-r", "204x196", "-b", "1", "-c", "CLASSF"},
        {"-o", "out.png", "-i", "in.pdf", "-b", "4"},
        {"--help"},
        {"--version"},
        {"-i", "", "-o", "x.gif", "-r", "0x0", "-q", "101"},
    };
    int n = 0;
    for (const auto &v : vectors) {
        testpdf::WriteFile((options / ("args" + std::to_string(n++))).string(), Join(v));
    }
    return 0;
}
