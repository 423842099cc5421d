// SPDX-License-Identifier: AGPL-3.0-or-later
#include "core/path_components.h"

#include <gtest/gtest.h>

namespace {

struct SplitRow {
    const char *name;
    PathStyle style;
    const char *path;
    PathComponents expected;
};
class SplitPathTest : public testing::TestWithParam<SplitRow> {};
TEST_P(SplitPathTest, SplitsIntoFourPiecesThatConcatenateBack)
{
    const SplitRow &row = GetParam();
    const PathComponents parts = SplitPath(row.path, row.style);
    EXPECT_EQ(parts.drive, row.expected.drive);
    EXPECT_EQ(parts.directory, row.expected.directory);
    EXPECT_EQ(parts.baseName, row.expected.baseName);
    EXPECT_EQ(parts.extension, row.expected.extension);
    EXPECT_EQ(parts.drive + parts.directory + parts.baseName + parts.extension, row.path);
}
constexpr auto W = PathStyle::Windows;
constexpr auto P = PathStyle::Posix;
INSTANTIATE_TEST_SUITE_P(
    Cases, SplitPathTest,
    testing::Values(
        SplitRow{"WinFull", W, "D:\\Docs\\report.pdf", {"D:", "\\Docs\\", "report", ".pdf"}},
        SplitRow{"WinSeveralDots", W, "D:\\Docs\\a.b.c.pdf", {"D:", "\\Docs\\", "a.b.c", ".pdf"}},
        SplitRow{"WinNoExtension", W, "D:\\Docs\\report", {"D:", "\\Docs\\", "report", ""}},
        SplitRow{"WinDotInDirectoryOnly", W, "D:\\v1.2\\report", {"D:", "\\v1.2\\", "report", ""}},
        SplitRow{"WinUnc", W, "\\\\server\\share\\x.pdf", {"", "\\\\server\\share\\", "x", ".pdf"}},
        SplitRow{"WinForwardSlash", W, "E:/out/x.pdf", {"E:", "/out/", "x", ".pdf"}},
        SplitRow{"WinMixedSeparators", W, "E:\\a/b\\c", {"E:", "\\a/b\\", "c", ""}},
        SplitRow{"WinDriveOnly", W, "C:", {"C:", "", "", ""}},
        SplitRow{"WinDriveRelative", W, "C:x.pdf", {"C:", "", "x", ".pdf"}},
        SplitRow{"WinTrailingSeparator", W, "C:\\dir\\", {"C:", "\\dir\\", "", ""}},
        SplitRow{"WinLeadingDot", W, "C:\\.hidden", {"C:", "\\", "", ".hidden"}},
        SplitRow{"WinTrailingDot", W, "C:\\x.", {"C:", "\\", "x", "."}},
        SplitRow{"Empty", W, "", {"", "", "", ""}},
        SplitRow{"PosixFull", P, "/home/u/report.pdf", {"", "/home/u/", "report", ".pdf"}},
        SplitRow{"PosixBackslashIsName", P, "/tmp/a\\b.pdf", {"", "/tmp/", "a\\b", ".pdf"}},
        SplitRow{"PosixColonIsNoDrive", P, "C:/x.pdf", {"", "C:/", "x", ".pdf"}},
        SplitRow{"PosixBlanksAndQuotes",
                 P,
                 "/d/my \"best\" file.pdf",
                 {"", "/d/", "my \"best\" file", ".pdf"}},
        SplitRow{"PosixUtf8",
                 P,
                 "/d/\xc3\xa9t\xc3\xa9/r\xc3\xa9sum\xc3\xa9.pdf",
                 {"", "/d/\xc3\xa9t\xc3\xa9/", "r\xc3\xa9sum\xc3\xa9", ".pdf"}},
        SplitRow{"PosixUtf8NoExtension",
                 P,
                 "/d/\xe6\x96\x87\xe6\x9b\xb8",
                 {"", "/d/", "\xe6\x96\x87\xe6\x9b\xb8", ""}},
        SplitRow{"PosixRelative", P, "report.pdf", {"", "", "report", ".pdf"}}),
    [](const testing::TestParamInfo<SplitRow> &info) { return info.param.name; });

struct JoinRow {
    const char *name;
    PathStyle style;
    PathComponents parts;
    const char *expected;
};
class JoinPathTest : public testing::TestWithParam<JoinRow> {};
TEST_P(JoinPathTest, AddsSeparatorAndDotOnlyWhereMissing)
{
    EXPECT_EQ(JoinPath(GetParam().parts, GetParam().style), GetParam().expected);
}
INSTANTIATE_TEST_SUITE_P(
    Cases, JoinPathTest,
    testing::Values(
        JoinRow{"WinAllPresent", W, {"C:", "\\Apps\\", "rastool", ".exe"}, "C:\\Apps\\rastool.exe"},
        JoinRow{"WinDriveLetterOnly", W, {"C", "\\Apps\\", "x", "exe"}, "C:\\Apps\\x.exe"},
        JoinRow{"WinDirectoryWithoutSeparator", W, {"", "\\Apps", "x", ".exe"}, "\\Apps\\x.exe"},
        JoinRow{"WinDirectoryEndsInSlash", W, {"", "C/", "x", ""}, "C/x"},
        JoinRow{"WinNoDirectory", W, {"C:", "", "x", ".exe"}, "C:x.exe"},
        JoinRow{"PosixAddsSlash", P, {"", "/opt/pm", "rastool", ""}, "/opt/pm/rastool"},
        JoinRow{"PosixBackslashIsNoSeparator", P, {"", "/opt\\", "x", ""}, "/opt\\/x"},
        JoinRow{"PosixIgnoresDrive", P, {"C:", "/opt/", "x", ".y"}, "/opt/x.y"}),
    [](const testing::TestParamInfo<JoinRow> &info) { return info.param.name; });

} // namespace
