// SPDX-License-Identifier: AGPL-3.0-or-later
#pragma once

#include "core/engine_command_line.h"

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

// What one run of a command left behind.
struct ProcessResult {
    // Implicit, so that a runner with nothing to tell but the status can return it alone.
    ProcessResult(int32_t exitStatus = -1, std::string lastMessage = {})
        : status(exitStatus), message(std::move(lastMessage))
    {
    }

    // The exit status; -1 when the command could not be started or did not exit normally.
    int32_t status;
    // The last line the command wrote on standard error, without its line end; in place of it,
    // why the command could not be started, or the signal that stopped it.
    std::string message;
};

// Starts a command and waits for it to end; the seam through which the batch run starts the
// engine, so that tests can put a recorder in its place.
using ProcessRunner = std::function<ProcessResult(const EngineCommand *command,
                                                  const std::function<void()> &whileWaiting)>;

// Logs the command's text as one line on standard error, starts `arguments` directly (no
// shell, no search of PATH) with ParserEnvironment(), descriptors 0 and 1, and a pipe as
// descriptor 2, and waits for it without time limit. What the command writes on the pipe is
// passed on to this process's standard error as it comes, and its last line is kept. Status
// -1 when the command is absent or empty, cannot be started, or ended by a signal. With
// `whileWaiting`, the wait calls it every few milliseconds so that a window can keep painting.
ProcessResult RunProcess(const EngineCommand *command,
                         const std::function<void()> &whileWaiting = {});

// The environment for a process that parses documents: this process's PATH, language and
// place settings and TMPDIR, nothing else; null-terminated, pointing into this process's own.
std::vector<char *> ParserEnvironment();

// The absolute path of the running executable; empty if it cannot be read.
std::string OwnExecutablePath();
