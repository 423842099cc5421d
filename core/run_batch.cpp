// SPDX-License-Identifier: AGPL-3.0-or-later
#include "core/run_batch.h"

#include "core/engine_command_line.h"
#include "core/failure_reason.h"

#include <optional>

void ShowProgressAndPump(BatchHost &host, int32_t i, int32_t n)
{
    if (n <= 0) {
        return;
    }
    // Wide arithmetic so that a very long list cannot overflow i * 100.
    const int64_t pos = (static_cast<int64_t>(i) * 100 + 99) / n;
    host.SetProgressPos(static_cast<int32_t>(pos));
    host.DispatchPendingMessages();
}

void RunBatch(BatchHost &host, const ConversionSettings &settings, const std::string &frontEndPath,
              const ProcessRunner &runner, PathStyle style)
{
    if (!host.ReadSettings()) {
        return;
    }
    host.EnableConvert(false);
    const std::string enginePath = EnginePath(frontEndPath, style);
    host.BeginWaitCursor();

    const std::function<void()> keepAlive = [&host] { host.KeepAliveWhileWaiting(); };
    const int32_t n = host.GetRowCount();
    host.ClearRowFailures();
    int32_t rowsRun = 0;
    int32_t rowsFailed = 0;
    for (int32_t i = 0; i < n; ++i) {
        const std::string destination = host.GetDestinationText();
        const std::string typeText = host.GetFileTypeText();
        const std::optional<std::string> input = host.GetRowPath(i);
        if (!input) {
            break;
        }
        const EngineCommand command =
            BuildEngineCommandLine(enginePath, *input, destination, typeText, settings, style);
        const PathComponents parts = SplitPath(*input, style);
        host.SetStatusText("Converting '" + parts.baseName + parts.extension + "'......");
        ShowProgressAndPump(host, i, n);
        ++rowsRun;
        const ProcessResult result = runner(&command, keepAlive);
        if (result.status != 0) {
            ++rowsFailed;
            host.ReportRowFailure(i, *input, EngineFailureReason(result, command, *input));
        }
    }

    host.EndWaitCursor();
    if (rowsFailed > 0) {
        host.SetStatusText("Done. " + std::to_string(rowsFailed) + " of " +
                           std::to_string(rowsRun) + " files could not be converted.");
    } else {
        host.SetStatusText("Done.");
    }
    host.EnableConvert(true);
    host.SetProgressPos(0);
}
