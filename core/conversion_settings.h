// SPDX-License-Identifier: AGPL-3.0-or-later
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The user's conversion choices. Plain data: the window shows it in the option controls,
// reads the controls back into it, and the command-line builder turns it into engine options.
struct ConversionSettings {
    int32_t compression = 32773; // TIFF Compression tag value, or kClassFCompression
    uint32_t jpegQuality = 75;
    uint32_t xResolution = 101;
    int32_t multiPage = 0; // 0 or 1
    uint32_t fromPage = 1;
    uint32_t toPage = 1;
    int32_t bitCountIndex = 0; // index into kBitCountTable, -1 for no selection
    int32_t fileTypeIndex = 7; // index into kFileTypeTable, -1 for no selection
    int32_t pageRange = 0;     // 0 or 1
    int32_t grayscale = 0;     // 0 or 1
    uint32_t yResolution = 101;
};

// Our own code for a Class F fax file; the others are TIFF Compression tag values.
constexpr int32_t kClassFCompression = 88888888;

struct CompressionEntry {
    int32_t code;
    int controlId;       // radio button that selects it
    const char *label;   // the radio button's text
    const char *keyword; // what the engine receives after -c
};

// In the order of the radio buttons.
extern const std::array<CompressionEntry, 7> kCompressionTable;
// Entries of the output type list, in list order.
extern const std::array<const char *, 10> kFileTypeTable;
// Entries of the bit-count list, in list order, and the bits each one passes to the engine.
struct BitCountEntry {
    const char *text;
    int32_t bits;
};
extern const std::array<BitCountEntry, 5> kBitCountTable;

int32_t BitCountFromIndex(int32_t index);
// The engine keyword for a compression code; none for a code outside the table.
std::optional<std::string> CompressionKeyword(int32_t code);
// The output type's text ("TIF"); empty for an index outside the table.
std::string FileTypeText(int32_t index);

enum class SettingsField { JpegQuality, XResolution, YResolution };

struct ValueRange {
    uint32_t lower;
    uint32_t upper;
};

// The values a checked field accepts, bounds included; the window checks its fields with these.
ValueRange FieldRange(SettingsField field);

struct RangeFailure {
    SettingsField field;
    uint32_t lower;
    uint32_t upper;
};

// The first field out of range, in the order jpegQuality, xResolution, yResolution.
std::optional<RangeFailure> Validate(const ConversionSettings &settings);

// The text of a numeric field: blanks and tabs around one unsigned decimal number that fits
// in 32 bits; no sign, no decimal point, no grouping, nothing else.
std::optional<uint32_t> ParseUnsignedText(std::string_view text);
