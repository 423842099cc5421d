// SPDX-License-Identifier: AGPL-3.0-or-later
#include "engine/converter.h"
#include "engine/exit_status.h"
#include "rastool_runner.h"

#include "../render/test_pdf.h"

#include <gtest/gtest.h>

using namespace rastool;

namespace {

struct ParallelRow {
    const char *name;
    std::vector<std::string> extra; // options after -i and -o
};

class ConverterParallelTest : public ::testing::TestWithParam<ParallelRow> {};

// However many workers render, the files are byte for byte those of one worker: bands and
// pages reach the writers in order, and error diffusion crosses bands in order.
TEST_P(ConverterParallelTest, SameFilesWithOneOrManyWorkers)
{
    const ParallelRow &row = GetParam();
    testpdf::TempDir dir;
    std::vector<testpdf::Page> pages;
    for (int i = 0; i < 4; ++i) {
        testpdf::Page p;
        p.Rect(50 + i * 40, 100, 200, 500, {40 * i, 200 - 40 * i, 90})
            .Gradient(300, 300, 250, 450)
            .Text(60, 700, 30, "Page " + std::to_string(i + 1));
        pages.push_back(p);
    }
    testpdf::WriteFile(dir / "in.pdf", testpdf::MakePdf(pages));
    ::mkdir((dir / "one").c_str(), 0755);
    ::mkdir((dir / "many").c_str(), 0755);

    for (const auto &[folder, workers] :
         {std::pair<std::string, unsigned>{"one", 1}, {"many", 3}}) {
        std::vector<std::string> args{"-i", dir / "in.pdf", "-o", dir / (folder + "/" + row.name)};
        args.insert(args.end(), row.extra.begin(), row.extra.end());
        const auto parsed = ParseOptions(args);
        ASSERT_TRUE(parsed.options) << parsed.error;
        Convert(
            *parsed.options, [](const std::string &) {}, workers);
    }
    const auto files = engine_test::FilesIn(dir / "one");
    ASSERT_FALSE(files.empty());
    EXPECT_EQ(engine_test::FilesIn(dir / "many"), files);
    for (const auto &name : files) {
        EXPECT_TRUE(engine_test::ReadAll(dir / ("one/" + name)) ==
                    engine_test::ReadAll(dir / ("many/" + name)))
            << name;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ConverterParallelTest,
    ::testing::Values(ParallelRow{"all.tif", {"-m", "-c", "lzw", "-r", "120x90"}},
                      ParallelRow{"fax.tif", {"-c", "CLASSF", "-r", "200x200"}},
                      ParallelRow{"pages.png", {"-b", "8", "-r", "60x60"}},
                      ParallelRow{"dither.png", {"-b", "1", "-f", "2", "-l", "2", "-r", "200x200"}},
                      ParallelRow{"grey.jpg",
                                  {"-b", "8", "-g", "-f", "3", "-l", "3", "-r", "150x300"}}),
    [](const auto &info) {
        std::string n = info.param.name;
        return n.substr(0, n.find('.'));
    });

TEST(ConverterTest, OutputFolderIsCheckedBeforeAnyPageIsRendered)
{
    testpdf::TempDir dir;
    testpdf::Page p;
    testpdf::WriteFile(dir / "in.pdf", testpdf::MakePdf({p, p}));
    const auto parsed = ParseOptions({"-i", dir / "in.pdf", "-o", dir / "missing/x.png"});
    ASSERT_TRUE(parsed.options);
    try {
        Convert(
            *parsed.options, [](const std::string &) {}, 2);
        FAIL() << "converted into a missing folder";
    } catch (const Failure &e) {
        EXPECT_EQ(e.status(), ExitStatus::OutputUnwritable);
        EXPECT_NE(std::string(e.what()).find("missing/x-001.png"), std::string::npos) << e.what();
    }
}

} // namespace
