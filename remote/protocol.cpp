// SPDX-License-Identifier: AGPL-3.0-or-later
#include "remote/protocol.h"

#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <unistd.h>

namespace remote {

bool SendAll(int socket, const void *data, size_t size)
{
    const auto *bytes = static_cast<const char *>(data);
    while (size > 0) {
        const ssize_t n = ::send(socket, bytes, size, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        bytes += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

bool ReceiveAll(int socket, void *data, size_t size)
{
    auto *bytes = static_cast<char *>(data);
    while (size > 0) {
        const ssize_t n = ::recv(socket, bytes, size, 0);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        bytes += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

bool SendMessage(int socket, const void *data, size_t size, int fd)
{
    if (fd < 0) {
        return SendAll(socket, data, size);
    }
    // The descriptor goes with the first byte; the rest follows as plain data.
    iovec part{const_cast<void *>(data), 1};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
    msghdr message{};
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    cmsghdr *header = CMSG_FIRSTHDR(&message);
    header->cmsg_level = SOL_SOCKET;
    header->cmsg_type = SCM_RIGHTS;
    header->cmsg_len = CMSG_LEN(sizeof(int));
    std::memcpy(CMSG_DATA(header), &fd, sizeof fd);
    ssize_t n;
    do {
        n = ::sendmsg(socket, &message, MSG_NOSIGNAL);
    } while (n < 0 && errno == EINTR);
    return n == 1 && SendAll(socket, static_cast<const char *>(data) + 1, size - 1);
}

bool ReceiveMessage(int socket, void *data, size_t size, int *receivedFd)
{
    *receivedFd = -1;
    iovec part{data, 1};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
    msghdr message{};
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    ssize_t n;
    do {
        n = ::recvmsg(socket, &message, MSG_CMSG_CLOEXEC);
    } while (n < 0 && errno == EINTR);
    for (cmsghdr *header = CMSG_FIRSTHDR(&message); n == 1 && header != nullptr;
         header = CMSG_NXTHDR(&message, header)) {
        if (header->cmsg_level == SOL_SOCKET && header->cmsg_type == SCM_RIGHTS &&
            header->cmsg_len == CMSG_LEN(sizeof(int))) {
            std::memcpy(receivedFd, CMSG_DATA(header), sizeof(int));
        }
    }
    if (n != 1 || (message.msg_flags & MSG_CTRUNC) != 0 ||
        !ReceiveAll(socket, static_cast<char *>(data) + 1, size - 1)) {
        if (*receivedFd >= 0) {
            ::close(*receivedFd);
            *receivedFd = -1;
        }
        return false;
    }
    return true;
}

} // namespace remote
