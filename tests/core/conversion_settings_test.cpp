// SPDX-License-Identifier: AGPL-3.0-or-later
#include "core/conversion_settings.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace {

TEST(ConversionSettingsTest, FreshRecordHoldsTheDefaults)
{
    const ConversionSettings s;
    EXPECT_EQ(s.compression, 32773);
    EXPECT_EQ(s.jpegQuality, 75u);
    EXPECT_EQ(s.xResolution, 101u);
    EXPECT_EQ(s.yResolution, 101u);
    EXPECT_EQ(s.multiPage, 0);
    EXPECT_EQ(s.fromPage, 1u);
    EXPECT_EQ(s.toPage, 1u);
    EXPECT_EQ(s.bitCountIndex, 0);
    EXPECT_EQ(s.fileTypeIndex, 7);
    EXPECT_EQ(s.pageRange, 0);
    EXPECT_EQ(s.grayscale, 0);
    EXPECT_EQ(FileTypeText(s.fileTypeIndex), "TIF");
    EXPECT_EQ(CompressionKeyword(s.compression), "PACKBITS");
    EXPECT_FALSE(Validate(s).has_value());
}

struct BitCountRow {
    int32_t index;
    int32_t bits;
};
class BitCountFromIndexTest : public testing::TestWithParam<BitCountRow> {};
TEST_P(BitCountFromIndexTest, MapsIndexToBits)
{
    EXPECT_EQ(BitCountFromIndex(GetParam().index), GetParam().bits);
}
INSTANTIATE_TEST_SUITE_P(Table, BitCountFromIndexTest,
                         testing::Values(BitCountRow{0, 0}, BitCountRow{1, 1}, BitCountRow{2, 4},
                                         BitCountRow{3, 8}, BitCountRow{4, 24}, BitCountRow{-1, 0},
                                         BitCountRow{5, 0}, BitCountRow{INT32_MIN, 0},
                                         BitCountRow{INT32_MAX, 0}));

struct KeywordRow {
    int32_t code;
    std::optional<std::string> keyword;
};
class CompressionKeywordTest : public testing::TestWithParam<KeywordRow> {};
TEST_P(CompressionKeywordTest, KeywordOrNone)
{
    EXPECT_EQ(CompressionKeyword(GetParam().code), GetParam().keyword);
}
INSTANTIATE_TEST_SUITE_P(Table, CompressionKeywordTest,
                         testing::Values(KeywordRow{1, "none"}, KeywordRow{32773, "PACKBITS"},
                                         KeywordRow{3, "g3"}, KeywordRow{4, "g4"},
                                         KeywordRow{5, "lzw"}, KeywordRow{7, "jpeg"},
                                         KeywordRow{88888888, "CLASSF"},
                                         KeywordRow{0, std::nullopt}, KeywordRow{2, std::nullopt},
                                         KeywordRow{6, std::nullopt}, KeywordRow{8, std::nullopt},
                                         KeywordRow{-1, std::nullopt}));

TEST(CompressionTableTest, RadioButtonsInOrderWithTheirLabels)
{
    const int expectedIds[] = {1026, 1014, 1033, 1015, 1016, 1017, 1039};
    const char *expectedLabels[] = {"None", "Packbits", "CCITT group 3",  "CCITT group 4",
                                    "LZW",  "JPEG",     "ClassF Fax File"};
    for (size_t i = 0; i < kCompressionTable.size(); ++i) {
        EXPECT_EQ(kCompressionTable[i].controlId, expectedIds[i]) << i;
        EXPECT_STREQ(kCompressionTable[i].label, expectedLabels[i]) << i;
    }
}

TEST(FileTypeTextTest, TableAndEdges)
{
    const char *expected[] = {"BMP", "EMF", "GIF", "JPG", "PCX", "PNG", "RAS", "TIF", "TGA", "WMF"};
    for (int32_t i = 0; i < 10; ++i) {
        EXPECT_EQ(FileTypeText(i), expected[i]) << i;
    }
    EXPECT_EQ(FileTypeText(-1), "");
    EXPECT_EQ(FileTypeText(10), "");
    EXPECT_EQ(FileTypeText(INT32_MIN), "");
}

struct ValidateRow {
    const char *name;
    uint32_t jpegQuality;
    uint32_t xResolution;
    uint32_t yResolution;
    std::optional<SettingsField> field;
    uint32_t lower;
    uint32_t upper;
};
class ValidateTest : public testing::TestWithParam<ValidateRow> {};
TEST_P(ValidateTest, FirstFieldOutOfRange)
{
    ConversionSettings s;
    s.jpegQuality = GetParam().jpegQuality;
    s.xResolution = GetParam().xResolution;
    s.yResolution = GetParam().yResolution;
    const std::optional<RangeFailure> failure = Validate(s);
    ASSERT_EQ(failure.has_value(), GetParam().field.has_value());
    if (failure) {
        EXPECT_EQ(failure->field, *GetParam().field);
        EXPECT_EQ(failure->lower, GetParam().lower);
        EXPECT_EQ(failure->upper, GetParam().upper);
    }
}
constexpr auto Q = SettingsField::JpegQuality;
constexpr auto X = SettingsField::XResolution;
constexpr auto Y = SettingsField::YResolution;
INSTANTIATE_TEST_SUITE_P(
    Bounds, ValidateTest,
    testing::Values(ValidateRow{"AllAtLowerBound", 0, 10, 10, std::nullopt, 0, 0},
                    ValidateRow{"AllAtUpperBound", 100, 1200, 1200, std::nullopt, 0, 0},
                    ValidateRow{"Quality101", 101, 101, 101, Q, 0, 100},
                    ValidateRow{"X9", 75, 9, 101, X, 10, 1200},
                    ValidateRow{"X1201", 75, 1201, 101, X, 10, 1200},
                    ValidateRow{"Y9", 75, 101, 9, Y, 10, 1200},
                    ValidateRow{"Y1201", 75, 101, 1201, Y, 10, 1200},
                    ValidateRow{"QualityBeforeX", 150, 5, 101, Q, 0, 100},
                    ValidateRow{"XBeforeY", 75, 5, 5000, X, 10, 1200},
                    ValidateRow{"HugeComparedUnsigned", 75, 101, 4294967295u, Y, 10, 1200}),
    [](const testing::TestParamInfo<ValidateRow> &info) { return info.param.name; });

TEST(ValidateTest, PageRangeIsNotChecked)
{
    ConversionSettings s;
    s.pageRange = 1;
    s.fromPage = 7;
    s.toPage = 3;
    EXPECT_FALSE(Validate(s).has_value());
    s.fromPage = 0;
    s.toPage = 4294967295u;
    EXPECT_FALSE(Validate(s).has_value());
}

struct ParseRow {
    const char *name;
    const char *text;
    std::optional<uint32_t> value;
};
class ParseUnsignedTextTest : public testing::TestWithParam<ParseRow> {};
TEST_P(ParseUnsignedTextTest, AcceptsOnlyOneUnsignedNumber)
{
    EXPECT_EQ(ParseUnsignedText(GetParam().text), GetParam().value);
}
INSTANTIATE_TEST_SUITE_P(
    Rule, ParseUnsignedTextTest,
    testing::Values(
        ParseRow{"Plain", "101", 101u}, ParseRow{"Zero", "0", 0u},
        ParseRow{"LeadingZeros", "007", 7u}, ParseRow{"BlanksAndTabsAround", " \t 42\t ", 42u},
        ParseRow{"Max32Bit", "4294967295", 4294967295u},
        ParseRow{"Past32Bit", "4294967296", std::nullopt},
        ParseRow{"FarPast64Bit", "99999999999999999999999", std::nullopt},
        ParseRow{"Empty", "", std::nullopt}, ParseRow{"OnlyBlanks", " \t ", std::nullopt},
        ParseRow{"Minus", "-5", std::nullopt}, ParseRow{"Plus", "+5", std::nullopt},
        ParseRow{"MinusZero", "-0", std::nullopt}, ParseRow{"DecimalPoint", "10.5", std::nullopt},
        ParseRow{"TrailingPoint", "10.", std::nullopt},
        ParseRow{"GroupingComma", "1,200", std::nullopt},
        ParseRow{"BlankInside", "1 200", std::nullopt},
        ParseRow{"TrailingLetter", "12a", std::nullopt}, ParseRow{"Hex", "0x10", std::nullopt},
        ParseRow{"NewlineAround", "12\n", std::nullopt},
        ParseRow{"NonAsciiDigit", "\xd9\xa3", std::nullopt}),
    [](const testing::TestParamInfo<ParseRow> &info) { return info.param.name; });

TEST(ParseUnsignedTextTest, EmbeddedNulIsRefused)
{
    EXPECT_EQ(ParseUnsignedText(std::string_view("12\0"
                                                 "3",
                                                 4)),
              std::nullopt);
}

} // namespace
