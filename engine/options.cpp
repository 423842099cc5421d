// SPDX-License-Identifier: AGPL-3.0-or-later
#include "engine/options.h"

#include "engine/capabilities.h"

#include <algorithm>
#include <cctype>
#include <climits>
#include <set>

namespace rastool {

namespace {

// Plain decimal digits only: no sign, no blanks, no leading '+', at most INT_MAX.
std::optional<long long> ParseNumber(const std::string &text)
{
    if (text.empty() || text.size() > 10) {
        return std::nullopt;
    }
    long long value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + (c - '0');
    }
    if (value > INT_MAX) {
        return std::nullopt;
    }
    return value;
}

std::string Lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::optional<TiffCompression> ParseCompression(const std::string &text)
{
    const std::string key = Lower(text);
    if (key == "none") {
        return TiffCompression::None;
    }
    if (key == "packbits") {
        return TiffCompression::PackBits;
    }
    if (key == "lzw") {
        return TiffCompression::Lzw;
    }
    if (key == "jpeg") {
        return TiffCompression::Jpeg;
    }
    if (key == "g3") {
        return TiffCompression::G3;
    }
    if (key == "g4") {
        return TiffCompression::G4;
    }
    if (key == "classf") {
        return TiffCompression::ClassF;
    }
    return std::nullopt;
}

ParseResult Error(const std::string &message)
{
    return {std::nullopt, message};
}

std::string Quoted(const std::string &text)
{
    return "\"" + Printable(text) + "\"";
}

} // namespace

std::string Printable(const std::string &text)
{
    std::string out;
    for (const unsigned char c : text) {
        if (c < 0x20 || c == 0x7f) {
            static const char digits[] = "0123456789abcdef";
            out += {'\\', 'x', digits[c >> 4], digits[c & 15]};
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

ParseResult ParseOptions(const std::vector<std::string> &args)
{
    Options o;
    std::set<std::string> seen;
    static const std::set<std::string> withValue{
        "-i", "-o", "-r", "-f", "-l", "-b", "-c", "-q", "--page-time-limit", "--memory-limit"};
    static const std::set<std::string> flags{"-g", "-m"};
    // The window's helper: nothing else on the line.
    if (!args.empty() && args[0] == "--serve") {
        const auto fd = args.size() == 2 ? ParseNumber(args[1]) : std::nullopt;
        if (!fd) {
            return Error("option --serve needs the number of a socket descriptor and nothing else");
        }
        o.action = Options::Action::Serve;
        o.serveFd = static_cast<int>(*fd);
        return {o, {}};
    }
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string &name = args[i];
        if (name == "--help" || name == "--version") {
            Options info;
            info.action = name == "--help" ? Options::Action::Help : Options::Action::Version;
            return {info, {}};
        }
        const bool takesValue = withValue.count(name) != 0;
        if (!takesValue && flags.count(name) == 0) {
            return Error(name.size() > 1 && name[0] == '-' ? "unknown option " + Quoted(name)
                                                           : "unexpected argument " + Quoted(name));
        }
        if (!seen.insert(name).second) {
            return Error("option " + name + " given more than once");
        }
        if (!takesValue) {
            (name == "-g" ? o.grey : o.multiPage) = true;
            continue;
        }
        if (i + 1 >= args.size()) {
            return Error("option " + name + " needs a value");
        }
        const std::string &value = args[++i];
        const auto number = ParseNumber(value);
        if (name == "-i" || name == "-o") {
            if (value.empty()) {
                return Error("option " + name + " needs a file name");
            }
            (name == "-i" ? o.input : o.output) = value;
        } else if (name == "-r") {
            const auto x = value.find('x');
            const auto xDpi =
                x == std::string::npos ? std::nullopt : ParseNumber(value.substr(0, x));
            const auto yDpi =
                x == std::string::npos ? std::nullopt : ParseNumber(value.substr(x + 1));
            if (!xDpi || !yDpi) {
                return Error("option -r needs a resolution such as 101x101, not " + Quoted(value));
            }
            if (*xDpi < kMinDpi || *xDpi > kMaxDpi || *yDpi < kMinDpi || *yDpi > kMaxDpi) {
                return Error("option -r: each resolution must be between " +
                             std::to_string(kMinDpi) + " and " + std::to_string(kMaxDpi) +
                             " dpi, not " + Quoted(value));
            }
            o.xDpi = static_cast<int>(*xDpi);
            o.yDpi = static_cast<int>(*yDpi);
        } else if (name == "-f" || name == "-l") {
            if (!number || *number < 1) {
                return Error("option " + name + " needs a page number from 1, not " +
                             Quoted(value));
            }
            (name == "-f" ? o.firstPage : o.lastPage) = static_cast<int>(*number);
        } else if (name == "-b") {
            if (!number ||
                (*number != 0 && *number != 1 && *number != 4 && *number != 8 && *number != 24)) {
                return Error("option -b needs 0, 1, 4, 8 or 24 bits per pixel, not " +
                             Quoted(value));
            }
            o.bits = static_cast<int>(*number);
        } else if (name == "--page-time-limit") {
            if (!number || *number > kMaxPageTimeLimit) {
                return Error("option --page-time-limit needs seconds from 0 to " +
                             std::to_string(kMaxPageTimeLimit) + ", not " + Quoted(value));
            }
            o.pageTimeLimit = static_cast<int>(*number);
        } else if (name == "--memory-limit") {
            if (!number || *number > kMaxMemoryLimit) {
                return Error("option --memory-limit needs megabytes from 0 to " +
                             std::to_string(kMaxMemoryLimit) + ", not " + Quoted(value));
            }
            o.memoryLimit = static_cast<int>(*number);
        } else if (name == "-q") {
            if (!number || *number > 100) {
                return Error("option -q needs a JPEG quality from 0 to 100, not " + Quoted(value));
            }
            o.jpegQuality = static_cast<int>(*number);
        } else {
            const auto compression = ParseCompression(value);
            if (!compression) {
                return Error("option -c needs none, PACKBITS, lzw, jpeg, g3, g4 or CLASSF, not " +
                             Quoted(value));
            }
            o.compression = *compression;
            o.compressionGiven = true;
        }
    }
    if (o.input.empty()) {
        return Error("no input file: give one with -i");
    }
    if (o.output.empty()) {
        return Error("no output file: give one with -o");
    }
    if (FindTypeForPath(o.output) == nullptr) {
        return Error("cannot tell the image type from " + Quoted(o.output) +
                     ": use .bmp, .emf, .gif, .jpg, .pcx, .png, .ras, .tif, .tga or .wmf");
    }
    return {o, {}};
}

std::string HelpText()
{
    return R"(Usage: rastool -i INPUT.pdf -o OUTPUT.ext [options]

Renders the pages of a PDF document into image files.

  -i FILE      the PDF document to convert
  -o FILE      the image file to write; its extension gives the type:
               bmp emf gif jpg (jpeg) pcx png ras tif (tiff) tga wmf
  -r XxY       resolution in dots per inch across and down, each 10..1200
               (default 101x101)
  -f N         first page to convert (default 1)
  -l N         last page to convert (default the last page; clamped to it)
  -b BITS      bits per pixel: 0 (the type's best, default), 1, 4, 8 or 24;
               a depth the type cannot hold becomes the nearest one it can
  -g           grey levels instead of colours at 8 bits
  -m           TIFF: write all pages into one file
  -c KIND      TIFF compression: none, PACKBITS (default), lzw, jpeg,
               g3, g4 (1 bit), CLASSF (Class F fax: 1728 pixels wide,
               204x98 or 204x196 dpi, all pages in one file)
  -q N         JPEG quality 0..100 (default 75)
  --page-time-limit SECONDS
               stop the run when opening the document or one page takes longer
               (default 600; 0: no limit)
  --memory-limit MB
               stop the run when the pages need more memory at once
               (default 1024; 0: no limit)
  --serve FD   serve the pagemint window over the socket FD (its page counts
               and previews) instead of converting
  --help       show this text
  --version    show the version

With several pages and no multi-page file, each page goes into its own file,
OUTPUT-001.ext, OUTPUT-002.ext, ...: the number has as many digits as the
document's page count, at least three, whatever pages are chosen. Exactly one
page converted goes to OUTPUT.ext. Each file appears only when it is complete,
replacing a file of that name in one step; a run that fails or is killed leaves
no partial file. Two runs writing the same names at the same time both go on:
every file is complete and comes from one run or the other.
-m, -c and -g where they have no effect are ignored with a warning. A damaged
document that could be mended is converted with a warning saying what was
mended; warnings leave the exit status as it is.

Exit status:
  0  success
  1  bad options
  2  input file missing, unreadable or damaged (with a file per page, the
     pages before the first one that cannot be read are written)
  3  input file protected by a password
  4  page range outside the document
  5  output file cannot be written (folder missing, not writable, disk full,
     or the output would replace the input document)
  6  internal error
  7  a page took longer than the time limit (--page-time-limit)
  8  a page needed more memory than the memory limit (--memory-limit)
)";
}

} // namespace rastool
