// SPDX-License-Identifier: AGPL-3.0-or-later
#include "engine/output_file.h"

#include "engine/exit_status.h"

#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace rastool {

namespace {

// Temporary names in use, for the signal handler. Plain slots with atomic pointers: the
// handler may only read memory and call unlink().
constexpr int kSlots = 256;
std::array<std::atomic<char *>, kSlots> tempNames{};

int Register(const std::string &path)
{
    char *copy = strdup(path.c_str());
    if (copy == nullptr) {
        return -1;
    }
    for (int i = 0; i < kSlots; ++i) {
        char *expected = nullptr;
        if (tempNames[static_cast<size_t>(i)].compare_exchange_strong(expected, copy)) {
            return i;
        }
    }
    std::free(copy);
    return -1;
}

void Unregister(int slot)
{
    if (slot >= 0) {
        std::free(tempNames[static_cast<size_t>(slot)].exchange(nullptr));
    }
}

void UnlinkTempFiles()
{
    for (auto &slot : tempNames) {
        if (const char *name = slot.load()) {
            ::unlink(name);
        }
    }
}

extern "C" void RemoveTempFilesAndDie(int signal)
{
    UnlinkTempFiles();
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

mode_t CreationMode()
{
    static mode_t mode = [] {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        return static_cast<mode_t>(0666 & ~mask);
    }();
    return mode;
}

std::string FolderOf(const std::string &path)
{
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

[[noreturn]] void Unwritable(const std::string &path, const std::string &reason)
{
    throw Failure(ExitStatus::OutputUnwritable, "cannot write " + path + ": " + reason);
}

} // namespace

OutputFile::OutputFile(std::string path) : path_(std::move(path))
{
    static std::once_flag modeOnce;
    std::call_once(modeOnce, [] { CreationMode(); });
    const std::string folder = FolderOf(path_);
    const auto slash = path_.find_last_of('/');
    const std::string name = slash == std::string::npos ? path_ : path_.substr(slash + 1);
    // The name is registered for the signal handler before the file exists, so there is no
    // moment in which a signal (delivered to any thread) could miss it.
    static std::atomic<unsigned> counter{0};
    int fd = -1;
    int createError = EEXIST;
    for (int attempt = 0; attempt < 100 && fd < 0 && createError == EEXIST; ++attempt) {
        tempPath_ = folder + "/." + name + "-" + std::to_string(::getpid()) + "-" +
                    std::to_string(counter++);
        slot_ = Register(tempPath_);
        fd = ::open(tempPath_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        createError = errno;
        if (fd < 0) {
            Unregister(slot_);
            slot_ = -1;
        }
    }
    if (fd < 0) {
        Unwritable(path_, std::strerror(createError));
    }
    stream_ = ::fdopen(fd, "w+b");
    if (stream_ == nullptr) {
        const int error = errno;
        ::close(fd);
        ::unlink(tempPath_.c_str());
        Unregister(slot_);
        Unwritable(path_, std::strerror(error));
    }
}

OutputFile::~OutputFile()
{
    if (stream_ != nullptr) {
        std::fclose(stream_);
        ::unlink(tempPath_.c_str());
    }
    Unregister(slot_);
}

void OutputFile::Commit()
{
    std::FILE *stream = stream_;
    stream_ = nullptr;
    errno = 0;
    const bool flushed = std::fflush(stream) == 0 && std::ferror(stream) == 0;
    const int flushError = errno;
    ::fchmod(::fileno(stream), CreationMode());
    const bool closed = std::fclose(stream) == 0;
    const int closeError = errno;
    if (!flushed || !closed) {
        ::unlink(tempPath_.c_str());
        Unwritable(path_, std::strerror(!flushed ? flushError : closeError));
    }
    if (::rename(tempPath_.c_str(), path_.c_str()) != 0) {
        const int error = errno;
        ::unlink(tempPath_.c_str());
        Unwritable(path_, std::strerror(error));
    }
}

void OutputFile::RemoveTemporaryFiles()
{
    UnlinkTempFiles();
}

void OutputFile::InstallSignalCleanup()
{
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        std::signal(signal, RemoveTempFilesAndDie);
    }
}

std::string PageFileName(const std::string &output, int pageNumber, int lastPageNumber)
{
    const auto slash = output.find_last_of('/');
    auto dot = output.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) {
        dot = output.size();
    }
    const int width = std::max<int>(3, static_cast<int>(std::to_string(lastPageNumber).size()));
    std::string number = std::to_string(pageNumber);
    number.insert(0, static_cast<size_t>(std::max<int>(0, width - static_cast<int>(number.size()))),
                  '0');
    return output.substr(0, dot) + "-" + number + output.substr(dot);
}

} // namespace rastool
