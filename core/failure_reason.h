// SPDX-License-Identifier: AGPL-3.0-or-later
#pragma once

#include "core/engine_command_line.h"
#include "core/run_process.h"

#include <string>

// The cause told by one message line, in words that can follow "Could not be converted: ":
// the line without the "<program>: " its writer puts first and, when what remains starts
// with it, without "<path>: " of the file it concerns. Either may be empty to strip nothing.
std::string FailureReason(const std::string &line, const std::string &program,
                          const std::string &path);

// Why the engine run of `command` on `input` did not succeed: its last message line, or, when
// it left none, what its exit status says.
std::string EngineFailureReason(const ProcessResult &result, const EngineCommand &command,
                                const std::string &input);
