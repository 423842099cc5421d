// SPDX-License-Identifier: AGPL-3.0-or-later
// The PDF library is a static archive linked into this shared library, and the link redirects
// its calls between its own objects to the functions below (the linker's --wrap, see
// CMakeLists.txt): the draw device's colour of a fill, stroke, text, image mask or soft-mask
// backdrop (fz_convert_color), every pixmap conversion of images and transparency groups
// (fz_convert_pixmap_samples), and the converters that shadings and spot colours look up
// (fz_find_color_converter, fz_init_cached_color_converter). Each passes a conversion on to
// the library unchanged unless it starts in CMYK and a ManagedColour is alive on the thread.
#include "render/managed_colour.h"

#include <cmath>
#include <cstdlib>

#include "render/cmyk_to_rgb.h"

extern "C" {
#include <mupdf/fitz.h>

// The library keeps this type private; this is its layout in a build without ICC support,
// which is the only kind this layer is linked with (one that had ICC would not need it).
typedef struct fz_color_converter fz_color_converter;
typedef void(fz_color_convert_fn)(fz_context *ctx, fz_color_converter *cc, const float *src,
                                  float *dst);
struct fz_color_converter {
    fz_color_convert_fn *convert;
    fz_color_convert_fn *convert_via;
    fz_colorspace *ds;
    fz_colorspace *ss;
    fz_colorspace *ss_via;
    void *opaque;
};

void __real_fz_convert_color(fz_context *ctx, fz_colorspace *ss, const float *sv, fz_colorspace *ds,
                             float *dv, fz_colorspace *is, fz_color_params params);
void __real_fz_find_color_converter(fz_context *ctx, fz_color_converter *cc, fz_colorspace *ss,
                                    fz_colorspace *ds, fz_colorspace *is, fz_color_params params);
void __real_fz_init_cached_color_converter(fz_context *ctx, fz_color_converter *cc,
                                           fz_colorspace *ss, fz_colorspace *ds, fz_colorspace *is,
                                           fz_color_params params);
void __real_fz_fin_cached_color_converter(fz_context *ctx, fz_color_converter *cc);
void __real_fz_convert_pixmap_samples(fz_context *ctx, const fz_pixmap *src, fz_pixmap *dst,
                                      fz_colorspace *prf, const fz_default_colorspaces *default_cs,
                                      fz_color_params params, int copy_spots);
}

namespace render {

namespace {

thread_local CmykToRgb *active = nullptr;

// Indexed and Separation spaces nest at most this deep in a valid document.
constexpr int kMaxNesting = 4;

bool OverCmyk(fz_colorspace *cs, int depth = 0)
{
    if (cs == nullptr || depth > kMaxNesting) {
        return false;
    }
    switch (cs->type) {
    case FZ_COLORSPACE_CMYK:
        return cs->n == 4;
    case FZ_COLORSPACE_INDEXED:
        return OverCmyk(cs->u.indexed.base, depth + 1);
    case FZ_COLORSPACE_SEPARATION:
        return cs->u.separation.eval != nullptr && OverCmyk(cs->u.separation.base, depth + 1);
    default:
        return false;
    }
}

// The conversions this layer takes over: from a CMYK-based space into RGB or grey.
bool Managed(fz_colorspace *ss, fz_colorspace *ds)
{
    if (active == nullptr || ds == nullptr) {
        return false;
    }
    const bool toRgb = ds->type == FZ_COLORSPACE_RGB && ds->n == 3;
    const bool toGrey = ds->type == FZ_COLORSPACE_GRAY && ds->n == 1;
    return (toRgb || toGrey) && OverCmyk(ss) && active->Ready();
}

// Index values arrive scaled to 0..1 as the library's own converters take them; a tint
// transform may throw, which unwinds through here as the library's errors do (no object here
// has a destructor).
void ToCmyk(fz_context *ctx, fz_colorspace *ss, const float *sv, float cmyk[4])
{
    float mid[FZ_MAX_COLORS];
    while (ss->type != FZ_COLORSPACE_CMYK) {
        if (ss->type == FZ_COLORSPACE_INDEXED) {
            fz_colorspace *base = ss->u.indexed.base;
            const int index = fz_clampi(static_cast<int>(sv[0] * 255), 0, ss->u.indexed.high);
            for (int k = 0; k < base->n; ++k) {
                mid[k] = ss->u.indexed.lookup[index * base->n + k] / 255.0f;
            }
            ss = base;
        } else {
            fz_colorspace *base = ss->u.separation.base;
            float in[FZ_MAX_COLORS];
            for (int k = 0; k < ss->n; ++k) {
                in[k] = sv[k];
            }
            ss->u.separation.eval(ctx, ss->u.separation.tint, in, ss->n, mid, base->n);
            ss = base;
        }
        sv = mid;
    }
    for (int k = 0; k < 4; ++k) {
        cmyk[k] = sv[k];
    }
}

void ConvertColour(fz_context *ctx, CmykToRgb *colour, fz_colorspace *ss, const float *sv,
                   fz_colorspace *ds, float *dv)
{
    float cmyk[4];
    float rgb[3];
    ToCmyk(ctx, ss, sv, cmyk);
    colour->Colour(cmyk, rgb);
    if (ds->n == 1) {
        dv[0] = rgb[0] * 0.3f + rgb[1] * 0.59f + rgb[2] * 0.11f;
    } else {
        dv[0] = rgb[0];
        dv[1] = rgb[1];
        dv[2] = rgb[2];
    }
}

void ManagedConvert(fz_context *ctx, fz_color_converter *cc, const float *src, float *dst)
{
    ConvertColour(ctx, static_cast<CmykToRgb *>(cc->opaque), cc->ss, src, cc->ds, dst);
}

void SetManagedConverter(fz_color_converter *cc, fz_colorspace *ss, fz_colorspace *ds)
{
    cc->convert = ManagedConvert;
    cc->convert_via = nullptr;
    cc->ds = ds;
    cc->ss = ss;
    cc->ss_via = nullptr;
    cc->opaque = active;
}

// A one-ink Separation pixmap directly over CMYK, expanded through a table of its 256 tints: the
// library would evaluate the tint transform at every pixel and truncate its result.
fz_pixmap *SeparationToCmyk(fz_context *ctx, const fz_pixmap *src)
{
    fz_pixmap *volatile dst = nullptr;
    fz_var(dst);
    fz_try(ctx)
    {
        fz_colorspace *ss = src->colorspace;
        unsigned char table[256][4];
        for (int i = 0; i < 256; ++i) {
            const float tint = i / 255.0f;
            float cmyk[FZ_MAX_COLORS];
            ss->u.separation.eval(ctx, ss->u.separation.tint, &tint, 1, cmyk, 4);
            for (int k = 0; k < 4; ++k) {
                table[i][k] =
                    static_cast<unsigned char>(fz_clampi(std::lround(cmyk[k] * 255), 0, 255));
            }
        }
        dst = fz_new_pixmap_with_bbox(ctx, ss->u.separation.base, fz_pixmap_bbox(ctx, src), nullptr,
                                      src->alpha);
        for (int y = 0; y < src->h; ++y) {
            const unsigned char *in = src->samples + y * src->stride;
            unsigned char *out = dst->samples + y * dst->stride;
            for (int x = 0; x < src->w; ++x, in += src->n, out += dst->n) {
                const unsigned char *c = table[in[0]];
                out[0] = c[0], out[1] = c[1], out[2] = c[2], out[3] = c[3];
                if (src->alpha) {
                    out[4] = in[1];
                }
            }
        }
    }
    fz_catch(ctx)
    {
        fz_drop_pixmap(ctx, dst);
        fz_rethrow(ctx);
    }
    return dst;
}

// The pixmap in plain CMYK: Indexed and Separation samples are expanded first.
fz_pixmap *ExpandToCmyk(fz_context *ctx, const fz_pixmap *src)
{
    fz_pixmap *volatile current = nullptr;
    fz_pixmap *volatile next = nullptr;
    fz_var(current);
    fz_var(next);
    fz_try(ctx)
    {
        current = fz_keep_pixmap(ctx, const_cast<fz_pixmap *>(src));
        for (int depth = 0; current->colorspace->type != FZ_COLORSPACE_CMYK; ++depth) {
            if (depth > kMaxNesting) {
                fz_throw(ctx, FZ_ERROR_GENERIC, "colour spaces nested too deeply");
            }
            fz_colorspace *cs = current->colorspace;
            if (cs->type == FZ_COLORSPACE_INDEXED) {
                next = fz_convert_indexed_pixmap_to_base(ctx, current);
            } else if (cs->n == 1 && cs->u.separation.base->type == FZ_COLORSPACE_CMYK) {
                next = SeparationToCmyk(ctx, current);
            } else {
                next = fz_convert_separation_pixmap_to_base(ctx, current);
            }
            fz_drop_pixmap(ctx, current);
            current = next;
            next = nullptr;
        }
    }
    fz_catch(ctx)
    {
        fz_drop_pixmap(ctx, current);
        fz_rethrow(ctx);
    }
    return current;
}

// Samples are premultiplied by alpha; the profile is applied to the colour itself.
void ConvertRowWithAlpha(CmykToRgb &colour, const unsigned char *s, int sn, unsigned char *d,
                         int dn, bool da, int width, unsigned char *cmyk, unsigned char *rgb)
{
    for (int x = 0; x < width; ++x) {
        const int a = s[x * sn + 4];
        for (int k = 0; k < 4; ++k) {
            cmyk[x * 4 + k] =
                a == 0 ? 0 : static_cast<unsigned char>((s[x * sn + k] * 255 + a / 2) / a);
        }
    }
    colour.Pixels(cmyk, 0, rgb, 0, width, 1);
    const int colours = dn - (da ? 1 : 0);
    for (int x = 0; x < width; ++x) {
        const int a = s[x * sn + 4];
        const unsigned char *c = rgb + x * 3;
        unsigned char *out = d + x * dn;
        if (colours == 1) {
            const int grey = ((c[0] + 1) * 77 + (c[1] + 1) * 150 + (c[2] + 1) * 28) >> 8;
            out[0] = static_cast<unsigned char>(da ? fz_mul255(grey, a) : grey);
        } else {
            for (int k = 0; k < 3; ++k) {
                out[k] = static_cast<unsigned char>(da ? fz_mul255(c[k], a) : c[k]);
            }
        }
        if (da) {
            out[colours] = static_cast<unsigned char>(a);
        }
    }
}

void ConvertRow(CmykToRgb &colour, const unsigned char *s, int sn, unsigned char *d, int dn,
                int width, unsigned char *cmyk, unsigned char *rgb)
{
    if (sn == 4 && dn == 3) {
        colour.Pixels(s, 0, d, 0, width, 1);
        return;
    }
    const unsigned char *in = s;
    if (sn != 4) {
        for (int x = 0; x < width; ++x) {
            for (int k = 0; k < 4; ++k) {
                cmyk[x * 4 + k] = s[x * sn + k];
            }
        }
        in = cmyk;
    }
    colour.Pixels(in, 0, rgb, 0, width, 1);
    for (int x = 0; x < width; ++x) {
        const unsigned char *c = rgb + x * 3;
        unsigned char *out = d + x * dn;
        if (dn == 1) {
            out[0] = static_cast<unsigned char>(
                ((c[0] + 1) * 77 + (c[1] + 1) * 150 + (c[2] + 1) * 28) >> 8);
        } else {
            out[0] = c[0];
            out[1] = c[1];
            out[2] = c[2];
        }
    }
}

// dst has src's size and an alpha channel only if src has one. Returns false when the scratch
// rows cannot be had, and the library converts instead.
bool ConvertSamples(CmykToRgb &colour, const fz_pixmap *src, fz_pixmap *dst)
{
    const int width = src->w;
    const bool sa = src->alpha != 0;
    const bool da = dst->alpha != 0;
    if (!sa && dst->n == 3) {
        colour.Pixels(src->samples, src->stride, dst->samples, dst->stride, width, src->h);
        return true;
    }
    auto *cmyk = static_cast<unsigned char *>(std::malloc(static_cast<size_t>(width) * 7 + 1));
    if (cmyk == nullptr) {
        return false;
    }
    unsigned char *rgb = cmyk + static_cast<size_t>(width) * 4;
    for (int y = 0; y < src->h; ++y) {
        const unsigned char *s = src->samples + y * src->stride;
        unsigned char *d = dst->samples + y * dst->stride;
        if (sa) {
            ConvertRowWithAlpha(colour, s, src->n, d, dst->n, da, width, cmyk, rgb);
        } else {
            ConvertRow(colour, s, src->n, d, dst->n, width, cmyk, rgb);
        }
    }
    std::free(cmyk);
    return true;
}

} // namespace

ManagedColour::ManagedColour(CmykToRgb *colour) : previous_(active)
{
    active = colour;
}

ManagedColour::~ManagedColour()
{
    active = previous_;
}

} // namespace render

using render::Managed;

extern "C" void __wrap_fz_convert_color(fz_context *ctx, fz_colorspace *ss, const float *sv,
                                        fz_colorspace *ds, float *dv, fz_colorspace *is,
                                        fz_color_params params)
{
    if (Managed(ss, ds)) {
        render::ConvertColour(ctx, render::active, ss, sv, ds, dv);
        return;
    }
    __real_fz_convert_color(ctx, ss, sv, ds, dv, is, params);
}

extern "C" void __wrap_fz_find_color_converter(fz_context *ctx, fz_color_converter *cc,
                                               fz_colorspace *ss, fz_colorspace *ds,
                                               fz_colorspace *is, fz_color_params params)
{
    if (Managed(ss, ds)) {
        render::SetManagedConverter(cc, ss, ds);
        return;
    }
    __real_fz_find_color_converter(ctx, cc, ss, ds, is, params);
}

extern "C" void __wrap_fz_init_cached_color_converter(fz_context *ctx, fz_color_converter *cc,
                                                      fz_colorspace *ss, fz_colorspace *ds,
                                                      fz_colorspace *is, fz_color_params params)
{
    if (Managed(ss, ds)) {
        render::SetManagedConverter(cc, ss, ds);
        return;
    }
    __real_fz_init_cached_color_converter(ctx, cc, ss, ds, is, params);
}

// A managed converter owns nothing; the library's cached one owns its table.
extern "C" void __wrap_fz_fin_cached_color_converter(fz_context *ctx, fz_color_converter *cc)
{
    if (cc->convert == render::ManagedConvert) {
        return;
    }
    __real_fz_fin_cached_color_converter(ctx, cc);
}

extern "C" void __wrap_fz_convert_pixmap_samples(fz_context *ctx, const fz_pixmap *src,
                                                 fz_pixmap *dst, fz_colorspace *prf,
                                                 const fz_default_colorspaces *default_cs,
                                                 fz_color_params params, int copy_spots)
{
    if (src->s == 0 && dst->s == 0 && (dst->alpha == 0 || src->alpha != 0) &&
        Managed(src->colorspace, dst->colorspace)) {
        fz_pixmap *cmyk = render::ExpandToCmyk(ctx, src);
        const bool done = render::ConvertSamples(*render::active, cmyk, dst);
        fz_drop_pixmap(ctx, cmyk);
        if (done) {
            return;
        }
    }
    __real_fz_convert_pixmap_samples(ctx, src, dst, prf, default_cs, params, copy_spots);
}
