// SPDX-License-Identifier: AGPL-3.0-or-later
#include "engine/output_file.h"

#include "engine/capabilities.h"
#include "engine/exit_status.h"

#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
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

// Temporary names are ".rastool-<host>-<pid>-<n>.tmp": short, so that any name the file system
// accepts can be written, and telling which machine and process made them, so that a later run
// removes only what a dead process of this machine left (a shared folder may be written from
// several machines at once).
const std::string &TempPrefix()
{
    static const std::string prefix = [] {
        char host[256] = {};
        ::gethostname(host, sizeof host - 1);
        uint32_t hash = 2166136261u;
        for (const char *c = host; *c != '\0'; ++c) {
            hash = (hash ^ static_cast<unsigned char>(*c)) * 16777619u;
        }
        char text[32];
        std::snprintf(text, sizeof text, ".rastool-%08x-", hash);
        return std::string(text);
    }();
    return prefix;
}
const char kTempSuffix[] = ".tmp";

// The process id in a temporary name of this machine, or 0 for any other name.
pid_t TempNameOwner(const std::string &name)
{
    const std::string &prefix = TempPrefix();
    const size_t suffixLength = sizeof kTempSuffix - 1;
    if (name.size() <= prefix.size() + suffixLength ||
        name.compare(0, prefix.size(), prefix) != 0 ||
        name.compare(name.size() - suffixLength, suffixLength, kTempSuffix) != 0) {
        return 0;
    }
    const std::string middle =
        name.substr(prefix.size(), name.size() - prefix.size() - suffixLength);
    const auto dash = middle.find('-');
    if (dash == 0 || dash == std::string::npos || dash + 1 == middle.size() || dash > 9 ||
        middle.find_first_not_of("0123456789-") != std::string::npos ||
        middle.find('-', dash + 1) != std::string::npos) {
        return 0;
    }
    return static_cast<pid_t>(std::stol(middle.substr(0, dash)));
}

bool ProcessHasEnded(pid_t pid)
{
    return ::kill(pid, 0) != 0 && errno == ESRCH;
}

// Without /proc a file without a name cannot be given one by an unprivileged process.
bool CanNameUnnamedFiles()
{
    static const bool can = ::access("/proc/self/fd", X_OK) == 0;
    return can;
}

std::string FdPath(int fd)
{
    return "/proc/self/fd/" + std::to_string(fd);
}

bool IsFolder(const std::string &path)
{
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// What stands at the output's name when it is not a file that can be replaced, or null. In a
// folder others can write, a link or a pipe planted there must fail the run, and say so.
const char *Obstacle(const std::string &path)
{
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0 || S_ISREG(info.st_mode)) {
        return nullptr;
    }
    if (S_ISLNK(info.st_mode)) {
        return "a symbolic link has that name";
    }
    return S_ISDIR(info.st_mode) ? "a folder has that name" : "a special file has that name";
}

// The common causes in the words a user would use; the system's text for the rest.
std::string Reason(const std::string &path, int error)
{
    if (error != 0 && error != ENOSPC && error != EDQUOT && error != EROFS) {
        if (const char *obstacle = Obstacle(path)) {
            return obstacle;
        }
    }
    switch (error) {
    case 0:
        return "the file could not be completed";
    case ENOENT:
    case ENOTDIR:
        // Some file systems (such as /proc) answer so for a folder that takes no new files.
        return IsFolder(FolderOf(path)) ? "the folder does not take new files"
                                        : "the folder does not exist";
    case EACCES:
    case EPERM:
        return "no permission to write in the folder";
    case ENOSPC:
    case EDQUOT:
        return "the disk is full";
    case EROFS:
        return "the disk is read-only";
    case ENAMETOOLONG:
        return "the file name is too long";
    case EISDIR:
        return "a folder has that name";
    default:
        return std::strerror(error);
    }
}

[[noreturn]] void Unwritable(const std::string &path, const std::string &reason)
{
    throw Failure(ExitStatus::OutputUnwritable, "cannot write " + path + ": " + reason);
}

[[noreturn]] void Unwritable(const std::string &path, int error)
{
    Unwritable(path, Reason(path, error));
}

} // namespace

std::string FolderOf(const std::string &path)
{
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

OutputFile::OutputFile(std::string path, Naming naming) : path_(std::move(path))
{
    static std::once_flag modeOnce;
    std::call_once(modeOnce, [] { CreationMode(); });
    if (const char *obstacle = Obstacle(path_)) {
        Unwritable(path_, obstacle);
    }
    const std::string folder = FolderOf(path_);
    int fd = -1;
    if (naming == Naming::Unnamed && CanNameUnnamedFiles()) {
        fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
        // Refused by the file system (or the kernel): write under a temporary name instead.
        if (fd < 0 && errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
            Unwritable(path_, errno);
        }
    }
    if (fd < 0) {
        CreateNamed(folder);
        return;
    }
    stream_ = ::fdopen(fd, "w+b");
    if (stream_ == nullptr) {
        const int error = errno;
        ::close(fd);
        Unwritable(path_, error);
    }
}

void OutputFile::CreateNamed(const std::string &folder)
{
    int fd = -1;
    int createError = EEXIST;
    for (int attempt = 0; attempt < 100 && fd < 0 && createError == EEXIST; ++attempt) {
        NameTemporary(folder);
        fd = ::open(tempPath_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        createError = errno;
        if (fd < 0) {
            DropTemporary();
        }
    }
    if (fd < 0) {
        Unwritable(path_, createError);
    }
    stream_ = ::fdopen(fd, "w+b");
    if (stream_ == nullptr) {
        const int error = errno;
        ::close(fd);
        ::unlink(tempPath_.c_str());
        DropTemporary();
        Unwritable(path_, error);
    }
}

// The name is registered for the signal handler before the file exists, so there is no moment
// in which a signal (delivered to any thread) could miss it.
void OutputFile::NameTemporary(const std::string &folder)
{
    static std::atomic<unsigned> counter{0};
    tempPath_ = folder + "/" + TempPrefix() + std::to_string(::getpid()) + "-" +
                std::to_string(counter++) + kTempSuffix;
    slot_ = Register(tempPath_);
}

void OutputFile::DropTemporary()
{
    Unregister(slot_);
    slot_ = -1;
    tempPath_.clear();
}

OutputFile::~OutputFile()
{
    if (stream_ != nullptr) {
        std::fclose(stream_);
        if (!tempPath_.empty()) {
            ::unlink(tempPath_.c_str());
        }
    }
    DropTemporary();
}

void OutputFile::Commit()
{
    std::FILE *stream = stream_;
    stream_ = nullptr;
    errno = 0;
    const bool flushed = std::fflush(stream) == 0 && std::ferror(stream) == 0;
    const int flushError = errno;
    const int fd = ::fileno(stream);
    ::fchmod(fd, CreationMode());
    // Checked again at the end: something may have been planted there while the file was made.
    if (const char *obstacle = Obstacle(path_)) {
        std::fclose(stream);
        if (!tempPath_.empty()) {
            ::unlink(tempPath_.c_str());
        }
        DropTemporary();
        Unwritable(path_, obstacle);
    }
    if (flushed && tempPath_.empty()) {
        // A file without a name takes the final name directly when it is free; an existing
        // file is replaced through a temporary name, as rename() cannot take a file without one.
        if (::linkat(AT_FDCWD, FdPath(fd).c_str(), AT_FDCWD, path_.c_str(), AT_SYMLINK_FOLLOW) ==
            0) {
            std::fclose(stream);
            return;
        }
        int error = errno;
        if (error == EEXIST) {
            for (int attempt = 0; attempt < 100 && error == EEXIST; ++attempt) {
                NameTemporary(FolderOf(path_));
                error = ::linkat(AT_FDCWD, FdPath(fd).c_str(), AT_FDCWD, tempPath_.c_str(),
                                 AT_SYMLINK_FOLLOW) == 0
                            ? 0
                            : errno;
                if (error != 0) {
                    DropTemporary();
                }
            }
        }
        if (error != 0) {
            std::fclose(stream);
            Unwritable(path_, error);
        }
    }
    const bool closed = std::fclose(stream) == 0;
    const int closeError = errno;
    if (!flushed || !closed) {
        if (!tempPath_.empty()) {
            ::unlink(tempPath_.c_str());
        }
        DropTemporary();
        Unwritable(path_, !flushed ? flushError : closeError);
    }
    if (::rename(tempPath_.c_str(), path_.c_str()) != 0) {
        const int error = errno;
        ::unlink(tempPath_.c_str());
        DropTemporary();
        Unwritable(path_, error);
    }
    DropTemporary();
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

// Only names that carry this program's prefix, this machine and a process id are ours for
// certain. Earlier versions named their temporaries ".<output name>-<pid>-<n>", which users' own
// files (".scan.png-2023-11") match too, so those are never touched.
int OutputFile::RemoveStaleTemporaries(const std::string &folder)
{
    DIR *dir = ::opendir(folder.c_str());
    if (dir == nullptr) {
        return 0;
    }
    int removed = 0;
    while (const dirent *entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        const pid_t owner = TempNameOwner(name);
        struct stat info {};
        if (owner <= 0 || owner == ::getpid() || !ProcessHasEnded(owner) ||
            ::fstatat(::dirfd(dir), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0 ||
            !S_ISREG(info.st_mode) || info.st_uid != ::geteuid()) {
            continue;
        }
        removed += ::unlinkat(::dirfd(dir), name.c_str(), 0) == 0;
    }
    ::closedir(dir);
    return removed;
}

std::string PageFileName(const std::string &output, int pageNumber, int documentPageCount)
{
    const auto slash = output.find_last_of('/');
    auto dot = output.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) {
        dot = output.size();
    }
    const int width = std::max<int>(3, static_cast<int>(std::to_string(documentPageCount).size()));
    std::string number = std::to_string(pageNumber);
    number.insert(0, static_cast<size_t>(std::max<int>(0, width - static_cast<int>(number.size()))),
                  '0');
    return output.substr(0, dot) + "-" + number + output.substr(dot);
}

} // namespace rastool
