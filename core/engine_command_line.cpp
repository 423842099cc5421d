// SPDX-License-Identifier: AGPL-3.0-or-later
#include "core/engine_command_line.h"

#include <utility>

namespace {

std::string AsciiLower(std::string_view text)
{
    // Only A-Z change: bytes of multi-byte characters pass through untouched.
    std::string lower(text);
    for (char &c : lower) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return lower;
}

bool EndsWith(std::string_view text, std::string_view suffix)
{
    return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

// Builds the logged text and the argument vector side by side from the same pieces: each
// option after one blank, each value after one blank in double quotes, nothing escaped.
class CommandAssembler {
public:
    explicit CommandAssembler(std::string_view program)
    {
        command_.text = "\"";
        command_.text += program;
        command_.text += '"';
        command_.arguments.emplace_back(program);
    }

    void Option(const char *option)
    {
        command_.text += ' ';
        command_.text += option;
        command_.arguments.emplace_back(option);
    }

    void Option(const char *option, std::string_view value)
    {
        Option(option);
        command_.text += " \"";
        command_.text += value;
        command_.text += '"';
        command_.arguments.emplace_back(value);
    }

    EngineCommand Take() { return std::move(command_); }

private:
    EngineCommand command_;
};

} // namespace

std::string EnginePath(std::string_view frontEndPath, PathStyle style)
{
    PathComponents parts = SplitPath(frontEndPath, style);
    parts.baseName = "rastool";
    parts.extension = style == PathStyle::Windows ? ".exe" : "";
    return JoinPath(parts, style);
}

std::string OutputPath(std::string_view inputPath, std::string_view destination,
                       std::string_view typeText, PathStyle style)
{
    const std::string typeExtension = AsciiLower(typeText);
    const PathComponents input = SplitPath(inputPath, style);
    std::string path;
    if (destination.empty()) {
        path = input.drive + input.directory;
    } else {
        path = std::string(destination);
        // Only the style's own separator counts as final: "E:/out/" still gets a '\'.
        const char separator = PreferredSeparator(style);
        if (path.back() != separator) {
            path += separator;
        }
    }
    path += input.baseName;
    path += '.';
    path += typeExtension;
    return path;
}

EngineCommand BuildEngineCommandLine(std::string_view enginePath, std::string_view inputPath,
                                     std::string_view destination, std::string_view typeText,
                                     const ConversionSettings &settings, PathStyle style)
{
    const std::string outputPath = OutputPath(inputPath, destination, typeText, style);
    // The output's extension decides the format, compared exactly as written.
    const bool isTiff = EndsWith(outputPath, "tif");
    const bool isJpeg = EndsWith(outputPath, "jpg");
    const int32_t bits = BitCountFromIndex(settings.bitCountIndex);

    CommandAssembler command(enginePath);
    command.Option("-i", inputPath);
    command.Option("-o", outputPath);
    command.Option("-r", std::to_string(settings.xResolution) + "x" +
                             std::to_string(settings.yResolution));
    if (settings.pageRange == 1) {
        command.Option("-f", std::to_string(settings.fromPage));
        command.Option("-l", std::to_string(settings.toPage));
    }
    command.Option("-b", std::to_string(bits));
    if (bits == 8 && settings.grayscale == 1) {
        command.Option("-g");
    }
    if (isTiff && settings.multiPage == 1) {
        command.Option("-m");
    }
    if (isTiff) {
        if (const std::optional<std::string> keyword = CompressionKeyword(settings.compression)) {
            command.Option("-c", *keyword);
        }
    }
    if (isJpeg) {
        command.Option("-q", std::to_string(settings.jpegQuality));
    }
    return command.Take();
}
