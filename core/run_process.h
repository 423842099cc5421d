// SPDX-License-Identifier: AGPL-3.0-or-later
#pragma once

#include "core/engine_command_line.h"

#include <cstdint>
#include <functional>
#include <string>

// Starts a command and waits for it to end; the seam through which the batch run starts the
// engine, so that tests can put a recorder in its place.
using ProcessRunner =
    std::function<int32_t(const EngineCommand *command, const std::function<void()> &whileWaiting)>;

// Logs the command's text as one line on standard error, starts `arguments` directly (no
// shell, no search of PATH) with this process's environment and only descriptors 0, 1 and 2,
// and waits for it without time limit. Returns its exit status; -1 when the command is absent
// or empty, cannot be started, or ended by a signal. With `whileWaiting`, the wait polls and
// calls it between polls so that a window can keep painting.
int32_t RunProcess(const EngineCommand *command, const std::function<void()> &whileWaiting = {});

// The absolute path of the running executable; empty if it cannot be read.
std::string OwnExecutablePath();
