// SPDX-License-Identifier: AGPL-3.0-or-later
#pragma once

#include <cstddef>
#include <vector>

extern "C" {
typedef struct fz_context fz_context;
typedef struct fz_pixmap fz_pixmap;
}

namespace render {

// The images of the page being drawn, shared by its bands. The library draws an image in a band
// from just the part of it the band needs, scaled on its own, so rows shift where one band meets
// the next; while a PageImages is in use, an image that is not too large is decoded whole, and
// every band scales the same whole image and keeps its own rows. A CMYK image is converted to
// the page's colours once, by the first band, and kept so until the page is listed again.
// Images are painted a row at a time, so that a row lands in the same place in any band.
class PageImages {
public:
    PageImages() = default;
    PageImages(const PageImages &) = delete;
    PageImages &operator=(const PageImages &) = delete;

    // Drops what is kept: called when the page's display list is made, and before the
    // library's context goes, to which what is kept belongs.
    void Clear(fz_context *ctx);

    struct Entry {
        fz_pixmap *decoded;
        fz_pixmap *converted;
    };
    std::vector<Entry> entries;
    std::size_t keptBytes = 0;
};

// While one is alive, the library's image decoding, conversions and painting on this thread go
// through images.
class SharedPageImages {
public:
    explicit SharedPageImages(PageImages *images);
    ~SharedPageImages();
    SharedPageImages(const SharedPageImages &) = delete;
    SharedPageImages &operator=(const SharedPageImages &) = delete;

private:
    PageImages *previous_;
};

} // namespace render
