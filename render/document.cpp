// SPDX-License-Identifier: AGPL-3.0-or-later
#include "render/document.h"

#include "render/memory_budget.h"
#include "render/nesting_check.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "render/cmyk_to_rgb.h"
#include "render/managed_colour.h"
#include "render/output_intent.h"
#include "render/page_images.h"

extern "C" {
#include <jpeglib.h>
#include <mupdf/fitz.h>
#include <mupdf/pdf.h>
}

namespace render {

namespace {

// The library's store of decoded fonts and images, per document. Several documents live at once
// (one per worker thread), so the default of 256 MB each would let memory grow with the cores.
constexpr size_t kStoreBytes = 64u << 20;

// Where the header must appear. A file without one that the library can still read (the header
// lost, the body intact) is opened as repaired; one it cannot read is "not a PDF" rather than
// a PDF too damaged to repair.
constexpr size_t kHeaderWindow = 1024;

bool HasPdfHeader(const unsigned char *data, size_t size)
{
    static const char kMagic[] = "%PDF-";
    const size_t magicLength = sizeof kMagic - 1;
    const size_t end = std::min(size, kHeaderWindow);
    if (end < magicLength) {
        return false;
    }
    for (size_t i = 0; i + magicLength <= end; ++i) {
        if (std::memcmp(data + i, kMagic, magicLength) == 0) {
            return true;
        }
    }
    return false;
}

// The library's own note that this build converts colours without ICC profiles: a fact about the
// build, not about the document.
constexpr const char *kNoIccWarning = "ICC support is not available";

// Each library call that can throw sits alone in a helper: its fz_try block holds no C++ object
// and never returns from inside; the error code comes back and the caller turns it into a
// RenderError while fz_caught_message() still holds the text.

int OpenFromFile(fz_context *ctx, const char *path, fz_document **out)
{
    fz_stream *volatile stream = nullptr;
    fz_document *volatile doc = nullptr;
    fz_var(stream);
    fz_var(doc);
    fz_try(ctx)
    {
        stream = fz_open_file(ctx, path);
        doc = fz_open_document_with_stream(ctx, "application/pdf", stream);
    }
    fz_always(ctx)
    {
        fz_drop_stream(ctx, stream);
    }
    fz_catch(ctx)
    {
        return fz_caught(ctx);
    }
    *out = doc;
    return 0;
}

int OpenFromMemory(fz_context *ctx, const unsigned char *data, size_t size, fz_document **out)
{
    fz_stream *volatile stream = nullptr;
    fz_document *volatile doc = nullptr;
    fz_var(stream);
    fz_var(doc);
    fz_try(ctx)
    {
        stream = fz_open_memory(ctx, data, size);
        doc = fz_open_document_with_stream(ctx, "application/pdf", stream);
    }
    fz_always(ctx)
    {
        fz_drop_stream(ctx, stream);
    }
    fz_catch(ctx)
    {
        return fz_caught(ctx);
    }
    *out = doc;
    return 0;
}

int NeedsPassword(fz_context *ctx, fz_document *doc, int *out)
{
    volatile int needs = 0;
    fz_try(ctx)
    {
        needs = fz_needs_password(ctx, doc);
    }
    fz_catch(ctx)
    {
        return fz_caught(ctx);
    }
    *out = needs;
    return 0;
}

int CountPages(fz_context *ctx, fz_document *doc, int *out)
{
    volatile int count = 0;
    fz_try(ctx)
    {
        count = fz_count_pages(ctx, doc);
    }
    fz_catch(ctx)
    {
        return fz_caught(ctx);
    }
    *out = count;
    return 0;
}

// hasSize: whether the page's own box (MediaBox, inherited or not) is a usable rectangle; the
// library shows a page without one at a default size.
int LoadAndBound(fz_context *ctx, fz_document *doc, int index, fz_page **page, fz_rect *bounds,
                 int *hasSize)
{
    fz_page *volatile loaded = nullptr;
    fz_var(loaded);
    fz_try(ctx)
    {
        loaded = fz_load_page(ctx, doc, index);
        *bounds = fz_bound_page(ctx, loaded);
        *hasSize = 1;
        if (pdf_page *pdfPage = pdf_page_from_fz_page(ctx, loaded)) {
            pdf_obj *box = pdf_dict_get_inheritable(ctx, pdfPage->obj, PDF_NAME(MediaBox));
            const fz_rect r = pdf_to_rect(ctx, box);
            *hasSize = pdf_is_array(ctx, box) && pdf_array_len(ctx, box) == 4 && r.x1 != r.x0 &&
                       r.y1 != r.y0;
        }
    }
    fz_catch(ctx)
    {
        fz_drop_page(ctx, loaded);
        return fz_caught(ctx);
    }
    *page = loaded;
    return 0;
}

// The page's box as fz_bound_page gives it (page box, crop box, rotation and user unit), from
// the page object alone.
int BoundPageObject(fz_context *ctx, fz_document *doc, int index, fz_rect *bounds)
{
    fz_try(ctx)
    {
        pdf_document *pdf = pdf_document_from_fz_document(ctx, doc);
        if (pdf == nullptr) {
            fz_throw(ctx, FZ_ERROR_GENERIC, "not a PDF document");
        }
        // A page the tree only claims has no object: the lookup fails, or, where the library
        // keeps a map of the tree, answers none.
        pdf_obj *object = pdf_lookup_page_obj(ctx, pdf, index);
        if (object == nullptr) {
            fz_throw(ctx, FZ_ERROR_GENERIC, "cannot find page %d in page tree", index + 1);
        }
        fz_rect box;
        fz_matrix ctm;
        pdf_page_obj_transform(ctx, object, &box, &ctm);
        *bounds = fz_transform_rect(box, ctm);
    }
    fz_catch(ctx)
    {
        return fz_caught(ctx);
    }
    return 0;
}

int WasRepaired(fz_context *ctx, fz_document *doc, int *out)
{
    volatile int repaired = 0;
    fz_try(ctx)
    {
        if (pdf_document *pdf = pdf_document_from_fz_document(ctx, doc)) {
            repaired = pdf_was_repaired(ctx, pdf);
        }
    }
    fz_catch(ctx)
    {
        return fz_caught(ctx);
    }
    *out = repaired;
    return 0;
}

int MakeDisplayList(fz_context *ctx, fz_page *page, fz_display_list **out)
{
    fz_display_list *volatile list = nullptr;
    fz_try(ctx)
    {
        list = fz_new_display_list_from_page(ctx, page);
    }
    fz_catch(ctx)
    {
        return fz_caught(ctx);
    }
    *out = list;
    return 0;
}

// Draws the part of the list that falls into band (device pixels) into samples, whose rows are
// exactly band width × components bytes apart.
int DrawBand(fz_context *ctx, fz_display_list *list, fz_matrix ctm, fz_irect band,
             fz_colorspace *colorspace, unsigned char *samples)
{
    fz_pixmap *volatile pixmap = nullptr;
    fz_device *volatile device = nullptr;
    fz_var(pixmap);
    fz_var(device);
    fz_try(ctx)
    {
        pixmap = fz_new_pixmap_with_bbox_and_data(ctx, colorspace, band, nullptr, 0, samples);
        fz_clear_pixmap_with_value(ctx, pixmap, 255);
        device = fz_new_draw_device(ctx, fz_identity, pixmap);
        fz_run_display_list(ctx, list, device, ctm, fz_rect_from_irect(band), nullptr);
        fz_close_device(ctx, device);
    }
    fz_always(ctx)
    {
        fz_drop_device(ctx, device);
        fz_drop_pixmap(ctx, pixmap);
    }
    fz_catch(ctx)
    {
        return fz_caught(ctx);
    }
    return 0;
}

fz_irect PixelBox(fz_rect bounds, double xDpi, double yDpi)
{
    const fz_matrix ctm =
        fz_scale(static_cast<float>(xDpi / 72.0), static_cast<float>(yDpi / 72.0));
    return fz_round_rect(fz_transform_rect(bounds, ctm));
}

} // namespace

struct Document::State {
    std::string name;
    std::vector<unsigned char> bytes;
    fz_context *ctx = nullptr;
    fz_document *doc = nullptr;
    int pageCount = 0;
    // The last page used, kept with its display list for the next band or query.
    int pageIndex = -1;
    fz_page *page = nullptr;
    fz_rect bounds{};
    fz_display_list *list = nullptr;
    // What the library warned of (its own text is not shown), and the pages without a size.
    bool warned = false;
    std::vector<int> pagesWithoutSize;
    std::unique_ptr<CmykToRgb> colour;
    PageImages images;
    bool hasHeader = true;

    ~State()
    {
        if (ctx == nullptr) {
            return;
        }
        images.Clear(ctx);
        fz_drop_display_list(ctx, list);
        fz_drop_page(ctx, page);
        fz_drop_document(ctx, doc);
        fz_drop_context(ctx);
    }

    // page: 1-based, 0 when the failure is not one page's.
    [[noreturn]] void Fail(RenderError::Kind kind, const std::string &what, int code,
                           int page = 0) const
    {
        if (code == FZ_ERROR_MEMORY && budget::TakeRefusal()) {
            throw RenderError(RenderError::Kind::MemoryLimit,
                              name + ": " +
                                  (page > 0 ? "page " + std::to_string(page) : "the document") +
                                  " needs more memory than the limit of " +
                                  std::to_string(MemoryLimit() >> 20) + " MB");
        }
        // The library's own text names its internals (objects, tokens, xref), not a cause a
        // user can act on, so it is left out.
        std::string message = name + ": " + what;
        if (code == FZ_ERROR_MEMORY) {
            message += ": not enough memory";
            kind = RenderError::Kind::Failed;
        }
        throw RenderError(kind, message);
    }
};

namespace {

// The document whose library calls this thread is making, for messages that arrive without one.
thread_local Document::State *current = nullptr;

class CurrentDocument {
public:
    explicit CurrentDocument(Document::State &state) : previous_(current) { current = &state; }
    ~CurrentDocument() { current = previous_; }
    CurrentDocument(const CurrentDocument &) = delete;
    CurrentDocument &operator=(const CurrentDocument &) = delete;

private:
    Document::State *previous_;
};

void NoteCodecMessage(j_common_ptr)
{
    if (current != nullptr) {
        current->warned = true;
    }
}

} // namespace

} // namespace render

// The PDF library decodes JPEG images with libjpeg's standard error manager, which prints a
// damaged image's warnings ("Corrupt JPEG data: ...") on standard error itself. Every error
// manager of the process is made here, so each one reports to the document being drawn instead.
extern "C" struct jpeg_error_mgr *jpeg_std_error(struct jpeg_error_mgr *err)
{
    using StdError = struct jpeg_error_mgr *(*)(struct jpeg_error_mgr *);
    static const auto next = reinterpret_cast<StdError>(::dlsym(RTLD_NEXT, "jpeg_std_error"));
    if (next == nullptr) {
        std::abort();
    }
    struct jpeg_error_mgr *result = next(err);
    result->output_message = render::NoteCodecMessage;
    return result;
}

namespace render {

namespace {

[[noreturn]] void FailFromErrno(const std::string &path, int error)
{
    const auto kind = (error == ENOENT || error == ENOTDIR) ? RenderError::Kind::NotFound
                                                            : RenderError::Kind::Unreadable;
    const char *what =
        kind == RenderError::Kind::NotFound ? "file not found" : std::strerror(error);
    throw RenderError(kind, path + ": " + what);
}

// Reads the first bytes of the file to tell "missing", "unreadable" and "empty" apart before the
// library sees it; returns whether the PDF header is there.
bool CheckFile(const std::string &path)
{
    // Non-blocking, so that a named pipe is refused below instead of waiting for a writer.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        FailFromErrno(path, errno);
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        const int error = errno;
        ::close(fd);
        FailFromErrno(path, error);
    }
    if (S_ISDIR(info.st_mode)) {
        ::close(fd);
        throw RenderError(RenderError::Kind::Unreadable, path + ": is a folder, not a file");
    }
    if (!S_ISREG(info.st_mode)) {
        ::close(fd);
        throw RenderError(RenderError::Kind::Unreadable,
                          path + ": is a device or a pipe, not a file");
    }
    unsigned char head[kHeaderWindow];
    size_t got = 0;
    while (got < sizeof head) {
        const ssize_t n = ::read(fd, head + got, sizeof head - got);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            const int error = errno;
            ::close(fd);
            FailFromErrno(path, error);
        }
        if (n == 0) {
            break;
        }
        got += static_cast<size_t>(n);
    }
    ::close(fd);
    if (got == 0) {
        throw RenderError(RenderError::Kind::Unreadable, path + ": the file is empty");
    }
    return HasPdfHeader(head, got);
}

} // namespace

Document::Document(const std::string &path) : state_(std::make_unique<State>())
{
    state_->name = path;
    state_->hasHeader = CheckFile(path);
    Open();
}

Document::Document(std::vector<unsigned char> bytes) : state_(std::make_unique<State>())
{
    state_->name = "document in memory";
    state_->bytes = std::move(bytes);
    if (state_->bytes.empty()) {
        throw RenderError(RenderError::Kind::Unreadable, state_->name + ": the data is empty");
    }
    state_->hasHeader = HasPdfHeader(state_->bytes.data(), state_->bytes.size());
    Open();
}

Document::~Document() = default;

void Document::Open()
{
    State &s = *state_;
    const CurrentDocument drawing(s);
    static const fz_alloc_context budgeted{nullptr, budget::Allocate, budget::Reallocate,
                                           budget::Release};
    s.ctx = fz_new_context(&budgeted, nullptr, kStoreBytes);
    if (s.ctx == nullptr) {
        throw RenderError(RenderError::Kind::Failed, s.name + ": cannot start the PDF library");
    }
    // Without these the library prints its own lines on standard error, codec libraries' messages
    // (such as a damaged JPEG image's) included.
    // An error the library reports while drawing is one it recovered from by leaving something
    // out (a missing image, a broken content stream), a mend like those it warns of; an error it
    // cannot recover from surfaces as a RenderError as well.
    fz_set_error_callback(
        s.ctx, [](void *user, const char *) { static_cast<State *>(user)->warned = true; }, &s);
    fz_set_warning_callback(
        s.ctx,
        [](void *user, const char *message) {
            static const char kRepeated[] = "... repeated";
            if (std::strcmp(message, kNoIccWarning) != 0 &&
                std::strncmp(message, kRepeated, sizeof kRepeated - 1) != 0) {
                static_cast<State *>(user)->warned = true;
            }
        },
        &s);
    fz_set_aa_level(s.ctx, 8);
    fz_register_document_handlers(s.ctx);

    const int openCode = s.bytes.empty()
                             ? OpenFromFile(s.ctx, s.name.c_str(), &s.doc)
                             : OpenFromMemory(s.ctx, s.bytes.data(), s.bytes.size(), &s.doc);
    if (openCode != 0 && !s.hasHeader) {
        s.Fail(RenderError::Kind::Unreadable, "not a PDF document", openCode);
    }
    if (openCode != 0) {
        s.Fail(RenderError::Kind::Damaged, "the file is damaged and cannot be repaired", openCode);
    }
    int needs = 0;
    if (const int code = NeedsPassword(s.ctx, s.doc, &needs); code != 0) {
        s.Fail(RenderError::Kind::Damaged, "the file is damaged and cannot be repaired", code);
    }
    if (needs != 0) {
        s.Fail(RenderError::Kind::Password, "the document is protected by a password", 0);
    }
    if (const int code = CountPages(s.ctx, s.doc, &s.pageCount); code != 0) {
        s.Fail(RenderError::Kind::Damaged, "the file is damaged and cannot be repaired", code);
    }
    if (s.pageCount <= 0 && !s.hasHeader) {
        s.Fail(RenderError::Kind::Unreadable, "not a PDF document", 0);
    }
    if (s.pageCount <= 0) {
        s.Fail(RenderError::Kind::Unreadable,
               "no page of the document can be read; the file may be damaged", 0);
    }
    s.colour = std::make_unique<CmykToRgb>(CmykOutputIntent(s.ctx, s.doc));
    // What opening warned of is the repair, reported as such by Problems().
    s.warned = false;
}

int Document::PageCount() const
{
    return state_->pageCount;
}

void Document::LoadPage(int pageIndex) const
{
    State &s = *state_;
    if (pageIndex < 0 || pageIndex >= s.pageCount) {
        throw RenderError(RenderError::Kind::Failed,
                          s.name + ": there is no page " + std::to_string(pageIndex + 1) +
                              " in a document of " + std::to_string(s.pageCount) + " pages");
    }
    if (pageIndex == s.pageIndex) {
        return;
    }
    const CurrentDocument drawing(s);
    fz_drop_display_list(s.ctx, s.list);
    s.list = nullptr;
    fz_drop_page(s.ctx, s.page);
    s.page = nullptr;
    s.pageIndex = -1;
    const std::string pageName = "page " + std::to_string(pageIndex + 1);
    int depth = 0;
    if (const int code =
            MeasureResourceNesting(s.ctx, s.doc, pageIndex, kMaxResourceNesting, &depth);
        code != 0) {
        s.Fail(RenderError::Kind::Damaged, pageName + " is missing or damaged", code,
               pageIndex + 1);
    }
    if (depth > kMaxResourceNesting) {
        throw RenderError(RenderError::Kind::Damaged, s.name + ": " + pageName +
                                                          " nests its content more than " +
                                                          std::to_string(kMaxResourceNesting) +
                                                          " levels deep and cannot be drawn");
    }
    int hasSize = 1;
    if (const int code = LoadAndBound(s.ctx, s.doc, pageIndex, &s.page, &s.bounds, &hasSize);
        code != 0) {
        s.Fail(RenderError::Kind::Damaged, pageName + " is missing or damaged", code,
               pageIndex + 1);
    }
    if (!hasSize && std::find(s.pagesWithoutSize.begin(), s.pagesWithoutSize.end(),
                              pageIndex + 1) == s.pagesWithoutSize.end()) {
        s.pagesWithoutSize.push_back(pageIndex + 1);
    }
    s.pageIndex = pageIndex;
}

PageSizePt Document::PageSize(int pageIndex) const
{
    LoadPage(pageIndex);
    const fz_rect &b = state_->bounds;
    return {static_cast<double>(b.x1 - b.x0), static_cast<double>(b.y1 - b.y0)};
}

PageSizePt Document::DeclaredPageSize(int pageIndex) const
{
    const State &s = *state_;
    if (pageIndex == s.pageIndex) {
        return PageSize(pageIndex);
    }
    fz_rect b{};
    if (pageIndex < 0 || pageIndex >= s.pageCount) {
        LoadPage(pageIndex); // throws the same error as PageSize
    }
    if (const int code = BoundPageObject(s.ctx, s.doc, pageIndex, &b); code != 0) {
        s.Fail(RenderError::Kind::Damaged, "cannot read page " + std::to_string(pageIndex + 1),
               code);
    }
    return {static_cast<double>(b.x1 - b.x0), static_cast<double>(b.y1 - b.y0)};
}

PixelSize Document::PagePixelSize(int pageIndex, double xDpi, double yDpi) const
{
    if (!(xDpi > 0 && yDpi > 0 && std::isfinite(xDpi) && std::isfinite(yDpi))) {
        throw RenderError(RenderError::Kind::Failed, state_->name + ": invalid resolution");
    }
    LoadPage(pageIndex);
    const fz_rect &b = state_->bounds;
    // Checked in floating point first: the rounded integer box saturates for huge pages.
    const double w = (b.x1 - b.x0) * xDpi / 72.0;
    const double h = (b.y1 - b.y0) * yDpi / 72.0;
    if (!(w < kMaxPixelSide && h < kMaxPixelSide)) {
        throw RenderError(RenderError::Kind::TooLarge,
                          state_->name + ": page " + std::to_string(pageIndex + 1) +
                              " is too large to render at this resolution");
    }
    const fz_irect box = PixelBox(b, xDpi, yDpi);
    return {std::max(0, box.x1 - box.x0), std::max(0, box.y1 - box.y0)};
}

void Document::RenderBand(int pageIndex, double xDpi, double yDpi, int y0, int rowCount,
                          PixelFormat format, unsigned char *dst, std::ptrdiff_t stride)
{
    const PixelSize size = PagePixelSize(pageIndex, xDpi, yDpi);
    State &s = *state_;
    const CurrentDocument drawing(s);
    const int components = format == PixelFormat::Rgb ? 3 : 1;
    const std::ptrdiff_t rowBytes = static_cast<std::ptrdiff_t>(size.width) * components;
    if (y0 < 0 || rowCount <= 0 || rowCount > size.height - y0 || size.width <= 0 ||
        stride < rowBytes || dst == nullptr) {
        throw RenderError(RenderError::Kind::Failed,
                          s.name + ": band outside page " + std::to_string(pageIndex + 1));
    }
    if (s.list == nullptr) {
        s.images.Clear(s.ctx);
        if (const int code = MakeDisplayList(s.ctx, s.page, &s.list); code != 0) {
            s.Fail(RenderError::Kind::Damaged,
                   "page " + std::to_string(pageIndex + 1) + " is damaged", code, pageIndex + 1);
        }
    }
    const fz_irect page = PixelBox(s.bounds, xDpi, yDpi);
    const fz_irect band{page.x0, page.y0 + y0, page.x1, page.y0 + y0 + rowCount};
    const fz_matrix ctm =
        fz_scale(static_cast<float>(xDpi / 72.0), static_cast<float>(yDpi / 72.0));
    fz_colorspace *colorspace =
        format == PixelFormat::Rgb ? fz_device_rgb(s.ctx) : fz_device_gray(s.ctx);

    // The library wants tightly packed rows; a wider caller stride goes through a scratch band.
    std::vector<unsigned char> scratch;
    unsigned char *samples = dst;
    if (stride != rowBytes) {
        scratch.resize(static_cast<size_t>(rowBytes) * static_cast<size_t>(rowCount));
        samples = scratch.data();
    }
    const ManagedColour managed(s.colour.get());
    const SharedPageImages shared(&s.images);
    if (const int code = DrawBand(s.ctx, s.list, ctm, band, colorspace, samples); code != 0) {
        s.Fail(RenderError::Kind::Failed,
               "page " + std::to_string(pageIndex + 1) + " could not be drawn", code,
               pageIndex + 1);
    }
    if (samples != dst) {
        for (int row = 0; row < rowCount; ++row) {
            std::memcpy(dst + row * stride, samples + row * rowBytes,
                        static_cast<size_t>(rowBytes));
        }
    }
}

void Document::SetAntiAliasing(bool on)
{
    State &s = *state_;
    fz_set_aa_level(s.ctx, on ? 8 : 0);
    fz_set_graphics_min_line_width(s.ctx, on ? 0.0f : 1.0f);
}

std::vector<std::string> Document::Problems() const
{
    State &s = *state_;
    std::vector<std::string> problems;
    int repaired = 0;
    if (WasRepaired(s.ctx, s.doc, &repaired) == 0 && repaired) {
        problems.push_back("the file is damaged and was repaired");
    }
    for (const int page : s.pagesWithoutSize) {
        problems.push_back("page " + std::to_string(page) +
                           " has no valid size and was drawn at Letter size");
    }
    if (s.warned) {
        problems.push_back("some of its content is damaged and was left out");
    }
    if (s.colour->DocumentProfileRejected()) {
        problems.push_back(
            "its CMYK output profile is damaged or of the wrong kind, so its colours "
            "follow the default profile");
    }
    return problems;
}

} // namespace render
