// SPDX-License-Identifier: AGPL-3.0-or-later
#include "core/run_process.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
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
    // `errorWriteEnd`, unless negative, becomes the child's descriptor 2.
    explicit SpawnSetup(int errorWriteEnd)
    {
        posix_spawn_file_actions_init(&actions_);
        posix_spawnattr_init(&attributes_);
        if (errorWriteEnd >= 0) {
            posix_spawn_file_actions_adddup2(&actions_, errorWriteEnd, STDERR_FILENO);
        }
        // Libraries may open descriptors without close-on-exec; none of them reaches the child.
        // This also closes the pipe's own two descriptors there once the copy above is made.
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

// The pipe that becomes the child's standard error. The read end is non-blocking, so that what
// is left in it can be taken after the child has ended without waiting for more; the write end
// must stay blocking, as the child writes to it. Without a pipe (none could be made) the child
// shares our standard error, and nothing is kept.
class ErrorPipe {
public:
    ErrorPipe()
    {
        int ends[2];
        if (pipe2(ends, O_CLOEXEC) != 0) {
            return;
        }
        readEnd_ = ends[0];
        writeEnd_ = ends[1];
        fcntl(readEnd_, F_SETFL, fcntl(readEnd_, F_GETFL) | O_NONBLOCK);
    }
    ~ErrorPipe()
    {
        CloseWriteEnd();
        CloseReadEnd();
    }
    ErrorPipe(const ErrorPipe &) = delete;
    ErrorPipe &operator=(const ErrorPipe &) = delete;

    int ReadEnd() const { return readEnd_; }
    int WriteEnd() const { return writeEnd_; }
    // Once the child holds its copy, ours must go, or the read end never sees the end of data.
    void CloseWriteEnd() { CloseDescriptor(writeEnd_); }
    void CloseReadEnd() { CloseDescriptor(readEnd_); }

private:
    static void CloseDescriptor(int &fd)
    {
        if (fd >= 0) {
            close(fd);
            fd = -1;
        }
    }

    int readEnd_ = -1;
    int writeEnd_ = -1;
};

// Passes what the child writes on its standard error on to ours as it comes, and keeps the last
// line that holds more than blanks.
class ErrorRelay {
public:
    // Takes what the read end holds now, up to a pipe's usual capacity, so that a child that
    // writes without pause still lets the wait look at its end. False once the child's side
    // is closed (or the pipe fails) and nothing more will come.
    bool TakeAvailable(int readEnd)
    {
        char chunk[4096];
        for (int chunks = 0; chunks < 16;) {
            const ssize_t got = read(readEnd, chunk, sizeof chunk);
            if (got > 0) {
                Take(chunk, static_cast<size_t>(got));
                ++chunks;
                continue;
            }
            if (got < 0 && errno == EINTR) {
                continue;
            }
            return got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
        }
        return true;
    }

    std::string LastLine() const
    {
        const std::string unfinished = Trimmed(line_);
        return unfinished.empty() ? last_ : unfinished;
    }

private:
    // A line longer than this is kept only in its first part; the whole still goes on to our
    // standard error.
    static constexpr size_t kMaxKept = 4096;

    void Take(const char *data, size_t size)
    {
        std::fwrite(data, 1, size, stderr);
        std::fflush(stderr);
        for (size_t i = 0; i < size; ++i) {
            if (data[i] == '\n') {
                std::string finished = Trimmed(line_);
                if (!finished.empty()) {
                    last_ = std::move(finished);
                }
                line_.clear();
            } else if (line_.size() < kMaxKept) {
                line_ += data[i];
            }
        }
    }

    static std::string Trimmed(const std::string &text)
    {
        const size_t end = text.find_last_not_of(" \t\r");
        return end == std::string::npos ? std::string() : text.substr(0, end + 1);
    }

    std::string line_;
    std::string last_;
};

ProcessResult StatusToResult(int status, std::string message)
{
    if (WIFEXITED(status)) {
        return ProcessResult(WEXITSTATUS(status), std::move(message));
    }
    if (WIFSIGNALED(status)) {
        const char *name = strsignal(WTERMSIG(status));
        return ProcessResult(-1, std::string("stopped unexpectedly (") +
                                     (name != nullptr ? name : "signal") + ")");
    }
    return ProcessResult(-1, std::move(message));
}

// Reads the pipe until the child's side closes, then reaps the child. A grandchild that kept
// the pipe open cannot hold the wait: the child's end is noticed between reads too.
ProcessResult Wait(pid_t child, ErrorPipe &pipe, const std::function<void()> &whileWaiting)
{
    // Polling with whileWaiting keeps a window painting; without it, the pause between looks
    // only bounds how late the end of a child that left its pipe to a grandchild is seen.
    const int pauseMs = whileWaiting ? 10 : 100;
    ErrorRelay relay;
    bool reading = pipe.ReadEnd() >= 0;
    for (;;) {
        if (reading) {
            pollfd ready{pipe.ReadEnd(), POLLIN, 0};
            if (poll(&ready, 1, pauseMs) < 0 && errno != EINTR) {
                reading = false;
            } else {
                reading = relay.TakeAvailable(pipe.ReadEnd());
            }
            if (!reading) {
                pipe.CloseReadEnd();
            }
        }
        int status = 0;
        const pid_t done = waitpid(child, &status, (reading || whileWaiting) ? WNOHANG : 0);
        if (done == child) {
            if (reading) {
                relay.TakeAvailable(pipe.ReadEnd());
            }
            return StatusToResult(status, relay.LastLine());
        }
        if (done < 0 && errno != EINTR) {
            return ProcessResult(-1, relay.LastLine());
        }
        if (whileWaiting) {
            whileWaiting();
            if (!reading) {
                std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
            }
        }
    }
}

// Processes that parse documents from anywhere get the path to find programs, the language
// and place settings for their messages and the folder for temporary files, and nothing that
// would let them reach the display, the session's message bus, the SSH agent or the home folder.
bool PassedToParsers(const char *entry)
{
    static const char *const kNames[] = {"PATH=", "LANG=", "LC_", "TMPDIR="};
    for (const char *name : kNames) {
        if (std::strncmp(entry, name, std::strlen(name)) == 0) {
            return true;
        }
    }
    return false;
}

} // namespace

std::vector<char *> ParserEnvironment()
{
    std::vector<char *> kept;
    for (char **entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
        if (PassedToParsers(*entry)) {
            kept.push_back(*entry);
        }
    }
    kept.push_back(nullptr);
    return kept;
}

ProcessResult RunProcess(const EngineCommand *command, const std::function<void()> &whileWaiting)
{
    if (command == nullptr) {
        return ProcessResult(-1);
    }
    // The debug output: the command line, then the line feed in a second write.
    std::fputs(command->text.c_str(), stderr);
    std::fputs("\n", stderr);
    std::fflush(stderr);
    if (command->arguments.empty()) {
        return ProcessResult(-1);
    }

    ErrorPipe pipe;
    const SpawnSetup setup(pipe.WriteEnd());
    std::vector<char *> argv = ArgumentPointers(command->arguments);
    std::vector<char *> environment = ParserEnvironment();
    pid_t child = 0;
    const int error = posix_spawn(&child, argv[0], setup.Actions(), setup.Attributes(), argv.data(),
                                  environment.data());
    pipe.CloseWriteEnd();
    if (error != 0) {
        return ProcessResult(-1, "cannot start " + command->arguments.front() + ": " +
                                     std::strerror(error));
    }
    return Wait(child, pipe, whileWaiting);
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
