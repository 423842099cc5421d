// SPDX-License-Identifier: AGPL-3.0-or-later
#pragma once

#include "render/page_source.h"

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace render {

// One open PDF document with its own library context. A Document is used by one thread at a
// time; several threads render in parallel by opening one Document each.
class Document : public PageSource {
public:
    explicit Document(const std::string &path);
    explicit Document(std::vector<unsigned char> bytes);
    ~Document();
    Document(const Document &) = delete;
    Document &operator=(const Document &) = delete;

    int PageCount() const;
    // pageIndex is 0-based; the size is that of the page as displayed (rotation applied).
    PageSizePt PageSize(int pageIndex) const;
    // The same size, read from the page's entry in the document without loading the page (its
    // resources, links and annotations): cheap enough to measure pages one by one as a long
    // document is shown, and it leaves the page kept for rendering in place.
    PageSizePt DeclaredPageSize(int pageIndex) const;
    // The raster size at the resolution; throws TooLarge beyond kMaxPixelSide on either side.
    PixelSize PagePixelSize(int pageIndex, double xDpi, double yDpi) const;
    // Renders rows [y0, y0 + rowCount) of the page at the resolution into dst (white
    // background, anti-aliased unless turned off). The page's display list is kept for the
    // next band.
    void RenderBand(int pageIndex, double xDpi, double yDpi, int y0, int rowCount,
                    PixelFormat format, unsigned char *dst, std::ptrdiff_t stride);

    // Off: edges are not smoothed and no stroke is drawn thinner than one pixel, for pages that
    // become black and white, where a thin anti-aliased line would fade to nothing.
    void SetAntiAliasing(bool on);

    // What the library had to mend or guess in the document so far (a repaired file, a page
    // without a usable size, damaged content skipped), each in a few plain words.
    std::vector<std::string> Problems() const;

    // The library's state of one document, opaque outside document.cpp.
    struct State;

private:
    void Open();
    void LoadPage(int pageIndex) const;
    std::unique_ptr<State> state_;
};

} // namespace render
