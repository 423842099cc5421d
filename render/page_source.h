// SPDX-License-Identifier: AGPL-3.0-or-later
#pragma once

// What a caller of the renderer sees of a document, without the PDF library: the window
// includes this and reaches the pages through a helper process, the engine through Document.

#include <cstddef>
#include <stdexcept>
#include <string>
#include <vector>

namespace render {

// Every failure of the PDF library surfaces as this exception, and only as this.
class RenderError : public std::runtime_error {
public:
    // MemoryLimit: the page needs more memory than the budget set by SetMemoryLimit() allows.
    // Stopped, TimedOut and OutOfMemory come from the process that parses for the window: it
    // died, did not answer in time, or ran out of memory on this document.
    enum class Kind {
        NotFound,
        Unreadable,
        Damaged,
        Password,
        TooLarge,
        Failed,
        MemoryLimit,
        Stopped,
        TimedOut,
        OutOfMemory
    };
    RenderError(Kind kind, const std::string &message) : std::runtime_error(message), kind_(kind) {}
    Kind kind() const { return kind_; }

private:
    Kind kind_;
};

struct PageSizePt {
    double width, height;
};

struct PixelSize {
    int width, height;
};

// Rgb: 3 bytes per pixel (R, G, B); Grey: 1 byte per pixel.
enum class PixelFormat { Rgb, Grey };

// A page raster side longer than this is refused before anything is allocated.
constexpr int kMaxPixelSide = 1 << 18;

// The pages of one open document; see Document for what each call does. Used by one thread at a
// time.
class PageSource {
public:
    virtual ~PageSource() = default;
    virtual int PageCount() const = 0;
    virtual PageSizePt PageSize(int pageIndex) const = 0;
    virtual PageSizePt DeclaredPageSize(int pageIndex) const = 0;
    virtual PixelSize PagePixelSize(int pageIndex, double xDpi, double yDpi) const = 0;
    virtual void RenderBand(int pageIndex, double xDpi, double yDpi, int y0, int rowCount,
                            PixelFormat format, unsigned char *dst, std::ptrdiff_t stride) = 0;
    virtual void SetAntiAliasing(bool on) = 0;
    virtual std::vector<std::string> Problems() const = 0;
};

} // namespace render
