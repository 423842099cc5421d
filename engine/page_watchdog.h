// SPDX-License-Identifier: AGPL-3.0-or-later
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <thread>

namespace rastool {

// Ends the run when one page has been in the works longer than the limit. A page whose
// content was made to take hours cannot be interrupted inside the PDF library, so the
// watchdog does not wait for the worker: it calls `expire` with the page's number from its
// own thread, and `expire` must not return.
class PageWatchdog {
public:
    using Clock = std::chrono::steady_clock;

    // The number that stands for opening the document, before any page.
    static constexpr int kOpening = 0;

    // A limit of zero seconds watches nothing.
    PageWatchdog(std::chrono::seconds limit, std::function<void(int pageNumber)> expire);
    ~PageWatchdog();
    PageWatchdog(const PageWatchdog &) = delete;
    PageWatchdog &operator=(const PageWatchdog &) = delete;

    // The clock of a page runs from its first Started() to its Done(); calling Started()
    // again (the next band of the page) does not restart it.
    void Started(int pageNumber);
    void Done(int pageNumber);

private:
    void Watch();

    const std::chrono::seconds limit_;
    const std::function<void(int)> expire_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::map<int, Clock::time_point> running_;
    bool stopping_ = false;
    std::thread thread_;
};

} // namespace rastool
