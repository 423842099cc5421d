// SPDX-License-Identifier: AGPL-3.0-or-later
#pragma once

#include "remote/protocol.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <sys/types.h>

namespace remote {

// The helper that parses documents for the window: `rastool --serve` started beside the window's
// own executable with a minimal environment, no descriptors but 0-2 and its socket, and started
// again for the next request after it died or took too long. A HelperProcess is used by one
// thread at a time; Kill may come from any thread.
class HelperProcess {
public:
    // Synchronous calls wait this long before the helper is taken for hung.
    static constexpr std::chrono::milliseconds kCallTimeout{5000};

    explicit HelperProcess(std::string program);
    ~HelperProcess();
    HelperProcess(const HelperProcess &) = delete;
    HelperProcess &operator=(const HelperProcess &) = delete;

    // Sends the request (with `fd` beside it unless negative) and waits for the reply, starting
    // the helper first when none runs. A helper that does not answer within `timeout` or dies is
    // killed and reaped, and the call throws render::RenderError (TimedOut or Stopped) naming no
    // document; `text` receives the text that follows the reply.
    Reply Call(const Request &request, int fd, std::string &text,
               std::chrono::milliseconds timeout = kCallTimeout);

    // Sends a request that is not answered, such as Close, to the running helper; nothing when
    // none runs.
    void Post(const Request &request);

    // Counts the helpers started: what was opened in one is gone in the next.
    uint64_t generation() const { return generation_; }
    // Whether the helper of generation() still runs.
    bool running() const { return socket_ >= 0; }
    // The running helper's process id, or -1.
    pid_t pid() const;
    // Ends the helper at once; the call waiting on it fails as Stopped.
    void Kill();

private:
    void Start();
    void Stop();
    bool ReceiveWithin(void *data, size_t size, std::chrono::steady_clock::time_point deadline);

    std::string program_;
    int socket_ = -1;
    uint64_t generation_ = 0;
    mutable std::mutex pidMutex_;
    pid_t pid_ = -1;
};

// rastool beside this process's executable, unless a test chose another program.
std::string HelperProgram();
void SetHelperProgram(const std::string &program);

// The helper shared by the window's synchronous calls (page counts, failure reasons, sizes).
std::shared_ptr<HelperProcess> SharedHelper();

} // namespace remote
