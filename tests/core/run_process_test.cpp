// SPDX-License-Identifier: AGPL-3.0-or-later
#include "core/run_process.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <optional>
#include <ostream>
#include <set>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <tuple>
#include <unistd.h>
#include <vector>

namespace {

using testing::ElementsAre;

std::string TestFolder()
{
    const std::string self = OwnExecutablePath();
    return self.substr(0, self.rfind('/') + 1);
}

// A file in the test binary's folder, named uniquely per process and use, removed afterwards.
class ScratchFile {
public:
    explicit ScratchFile(const std::string &stem)
    {
        static int counter = 0;
        path_ =
            TestFolder() + stem + "_" + std::to_string(getpid()) + "_" + std::to_string(counter++);
    }
    ~ScratchFile() { std::remove(path_.c_str()); }
    ScratchFile(const ScratchFile &) = delete;
    ScratchFile &operator=(const ScratchFile &) = delete;

    const std::string &Path() const { return path_; }
    std::string Read() const
    {
        std::ifstream in(path_);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

private:
    std::string path_;
};

// A shell script standing in for the engine.
class FakeEngine : public ScratchFile {
public:
    explicit FakeEngine(const std::string &body, mode_t mode = 0755) : ScratchFile("fake_engine")
    {
        std::ofstream(Path()) << "#!/bin/sh\n" << body << "\n";
        chmod(Path().c_str(), mode);
    }
};

EngineCommand Command(std::vector<std::string> arguments)
{
    std::string text;
    for (const std::string &argument : arguments) {
        text += (text.empty() ? "\"" : " \"") + argument + "\"";
    }
    return EngineCommand{text, std::move(arguments)};
}

std::vector<std::string> Lines(const std::string &text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

struct ExitRow {
    int32_t code;
    bool polling;
};
class RunProcessExitTest : public testing::TestWithParam<ExitRow> {};
TEST_P(RunProcessExitTest, ReturnsTheExitStatus)
{
    const FakeEngine engine("exit " + std::to_string(GetParam().code));
    const EngineCommand command = Command({engine.Path()});
    int calls = 0;
    const std::function<void()> count = [&calls] { ++calls; };
    EXPECT_EQ(RunProcess(&command, GetParam().polling ? count : std::function<void()>{}).status,
              GetParam().code);
}
INSTANTIATE_TEST_SUITE_P(Codes, RunProcessExitTest,
                         testing::Values(ExitRow{0, false}, ExitRow{1, false}, ExitRow{7, false},
                                         ExitRow{255, false}, ExitRow{0, true}, ExitRow{3, true},
                                         ExitRow{255, true}),
                         [](const testing::TestParamInfo<ExitRow> &info) {
                             return std::string(info.param.polling ? "Polling" : "Blocking") +
                                    std::to_string(info.param.code);
                         });

TEST(RunProcessTest, KilledBySignalIsMinusOne)
{
    const FakeEngine engine("kill -KILL $$");
    const EngineCommand command = Command({engine.Path()});
    EXPECT_EQ(RunProcess(&command).status, -1);
    EXPECT_EQ(RunProcess(&command, [] {}).status, -1);
}

TEST(RunProcessTest, CannotStart)
{
    const ScratchFile missing("no_such_engine");
    const EngineCommand absent = Command({missing.Path(), "-i", "x.pdf"});
    EXPECT_EQ(RunProcess(&absent).status, -1);

    const FakeEngine notExecutable("exit 0", 0644);
    const EngineCommand refused = Command({notExecutable.Path()});
    EXPECT_EQ(RunProcess(&refused).status, -1);

    // Without a '/' the name is not looked up on PATH.
    const EngineCommand bareName = Command({"sh", "-c", "exit 0"});
    EXPECT_EQ(RunProcess(&bareName).status, -1);

    const EngineCommand emptyName = Command({""});
    EXPECT_EQ(RunProcess(&emptyName).status, -1);
}

TEST(RunProcessTest, AbsentCommandWritesNothing)
{
    testing::internal::CaptureStderr();
    EXPECT_EQ(RunProcess(nullptr).status, -1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST(RunProcessTest, EmptyCommandStartsNothing)
{
    const EngineCommand empty{"", {}};
    testing::internal::CaptureStderr();
    EXPECT_EQ(RunProcess(&empty).status, -1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "\n");
}

TEST(RunProcessTest, WritesTheCommandTextAsOneLine)
{
    const FakeEngine engine("exit 0");
    const EngineCommand command{"\"engine\" -i \"a b.pdf\"", {engine.Path()}};
    testing::internal::CaptureStderr();
    EXPECT_EQ(RunProcess(&command).status, 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "\"engine\" -i \"a b.pdf\"\n");
}

TEST(RunProcessTest, EachArgumentArrivesWhole)
{
    const ScratchFile out("arguments");
    const FakeEngine engine("echo $# > '" + out.Path() +
                            "'\nfor a; do printf '[%s]\\n' \"$a\" >> '" + out.Path() + "'; done");
    const EngineCommand command = Command({engine.Path(), "-i", "/d/a \"-o\" b.pdf", "-o",
                                           "/t/r\xc3\xa9sum\xc3\xa9 x.tif", "", "$HOME", "*"});
    EXPECT_EQ(RunProcess(&command).status, 0);
    EXPECT_THAT(Lines(out.Read()),
                ElementsAre("7", "[-i]", "[/d/a \"-o\" b.pdf]", "[-o]",
                            "[/t/r\xc3\xa9sum\xc3\xa9 x.tif]", "[]", "[$HOME]", "[*]"));
}

// The engine gets the path, language, place settings and temporary folder, whole, and none of
// what would reach the display, the session bus, the SSH agent or the home folder.
TEST(RunProcessTest, ChildGetsOnlyAMinimalEnvironment)
{
    const std::vector<std::pair<std::string, std::string>> kept{{"PATH", "/usr/bin:/bin"},
                                                                {"LANG", "fr_FR.UTF-8"},
                                                                {"LC_NUMERIC", "de_DE.UTF-8"},
                                                                {"TMPDIR", "/tmp/with blanks"}};
    const std::vector<std::string> dropped{"DISPLAY",
                                           "WAYLAND_DISPLAY",
                                           "DBUS_SESSION_BUS_ADDRESS",
                                           "SSH_AUTH_SOCK",
                                           "XAUTHORITY",
                                           "HOME",
                                           "PAGEMINT_RUN_PROCESS_MARK",
                                           "LANGUAGE",
                                           "XLC_MARK"};
    // Set for the run, each restored (or removed) afterwards.
    std::vector<std::pair<std::string, std::optional<std::string>>> saved;
    const auto set = [&saved](const std::string &name, const std::string &value) {
        const char *old = getenv(name.c_str());
        saved.emplace_back(name, old != nullptr ? std::optional<std::string>(old) : std::nullopt);
        setenv(name.c_str(), value.c_str(), 1);
    };
    for (const auto &[name, value] : kept) {
        set(name, value);
    }
    for (const std::string &name : dropped) {
        set(name, "present");
    }
    const ScratchFile out("environment");
    const FakeEngine engine("env | sort > '" + out.Path() + "'");
    const EngineCommand command = Command({engine.Path()});
    EXPECT_EQ(RunProcess(&command).status, 0);
    for (auto entry = saved.rbegin(); entry != saved.rend(); ++entry) {
        if (entry->second) {
            setenv(entry->first.c_str(), entry->second->c_str(), 1);
        } else {
            unsetenv(entry->first.c_str());
        }
    }
    // The shell adds its own PWD, SHLVL and _.
    std::vector<std::string> seen;
    for (const std::string &line : Lines(out.Read())) {
        const std::string name = line.substr(0, line.find('='));
        if (name != "PWD" && name != "SHLVL" && name != "_") {
            seen.push_back(line);
        }
    }
    EXPECT_THAT(seen, ElementsAre("LANG=fr_FR.UTF-8", "LC_NUMERIC=de_DE.UTF-8",
                                  "PATH=/usr/bin:/bin", "TMPDIR=/tmp/with blanks"));
}

TEST(RunProcessTest, InheritsNoDescriptorsBeyondTheStandardThree)
{
    const ScratchFile held("held_open");
    // Opened the way a careless library would: no close-on-exec.
    const int low = open(held.Path().c_str(), O_CREAT | O_WRONLY, 0600);
    ASSERT_GE(low, 3);
    ASSERT_EQ(dup2(low, 57), 57);
    ASSERT_EQ(dup2(low, 203), 203);

    // ls runs as the script's child and lists the script shell's descriptors, not its own.
    const ScratchFile out("descriptors");
    const FakeEngine engine("ls -1 /proc/$$/fd > '" + out.Path() + "'");
    const EngineCommand command = Command({engine.Path()});
    const int32_t result = RunProcess(&command).status;
    close(203);
    close(57);
    close(low);
    ASSERT_EQ(result, 0);

    std::set<int> open;
    for (const std::string &line : Lines(out.Read())) {
        open.insert(std::stoi(line));
    }
    EXPECT_TRUE(open.count(0) && open.count(1) && open.count(2));
    EXPECT_EQ(open.count(low), 0u);
    EXPECT_EQ(open.count(57), 0u);
    EXPECT_EQ(open.count(203), 0u);
}

TEST(RunProcessTest, WhileWaitingRunsWhileTheChildRuns)
{
    // The child ends with 5 only after whileWaiting has left the go file; it gives up with 9
    // after about five seconds.
    const ScratchFile go("go");
    const FakeEngine engine(
        "i=0\nwhile [ ! -e '" + go.Path() +
        "' ]; do i=$((i+1)); [ $i -gt 500 ] && exit 9; sleep 0.01; done\nexit 5");
    const EngineCommand command = Command({engine.Path()});
    int calls = 0;
    const int32_t result = RunProcess(&command, [&] {
                               if (calls++ == 0) {
                                   std::ofstream(go.Path()) << "go";
                               }
                           }).status;
    EXPECT_EQ(result, 5);
    EXPECT_GE(calls, 1);
}

struct ErrorLinesRow {
    const char *name;
    std::string script;
    std::string written; // what reaches our standard error after the command line
    std::string last;
};
void PrintTo(const ErrorLinesRow &row, std::ostream *out)
{
    *out << row.name;
}
class RunProcessErrorLinesTest : public testing::TestWithParam<std::tuple<ErrorLinesRow, bool>> {};
TEST_P(RunProcessErrorLinesTest, PassesEveryByteOnAndKeepsTheLastLine)
{
    const auto &[row, polling] = GetParam();
    const FakeEngine engine(row.script);
    const EngineCommand command{"engine", {engine.Path()}};
    testing::internal::CaptureStderr();
    const ProcessResult result = RunProcess(&command, polling ? [] {} : std::function<void()>{});
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "engine\n" + row.written);
    EXPECT_EQ(result.status, 4);
    EXPECT_EQ(result.message, row.last);
}
INSTANTIATE_TEST_SUITE_P(
    Lines, RunProcessErrorLinesTest,
    testing::Combine(
        testing::Values(
            ErrorLinesRow{"Two", "printf 'one\\ntwo\\n' >&2; exit 4", "one\ntwo\n", "two"},
            ErrorLinesRow{"BlankLinesAfter", "printf 'one\\n\\n \\t\\n' >&2; exit 4",
                          "one\n\n \t\n", "one"},
            ErrorLinesRow{"Unfinished", "printf 'one\\ntwo' >&2; exit 4", "one\ntwo", "two"},
            ErrorLinesRow{"CarriageReturn", "printf 'one\\r\\n' >&2; exit 4", "one\r\n", "one"},
            ErrorLinesRow{"StandardOutputNotKept", "echo out; echo err >&2; echo out2; exit 4",
                          "err\n", "err"},
            ErrorLinesRow{"Nothing", "exit 4", "", ""}),
        testing::Bool()),
    [](const testing::TestParamInfo<std::tuple<ErrorLinesRow, bool>> &info) {
        return std::string(std::get<0>(info.param).name) +
               (std::get<1>(info.param) ? "Polling" : "Blocking");
    });

// More than a pipe holds: a reader that only looked after the child's end would block it.
TEST(RunProcessTest, ErrorOutputLargerThanThePipeFlows)
{
    const FakeEngine engine("head -c 300000 /dev/zero | tr '\\0' x >&2; echo >&2; echo last >&2");
    const EngineCommand command{"engine", {engine.Path()}};
    testing::internal::CaptureStderr();
    const ProcessResult result = RunProcess(&command);
    const std::string written = testing::internal::GetCapturedStderr();
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.message, "last");
    EXPECT_EQ(written.size(), std::string("engine\n").size() + 300000 + 1 + 5);
}

// A child that leaves a process of its own behind with the pipe open has still ended.
TEST(RunProcessTest, AGrandchildHoldingThePipeDoesNotHoldTheWait)
{
    const ScratchFile pid("grandchild");
    const FakeEngine engine("sleep 60 >&2 &\necho $! > '" + pid.Path() +
                            "'\necho ended >&2\nexit 6");
    const EngineCommand command = Command({engine.Path()});
    const auto start = std::chrono::steady_clock::now();
    const ProcessResult result = RunProcess(&command);
    const auto waited = std::chrono::steady_clock::now() - start;
    const std::string grandchild = pid.Read();
    if (!grandchild.empty()) {
        kill(std::stoi(grandchild), SIGKILL);
    }
    EXPECT_EQ(result.status, 6);
    EXPECT_EQ(result.message, "ended");
    // The grandchild lives 60 s: a wait for the pipe's end would last that long.
    EXPECT_LT(waited, std::chrono::seconds(30));
}

TEST(RunProcessTest, SaysWhyNothingRanOrWhatStoppedIt)
{
    const ScratchFile missing("no_such_engine");
    const EngineCommand absent = Command({missing.Path()});
    EXPECT_EQ(RunProcess(&absent).message,
              "cannot start " + missing.Path() + ": No such file or directory");

    const FakeEngine killed("echo going >&2; kill -KILL $$");
    const EngineCommand command = Command({killed.Path()});
    EXPECT_EQ(RunProcess(&command).message, "stopped unexpectedly (Killed)");
}

TEST(OwnExecutablePathTest, IsThisTestBinary)
{
    const std::string path = OwnExecutablePath();
    ASSERT_FALSE(path.empty());
    EXPECT_EQ(path.front(), '/');
    EXPECT_EQ(path.substr(path.rfind('/') + 1), "core_tests");
    struct stat viaPath {};
    struct stat viaProc {};
    ASSERT_EQ(stat(path.c_str(), &viaPath), 0);
    ASSERT_EQ(stat("/proc/self/exe", &viaProc), 0);
    EXPECT_EQ(viaPath.st_ino, viaProc.st_ino);
}

// Installed, the front-end is started through a link in /usr/bin to its private folder, where the
// engine and the user guide lie: its own path must be the link's target, not the link. This test
// binary is run through a link named like the front-end, in another folder, and the check above
// must still find its real name.
TEST(OwnExecutablePathTest, IsTheTargetWhenStartedThroughALink)
{
    const char *tmp = std::getenv("TMPDIR");
    std::string pattern =
        std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/own_path_link_XXXXXX";
    const char *folder = mkdtemp(pattern.data());
    ASSERT_NE(folder, nullptr);
    const std::string link = std::string(folder) + "/pagemint";
    const std::string report = std::string(folder) + "/report.xml";
    ASSERT_EQ(symlink(OwnExecutablePath().c_str(), link.c_str()), 0);

    EngineCommand command;
    command.arguments = {link, "--gtest_filter=OwnExecutablePathTest.IsThisTestBinary",
                         "--gtest_output=xml:" + report};
    const int32_t status = RunProcess(&command).status;
    std::ifstream in(report);
    std::stringstream text;
    text << in.rdbuf();
    std::remove(report.c_str());
    std::remove(link.c_str());
    rmdir(folder);

    EXPECT_EQ(status, 0);
    // The filter selected the one test, and it ran: a filter matching nothing also ends with 0.
    EXPECT_THAT(text.str(), testing::HasSubstr("tests=\"1\" failures=\"0\""));
}

} // namespace
