// SPDX-License-Identifier: AGPL-3.0-or-later
#pragma once

#include "engine/writers/image_writer.h"

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace rastool {

// What one pixel is stored as.
enum class Depth {
    Bw1,   // 1 bit, black and white
    Pal4,  // 4 bits, a palette of up to 16 colours
    Pal8,  // 8 bits, a palette of up to 256 colours
    Grey8, // 8 bits, 256 grey levels
    Rgb24, // 24 bits, true colour
};

int BitsOf(Depth depth);
const std::vector<Depth> &AllDepths();
std::string DepthName(Depth depth);

using WriterFactory = std::unique_ptr<ImageWriter> (*)(std::FILE *, const WriterOptions &);

struct TypeCapability {
    std::string name;                    // "TIF"
    std::vector<std::string> extensions; // lower case, without the dot
    std::vector<Depth> depths;           // what the type can hold
    bool multiPage;                      // one file can hold several pages
    WriterFactory factory;
};

// The ten output types. The engine and its tests both read this table.
const std::vector<TypeCapability> &Capabilities();

// The type for an output path's extension (case-insensitive), or nullptr.
const TypeCapability *FindTypeForPath(const std::string &path);

// The depths a file of this type can hold with the TIFF compression: the fax codings hold
// only black and white, JPEG inside TIFF only grey and true colour.
std::vector<Depth> HeldDepths(const TypeCapability &type, TiffCompression compression);

bool IsFaxCompression(TiffCompression compression);

struct DepthChoice {
    Depth depth;
    // The request could not be held and was replaced by the nearest depth that can.
    bool substituted;
};

// Resolves -b (0 = automatic) and -g against what the type holds.
DepthChoice ChooseDepth(const std::vector<Depth> &held, int requestedBits, bool grey);

} // namespace rastool
