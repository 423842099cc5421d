// SPDX-License-Identifier: AGPL-3.0-or-later
#include "core/run_process.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <spawn.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace {

// posix_spawn wants a mutable, null-terminated argv; the strings themselves stay owned by
// the command.
std::vector<char *> ArgumentPointers(const std::vector<std::string> &arguments)
{
    std::vector<char *> pointers;
    pointers.reserve(arguments.size() + 1);
    for (const std::string &argument : arguments) {
        pointers.push_back(const_cast<char *>(argument.c_str()));
    }
    pointers.push_back(nullptr);
    return pointers;
}

class SpawnSetup {
public:
    SpawnSetup()
    {
        posix_spawn_file_actions_init(&actions_);
        posix_spawnattr_init(&attributes_);
        // Libraries may open descriptors without close-on-exec; none of them reaches the child.
        posix_spawn_file_actions_addclosefrom_np(&actions_, 3);
        // The child starts with no blocked signals and a default SIGPIPE, whatever the
        // front-end has set for itself.
        sigset_t none;
        sigemptyset(&none);
        posix_spawnattr_setsigmask(&attributes_, &none);
        sigset_t reset;
        sigemptyset(&reset);
        sigaddset(&reset, SIGPIPE);
        posix_spawnattr_setsigdefault(&attributes_, &reset);
        posix_spawnattr_setflags(&attributes_, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    }
    ~SpawnSetup()
    {
        posix_spawnattr_destroy(&attributes_);
        posix_spawn_file_actions_destroy(&actions_);
    }
    SpawnSetup(const SpawnSetup &) = delete;
    SpawnSetup &operator=(const SpawnSetup &) = delete;

    const posix_spawn_file_actions_t *Actions() const { return &actions_; }
    const posix_spawnattr_t *Attributes() const { return &attributes_; }

private:
    posix_spawn_file_actions_t actions_;
    posix_spawnattr_t attributes_;
};

int32_t StatusToResult(int status)
{
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int32_t WaitBlocking(pid_t child)
{
    int status = 0;
    while (waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) {
            return -1;
        }
    }
    return StatusToResult(status);
}

int32_t WaitPolling(pid_t child, const std::function<void()> &whileWaiting)
{
    for (;;) {
        int status = 0;
        const pid_t done = waitpid(child, &status, WNOHANG);
        if (done == child) {
            return StatusToResult(status);
        }
        if (done < 0 && errno != EINTR) {
            return -1;
        }
        whileWaiting();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

} // namespace

int32_t RunProcess(const EngineCommand *command, const std::function<void()> &whileWaiting)
{
    if (command == nullptr) {
        return -1;
    }
    // The debug output: the command line, then the line feed in a second write.
    std::fputs(command->text.c_str(), stderr);
    std::fputs("\n", stderr);
    std::fflush(stderr);
    if (command->arguments.empty()) {
        return -1;
    }

    const SpawnSetup setup;
    std::vector<char *> argv = ArgumentPointers(command->arguments);
    pid_t child = 0;
    if (posix_spawn(&child, argv[0], setup.Actions(), setup.Attributes(), argv.data(), environ) !=
        0) {
        return -1;
    }
    return whileWaiting ? WaitPolling(child, whileWaiting) : WaitBlocking(child);
}

std::string OwnExecutablePath()
{
    // The link's length is not known beforehand: grow until the whole target fits.
    std::vector<char> buffer(256);
    for (;;) {
        const ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (length < 0) {
            return {};
        }
        if (static_cast<size_t>(length) < buffer.size()) {
            return std::string(buffer.data(), static_cast<size_t>(length));
        }
        buffer.resize(buffer.size() * 2);
    }
}
