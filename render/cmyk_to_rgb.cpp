// SPDX-License-Identifier: AGPL-3.0-or-later
#include "render/cmyk_to_rgb.h"

#include <cmath>
#include <cstdint>
#include <fstream>
#include <iterator>

#include <lcms2.h>

namespace render {

const char *const kDefaultCmykProfile = "/usr/share/color/icc/ghostscript/default_cmyk.icc";

namespace {

void Quiet(cmsContext, cmsUInt32Number, const char *) {}

constexpr cmsUInt32Number kFlags = cmsFLAGS_BLACKPOINTCOMPENSATION;

std::uint32_t BigEndian32(const unsigned char *p)
{
    return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 | p[3];
}

// The library reads a profile's tags only when a transform needs them, and takes what it finds
// of a cut-off file: a profile is whole when the size it declares is there and every tag lies
// inside it.
bool WholeProfile(const unsigned char *data, std::size_t size)
{
    constexpr std::size_t kHeader = 128;
    constexpr std::size_t kTagEntry = 12;
    if (size < kHeader + 4) {
        return false;
    }
    const std::uint64_t declared = BigEndian32(data);
    const std::uint64_t tags = BigEndian32(data + kHeader);
    if (declared > size || kHeader + 4 + tags * kTagEntry > declared) {
        return false;
    }
    for (std::uint64_t i = 0; i < tags; ++i) {
        const unsigned char *entry = data + kHeader + 4 + i * kTagEntry;
        if (std::uint64_t{BigEndian32(entry + 4)} + BigEndian32(entry + 8) > declared) {
            return false;
        }
    }
    return true;
}

} // namespace

CmykToRgb::CmykToRgb(std::optional<std::vector<unsigned char>> documentProfile,
                     std::string defaultProfile)
    : documentProfile_(std::move(documentProfile)), defaultProfile_(std::move(defaultProfile))
{
}

CmykToRgb::~CmykToRgb()
{
    if (colourTransform_ != nullptr) {
        cmsDeleteTransform(static_cast<cmsHTRANSFORM>(colourTransform_));
    }
    if (pixelTransform_ != nullptr) {
        cmsDeleteTransform(static_cast<cmsHTRANSFORM>(pixelTransform_));
    }
    if (context_ != nullptr) {
        cmsDeleteContext(static_cast<cmsContext>(context_));
    }
}

bool CmykToRgb::Build(const void *data, std::size_t size) noexcept
{
    if (!WholeProfile(static_cast<const unsigned char *>(data), size)) {
        return false;
    }
    auto ctx = static_cast<cmsContext>(context_);
    cmsHPROFILE cmyk = cmsOpenProfileFromMemTHR(ctx, data, static_cast<cmsUInt32Number>(size));
    if (cmyk == nullptr) {
        return false;
    }
    // A profile for another space or of another class (an input or link profile) would
    // convert, but not as the printed page looks.
    if (cmsGetColorSpace(cmyk) != cmsSigCmykData || cmsGetDeviceClass(cmyk) != cmsSigOutputClass) {
        cmsCloseProfile(cmyk);
        return false;
    }
    cmsHPROFILE srgb = cmsCreate_sRGBProfileTHR(ctx);
    cmsHTRANSFORM colour = nullptr;
    cmsHTRANSFORM pixels = nullptr;
    if (srgb != nullptr) {
        // Single colours are few and worth the exact pipeline; pixels go through the library's
        // precalculated table.
        colour = cmsCreateTransformTHR(ctx, cmyk, TYPE_CMYK_16, srgb, TYPE_RGB_16,
                                       INTENT_RELATIVE_COLORIMETRIC, kFlags | cmsFLAGS_NOOPTIMIZE);
        pixels = cmsCreateTransformTHR(ctx, cmyk, TYPE_CMYK_8, srgb, TYPE_RGB_8,
                                       INTENT_RELATIVE_COLORIMETRIC, kFlags);
        cmsCloseProfile(srgb);
    }
    cmsCloseProfile(cmyk);
    if (colour == nullptr || pixels == nullptr) {
        if (colour != nullptr) {
            cmsDeleteTransform(colour);
        }
        if (pixels != nullptr) {
            cmsDeleteTransform(pixels);
        }
        return false;
    }
    colourTransform_ = colour;
    pixelTransform_ = pixels;
    return true;
}

bool CmykToRgb::Ready() noexcept
{
    if (tried_) {
        return pixelTransform_ != nullptr;
    }
    tried_ = true;
    context_ = cmsCreateContext(nullptr, nullptr);
    if (context_ == nullptr) {
        return false;
    }
    cmsSetLogErrorHandlerTHR(static_cast<cmsContext>(context_), Quiet);
    if (documentProfile_) {
        if (!documentProfile_->empty() &&
            Build(documentProfile_->data(), documentProfile_->size())) {
            return true;
        }
        rejected_ = true;
    }
    try {
        std::ifstream in(defaultProfile_, std::ios::binary);
        const std::vector<unsigned char> bytes{std::istreambuf_iterator<char>(in),
                                               std::istreambuf_iterator<char>()};
        return !bytes.empty() && Build(bytes.data(), bytes.size());
    } catch (...) {
        return false;
    }
}

void CmykToRgb::Colour(const float cmyk[4], float rgb[3]) noexcept
{
    cmsUInt16Number in[4];
    cmsUInt16Number out[3];
    for (int i = 0; i < 4; ++i) {
        const float v = cmyk[i] < 0 ? 0 : cmyk[i] > 1 ? 1 : cmyk[i];
        in[i] = static_cast<cmsUInt16Number>(std::lround(v * 65535.0f));
    }
    cmsDoTransform(static_cast<cmsHTRANSFORM>(colourTransform_), in, out, 1);
    for (int i = 0; i < 3; ++i) {
        rgb[i] = out[i] / 65535.0f;
    }
}

void CmykToRgb::Pixels(const unsigned char *cmyk, std::ptrdiff_t cmykStride, unsigned char *rgb,
                       std::ptrdiff_t rgbStride, int width, int rows) noexcept
{
    cmsDoTransformLineStride(
        static_cast<cmsHTRANSFORM>(pixelTransform_), cmyk, rgb, static_cast<cmsUInt32Number>(width),
        static_cast<cmsUInt32Number>(rows), static_cast<cmsUInt32Number>(cmykStride),
        static_cast<cmsUInt32Number>(rgbStride), 0, 0);
}

} // namespace render
