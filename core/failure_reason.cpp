// SPDX-License-Identifier: AGPL-3.0-or-later
#include "core/failure_reason.h"

namespace {

bool StripPrefix(std::string &text, const std::string &word)
{
    const std::string prefix = word + ": ";
    if (word.empty() || text.compare(0, prefix.size(), prefix) != 0) {
        return false;
    }
    text.erase(0, prefix.size());
    return true;
}

std::string ProgramName(const EngineCommand &command)
{
    if (command.arguments.empty()) {
        return {};
    }
    const std::string &program = command.arguments.front();
    return program.substr(program.rfind('/') + 1);
}

} // namespace

std::string FailureReason(const std::string &line, const std::string &program,
                          const std::string &path)
{
    const size_t start = line.find_first_not_of(" \t");
    std::string reason = start == std::string::npos ? std::string() : line.substr(start);
    StripPrefix(reason, program);
    StripPrefix(reason, path);
    return reason;
}

std::string EngineFailureReason(const ProcessResult &result, const EngineCommand &command,
                                const std::string &input)
{
    std::string reason = FailureReason(result.message, ProgramName(command), input);
    if (!reason.empty()) {
        return reason;
    }
    if (result.status < 0) {
        return "the converter did not run to its end";
    }
    return "the converter ended with status " + std::to_string(result.status);
}
