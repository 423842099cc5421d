// SPDX-License-Identifier: AGPL-3.0-or-later
#include "engine/page_watchdog.h"

#include <algorithm>

namespace rastool {

PageWatchdog::PageWatchdog(std::chrono::seconds limit, std::function<void(int)> expire)
    : limit_(limit), expire_(std::move(expire))
{
    if (limit_.count() > 0) {
        thread_ = std::thread([this] { Watch(); });
    }
}

PageWatchdog::~PageWatchdog()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) {
        thread_.join();
    }
}

void PageWatchdog::Started(int pageNumber)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (running_.emplace(pageNumber, Clock::now()).second) {
        wake_.notify_all();
    }
}

void PageWatchdog::Done(int pageNumber)
{
    std::lock_guard<std::mutex> lock(mutex_);
    running_.erase(pageNumber);
}

void PageWatchdog::Watch()
{
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stopping_) {
        if (running_.empty()) {
            wake_.wait(lock, [this] { return stopping_ || !running_.empty(); });
            continue;
        }
        const auto oldest =
            std::min_element(running_.begin(), running_.end(),
                             [](const auto &a, const auto &b) { return a.second < b.second; });
        const auto deadline = oldest->second + limit_;
        const int page = oldest->first;
        if (Clock::now() >= deadline) {
            lock.unlock();
            expire_(page);
            return;
        }
        wake_.wait_until(lock, deadline);
    }
}

} // namespace rastool
