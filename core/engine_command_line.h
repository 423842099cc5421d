// SPDX-License-Identifier: AGPL-3.0-or-later
#pragma once

#include "core/conversion_settings.h"
#include "core/path_components.h"

#include <string>
#include <string_view>
#include <vector>

// One start of the engine. `text` is the readable command line that is logged; `arguments`
// is what is actually started, so a quote inside a file name cannot turn into an option.
struct EngineCommand {
    std::string text;
    std::vector<std::string> arguments; // arguments[0] is the engine path
};

// The engine's path beside the front-end's executable: "rastool.exe" in Windows style,
// "rastool" in Posix style.
std::string EnginePath(std::string_view frontEndPath, PathStyle style);

// The output file: the input's base name with the lower-cased type text as extension, in the
// destination folder, or beside the input when the destination is empty. The destination is
// used as typed; a separator is added unless it already ends in the style's own one.
std::string OutputPath(std::string_view inputPath, std::string_view destination,
                       std::string_view typeText, PathStyle style);

EngineCommand BuildEngineCommandLine(std::string_view enginePath, std::string_view inputPath,
                                     std::string_view destination, std::string_view typeText,
                                     const ConversionSettings &settings, PathStyle style);
