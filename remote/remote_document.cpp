// SPDX-License-Identifier: AGPL-3.0-or-later
#include "remote/remote_document.h"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace remote {

using render::RenderError;

namespace {

// The kind as the helper sent it, within the known ones.
RenderError::Kind KindOf(uint32_t kind)
{
    return kind <= static_cast<uint32_t>(RenderError::Kind::OutOfMemory)
               ? static_cast<RenderError::Kind>(kind)
               : RenderError::Kind::Failed;
}

std::mutex lastOpenMutex;
std::optional<std::pair<std::string, RenderError>> lastOpenFailure;

void NoteOpen(const std::string &path, const std::optional<RenderError> &failure)
{
    const std::lock_guard<std::mutex> lock(lastOpenMutex);
    if (failure) {
        lastOpenFailure.emplace(path, *failure);
    } else {
        lastOpenFailure.reset();
    }
}

} // namespace

std::optional<RenderError> LastOpenFailure(const std::string &path)
{
    const std::lock_guard<std::mutex> lock(lastOpenMutex);
    if (lastOpenFailure && lastOpenFailure->first == path) {
        return lastOpenFailure->second;
    }
    return std::nullopt;
}

std::shared_ptr<const DocumentFile> DocumentFile::Open(const std::string &path)
{
    // Non-blocking, so that a named pipe is refused below instead of waiting for a writer.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        const int error = errno;
        if (error == ENOENT || error == ENOTDIR) {
            throw RenderError(RenderError::Kind::NotFound, path + ": file not found");
        }
        throw RenderError(RenderError::Kind::Unreadable, path + ": " + std::strerror(error));
    }
    struct stat info {};
    const char *refusal = nullptr;
    if (::fstat(fd, &info) != 0) {
        refusal = "the file cannot be read";
    } else if (S_ISDIR(info.st_mode)) {
        refusal = "is a folder, not a file";
    } else if (!S_ISREG(info.st_mode)) {
        refusal = "is a device or a pipe, not a file";
    } else if (info.st_size == 0) {
        refusal = "the file is empty";
    }
    if (refusal != nullptr) {
        ::close(fd);
        throw RenderError(RenderError::Kind::Unreadable, path + ": " + refusal);
    }
    return std::shared_ptr<const DocumentFile>(new DocumentFile(path, fd));
}

DocumentFile::~DocumentFile()
{
    ::close(fd_);
}

RemoteDocument::RemoteDocument(std::shared_ptr<HelperProcess> helper, const std::string &path)
{
    try {
        helper_ = std::move(helper);
        file_ = DocumentFile::Open(path);
        Open();
    } catch (const RenderError &error) {
        NoteOpen(path, error);
        throw;
    }
    NoteOpen(path, std::nullopt);
}

RemoteDocument::RemoteDocument(std::shared_ptr<HelperProcess> helper,
                               std::shared_ptr<const DocumentFile> file)
    : helper_(std::move(helper)), file_(std::move(file))
{
    Open();
}

RemoteDocument::~RemoteDocument()
{
    if (!lost()) {
        Request request{};
        request.op = Op::Close;
        request.document = id_;
        helper_->Post(request);
    }
    if (pixelFd_ >= 0) {
        ::close(pixelFd_);
    }
}

bool RemoteDocument::lost() const
{
    return lost_ || !helper_->running() || helper_->generation() != generation_;
}

void RemoteDocument::Open()
{
    Request request{};
    request.op = Op::Open;
    std::string text;
    Reply reply{};
    try {
        reply = helper_->Call(request, file_->fd(), text);
    } catch (const RenderError &error) {
        Fail(error.kind(), error.what());
    }
    if (!reply.ok) {
        Fail(KindOf(reply.kind), text);
    }
    generation_ = helper_->generation();
    id_ = static_cast<uint32_t>(reply.a);
    pageCount_ = reply.b;
}

void RemoteDocument::Fail(RenderError::Kind kind, const std::string &what) const
{
    throw RenderError(kind, file_->path() + ": " + what);
}

Reply RemoteDocument::Call(Request request, int fd, std::string &text,
                           std::chrono::milliseconds timeout) const
{
    if (lost_) {
        throw *lost_;
    }
    if (lost()) {
        lost_.emplace(RenderError::Kind::Stopped,
                      file_->path() + ": the document reader stopped on it");
        throw *lost_;
    }
    request.document = id_;
    Reply reply{};
    try {
        reply = helper_->Call(request, fd, text, timeout);
    } catch (const RenderError &error) {
        lost_.emplace(error.kind(), file_->path() + ": " + error.what());
        throw *lost_;
    }
    if (!reply.ok) {
        Fail(KindOf(reply.kind), text);
    }
    return reply;
}

render::PageSizePt RemoteDocument::PageSize(int pageIndex) const
{
    Request request{};
    request.op = Op::PageSize;
    request.page = pageIndex;
    std::string text;
    const Reply reply = Call(request, -1, text);
    return {reply.width, reply.height};
}

render::PageSizePt RemoteDocument::DeclaredPageSize(int pageIndex) const
{
    Request request{};
    request.op = Op::DeclaredPageSize;
    request.page = pageIndex;
    std::string text;
    const Reply reply = Call(request, -1, text);
    return {reply.width, reply.height};
}

render::PixelSize RemoteDocument::PagePixelSize(int pageIndex, double xDpi, double yDpi) const
{
    if (lastPixelSize_ && lastPixelSize_->page == pageIndex && lastPixelSize_->xDpi == xDpi &&
        lastPixelSize_->yDpi == yDpi && !lost()) {
        return lastPixelSize_->size;
    }
    Request request{};
    request.op = Op::PixelSize;
    request.page = pageIndex;
    request.xDpi = xDpi;
    request.yDpi = yDpi;
    std::string text;
    const Reply reply = Call(request, -1, text, renderTimeout_);
    lastPixelSize_ = PixelQuery{pageIndex, xDpi, yDpi, {reply.a, reply.b}};
    return lastPixelSize_->size;
}

void RemoteDocument::RenderBand(int pageIndex, double xDpi, double yDpi, int y0, int rowCount,
                                render::PixelFormat format, unsigned char *dst,
                                std::ptrdiff_t stride)
{
    const render::PixelSize size = PagePixelSize(pageIndex, xDpi, yDpi);
    const int components = format == render::PixelFormat::Rgb ? 3 : 1;
    const std::ptrdiff_t rowBytes = static_cast<std::ptrdiff_t>(size.width) * components;
    if (y0 < 0 || rowCount <= 0 || rowCount > size.height - y0 || size.width <= 0 ||
        stride < rowBytes || dst == nullptr) {
        Fail(RenderError::Kind::Failed, "band outside page " + std::to_string(pageIndex + 1));
    }
    const size_t bytes = static_cast<size_t>(rowBytes) * static_cast<size_t>(rowCount);
    if (pixelFd_ < 0) {
        pixelFd_ = ::memfd_create("pixels", MFD_CLOEXEC);
        if (pixelFd_ < 0) {
            throw std::bad_alloc();
        }
    }
    if (pixelBytes_ < bytes) {
        if (::ftruncate(pixelFd_, static_cast<off_t>(bytes)) != 0) {
            throw std::bad_alloc();
        }
        pixelBytes_ = bytes;
    }
    Request request{};
    request.op = Op::Render;
    request.page = pageIndex;
    request.xDpi = xDpi;
    request.yDpi = yDpi;
    request.y0 = y0;
    request.rows = rowCount;
    request.flag = format == render::PixelFormat::Grey ? 1 : 0;
    std::string text;
    Call(request, pixelFd_, text, renderTimeout_);
    void *memory = ::mmap(nullptr, bytes, PROT_READ, MAP_SHARED, pixelFd_, 0);
    if (memory == MAP_FAILED) {
        throw std::bad_alloc();
    }
    const auto *pixels = static_cast<const unsigned char *>(memory);
    for (int row = 0; row < rowCount; ++row) {
        std::memcpy(dst + row * stride, pixels + static_cast<size_t>(row) * rowBytes,
                    static_cast<size_t>(rowBytes));
    }
    ::munmap(memory, bytes);
}

void RemoteDocument::SetAntiAliasing(bool on)
{
    Request request{};
    request.op = Op::AntiAliasing;
    request.flag = on ? 1 : 0;
    std::string text;
    Call(request, -1, text);
}

std::vector<std::string> RemoteDocument::Problems() const
{
    Request request{};
    request.op = Op::Problems;
    std::string text;
    Call(request, -1, text);
    std::vector<std::string> problems;
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
        problems.push_back(text.substr(start, end - start));
    }
    return problems;
}

} // namespace remote
