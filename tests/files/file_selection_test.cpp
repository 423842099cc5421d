// SPDX-License-Identifier: AGPL-3.0-or-later
#include "files/file_selection.h"

#include <gtest/gtest.h>

namespace {

struct SelectionCase {
    const char *name;
    PathStyle style;
    FileSelection selection;
    PathList paths;
    std::string inputDir;
};

class ResolveSelectionTest : public ::testing::TestWithParam<SelectionCase> {};

TEST_P(ResolveSelectionTest, GivesPathsAndRememberedFolder)
{
    const SelectionCase &c = GetParam();
    const ResolvedSelection resolved = ResolveSelection(c.selection, c.style);
    EXPECT_EQ(resolved.paths, c.paths);
    EXPECT_EQ(resolved.inputDir, c.inputDir);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, ResolveSelectionTest,
    ::testing::Values(
        // One file: its folder is remembered with a trailing separator.
        SelectionCase{"WindowsOne",
                      PathStyle::Windows,
                      {"C:\\Docs\\a.pdf", {}},
                      {"C:\\Docs\\a.pdf"},
                      "C:\\Docs\\"},
        SelectionCase{
            "WindowsOneInRoot", PathStyle::Windows, {"C:\\a.pdf", {}}, {"C:\\a.pdf"}, "C:\\"},
        SelectionCase{
            "PosixOne", PathStyle::Posix, {"/home/u/a.pdf", {}}, {"/home/u/a.pdf"}, "/home/u/"},
        SelectionCase{"PosixOneInRoot", PathStyle::Posix, {"/a.pdf", {}}, {"/a.pdf"}, "/"},
        SelectionCase{"PosixBackslashIsPartOfTheName",
                      PathStyle::Posix,
                      {"/d/x\\a.pdf", {}},
                      {"/d/x\\a.pdf"},
                      "/d/"},
        // Several files: the folder is remembered as given, names keep the dialog's order.
        SelectionCase{"WindowsTwo",
                      PathStyle::Windows,
                      {"C:\\Docs", {"b.pdf", "a.pdf"}},
                      {"C:\\Docs\\b.pdf", "C:\\Docs\\a.pdf"},
                      "C:\\Docs"},
        SelectionCase{"WindowsTwoInRoot",
                      PathStyle::Windows,
                      {"C:\\", {"a.pdf", "b.pdf"}},
                      {"C:\\a.pdf", "C:\\b.pdf"},
                      "C:\\"},
        SelectionCase{"PosixTwo",
                      PathStyle::Posix,
                      {"/home/u", {"a.pdf", "a.pdf"}},
                      {"/home/u/a.pdf", "/home/u/a.pdf"},
                      "/home/u"},
        SelectionCase{"PosixTwoInRoot",
                      PathStyle::Posix,
                      {"/", {"a.pdf", "b.pdf"}},
                      {"/a.pdf", "/b.pdf"},
                      "/"},
        // No length limit: a path far beyond the platform's 259 characters stays whole.
        SelectionCase{"LongPath",
                      PathStyle::Posix,
                      {"/" + std::string(300, 'd'), {"a.pdf", "b"}},
                      {"/" + std::string(300, 'd') + "/a.pdf", "/" + std::string(300, 'd') + "/b"},
                      "/" + std::string(300, 'd')}),
    [](const ::testing::TestParamInfo<SelectionCase> &info) {
        return std::string(info.param.name);
    });

TEST(SelectionFromPathsTest, ShapesDialogPathsAsThePlatformAnswers)
{
    const FileSelection one = SelectionFromPaths({"/home/u/a.pdf"}, PathStyle::Posix);
    EXPECT_EQ(one.first, "/home/u/a.pdf");
    EXPECT_TRUE(one.names.empty());

    const FileSelection two =
        SelectionFromPaths({"/home/u/b.pdf", "/home/u/a.pdf"}, PathStyle::Posix);
    EXPECT_EQ(two.first, "/home/u");
    EXPECT_EQ(two.names, (std::vector<std::string>{"b.pdf", "a.pdf"}));

    const FileSelection root = SelectionFromPaths({"/a.pdf", "/b.pdf"}, PathStyle::Posix);
    EXPECT_EQ(root.first, "/");
    EXPECT_EQ(ResolveSelection(root, PathStyle::Posix).paths, (PathList{"/a.pdf", "/b.pdf"}));

    const FileSelection drive = SelectionFromPaths({"C:\\a.pdf", "C:\\b"}, PathStyle::Windows);
    EXPECT_EQ(drive.first, "C:\\");
    EXPECT_EQ(drive.names, (std::vector<std::string>{"a.pdf", "b"}));
}

// Names typed with folders can pick files from several folders at once; each must still resolve
// to the file chosen, not to a file of that name in the first one's folder.
TEST(SelectionFromPathsTest, FilesFromSeveralFoldersKeepTheirOwnFolders)
{
    struct Case {
        std::vector<std::string> chosen;
        std::string folder;
    };
    const Case cases[] = {
        {{"/home/u/a.pdf", "/home/u/sub/b.pdf"}, "/home/u"},
        {{"/home/u/sub/b.pdf", "/home/u/a.pdf"}, "/home/u"},
        // A shared start of a name is no shared folder.
        {{"/data/a/x.pdf", "/data/ab/y.pdf"}, "/data"},
        {{"/tmp/a.pdf", "/srv/b.pdf"}, "/"},
    };
    for (const Case &c : cases) {
        const FileSelection selection = SelectionFromPaths(c.chosen, PathStyle::Posix);
        EXPECT_EQ(selection.first, c.folder);
        const ResolvedSelection resolved = ResolveSelection(selection, PathStyle::Posix);
        EXPECT_EQ(resolved.paths, PathList(c.chosen.begin(), c.chosen.end())) << c.folder;
        EXPECT_EQ(resolved.inputDir, c.folder);
    }
}

} // namespace
