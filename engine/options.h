// SPDX-License-Identifier: AGPL-3.0-or-later
#pragma once

#include "engine/writers/image_writer.h"

#include <optional>
#include <string>
#include <vector>

namespace rastool {

struct Options {
    enum class Action { Convert, Help, Version, Serve };
    Action action = Action::Convert;
    std::string input;
    std::string output;
    int xDpi = 101;
    int yDpi = 101;
    // 1-based page numbers; absent means from the first / to the last page.
    std::optional<int> firstPage;
    std::optional<int> lastPage;
    int bits = 0; // 0 lets the engine choose
    bool grey = false;
    bool multiPage = false;
    TiffCompression compression = TiffCompression::PackBits;
    bool compressionGiven = false; // -c was on the command line
    int jpegQuality = 75;
    // Seconds one page may take before the run is ended; 0 for no limit.
    int pageTimeLimit = 600;
    // Megabytes the PDF library may hold at once, all pages together; 0 for no limit.
    int memoryLimit = 1024;
    // Serve: the descriptor of the socket the window talks through.
    int serveFd = -1;
};

struct ParseResult {
    std::optional<Options> options;
    std::string error; // one line, set when options is empty
};

// Reads the arguments after the program name. Pure: no file is touched.
ParseResult ParseOptions(const std::vector<std::string> &args);

std::string HelpText();

// The text with its control characters shown as \xNN: a line break in a file name must not split
// a one-line message, nor an escape sequence in it reach the terminal.
std::string Printable(const std::string &text);

constexpr int kMinDpi = 10;
constexpr int kMaxDpi = 1200;
constexpr int kMaxPageTimeLimit = 86400;
constexpr int kMaxMemoryLimit = 1 << 20;

} // namespace rastool
