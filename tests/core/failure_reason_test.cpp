// SPDX-License-Identifier: AGPL-3.0-or-later
#include "core/failure_reason.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

namespace {

struct ReasonRow {
    const char *name;
    std::string line;
    std::string program;
    std::string path;
    std::string reason;
};
void PrintTo(const ReasonRow &row, std::ostream *out)
{
    *out << row.name;
}

class FailureReasonTest : public testing::TestWithParam<ReasonRow> {};

TEST_P(FailureReasonTest, LeavesTheCauseAlone)
{
    EXPECT_EQ(FailureReason(GetParam().line, GetParam().program, GetParam().path),
              GetParam().reason);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, FailureReasonTest,
    testing::Values(
        ReasonRow{"ProgramAndPath", "rastool: /d/a b.pdf: the document is protected by a password",
                  "rastool", "/d/a b.pdf", "the document is protected by a password"},
        // Another file's path is part of the cause.
        ReasonRow{"OutputPathKept", "rastool: cannot write /out/a.tif: No such file or directory",
                  "rastool", "/d/a.pdf", "cannot write /out/a.tif: No such file or directory"},
        ReasonRow{"PathInsideKept", "rastool: page 3 of /d/a.pdf cannot be read", "rastool",
                  "/d/a.pdf", "page 3 of /d/a.pdf cannot be read"},
        ReasonRow{"PathWithoutProgram", "/d/a.pdf: not a PDF document", "rastool", "/d/a.pdf",
                  "not a PDF document"},
        ReasonRow{"OtherProgramKept", "sh: 1: oops", "rastool", "/d/a.pdf", "sh: 1: oops"},
        ReasonRow{"LongerPathKept", "rastool: /d/a.pdf.bak: damaged", "rastool", "/d/a.pdf",
                  "/d/a.pdf.bak: damaged"},
        ReasonRow{"ProgramNameOnlyAsWordStart", "rastoolkit: fails", "rastool", "",
                  "rastoolkit: fails"},
        ReasonRow{"LeadingBlanks", "  rastool: /a.pdf: damaged", "rastool", "/a.pdf", "damaged"},
        ReasonRow{"NothingToStrip", "rastool: x", "", "", "rastool: x"},
        ReasonRow{"Blank", " \t", "rastool", "/a.pdf", ""}),
    [](const testing::TestParamInfo<ReasonRow> &info) { return std::string(info.param.name); });

TEST(EngineFailureReasonTest, TakesTheMessageOrTellsTheStatus)
{
    const EngineCommand command{"", {"/usr/lib/pagemint/rastool", "-i", "/d/a.pdf"}};
    EXPECT_EQ(
        EngineFailureReason(ProcessResult(3, "rastool: /d/a.pdf: protected"), command, "/d/a.pdf"),
        "protected");
    EXPECT_EQ(EngineFailureReason(ProcessResult(7), command, "/d/a.pdf"),
              "the converter ended with status 7");
    EXPECT_EQ(EngineFailureReason(ProcessResult(-1, " "), command, "/d/a.pdf"),
              "the converter did not run to its end");
    // No program to strip: the line stays whole.
    EXPECT_EQ(EngineFailureReason(ProcessResult(1, "rastool: x"), EngineCommand{}, "/d/a.pdf"),
              "rastool: x");
}

} // namespace
