// SPDX-License-Identifier: AGPL-3.0-or-later
#include "engine/service.h"

#include "engine/descriptor.h"
#include "remote/protocol.h"
#include "render/document.h"

#include <cerrno>
#include <map>
#include <memory>
#include <new>
#include <string>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace rastool {

namespace {

using remote::Op;
using remote::Reply;
using remote::Request;
using render::RenderError;

// The name render::Document gives a document opened from memory; the window puts the file's
// own path in its place.
const std::string kMemoryName = "document in memory: ";

// The reason without the document's name, which only the window knows.
std::string Reason(const std::string &message)
{
    return message.compare(0, kMemoryName.size(), kMemoryName) == 0
               ? message.substr(kMemoryName.size())
               : message;
}

// The whole file, read through the descriptor the window opened.
std::vector<unsigned char> ReadAll(int fd)
{
    std::vector<unsigned char> bytes;
    struct stat info {};
    if (::fstat(fd, &info) == 0 && info.st_size > 0) {
        bytes.reserve(static_cast<size_t>(info.st_size));
    }
    unsigned char chunk[1 << 16];
    // At explicit offsets: the window may hand the same open file to another helper meanwhile.
    for (;;) {
        const ssize_t n = ::pread(fd, chunk, sizeof chunk, static_cast<off_t>(bytes.size()));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            throw RenderError(RenderError::Kind::Unreadable, "the file cannot be read");
        }
        if (n == 0) {
            return bytes;
        }
        bytes.insert(bytes.end(), chunk, chunk + n);
    }
}

class Service {
public:
    Reply Answer(const Request &request, int fd, std::string &text)
    {
        const Descriptor received(fd);
        Reply reply{};
        reply.ok = 1;
        if (request.op == Op::Open) {
            if (fd < 0) {
                throw RenderError(RenderError::Kind::Failed, "no file was given");
            }
            auto document = std::make_unique<render::Document>(ReadAll(fd));
            reply.b = document->PageCount();
            reply.a = static_cast<int32_t>(++lastId_);
            documents_[lastId_] = std::move(document);
            return reply;
        }
        const auto found = documents_.find(request.document);
        if (found == documents_.end()) {
            throw RenderError(RenderError::Kind::Failed, "the document is not open");
        }
        render::Document &document = *found->second;
        switch (request.op) {
        case Op::PageSize:
        case Op::DeclaredPageSize: {
            const render::PageSizePt size = request.op == Op::PageSize
                                                ? document.PageSize(request.page)
                                                : document.DeclaredPageSize(request.page);
            reply.width = size.width;
            reply.height = size.height;
            break;
        }
        case Op::PixelSize: {
            const render::PixelSize size =
                document.PagePixelSize(request.page, request.xDpi, request.yDpi);
            reply.a = size.width;
            reply.b = size.height;
            break;
        }
        case Op::Render:
            Render(document, request, fd);
            break;
        case Op::AntiAliasing:
            document.SetAntiAliasing(request.flag != 0);
            break;
        case Op::Problems:
            for (const std::string &problem : document.Problems()) {
                text += problem + '\n';
            }
            break;
        case Op::Close:
        case Op::Open:
            break;
        }
        return reply;
    }

    void Close(uint32_t document) { documents_.erase(document); }

private:
    static void Render(render::Document &document, const Request &request, int fd)
    {
        const render::PixelSize size =
            document.PagePixelSize(request.page, request.xDpi, request.yDpi);
        const size_t rowBytes = static_cast<size_t>(size.width) * (request.flag != 0 ? 1 : 3);
        const size_t bytes = rowBytes * static_cast<size_t>(request.rows > 0 ? request.rows : 0);
        struct stat info {};
        if (fd < 0 || ::fstat(fd, &info) != 0 || bytes == 0 ||
            static_cast<size_t>(info.st_size) < bytes) {
            throw RenderError(RenderError::Kind::Failed, "no room for the pixels");
        }
        void *memory = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        if (memory == MAP_FAILED) {
            throw std::bad_alloc();
        }
        try {
            document.RenderBand(
                request.page, request.xDpi, request.yDpi, request.y0, request.rows,
                request.flag != 0 ? render::PixelFormat::Grey : render::PixelFormat::Rgb,
                static_cast<unsigned char *>(memory), static_cast<std::ptrdiff_t>(rowBytes));
        } catch (...) {
            ::munmap(memory, bytes);
            throw;
        }
        ::munmap(memory, bytes);
    }

    std::map<uint32_t, std::unique_ptr<render::Document>> documents_;
    uint32_t lastId_ = 0;
};

Reply Failure(RenderError::Kind kind, const std::string &why, std::string &text)
{
    Reply reply{};
    reply.kind = static_cast<uint32_t>(kind);
    text = why;
    return reply;
}

} // namespace

int Serve(int socket)
{
    Service service;
    for (;;) {
        Request request{};
        int fd = -1;
        if (!remote::ReceiveMessage(socket, &request, sizeof request, &fd)) {
            return 0;
        }
        std::string text;
        Reply reply{};
        if (request.op == Op::Close) {
            service.Close(request.document);
            continue;
        }
        try {
            reply = service.Answer(request, fd, text);
        } catch (const RenderError &error) {
            const std::string why = Reason(error.what());
            // The library reports memory it could not get as a failure with these words.
            static const std::string kNoMemory = "not enough memory";
            const bool memory =
                why.size() >= kNoMemory.size() &&
                why.compare(why.size() - kNoMemory.size(), kNoMemory.size(), kNoMemory) == 0;
            reply = Failure(memory ? RenderError::Kind::OutOfMemory : error.kind(), why, text);
        } catch (const std::bad_alloc &) {
            text.clear();
            reply = Failure(RenderError::Kind::OutOfMemory, "not enough memory", text);
        } catch (const std::exception &error) {
            reply = Failure(RenderError::Kind::Failed, error.what(), text);
        }
        reply.textBytes = static_cast<uint32_t>(text.size());
        if (!remote::SendAll(socket, &reply, sizeof reply) ||
            !remote::SendAll(socket, text.data(), text.size())) {
            return 0;
        }
    }
}

} // namespace rastool
