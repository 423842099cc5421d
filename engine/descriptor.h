// SPDX-License-Identifier: AGPL-3.0-or-later
#pragma once

#include <unistd.h>

namespace rastool {

// An open file descriptor, closed when it goes out of scope; a negative one is left alone.
class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor()
    {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

} // namespace rastool
