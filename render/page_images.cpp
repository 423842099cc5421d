// SPDX-License-Identifier: AGPL-3.0-or-later
// Like managed_colour.cpp, this redirects calls between the PDF library's own objects (the
// linker's --wrap): the draw device's request for an image's pixels (fz_get_pixmap_from_image)
// and its conversion of them to the page's colours (fz_convert_pixmap).
#include "render/page_images.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

extern "C" {
#include <mupdf/fitz.h>

fz_pixmap *__real_fz_get_pixmap_from_image(fz_context *ctx, fz_image *image,
                                           const fz_irect *subarea, fz_matrix *ctm, int *dw,
                                           int *dh);
fz_pixmap *__real_fz_convert_pixmap(fz_context *ctx, const fz_pixmap *pix, fz_colorspace *ds,
                                    fz_colorspace *prf, fz_default_colorspaces *default_cs,
                                    fz_color_params params, int keep_alpha);
// The draw device's painters (draw-imp.h, not installed); the last argument is an overprint
// description that is passed on untouched.
void __real_fz_paint_image(fz_context *ctx, fz_pixmap *dst, const fz_irect *scissor,
                           fz_pixmap *shape, fz_pixmap *group_alpha, fz_pixmap *img, fz_matrix ctm,
                           int alpha, int lerp_allowed, const void *eop);
void __real_fz_paint_image_with_color(fz_context *ctx, fz_pixmap *dst, const fz_irect *scissor,
                                      fz_pixmap *shape, fz_pixmap *group_alpha, fz_pixmap *img,
                                      fz_matrix ctm, const unsigned char *colorbv, int lerp_allowed,
                                      const void *eop);
}

namespace render {

namespace {

thread_local PageImages *active = nullptr;

// An image whose decoded pixels would take more than this is drawn a band's part at a time,
// as the library does: memory stays bounded (each worker thread has its own document), at the
// price of the seams. An A4 page scanned at 300 dpi in RGB takes 26 MB.
constexpr std::uint64_t kWholeImageBytes = 32u << 20;
// A CMYK image decoded whole is kept with its conversion for the page, and each worker keeps
// its own: a lower limit keeps a page at 1200 dpi under 150 MB.
constexpr std::uint64_t kWholeCmykImageBytes = 16u << 20;
// Decoded CMYK images and their conversions kept for a page, at most.
constexpr std::size_t kKeptBytes = 64u << 20;

std::size_t Bytes(const fz_pixmap *p)
{
    return static_cast<std::size_t>(p->stride) * static_cast<std::size_t>(p->h);
}

// The size the library decodes the whole image at for this drawing: it halves the image while
// that still leaves more than the device needs (see fz_get_pixmap_from_image).
std::uint64_t WholeBytes(const fz_image *image, const fz_matrix *ctm)
{
    int w = static_cast<int>(std::sqrt(ctm->a * ctm->a + ctm->b * ctm->b));
    int h = static_cast<int>(std::sqrt(ctm->c * ctm->c + ctm->d * ctm->d));
    w = std::min(w, image->w);
    h = std::min(h, image->h);
    int l2factor = 0;
    if (w > 0 && h > 0) {
        while ((image->w >> (l2factor + 1)) >= w + 2 && (image->h >> (l2factor + 1)) >= h + 2 &&
               l2factor < 6) {
            ++l2factor;
        }
    }
    return std::uint64_t(image->w >> l2factor) * std::uint64_t(image->h >> l2factor) * image->n;
}

// Whether the image's decoded pixels are CMYK: in that space, or indexed over it.
bool DecodesToCmyk(fz_context *ctx, const fz_image *image)
{
    fz_colorspace *cs = image->colorspace;
    if (cs != nullptr && fz_colorspace_type(ctx, cs) == FZ_COLORSPACE_INDEXED) {
        cs = cs->u.indexed.base;
    }
    return cs != nullptr && fz_colorspace_type(ctx, cs) == FZ_COLORSPACE_CMYK;
}

bool DecodeWhole(fz_context *ctx, const fz_image *image, const fz_matrix *ctm)
{
    if (DecodesToCmyk(ctx, image)) {
        return WholeBytes(image, ctm) / image->n * 4 <= kWholeCmykImageBytes;
    }
    return WholeBytes(image, ctm) <= kWholeImageBytes;
}

PageImages::Entry *Find(const fz_pixmap *decoded)
{
    for (PageImages::Entry &e : active->entries) {
        if (e.decoded == decoded) {
            return &e;
        }
    }
    return nullptr;
}

// A CMYK image decoded whole is kept for the page (while the budget allows), so that its
// conversion can be kept with it: the pixmap held cannot be freed and its address reused.
void Note(fz_context *ctx, fz_pixmap *decoded) noexcept
{
    if (decoded == nullptr || decoded->colorspace == nullptr ||
        fz_colorspace_type(ctx, decoded->colorspace) != FZ_COLORSPACE_CMYK || Find(decoded) ||
        active->keptBytes + Bytes(decoded) > kKeptBytes) {
        return;
    }
    try {
        active->entries.push_back({fz_keep_pixmap(ctx, decoded), nullptr});
        active->keptBytes += Bytes(decoded);
    } catch (...) {
        fz_drop_pixmap(ctx, decoded);
    }
}

// The library paints an image from the first row of the area it is given and steps down row
// by row in fixed point, so the image's position drifts a little with every row, and each band
// starts afresh: a band's first row does not continue the row above it. Painted one row at a
// time, every row's position is computed on its own, the same in any band.
template <typename Paint> void RowByRow(const fz_irect *scissor, fz_matrix ctm, Paint paint)
{
    const fz_irect box =
        fz_intersect_irect(fz_irect_from_rect(fz_transform_rect(fz_unit_rect, ctm)), *scissor);
    if (box.y1 - box.y0 <= 1) {
        paint(scissor);
        return;
    }
    for (int y = box.y0; y < box.y1; ++y) {
        const fz_irect row{scissor->x0, y, scissor->x1, y + 1};
        paint(&row);
    }
}

} // namespace

void PageImages::Clear(fz_context *ctx)
{
    for (const Entry &e : entries) {
        fz_drop_pixmap(ctx, e.decoded);
        fz_drop_pixmap(ctx, e.converted);
    }
    entries.clear();
    keptBytes = 0;
}

SharedPageImages::SharedPageImages(PageImages *images) : previous_(active)
{
    active = images;
}

SharedPageImages::~SharedPageImages()
{
    active = previous_;
}

} // namespace render

extern "C" fz_pixmap *__wrap_fz_get_pixmap_from_image(fz_context *ctx, fz_image *image,
                                                      const fz_irect *subarea, fz_matrix *ctm,
                                                      int *dw, int *dh)
{
    using namespace render;
    if (active == nullptr || subarea == nullptr || ctm == nullptr || image == nullptr ||
        image->scalable || image->decoded || image->n == 0 || !DecodeWhole(ctx, image, ctm)) {
        return __real_fz_get_pixmap_from_image(ctx, image, subarea, ctm, dw, dh);
    }
    fz_pixmap *decoded = __real_fz_get_pixmap_from_image(ctx, image, nullptr, ctm, dw, dh);
    Note(ctx, decoded);
    return decoded;
}

extern "C" fz_pixmap *__wrap_fz_convert_pixmap(fz_context *ctx, const fz_pixmap *pix,
                                               fz_colorspace *ds, fz_colorspace *prf,
                                               fz_default_colorspaces *default_cs,
                                               fz_color_params params, int keep_alpha)
{
    using namespace render;
    PageImages::Entry *entry = active != nullptr && prf == nullptr ? Find(pix) : nullptr;
    if (entry != nullptr && entry->converted != nullptr && entry->converted->colorspace == ds &&
        entry->converted->alpha == (keep_alpha && pix->alpha)) {
        return fz_keep_pixmap(ctx, entry->converted);
    }
    fz_pixmap *converted =
        __real_fz_convert_pixmap(ctx, pix, ds, prf, default_cs, params, keep_alpha);
    if (entry != nullptr && entry->converted == nullptr &&
        active->keptBytes + Bytes(converted) <= kKeptBytes) {
        entry->converted = fz_keep_pixmap(ctx, converted);
        active->keptBytes += Bytes(converted);
    }
    return converted;
}

extern "C" void __wrap_fz_paint_image(fz_context *ctx, fz_pixmap *dst, const fz_irect *scissor,
                                      fz_pixmap *shape, fz_pixmap *group_alpha, fz_pixmap *img,
                                      fz_matrix ctm, int alpha, int lerp_allowed, const void *eop)
{
    if (render::active == nullptr || scissor == nullptr) {
        __real_fz_paint_image(ctx, dst, scissor, shape, group_alpha, img, ctm, alpha, lerp_allowed,
                              eop);
        return;
    }
    render::RowByRow(scissor, ctm, [&](const fz_irect *row) {
        __real_fz_paint_image(ctx, dst, row, shape, group_alpha, img, ctm, alpha, lerp_allowed,
                              eop);
    });
}

extern "C" void __wrap_fz_paint_image_with_color(fz_context *ctx, fz_pixmap *dst,
                                                 const fz_irect *scissor, fz_pixmap *shape,
                                                 fz_pixmap *group_alpha, fz_pixmap *img,
                                                 fz_matrix ctm, const unsigned char *colorbv,
                                                 int lerp_allowed, const void *eop)
{
    if (render::active == nullptr || scissor == nullptr) {
        __real_fz_paint_image_with_color(ctx, dst, scissor, shape, group_alpha, img, ctm, colorbv,
                                         lerp_allowed, eop);
        return;
    }
    render::RowByRow(scissor, ctm, [&](const fz_irect *row) {
        __real_fz_paint_image_with_color(ctx, dst, row, shape, group_alpha, img, ctm, colorbv,
                                         lerp_allowed, eop);
    });
}
