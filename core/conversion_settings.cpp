// SPDX-License-Identifier: AGPL-3.0-or-later
#include "core/conversion_settings.h"

#include <limits>

const std::array<CompressionEntry, 7> kCompressionTable = {{
    {1, 1026, "None", "none"},
    {32773, 1014, "Packbits", "PACKBITS"},
    {3, 1033, "CCITT group 3", "g3"},
    {4, 1015, "CCITT group 4", "g4"},
    {5, 1016, "LZW", "lzw"},
    {7, 1017, "JPEG", "jpeg"},
    {kClassFCompression, 1039, "ClassF Fax File", "CLASSF"},
}};

const std::array<const char *, 10> kFileTypeTable = {"BMP", "EMF", "GIF", "JPG", "PCX",
                                                     "PNG", "RAS", "TIF", "TGA", "WMF"};

const std::array<BitCountEntry, 5> kBitCountTable = {{
    {"Auto", 0},
    {"1", 1},
    {"4", 4},
    {"8", 8},
    {"24", 24},
}};

int32_t BitCountFromIndex(int32_t index)
{
    if (index < 0 || static_cast<size_t>(index) >= kBitCountTable.size()) {
        return 0;
    }
    return kBitCountTable[static_cast<size_t>(index)].bits;
}

std::optional<std::string> CompressionKeyword(int32_t code)
{
    for (const CompressionEntry &entry : kCompressionTable) {
        if (entry.code == code) {
            return std::string(entry.keyword);
        }
    }
    return std::nullopt;
}

std::string FileTypeText(int32_t index)
{
    if (index < 0 || static_cast<size_t>(index) >= kFileTypeTable.size()) {
        return {};
    }
    return kFileTypeTable[static_cast<size_t>(index)];
}

ValueRange FieldRange(SettingsField field)
{
    switch (field) {
    case SettingsField::JpegQuality:
        return {0, 100};
    case SettingsField::XResolution:
    case SettingsField::YResolution:
        return {10, 1200};
    }
    return {0, 0};
}

std::optional<RangeFailure> Validate(const ConversionSettings &settings)
{
    const struct {
        SettingsField field;
        uint32_t value;
    } checks[] = {
        {SettingsField::JpegQuality, settings.jpegQuality},
        {SettingsField::XResolution, settings.xResolution},
        {SettingsField::YResolution, settings.yResolution},
    };
    for (const auto &check : checks) {
        const ValueRange range = FieldRange(check.field);
        if (check.value < range.lower || check.value > range.upper) {
            return RangeFailure{check.field, range.lower, range.upper};
        }
    }
    return std::nullopt;
}

namespace {

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

} // namespace

std::optional<uint32_t> ParseUnsignedText(std::string_view text)
{
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && IsBlank(text[begin])) {
        ++begin;
    }
    while (end > begin && IsBlank(text[end - 1])) {
        --end;
    }
    if (begin == end) {
        return std::nullopt;
    }
    uint64_t value = 0;
    for (size_t i = begin; i < end; ++i) {
        const char c = text[i];
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + static_cast<uint64_t>(c - '0');
        // Checked per digit so that a long run of digits cannot wrap the accumulator.
        if (value > std::numeric_limits<uint32_t>::max()) {
            return std::nullopt;
        }
    }
    return static_cast<uint32_t>(value);
}
