// SPDX-License-Identifier: AGPL-3.0-or-later
#pragma once

#include <cstdint>
#include <optional>
#include <string>

// What a batch run needs from the window and the file list around it.
class BatchHost {
public:
    virtual ~BatchHost() = default;

    // Reads and validates every option control into the window's settings; false after
    // the failing field's message has been shown.
    virtual bool ReadSettings() = 0;
    virtual void EnableConvert(bool enable) = 0;
    virtual void BeginWaitCursor() = 0;
    virtual void EndWaitCursor() = 0;
    virtual int32_t GetRowCount() = 0;
    // Column 0 of the row; none when the row no longer exists (rows can be removed while
    // the run dispatches pending messages).
    virtual std::optional<std::string> GetRowPath(int32_t row) = 0;
    virtual std::string GetDestinationText() = 0;
    virtual std::string GetFileTypeText() = 0;
    virtual void SetStatusText(const std::string &text) = 0;
    virtual void SetProgressPos(int32_t pos) = 0;
    // Handles every pending event without waiting for more.
    virtual void DispatchPendingMessages() = 0;
    // Called repeatedly while an engine runs: keeps the window painted without taking
    // user input. Does nothing by default.
    virtual void KeepAliveWhileWaiting() {}
    // The run is about to start on its rows: what an earlier run found out about them is
    // forgotten. Does nothing by default.
    virtual void ClearRowFailures() {}
    // The engine run of `row`, which held `input` when the run read it, did not succeed, for
    // `reason` in plain words. Does nothing by default.
    virtual void ReportRowFailure(int32_t /*row*/, const std::string & /*input*/,
                                  const std::string & /*reason*/)
    {
    }
};
