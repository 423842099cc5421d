// SPDX-License-Identifier: AGPL-3.0-or-later
#include "engine/options.h"

#include <gtest/gtest.h>

using rastool::Options;
using rastool::ParseOptions;
using rastool::TiffCompression;

namespace {

std::vector<std::string> With(std::vector<std::string> extra)
{
    std::vector<std::string> args{"-i", "in.pdf", "-o", "out.tif"};
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
}

} // namespace

TEST(OptionsTest, ReadsTheFrontEndsLinesInAnyOrder)
{
    const auto a = ParseOptions({"-i", "/d/report.pdf", "-o", "/e/report.tif", "-r", "300x150",
                                 "-b", "8", "-g", "-m", "-c", "lzw"});
    ASSERT_TRUE(a.options) << a.error;
    EXPECT_EQ(a.options->input, "/d/report.pdf");
    EXPECT_EQ(a.options->output, "/e/report.tif");
    EXPECT_EQ(a.options->xDpi, 300);
    EXPECT_EQ(a.options->yDpi, 150);
    EXPECT_EQ(a.options->bits, 8);
    EXPECT_TRUE(a.options->grey);
    EXPECT_TRUE(a.options->multiPage);
    EXPECT_EQ(a.options->compression, TiffCompression::Lzw);
    EXPECT_FALSE(a.options->firstPage);

    const auto b = ParseOptions({"-q", "0", "-l", "5", "-b", "24", "-f", "2", "-r", "150x150", "-o",
                                 "a b/x.JPEG", "-i", "-odd name.pdf"});
    ASSERT_TRUE(b.options) << b.error;
    EXPECT_EQ(b.options->input, "-odd name.pdf");
    EXPECT_EQ(*b.options->firstPage, 2);
    EXPECT_EQ(*b.options->lastPage, 5);
    EXPECT_EQ(b.options->jpegQuality, 0);

    // Defaults equal the front-end's.
    const auto d = ParseOptions(With({}));
    ASSERT_TRUE(d.options);
    EXPECT_EQ(d.options->xDpi, 101);
    EXPECT_EQ(d.options->yDpi, 101);
    EXPECT_EQ(d.options->bits, 0);
    EXPECT_EQ(d.options->jpegQuality, 75);
    EXPECT_EQ(d.options->compression, TiffCompression::PackBits);
    EXPECT_FALSE(d.options->grey || d.options->multiPage);
}

TEST(OptionsTest, EveryCompressionKeyword)
{
    const std::vector<std::pair<std::string, TiffCompression>> rows{
        {"none", TiffCompression::None},    {"PACKBITS", TiffCompression::PackBits},
        {"lzw", TiffCompression::Lzw},      {"jpeg", TiffCompression::Jpeg},
        {"g3", TiffCompression::G3},        {"g4", TiffCompression::G4},
        {"CLASSF", TiffCompression::ClassF}};
    for (const auto &[keyword, expected] : rows) {
        const auto r = ParseOptions(With({"-c", keyword}));
        ASSERT_TRUE(r.options) << keyword;
        EXPECT_EQ(r.options->compression, expected) << keyword;
    }
}

TEST(OptionsTest, HelpAndVersionWinOverTheRest)
{
    EXPECT_EQ(ParseOptions({"--help"}).options->action, Options::Action::Help);
    EXPECT_EQ(ParseOptions({"-i", "x.pdf", "--version"}).options->action, Options::Action::Version);
    // A file named --help is a value, not the option.
    const auto r = ParseOptions({"-i", "--help", "-o", "a.png"});
    ASSERT_TRUE(r.options);
    EXPECT_EQ(r.options->action, Options::Action::Convert);
    EXPECT_EQ(r.options->input, "--help");
}

TEST(OptionsTest, ServeTakesTheSocketAndNothingElse)
{
    const auto r = ParseOptions({"--serve", "3"});
    ASSERT_TRUE(r.options);
    EXPECT_EQ(r.options->action, Options::Action::Serve);
    EXPECT_EQ(r.options->serveFd, 3);
}

class BadOptionsTest : public ::testing::TestWithParam<std::vector<std::string>> {};

TEST_P(BadOptionsTest, RefusedWithOneLine)
{
    const auto r = ParseOptions(GetParam());
    EXPECT_FALSE(r.options);
    EXPECT_FALSE(r.error.empty());
    EXPECT_EQ(r.error.find('\n'), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, BadOptionsTest,
    ::testing::Values(std::vector<std::string>{}, std::vector<std::string>{"-i", "in.pdf"},
                      std::vector<std::string>{"-o", "out.png"}, With({"-x"}), With({"stray"}),
                      With({"-i", "again.pdf"}), With({"-g", "-g"}), With({"-r"}),
                      With({"-r", "101"}), With({"-r", "101x"}), With({"-r", "x101"}),
                      With({"-r", "101X101"}), With({"-r", "+101x101"}), With({"-r", " 101x101"}),
                      With({"-r", "9x101"}), With({"-r", "101x1201"}), With({"-r", "101x101x101"}),
                      With({"-f", "0"}), With({"-f", "-1"}), With({"-l", "2.5"}),
                      With({"-l", "99999999999"}), With({"-b", "2"}), With({"-b", "16"}),
                      With({"-b", ""}), With({"-q", "101"}), With({"-q", "-5"}),
                      With({"-c", "zip"}), With({"-c", ""}),
                      std::vector<std::string>{"-i", "in.pdf", "-o", "out.pdf"},
                      std::vector<std::string>{"-i", "in.pdf", "-o", "out"},
                      std::vector<std::string>{"-i", "in.pdf", "-o", "dir.png/out"},
                      std::vector<std::string>{"-i", "", "-o", "out.png"},
                      std::vector<std::string>{"--serve"},
                      std::vector<std::string>{"--serve", "-3"},
                      std::vector<std::string>{"--serve", "3", "-i", "in.pdf"}));
