// SPDX-License-Identifier: AGPL-3.0-or-later
// The engine as the front-end sees it: exit statuses, messages, files left behind.
#include "rastool_runner.h"

#include "../render/test_pdf.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

using engine_test::FilesIn;
using engine_test::ReadAll;
using engine_test::RunRastool;

class RastoolRunTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ::mkdir((dir / "out").c_str(), 0755);
        testpdf::Page p;
        p.width = 100;
        p.height = 80;
        p.Rect(10, 10, 30, 30, {0, 128, 0}).Text(10, 60, 10, "page");
        testpdf::WriteFile(dir / "three.pdf", testpdf::MakePdf({p, p, p}));
        testpdf::WriteFile(dir / "out/keep.png", "precious bytes");
    }

    engine_test::RunResult Run(std::vector<std::string> args)
    {
        return RunRastool(args, dir / "stderr.txt");
    }

    std::set<std::string> Outputs() { return FilesIn(dir / "out"); }

    testpdf::TempDir dir;
};

struct FailureRow {
    const char *name;
    int status;
};

class RastoolFailureTest : public RastoolRunTest,
                           public ::testing::WithParamInterface<FailureRow> {};

// Each failure: its status, exactly one line on standard error, no file written or left
// behind, and an existing file of the output's name untouched.
TEST_P(RastoolFailureTest, StatusOneLineNothingWritten)
{
    const FailureRow &row = GetParam();
    const std::string name = row.name;
    const std::string good = ReadAll(dir / "three.pdf");
    std::string input = dir / "three.pdf";
    std::string output = dir / "out/keep.png";
    std::vector<std::string> extra;
    if (name == "missing") {
        input = dir / "nothing-here.pdf";
    } else if (name == "empty") {
        testpdf::WriteFile(input = dir / "empty.pdf", "");
    } else if (name == "truncated") {
        testpdf::WriteFile(input = dir / "cut.pdf", good.substr(0, 40));
    } else if (name == "not-pdf") {
        testpdf::WriteFile(input = dir / "text.pdf", "just some words\n");
    } else if (name == "folder-as-input") {
        input = dir.path();
    } else if (name == "password") {
        ASSERT_TRUE(testpdf::Encrypt(dir / "three.pdf", input = dir / "locked.pdf"));
    } else if (name == "first-past-end") {
        extra = {"-f", "4"};
    } else if (name == "empty-range") {
        extra = {"-f", "3", "-l", "2"};
    } else if (name == "no-folder") {
        output = dir / "no-such-folder/x.png";
    } else if (name == "unwritable-folder") {
        // Root writes anywhere a mode allows; /proc refuses new files even to root.
        output = ::geteuid() == 0 ? std::string("/proc/rastool-test.png") : dir / "ro/x.png";
        ::mkdir((dir / "ro").c_str(), 0555);
    } else if (name == "output-is-folder") {
        ::mkdir((dir / "out/d.png").c_str(), 0755);
        output = dir / "out/d.png";
        extra = {"-f", "1", "-l", "1"};
    } else if (name == "bad-option") {
        extra = {"-b", "7"};
    } else if (name == "unknown-type") {
        output = dir / "out/keep.pdf";
    }
    std::vector<std::string> args{"-i", input, "-o", output};
    args.insert(args.end(), extra.begin(), extra.end());
    const auto before = Outputs();
    const auto run = Run(args);
    EXPECT_EQ(run.status, row.status) << run.err;
    EXPECT_EQ(engine_test::CountLines(run.err), 1) << run.err;
    EXPECT_EQ(run.err.rfind("rastool: ", 0), 0u) << run.err;
    EXPECT_EQ(Outputs(), before);
    EXPECT_EQ(ReadAll(dir / "out/keep.png"), "precious bytes");
    if (name == "first-past-end" || name == "empty-range") {
        EXPECT_NE(run.err.find("3 pages"), std::string::npos) << run.err;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, RastoolFailureTest,
    ::testing::Values(FailureRow{"missing", 2}, FailureRow{"empty", 2}, FailureRow{"truncated", 2},
                      FailureRow{"not-pdf", 2}, FailureRow{"folder-as-input", 2},
                      FailureRow{"password", 3}, FailureRow{"first-past-end", 4},
                      FailureRow{"empty-range", 4}, FailureRow{"no-folder", 5},
                      FailureRow{"unwritable-folder", 5}, FailureRow{"output-is-folder", 5},
                      FailureRow{"bad-option", 1}, FailureRow{"unknown-type", 1}),
    [](const auto &info) {
        std::string n = info.param.name;
        for (auto &c : n) {
            c = c == '-' ? '_' : c;
        }
        return n;
    });

TEST_F(RastoolRunTest, DiskFullLeavesNothingAndKeepsTheOldFile)
{
    const std::string small = dir / "small";
    ::mkdir(small.c_str(), 0755);
    if (::mount("tmpfs", small.c_str(), "tmpfs", 0, "size=64k") != 0) {
        GTEST_SKIP() << "a small file system can be mounted only with privileges";
    }
    testpdf::WriteFile(small + "/full.tif", "old");
    for (const char *name : {"full.tif", "full.bmp"}) {
        const auto run = Run({"-i", dir / "three.pdf", "-o", small + "/" + name, "-c", "none", "-r",
                              "300x300", "-f", "1", "-l", "1"});
        EXPECT_EQ(run.status, 5) << run.err;
        EXPECT_EQ(engine_test::CountLines(run.err), 1) << run.err;
        EXPECT_NE(run.err.find(small + "/" + name), std::string::npos) << run.err;
    }
    EXPECT_EQ(FilesIn(small), std::set<std::string>{"full.tif"});
    EXPECT_EQ(ReadAll(small + "/full.tif"), "old");
    ::umount(small.c_str());
}

TEST_F(RastoolRunTest, EndedBySignalLeavesNoTemporaryFile)
{
    const std::string folder = dir / "killed";
    ::mkdir(folder.c_str(), 0755);
    const std::string bin = std::string(PAGEMINT_BIN_DIR) + "/rastool";
    const std::string input = dir / "three.pdf";
    const std::string output = folder + "/big.png";
    std::vector<const char *> argv{bin.c_str(), "-i",        input.c_str(), "-o",   output.c_str(),
                                   "-r",        "1200x1200", "-m",          nullptr};
    pid_t pid = 0;
    ASSERT_EQ(::posix_spawn(&pid, bin.c_str(), nullptr, nullptr,
                            const_cast<char *const *>(argv.data()), environ),
              0);
    // Wait until the engine has a temporary file open, then end it.
    for (int i = 0; i < 2000 && FilesIn(folder).empty(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    const bool started = !FilesIn(folder).empty();
    ::kill(pid, SIGTERM);
    int status = 0;
    ::waitpid(pid, &status, 0);
    ASSERT_TRUE(started);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM);
    EXPECT_EQ(FilesIn(folder), std::set<std::string>{});
}

TEST_F(RastoolRunTest, SeveralPagesGoToNumberedFilesOnePageToThePathItself)
{
    auto run = Run({"-i", dir / "three.pdf", "-o", dir / "out/doc.png", "-r", "20x20"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(Outputs(),
              (std::set<std::string>{"keep.png", "doc-001.png", "doc-002.png", "doc-003.png"}));

    // A last page past the end is clamped; what remains is one page: the path itself.
    run = Run({"-i", dir / "three.pdf", "-o", dir / "out/keep.png", "-f", "3", "-l", "99", "-r",
               "20x20"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(ReadAll(dir / "out/keep.png").substr(1, 3), "PNG"); // replaced on success
    EXPECT_EQ(Outputs().size(), 4u);

    // A multi-page TIFF takes all pages; -m means nothing to a single-page type.
    run = Run({"-i", dir / "three.pdf", "-o", dir / "out/all.tif", "-m", "-r", "20x20"});
    ASSERT_EQ(run.status, 0) << run.err;
    run = Run({"-i", dir / "three.pdf", "-o", dir / "out/g.GIF", "-m", "-f", "2", "-r", "20x20"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(Outputs(),
              (std::set<std::string>{"keep.png", "doc-001.png", "doc-002.png", "doc-003.png",
                                     "all.tif", "g-002.GIF", "g-003.GIF"}));
    struct stat info {};
    ASSERT_EQ(::stat((dir / "out/all.tif").c_str(), &info), 0);
    const mode_t mask = ::umask(0);
    ::umask(mask);
    EXPECT_EQ(info.st_mode & 0777, 0666 & ~mask);
}

TEST_F(RastoolRunTest, DepthTheTypeCannotHoldIsReplacedWithAWarning)
{
    const std::string out = dir / "out/w.gif";
    const auto run =
        Run({"-i", dir / "three.pdf", "-o", out, "-f", "1", "-l", "1", "-b", "24", "-r", "20x20"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(engine_test::CountLines(run.err), 1);
    EXPECT_NE(run.err.find("warning"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("8 bits"), std::string::npos) << run.err;
    EXPECT_EQ(ReadAll(out).substr(0, 4), "GIF8");
    EXPECT_NE(engine_test::Capture("identify -format '%r' " + engine_test::Quote(out))
                  .find("PseudoClass"),
              std::string::npos);
}

TEST_F(RastoolRunTest, HelpListsTheExitStatuses)
{
    const std::string help = engine_test::Capture(
        engine_test::Quote(std::string(PAGEMINT_BIN_DIR) + "/rastool") + " --help");
    for (const char *line : {"0  success", "1  bad options", "3  input file protected",
                             "4  page range", "5  output file cannot be written"}) {
        EXPECT_NE(help.find(line), std::string::npos) << line;
    }
    EXPECT_EQ(Run({"--version"}).status, 0);
}

} // namespace
