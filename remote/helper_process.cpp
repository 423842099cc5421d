// SPDX-License-Identifier: AGPL-3.0-or-later
#include "remote/helper_process.h"

#include "core/engine_command_line.h"
#include "core/run_process.h"
#include "render/page_source.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace remote {

namespace {

using render::RenderError;

std::mutex programMutex;
std::string chosenProgram;

} // namespace

std::string HelperProgram()
{
    {
        const std::lock_guard<std::mutex> lock(programMutex);
        if (!chosenProgram.empty()) {
            return chosenProgram;
        }
    }
    std::vector<char> self(4096);
    const ssize_t n = ::readlink("/proc/self/exe", self.data(), self.size() - 1);
    return EnginePath(std::string(self.data(), n > 0 ? static_cast<size_t>(n) : 0),
                      PathStyle::Posix);
}

void SetHelperProgram(const std::string &program)
{
    const std::lock_guard<std::mutex> lock(programMutex);
    chosenProgram = program;
}

std::shared_ptr<HelperProcess> SharedHelper()
{
    static const auto helper = std::make_shared<HelperProcess>(HelperProgram());
    return helper;
}

HelperProcess::HelperProcess(std::string program) : program_(std::move(program)) {}

HelperProcess::~HelperProcess()
{
    Stop();
}

pid_t HelperProcess::pid() const
{
    const std::lock_guard<std::mutex> lock(pidMutex_);
    return pid_;
}

void HelperProcess::Kill()
{
    // A helper that died is not reaped before Stop holds this lock, so its id is not reused.
    const std::lock_guard<std::mutex> lock(pidMutex_);
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
    }
}

void HelperProcess::Start()
{
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0) {
        throw RenderError(RenderError::Kind::Stopped, "the document reader cannot be started");
    }
    // The child's end must not already be kServiceFd: a copy onto itself would keep its
    // close-on-exec flag.
    int childEnd = pair[1];
    if (childEnd <= kServiceFd) {
        childEnd = ::fcntl(pair[1], F_DUPFD_CLOEXEC, kServiceFd + 1);
        ::close(pair[1]);
    }
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attributes);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, childEnd, kServiceFd);
    posix_spawn_file_actions_addclosefrom_np(&actions, kServiceFd + 1);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attributes, &none);
    sigset_t reset;
    sigfillset(&reset);
    posix_spawnattr_setsigdefault(&attributes, &reset);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    // Only what a parser may need; the display, the session bus, the SSH agent and the rest of
    // the user's environment stay with the window.
    std::vector<char *> environment = ParserEnvironment();
    std::string serve = "--serve";
    std::string fd = std::to_string(kServiceFd);
    char *argv[] = {program_.data(), serve.data(), fd.data(), nullptr};
    pid_t child = -1;
    const int error =
        ::posix_spawn(&child, program_.c_str(), &actions, &attributes, argv, environment.data());
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    ::close(childEnd);
    if (error != 0) {
        ::close(pair[0]);
        throw RenderError(RenderError::Kind::Stopped,
                          std::string("the document reader cannot be started: ") +
                              std::strerror(error));
    }
    {
        const std::lock_guard<std::mutex> lock(pidMutex_);
        pid_ = child;
    }
    socket_ = pair[0];
    ++generation_;
}

void HelperProcess::Stop()
{
    if (socket_ >= 0) {
        ::close(socket_);
        socket_ = -1;
    }
    const std::lock_guard<std::mutex> lock(pidMutex_);
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        while (::waitpid(pid_, nullptr, 0) < 0 && errno == EINTR) {
        }
        pid_ = -1;
    }
}

bool HelperProcess::ReceiveWithin(void *data, size_t size,
                                  std::chrono::steady_clock::time_point deadline)
{
    auto *bytes = static_cast<char *>(data);
    while (size > 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            throw RenderError(RenderError::Kind::TimedOut, "reading it took too long");
        }
        pollfd ready{socket_, POLLIN, 0};
        const int polled = ::poll(&ready, 1, static_cast<int>(left.count()));
        if (polled < 0 && errno == EINTR) {
            continue;
        }
        if (polled == 0) {
            continue;
        }
        const ssize_t n = ::recv(socket_, bytes, size, MSG_DONTWAIT);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) {
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

void HelperProcess::Post(const Request &request)
{
    if (socket_ >= 0 && !SendAll(socket_, &request, sizeof request)) {
        Stop();
    }
}

Reply HelperProcess::Call(const Request &request, int fd, std::string &text,
                          std::chrono::milliseconds timeout)
{
    if (socket_ < 0) {
        Start();
    }
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    Reply reply{};
    try {
        if (!SendMessage(socket_, &request, sizeof request, fd) ||
            !ReceiveWithin(&reply, sizeof reply, deadline)) {
            throw RenderError(RenderError::Kind::Stopped, "the document reader stopped on it");
        }
        // A reason or a list of problems is short; more is not from a helper in its right mind.
        constexpr uint32_t kMaxTextBytes = 1 << 20;
        if (reply.textBytes > kMaxTextBytes) {
            throw RenderError(RenderError::Kind::Stopped, "the document reader stopped on it");
        }
        text.assign(reply.textBytes, '\0');
        if (!ReceiveWithin(text.data(), text.size(), deadline)) {
            throw RenderError(RenderError::Kind::Stopped, "the document reader stopped on it");
        }
    } catch (const RenderError &) {
        Stop();
        throw;
    }
    return reply;
}

} // namespace remote
