// SPDX-License-Identifier: AGPL-3.0-or-later
#include "core/run_batch.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

namespace {

using testing::ElementsAre;
using testing::ElementsAreArray;

// Records every call that changes something, in order, in one log.
class RecordingHost : public BatchHost {
public:
    bool readOk = true;
    std::vector<std::string> rows;
    std::string destination;
    std::string fileType = "TIF";
    // Runs inside each dispatch, with the number of the dispatch (0 for the first).
    std::function<void(int)> onDispatch;
    // Changes that arrive while an engine runs; applied by the next dispatch.
    std::vector<std::function<void()>> pending;

    std::vector<std::string> log;
    // Failures reported by the run, as "row|input|reason", and where the log stood when the
    // run cleared the previous ones (-1: never).
    std::vector<std::string> failures;
    int clearedAtLogSize = -1;
    std::vector<int32_t> progress;
    std::vector<std::string> statuses;
    int keepAliveCalls = 0;

    bool ReadSettings() override
    {
        log.push_back("ReadSettings");
        return readOk;
    }
    void EnableConvert(bool enable) override
    {
        log.push_back(enable ? "EnableConvert on" : "EnableConvert off");
    }
    void BeginWaitCursor() override { log.push_back("BeginWaitCursor"); }
    void EndWaitCursor() override { log.push_back("EndWaitCursor"); }
    int32_t GetRowCount() override { return static_cast<int32_t>(rows.size()); }
    std::optional<std::string> GetRowPath(int32_t row) override
    {
        if (row < 0 || static_cast<size_t>(row) >= rows.size()) {
            return std::nullopt;
        }
        return rows[static_cast<size_t>(row)];
    }
    std::string GetDestinationText() override { return destination; }
    std::string GetFileTypeText() override { return fileType; }
    void SetStatusText(const std::string &text) override
    {
        log.push_back("Status " + text);
        statuses.push_back(text);
    }
    void SetProgressPos(int32_t pos) override
    {
        log.push_back("Progress " + std::to_string(pos));
        progress.push_back(pos);
    }
    void DispatchPendingMessages() override
    {
        log.push_back("Dispatch");
        for (const auto &change : pending) {
            change();
        }
        pending.clear();
        if (onDispatch) {
            onDispatch(dispatches_);
        }
        ++dispatches_;
    }
    void KeepAliveWhileWaiting() override { ++keepAliveCalls; }
    void ClearRowFailures() override { clearedAtLogSize = static_cast<int>(log.size()); }
    void ReportRowFailure(int32_t row, const std::string &input, const std::string &reason) override
    {
        failures.push_back(std::to_string(row) + "|" + input + "|" + reason);
    }

private:
    int dispatches_ = 0;
};

// Stands in for the engine: keeps each command, logs the start into the host's log, calls the
// wait callback once and answers with the next exit status and message of its lists (0 and
// none once they run out).
struct RecordingRunner {
    RecordingHost *host = nullptr;
    std::vector<int32_t> results;
    std::vector<std::string> messages;
    std::vector<EngineCommand> commands;
    // Runs while the engine of that row "runs", as input arriving during the wait would.
    std::function<void(size_t)> duringRun;

    ProcessRunner Runner()
    {
        return [this](const EngineCommand *command, const std::function<void()> &whileWaiting) {
            commands.push_back(*command);
            host->log.push_back("Run " + command->arguments.at(2));
            if (whileWaiting) {
                whileWaiting();
            }
            if (duringRun) {
                duringRun(commands.size() - 1);
            }
            const size_t index = commands.size() - 1;
            return ProcessResult(index < results.size() ? results[index] : 0,
                                 index < messages.size() ? messages[index] : std::string());
        };
    }

    std::vector<std::string> OutputPaths() const
    {
        std::vector<std::string> outputs;
        for (const EngineCommand &command : commands) {
            outputs.push_back(command.arguments.at(4));
        }
        return outputs;
    }
};

class RunBatchTest : public testing::Test {
protected:
    RecordingHost host;
    RecordingRunner runner;
    ConversionSettings settings;
    const std::string frontEnd = "/opt/pagemint/bin/pagemint";

    void SetUp() override { runner.host = &host; }
    void Run() { RunBatch(host, settings, frontEnd, runner.Runner()); }
};

TEST_F(RunBatchTest, OneRowStepsInOrder)
{
    host.rows = {"/home/u/report.pdf"};
    host.destination = "/tmp/out";
    Run();
    EXPECT_THAT(host.log, ElementsAre("ReadSettings", "EnableConvert off", "BeginWaitCursor",
                                      "Status Converting 'report.pdf'......", "Progress 99",
                                      "Dispatch", "Run /home/u/report.pdf", "EndWaitCursor",
                                      "Status Done.", "EnableConvert on", "Progress 0"));
    ASSERT_EQ(runner.commands.size(), 1u);
    EXPECT_THAT(runner.commands[0].arguments,
                ElementsAre("/opt/pagemint/bin/rastool", "-i", "/home/u/report.pdf", "-o",
                            "/tmp/out/report.tif", "-r", "101x101", "-b", "0", "-c", "PACKBITS"));
    EXPECT_EQ(host.keepAliveCalls, 1);
}

TEST_F(RunBatchTest, WindowsStyleNamesTheEngineAndFileThatWay)
{
    host.rows = {"D:\\Docs\\report"};
    RunBatch(host, settings, "C:\\Apps\\Conv\\conv.exe", runner.Runner(), PathStyle::Windows);
    EXPECT_THAT(host.statuses, ElementsAre("Converting 'report'......", "Done."));
    ASSERT_EQ(runner.commands.size(), 1u);
    EXPECT_EQ(runner.commands[0].text,
              "\"C:\\Apps\\Conv\\rastool.exe\" -i \"D:\\Docs\\report\" -o "
              "\"D:\\Docs\\report.tif\" -r \"101x101\" -b \"0\" -c \"PACKBITS\"");
}

TEST_F(RunBatchTest, SettingsReadFailureTouchesNothing)
{
    host.readOk = false;
    host.rows = {"/a.pdf", "/b.pdf"};
    Run();
    EXPECT_THAT(host.log, ElementsAre("ReadSettings"));
    EXPECT_TRUE(runner.commands.empty());
}

TEST_F(RunBatchTest, EmptyListEndsAtOnce)
{
    Run();
    EXPECT_THAT(host.log,
                ElementsAre("ReadSettings", "EnableConvert off", "BeginWaitCursor", "EndWaitCursor",
                            "Status Done.", "EnableConvert on", "Progress 0"));
}

TEST_F(RunBatchTest, ThreeRowsRunOneAfterAnotherWithProgress)
{
    host.rows = {"/d/a.pdf", "/d/b.pdf", "/d/c.pdf"};
    Run();
    EXPECT_THAT(host.progress, ElementsAre(33, 66, 99, 0));
    EXPECT_THAT(host.statuses, ElementsAre("Converting 'a.pdf'......", "Converting 'b.pdf'......",
                                           "Converting 'c.pdf'......", "Done."));
    EXPECT_THAT(runner.OutputPaths(), ElementsAre("/d/a.tif", "/d/b.tif", "/d/c.tif"));
    EXPECT_EQ(host.keepAliveCalls, 3);
}

TEST_F(RunBatchTest, TwoHundredRowsStartAtZero)
{
    host.rows.assign(200, "/d/x.pdf");
    Run();
    ASSERT_EQ(host.progress.size(), 201u);
    EXPECT_EQ(host.progress[0], 0);
    EXPECT_EQ(host.progress[1], 0);
    EXPECT_EQ(host.progress[2], 1);
    EXPECT_EQ(host.progress[100], 50);
    EXPECT_EQ(host.progress[199], 99);
    EXPECT_EQ(host.progress[200], 0);
    EXPECT_EQ(runner.commands.size(), 200u);
}

TEST_F(RunBatchTest, FailedRunsAreCounted)
{
    host.rows = {"/d/a.pdf", "/d/b.pdf", "/d/c.pdf", "/d/e.pdf"};
    runner.results = {0, 3, -1, 0};
    Run();
    EXPECT_EQ(host.statuses.back(), "Done. 2 of 4 files could not be converted.");
    EXPECT_EQ(runner.commands.size(), 4u);
    EXPECT_EQ(host.log.back(), "Progress 0");
}

TEST_F(RunBatchTest, FailedRunsAreReportedWithTheirRowInputAndReason)
{
    host.rows = {"/d/a.pdf", "/d/b.pdf", "/d/c.pdf", "/d/e.pdf"};
    runner.results = {0, 3, -1, 2};
    runner.messages = {"rastool: warning: 8 bits kept", "rastool: /d/b.pdf: protected",
                       "stopped unexpectedly (Killed)", ""};
    Run();
    // A warning of a successful run is no failure; the last run said nothing at all.
    EXPECT_THAT(host.failures,
                ElementsAre("1|/d/b.pdf|protected", "2|/d/c.pdf|stopped unexpectedly (Killed)",
                            "3|/d/e.pdf|the converter ended with status 2"));
    // Forgotten once the run has really started, before the first engine.
    const auto firstRun = std::find(host.log.begin(), host.log.end(), "Run /d/a.pdf");
    ASSERT_GE(host.clearedAtLogSize, 0);
    EXPECT_LE(host.log.begin() + host.clearedAtLogSize, firstRun);
    EXPECT_GT(host.clearedAtLogSize, 0) << "before the settings were read";
}

TEST_F(RunBatchTest, RefusedSettingsKeepThePreviousFailures)
{
    host.rows = {"/d/a.pdf"};
    host.readOk = false;
    Run();
    EXPECT_EQ(host.clearedAtLogSize, -1);
    EXPECT_TRUE(host.failures.empty());
}

TEST_F(RunBatchTest, EngineMissingForEveryRow)
{
    host.rows = {"/d/a.pdf", "/d/b.pdf"};
    runner.results = {-1, -1};
    Run();
    EXPECT_EQ(host.statuses.back(), "Done. 2 of 2 files could not be converted.");
}

TEST_F(RunBatchTest, OutputTypeChangedDuringFirstEngineAppliesFromThirdRow)
{
    host.rows = {"/d/a.pdf", "/d/b.pdf", "/d/c.pdf"};
    runner.duringRun = [this](size_t row) {
        if (row == 0) {
            host.pending.push_back([this] { host.fileType = "PNG"; });
        }
    };
    Run();
    EXPECT_THAT(runner.OutputPaths(), ElementsAre("/d/a.tif", "/d/b.tif", "/d/c.png"));
    ASSERT_EQ(runner.commands.size(), 3u);
    EXPECT_EQ(runner.commands[2].arguments.size(), 9u);
}

TEST_F(RunBatchTest, ChangesHandledInADispatchApplyToTheNextRow)
{
    host.rows = {"/d/a.pdf", "/d/b.pdf"};
    host.onDispatch = [this](int dispatch) {
        if (dispatch == 0) {
            host.destination = "/new";
            settings.compression = 5;
        }
    };
    Run();
    ASSERT_EQ(runner.commands.size(), 2u);
    EXPECT_EQ(runner.commands[0].arguments.back(), "PACKBITS");
    EXPECT_EQ(runner.commands[0].arguments.at(4), "/d/a.tif");
    EXPECT_EQ(runner.commands[1].arguments.back(), "lzw");
    EXPECT_EQ(runner.commands[1].arguments.at(4), "/new/b.tif");
}

TEST_F(RunBatchTest, RowsReadAfreshAndRunStopsAtFirstMissingRow)
{
    host.rows = {"/d/a.pdf", "/d/b.pdf", "/d/c.pdf"};
    runner.results = {0, 4};
    host.onDispatch = [this](int dispatch) {
        if (dispatch == 0) {
            host.rows.erase(host.rows.begin());
        }
    };
    Run();
    // Row 1 is now c.pdf; row 2 no longer exists.
    EXPECT_THAT(host.log, testing::Contains("Run /d/c.pdf"));
    ASSERT_EQ(runner.commands.size(), 2u);
    EXPECT_EQ(runner.commands[1].arguments.at(2), "/d/c.pdf");
    EXPECT_THAT(host.progress, ElementsAre(33, 66, 0));
    EXPECT_EQ(host.statuses.back(), "Done. 1 of 2 files could not be converted.");
    EXPECT_THAT(
        std::vector<std::string>(host.log.end() - 4, host.log.end()),
        ElementsAreArray({"EndWaitCursor", "Status Done. 1 of 2 files could not be converted.",
                          "EnableConvert on", "Progress 0"}));
}

TEST_F(RunBatchTest, AllRowsRemovedBeforeSecondRow)
{
    host.rows = {"/d/a.pdf", "/d/b.pdf"};
    host.onDispatch = [this](int) { host.rows.clear(); };
    Run();
    EXPECT_EQ(runner.commands.size(), 1u);
    EXPECT_THAT(host.statuses, ElementsAre("Converting 'a.pdf'......", "Done."));
    EXPECT_EQ(host.log.back(), "Progress 0");
}

TEST(ShowProgressAndPumpTest, PositionThenDispatch)
{
    RecordingHost host;
    ShowProgressAndPump(host, 0, 1);
    ShowProgressAndPump(host, 1, 3);
    EXPECT_THAT(host.log, ElementsAre("Progress 99", "Dispatch", "Progress 66", "Dispatch"));
}

TEST(ShowProgressAndPumpTest, LongListDoesNotOverflow)
{
    RecordingHost host;
    ShowProgressAndPump(host, 29999999, 30000000);
    ShowProgressAndPump(host, 15000000, 30000000);
    EXPECT_THAT(host.progress, ElementsAre(99, 50));
}

TEST(ShowProgressAndPumpTest, NoRowsDoesNothing)
{
    RecordingHost host;
    ShowProgressAndPump(host, 0, 0);
    ShowProgressAndPump(host, 0, -3);
    EXPECT_TRUE(host.log.empty());
}

} // namespace
