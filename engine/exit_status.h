// SPDX-License-Identifier: AGPL-3.0-or-later
#pragma once

#include <stdexcept>
#include <string>

namespace rastool {

// The process exit statuses; each failure also prints one line on standard error.
enum class ExitStatus : int {
    Success = 0,
    BadOptions = 1,
    InputUnreadable = 2,
    PasswordProtected = 3,
    PageRange = 4,
    OutputUnwritable = 5,
    Internal = 6,
    // A page took longer than --page-time-limit: not a damaged input, only a slow one.
    PageTimeLimit = 7,
    // A page needed more memory than --memory-limit: not damaged either, only too demanding.
    MemoryLimit = 8,
};

// A failure that ends the run with its status and its one-line message.
class Failure : public std::runtime_error {
public:
    Failure(ExitStatus status, const std::string &message)
        : std::runtime_error(message), status_(status)
    {
    }
    ExitStatus status() const { return status_; }

private:
    ExitStatus status_;
};

} // namespace rastool
