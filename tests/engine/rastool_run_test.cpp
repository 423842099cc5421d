// SPDX-License-Identifier: AGPL-3.0-or-later
// The engine as the front-end sees it: exit statuses, messages, files left behind.
#include "rastool_runner.h"

#include "../render/test_pdf.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <ctime>
#include <fcntl.h>
#include <spawn.h>
#include <sstream>
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
    if (name == "no-folder") {
        EXPECT_NE(run.err.find(": the folder does not exist"), std::string::npos) << run.err;
    }
    if (name == "first-past-end") {
        EXPECT_NE(run.err.find("page 4 is past the end: the document has 3 pages"),
                  std::string::npos)
            << run.err;
    }
    if (name == "empty-range") {
        EXPECT_NE(run.err.find("the first page, 3, comes after the last page, 2"),
                  std::string::npos)
            << run.err;
    }
    if (name != "bad-option" && name != "unknown-type") {
        EXPECT_TRUE(run.err.find(input) != std::string::npos ||
                    run.err.find(output.substr(0, output.rfind('/') + 1)) != std::string::npos)
            << "names the file: " << run.err;
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
        std::vector<std::string> args{
            "-i", dir / "three.pdf", "-o", small + "/" + name, "-r", "300x300", "-f", "1", "-l",
            "1"};
        if (std::string(name) == "full.tif") {
            args.insert(args.end(), {"-c", "none"});
        }
        const auto run = Run(args);
        EXPECT_EQ(run.status, 5) << run.err;
        EXPECT_EQ(engine_test::CountLines(run.err), 1) << run.err;
        EXPECT_NE(run.err.find(small + "/" + name), std::string::npos) << run.err;
    }
    EXPECT_EQ(FilesIn(small), std::set<std::string>{"full.tif"});
    EXPECT_EQ(ReadAll(small + "/full.tif"), "old");
    ::umount(small.c_str());
}

// The bytes the process has written so far into a file in the folder, named or not; -1 while
// it has none open there.
long long BytesWrittenInto(pid_t pid, const std::string &folder)
{
    const std::string fds = "/proc/" + std::to_string(pid) + "/fd";
    long long most = -1;
    for (const std::string &fd : FilesIn(fds)) {
        char target[4096];
        const ssize_t n = ::readlink((fds + "/" + fd).c_str(), target, sizeof target - 1);
        struct stat info {};
        if (n > 0 && std::string(target, static_cast<size_t>(n)).rfind(folder + "/", 0) == 0 &&
            ::stat((fds + "/" + fd).c_str(), &info) == 0) {
            most = std::max<long long>(most, info.st_size);
        }
    }
    return most;
}

class RastoolSignalTest : public RastoolRunTest, public ::testing::WithParamInterface<int> {};

// Whatever ends the engine in the middle of a large write, even SIGKILL, which no handler
// sees, the folder holds afterwards exactly what it held before, the old file untouched.
TEST_P(RastoolSignalTest, KilledDuringALargeWriteLeavesNothing)
{
    const std::string folder = dir / "killed";
    ::mkdir(folder.c_str(), 0755);
    testpdf::WriteFile(folder + "/big.tif", "old file");
    testpdf::Page letter;
    letter.Gradient(0, 0, 612, 792);
    testpdf::WriteFile(dir / "big.pdf", testpdf::MakePdf({letter, letter}));
    const std::string bin = std::string(PAGEMINT_BIN_DIR) + "/rastool";
    const std::string input = dir / "big.pdf";
    const std::string output = folder + "/big.tif";
    std::vector<const char *> argv{bin.c_str(), "-i", input.c_str(), "-o",   output.c_str(), "-r",
                                   "1200x1200", "-m", "-c",          "none", nullptr};
    pid_t pid = 0;
    ASSERT_EQ(::posix_spawn(&pid, bin.c_str(), nullptr, nullptr,
                            const_cast<char *const *>(argv.data()), environ),
              0);
    long long written = -1;
    for (int i = 0; i < 6000 && written < (8 << 20); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        written = BytesWrittenInto(pid, folder);
    }
    ::kill(pid, GetParam());
    int status = 0;
    ::waitpid(pid, &status, 0);
    ASSERT_GE(written, 8 << 20) << "the engine never wrote 8 MB";
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == GetParam());
    EXPECT_EQ(FilesIn(folder), std::set<std::string>{"big.tif"});
    EXPECT_EQ(ReadAll(folder + "/big.tif"), "old file");
}

INSTANTIATE_TEST_SUITE_P(Signals, RastoolSignalTest,
                         ::testing::Values(SIGKILL, SIGTERM, SIGUSR1, SIGPIPE, SIGALRM),
                         [](const auto &info) {
                             return std::string("SIG") + sigabbrev_np(info.param);
                         });

// What an earlier version left when it was killed (a day-old temporary of a process that has
// ended) is removed by the next run into the folder; anything else stays.
TEST_F(RastoolRunTest, NextRunRemovesAKilledRunsTemporaries)
{
    pid_t ended = 0;
    std::vector<const char *> argv{"/bin/true", nullptr};
    ASSERT_EQ(::posix_spawn(&ended, argv[0], nullptr, nullptr,
                            const_cast<char *const *>(argv.data()), environ),
              0);
    ::waitpid(ended, nullptr, 0);
    // The engine's temporary names: ".rastool-<this machine>-<process>-<n>.tmp", the machine
    // a hash of its name. The confined engine still tells a dead process from a live one
    // (process 1) that it may not signal.
    char host[256] = {};
    ::gethostname(host, sizeof host - 1);
    uint32_t hash = 2166136261u;
    for (const char *c = host; *c != '\0'; ++c) {
        hash = (hash ^ static_cast<unsigned char>(*c)) * 16777619u;
    }
    char prefix[32];
    std::snprintf(prefix, sizeof prefix, ".rastool-%08x-", hash);
    const std::string leftover = prefix + std::to_string(ended) + "-0.tmp";
    const std::string running = prefix + std::string("1-0.tmp");
    // A user's file of the form that earlier versions used for their temporaries.
    const std::string users = ".doc.png-" + std::to_string(ended) + "-0";
    for (const std::string &name : {leftover, running, users}) {
        testpdf::WriteFile(dir / ("out/" + name), std::string(1 << 20, 'x'));
    }
    const auto run = Run({"-i", dir / "three.pdf", "-o", dir / "out/doc.png", "-r", "20x20"});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(Outputs(), (std::set<std::string>{"keep.png", "doc-001.png", "doc-002.png",
                                                "doc-003.png", running, users}));
}

// Any name the file system takes can be written: the engine adds nothing to its length.
TEST_F(RastoolRunTest, LongestLegalNamesAreWritten)
{
    for (const size_t length : {245u, 250u, 255u}) {
        const std::string name = std::string(length - 4, 'p') + ".png";
        const auto run = Run({"-i", dir / "three.pdf", "-o", dir / ("out/" + name), "-f", "2", "-l",
                              "2", "-r", "20x20"});
        EXPECT_EQ(run.status, 0) << length << ": " << run.err;
        EXPECT_EQ(ReadAll(dir / ("out/" + name)).substr(1, 3), "PNG") << length;
    }
    EXPECT_EQ(Outputs().size(), 4u);
}

// The page number's width comes from the document, so every file of one document sorts in
// page order whatever ranges were converted.
TEST_F(RastoolRunTest, PageNumbersHaveTheWidthOfTheDocumentsPageCount)
{
    testpdf::Page p;
    p.width = 20;
    p.height = 20;
    testpdf::WriteFile(dir / "long.pdf", testpdf::MakePdf(std::vector<testpdf::Page>(1001, p)));
    for (const auto &[from, to] : {std::pair<int, int>{1, 2}, {999, 1001}}) {
        const auto run = Run({"-i", dir / "long.pdf", "-o", dir / "out/l.png", "-f",
                              std::to_string(from), "-l", std::to_string(to), "-r", "10x10"});
        ASSERT_EQ(run.status, 0) << run.err;
    }
    EXPECT_EQ(Outputs(), (std::set<std::string>{"keep.png", "l-0001.png", "l-0002.png",
                                                "l-0999.png", "l-1000.png", "l-1001.png"}));
}

// An output that names the input document, directly or through a hard link, is refused before
// anything is written: the input stays whole.
TEST_F(RastoolRunTest, OutputThatIsTheInputIsRefused)
{
    const std::string pdf = ReadAll(dir / "three.pdf");
    testpdf::WriteFile(dir / "out/doc.tif", pdf);
    ASSERT_EQ(::link((dir / "out/doc.tif").c_str(), (dir / "out/pages-002.png").c_str()), 0);
    const std::vector<std::vector<std::string>> runs = {
        {"-i", dir / "out/doc.tif", "-o", dir / "out/doc.tif", "-f", "1", "-l", "1"},
        {"-i", dir / "out/doc.tif", "-o", dir / "out/./doc.tif", "-m"},
        {"-i", dir / "out/doc.tif", "-o", dir / "out/pages.png"},
    };
    for (const auto &args : runs) {
        const auto run = Run(args);
        EXPECT_EQ(run.status, 5) << run.err;
        EXPECT_EQ(engine_test::CountLines(run.err), 1) << run.err;
        EXPECT_NE(run.err.find("it is the input document itself"), std::string::npos) << run.err;
        EXPECT_EQ(ReadAll(dir / "out/doc.tif"), pdf);
    }
    EXPECT_EQ(Outputs(), (std::set<std::string>{"keep.png", "doc.tif", "pages-002.png"}));
}

// Two runs writing the same names at the same time both go on; every file is whole and comes
// from one run or the other, and neither leaves a temporary file.
TEST_F(RastoolRunTest, TwoRunsIntoTheSameNamesLeaveCompleteFiles)
{
    const std::string bin = std::string(PAGEMINT_BIN_DIR) + "/rastool";
    const std::string input = dir / "three.pdf";
    const std::string output = dir / "out/same.png";
    std::vector<pid_t> pids;
    for (const char *res : {"300x300", "200x200"}) {
        std::vector<const char *> argv{bin.c_str(),    "-i", input.c_str(), "-o",
                                       output.c_str(), "-r", res,           nullptr};
        pid_t pid = 0;
        ASSERT_EQ(::posix_spawn(&pid, bin.c_str(), nullptr, nullptr,
                                const_cast<char *const *>(argv.data()), environ),
                  0);
        pids.push_back(pid);
    }
    for (const pid_t pid : pids) {
        int status = 0;
        ::waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    EXPECT_EQ(Outputs(),
              (std::set<std::string>{"keep.png", "same-001.png", "same-002.png", "same-003.png"}));
    for (const char *name : {"same-001.png", "same-002.png", "same-003.png"}) {
        const std::string size = engine_test::Capture(
            "identify -format '%w' " + engine_test::Quote(dir / ("out/" + std::string(name))));
        EXPECT_TRUE(size == "417" || size == "278") << name << ": " << size;
    }
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

    // A multi-page TIFF takes all pages; -m means nothing to a single-page type (a warning).
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

struct IgnoredOptionRow {
    const char *output;
    std::vector<std::string> extra;
    const char *warning; // empty: no warning at all
};

class RastoolIgnoredOptionTest : public RastoolRunTest,
                                 public ::testing::WithParamInterface<IgnoredOptionRow> {};

// An option that cannot act on this output is named in one warning line; the run succeeds.
TEST_P(RastoolIgnoredOptionTest, OneWarningLineStatusUnchanged)
{
    const IgnoredOptionRow &row = GetParam();
    std::vector<std::string> args{"-i", dir / "three.pdf",
                                  "-o", dir / ("out/" + std::string(row.output)),
                                  "-f", "1",
                                  "-l", "1",
                                  "-r", "20x20"};
    args.insert(args.end(), row.extra.begin(), row.extra.end());
    const auto run = Run(args);
    EXPECT_EQ(run.status, 0) << run.err;
    if (std::string(row.warning).empty()) {
        EXPECT_EQ(run.err, "");
    } else {
        EXPECT_EQ(engine_test::CountLines(run.err), 1) << run.err;
        EXPECT_EQ(run.err.rfind(std::string("rastool: warning: ") + row.warning, 0), 0u) << run.err;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, RastoolIgnoredOptionTest,
    ::testing::Values(IgnoredOptionRow{"a.png", {"-m"}, "-m has no effect"},
                      IgnoredOptionRow{"b.jpg", {"-c", "lzw"}, "-c has no effect"},
                      IgnoredOptionRow{"c.png", {"-g", "-b", "24"}, "-g has no effect"},
                      IgnoredOptionRow{"d.tif", {"-g", "-c", "g4"}, "-g has no effect"},
                      IgnoredOptionRow{"e.tif", {"-m", "-c", "lzw", "-g", "-b", "8"}, ""},
                      IgnoredOptionRow{"f.png", {"-g"}, ""}));

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

// Black pixels per row of a black-and-white image, as ImageMagick decodes it.
std::vector<int> BlackPerRow(const std::string &image)
{
    std::istringstream pbm(
        engine_test::Capture("convert " + engine_test::Quote(image) + " -compress none pbm:-"));
    std::string magic;
    int width = 0, height = 0;
    pbm >> magic >> width >> height;
    std::vector<int> rows(static_cast<size_t>(std::max(height, 0)));
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            int bit = 0;
            pbm >> bit;
            rows[static_cast<size_t>(y)] += bit;
        }
    }
    return rows;
}

// Fax pages keep the thin rules of a form: every table rule, stroked or filled, a quarter to
// half a point thick, is a black line across the page at both fax resolutions.
TEST_F(RastoolRunTest, FaxPagesKeepThinRules)
{
    testpdf::Page form;
    const std::vector<double> ruleY{700, 650.3, 600.6, 550.2, 500.8, 450.5};
    for (size_t i = 0; i < ruleY.size(); ++i) {
        const double width = 0.25 + 0.05 * static_cast<double>(i);
        char rule[128];
        if (i % 2 == 0) {
            std::snprintf(rule, sizeof rule, "0 G %.2f w 72 %.2f m 540 %.2f l S\n", width, ruleY[i],
                          ruleY[i]);
        } else {
            std::snprintf(rule, sizeof rule, "0 g 72 %.2f 468 %.2f re f\n", ruleY[i], width);
        }
        form.content += rule;
    }
    testpdf::WriteFile(dir / "form.pdf", testpdf::MakePdf({form}));
    for (const auto &[compression, yDpi] :
         {std::pair<const char *, int>{"g4", 98}, {"g3", 196}, {"CLASSF", 98}}) {
        const std::string out = dir / ("out/form-" + std::string(compression) + ".tif");
        const auto run = Run({"-i", dir / "form.pdf", "-o", out, "-c", compression, "-r",
                              "204x" + std::to_string(yDpi)});
        ASSERT_EQ(run.status, 0) << run.err;
        const auto rows = BlackPerRow(out);
        ASSERT_FALSE(rows.empty());
        for (const double y : ruleY) {
            const int row = static_cast<int>((792 - y) * yDpi / 72);
            int longest = 0;
            for (int r = std::max(0, row - 2); r <= row + 2 && r < static_cast<int>(rows.size());
                 ++r) {
                longest = std::max(longest, rows[static_cast<size_t>(r)]);
            }
            // 468 points at 204 dpi is 1326 pixels.
            EXPECT_GE(longest, 1300) << compression << ": the rule at " << y << " points";
        }
    }
}

TEST_F(RastoolRunTest, HelpListsTheExitStatuses)
{
    const std::string help = engine_test::Capture(
        engine_test::Quote(std::string(PAGEMINT_BIN_DIR) + "/rastool") + " --help");
    for (const char *line :
         {"0  success", "1  bad options", "3  input file protected", "4  page range",
          "5  output file cannot be written", "7  a page took longer than the time limit"}) {
        EXPECT_NE(help.find(line), std::string::npos) << line;
    }
    EXPECT_EQ(Run({"--version"}).status, 0);
}

} // namespace
