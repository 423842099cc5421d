// SPDX-License-Identifier: AGPL-3.0-or-later
#pragma once

#include "remote/helper_process.h"
#include "render/page_source.h"

#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace remote {

// A document file the window opened, shared by the documents read from it in several helpers.
class DocumentFile {
public:
    // Refuses, as render::Document would, what is no document at all: a missing or unreadable
    // file, a folder, a device or pipe, an empty file.
    static std::shared_ptr<const DocumentFile> Open(const std::string &path);
    ~DocumentFile();
    DocumentFile(const DocumentFile &) = delete;
    DocumentFile &operator=(const DocumentFile &) = delete;
    const std::string &path() const { return path_; }
    int fd() const { return fd_; }

private:
    DocumentFile(std::string path, int fd) : path_(std::move(path)), fd_(fd) {}
    std::string path_;
    int fd_;
};

// A document parsed by a helper process. The window opens the file itself and hands the helper
// the descriptor; every call is one request, and every failure a render::RenderError whose text
// starts with the path, as a document parsed in this process would give. Once its helper has
// died or been restarted, the document is gone: each call fails the way the first one did.
class RemoteDocument : public render::PageSource {
public:
    RemoteDocument(std::shared_ptr<HelperProcess> helper, const std::string &path);
    RemoteDocument(std::shared_ptr<HelperProcess> helper, std::shared_ptr<const DocumentFile> file);
    ~RemoteDocument() override;
    RemoteDocument(const RemoteDocument &) = delete;
    RemoteDocument &operator=(const RemoteDocument &) = delete;

    const std::shared_ptr<const DocumentFile> &file() const { return file_; }
    // Whether the helper it was opened in has gone: every call fails from now on.
    bool lost() const;
    // How long a RenderBand may take before the helper is taken for hung.
    void SetRenderTimeout(std::chrono::milliseconds timeout) { renderTimeout_ = timeout; }

    int PageCount() const override { return pageCount_; }
    render::PageSizePt PageSize(int pageIndex) const override;
    render::PageSizePt DeclaredPageSize(int pageIndex) const override;
    render::PixelSize PagePixelSize(int pageIndex, double xDpi, double yDpi) const override;
    void RenderBand(int pageIndex, double xDpi, double yDpi, int y0, int rowCount,
                    render::PixelFormat format, unsigned char *dst, std::ptrdiff_t stride) override;
    void SetAntiAliasing(bool on) override;
    std::vector<std::string> Problems() const override;

private:
    void Open();
    Reply Call(Request request, int fd, std::string &text,
               std::chrono::milliseconds timeout = HelperProcess::kCallTimeout) const;
    [[noreturn]] void Fail(render::RenderError::Kind kind, const std::string &what) const;

    std::shared_ptr<HelperProcess> helper_;
    std::shared_ptr<const DocumentFile> file_;
    uint32_t id_ = 0;
    uint64_t generation_ = 0;
    int pageCount_ = 0;
    std::chrono::milliseconds renderTimeout_{HelperProcess::kCallTimeout};
    // Why the helper went, kept for every later call.
    mutable std::optional<render::RenderError> lost_;
    // The last size asked for, which a drawing of the page asks for again.
    struct PixelQuery {
        int page;
        double xDpi, yDpi;
        render::PixelSize size;
    };
    mutable std::optional<PixelQuery> lastPixelSize_;
    // Shared memory the pixels come back through, grown as needed.
    int pixelFd_ = -1;
    size_t pixelBytes_ = 0;
};

// Why the last document opened in this process failed to open, when that was the one at `path`:
// asking again would parse it again, and wait again for a helper that hangs on it.
std::optional<render::RenderError> LastOpenFailure(const std::string &path);

} // namespace remote
