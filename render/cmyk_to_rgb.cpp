// SPDX-License-Identifier: AGPL-3.0-or-later
#include "render/cmyk_to_rgb.h"

#include <cmath>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <map>
#include <mutex>

#include <lcms2.h>

namespace render {

const char *const kDefaultCmykProfile = "/usr/share/color/icc/ghostscript/default_cmyk.icc";

namespace {

void Quiet(cmsContext, cmsUInt32Number, const char *) {}

constexpr cmsUInt32Number kFlags = cmsFLAGS_BLACKPOINTCOMPENSATION;

// Grid points per CMYK axis. The library's own precalculated 8-bit CMYK tables convert 4-6
// million pixels a second here and stray from the exact conversion by 2 dE on average (24 at
// most) over random CMYK; interpolating in a grid of our own is about twice as fast, and 13
// points stray by 0.5 on average (6.5 at most, in the darkest colours). Computing the grid
// takes about as long as the library's tables.
constexpr int kGrid = 13;
constexpr int kNodes = kGrid * kGrid * kGrid * kGrid;

using Grid = std::vector<std::uint16_t>;
// The grid holds colours as 0..kLevels (12 bits); a colour interpolated in it comes out scaled
// by 255 twice over.
constexpr int kLevels = 255 * 16;
constexpr int kScale = 255 * 255 * 16;

// Grids in use, by profile (its bytes).
std::mutex gridsMutex;
std::map<std::string, std::weak_ptr<const Grid>> grids;

std::shared_ptr<const Grid> ComputeGrid(cmsHTRANSFORM exact)
{
    std::vector<cmsUInt16Number> in(static_cast<std::size_t>(kNodes) * 4);
    std::size_t i = 0;
    for (int k = 0; k < kGrid; ++k) {
        for (int y = 0; y < kGrid; ++y) {
            for (int m = 0; m < kGrid; ++m) {
                for (int c = 0; c < kGrid; ++c) {
                    for (const int v : {c, m, y, k}) {
                        in[i++] = static_cast<cmsUInt16Number>(v * 65535 / (kGrid - 1));
                    }
                }
            }
        }
    }
    auto grid = std::make_shared<Grid>(static_cast<std::size_t>(kNodes) * 3);
    cmsDoTransform(exact, in.data(), grid->data(), kNodes);
    for (std::uint16_t &v : *grid) {
        v = static_cast<std::uint16_t>((v * kLevels + 32767) / 65535);
    }
    return grid;
}

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
    if (srgb != nullptr) {
        colour = cmsCreateTransformTHR(ctx, cmyk, TYPE_CMYK_16, srgb, TYPE_RGB_16,
                                       INTENT_RELATIVE_COLORIMETRIC, kFlags | cmsFLAGS_NOOPTIMIZE);
        cmsCloseProfile(srgb);
    }
    cmsCloseProfile(cmyk);
    if (colour == nullptr) {
        return false;
    }
    try {
        const std::string key(static_cast<const char *>(data), size);
        const std::lock_guard<std::mutex> lock(gridsMutex);
        grid_ = grids[key].lock();
        if (grid_ == nullptr) {
            grid_ = ComputeGrid(colour);
            grids[key] = grid_;
            // Profiles no document uses any more are forgotten.
            for (auto i = grids.begin(); i != grids.end();) {
                i = i->second.expired() ? grids.erase(i) : std::next(i);
            }
        }
    } catch (...) {
        cmsDeleteTransform(colour);
        return false;
    }
    colourTransform_ = colour;
    return true;
}

bool CmykToRgb::Ready() noexcept
{
    if (tried_) {
        return grid_ != nullptr;
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

// Where each 8-bit value falls in the grid: the offset of the node below it along one axis (in
// samples of the grid as stored) and the fraction beyond it in 255ths.
struct Axis {
    int offset[256];
    int fraction[256];
    explicit Axis(int stride)
    {
        for (int v = 0; v < 256; ++v) {
            const int t = v * (kGrid - 1);
            int index = t / 255;
            int f = t - index * 255;
            if (index == kGrid - 1) {
                index = kGrid - 2;
                f = 255;
            }
            offset[v] = index * stride;
            fraction[v] = f;
        }
    }
};

// Tetrahedral interpolation in cyan, magenta and yellow on the two planes of black around the
// pixel, then linear between them. Nodes hold 12-bit colours, so every sum fits in 32 bits.
void CmykToRgb::Pixel(const unsigned char *cmyk, unsigned char *rgb) const noexcept
{
    constexpr int sc = 3;
    constexpr int sm = 3 * kGrid;
    constexpr int sy = 3 * kGrid * kGrid;
    constexpr int sk = 3 * kGrid * kGrid * kGrid;
    static const Axis cyan(sc), magenta(sm), yellow(sy), black(sk);
    const int fc = cyan.fraction[cmyk[0]];
    const int fm = magenta.fraction[cmyk[1]];
    const int fy = yellow.fraction[cmyk[2]];
    const int fk = black.fraction[cmyk[3]];
    // The tetrahedron holding the point: its corners from the base, one axis at a time, in
    // the order of the fractions.
    int s0, s1, s2, f0, f1, f2;
    if (fc >= fm) {
        if (fm >= fy) {
            s0 = sc, s1 = sm, s2 = sy, f0 = fc, f1 = fm, f2 = fy;
        } else if (fc >= fy) {
            s0 = sc, s1 = sy, s2 = sm, f0 = fc, f1 = fy, f2 = fm;
        } else {
            s0 = sy, s1 = sc, s2 = sm, f0 = fy, f1 = fc, f2 = fm;
        }
    } else if (fc >= fy) {
        s0 = sm, s1 = sc, s2 = sy, f0 = fm, f1 = fc, f2 = fy;
    } else if (fm >= fy) {
        s0 = sm, s1 = sy, s2 = sc, f0 = fm, f1 = fy, f2 = fc;
    } else {
        s0 = sy, s1 = sm, s2 = sc, f0 = fy, f1 = fm, f2 = fc;
    }
    const std::uint16_t *n0 = grid_->data() + cyan.offset[cmyk[0]] + magenta.offset[cmyk[1]] +
                              yellow.offset[cmyk[2]] + black.offset[cmyk[3]];
    const std::uint16_t *n1 = n0 + sk;
    const int c01 = s0 + s1;
    const int c012 = c01 + s2;
    for (int ch = 0; ch < 3; ++ch) {
        const int a0 = n0[ch], b0 = n0[s0 + ch], c0 = n0[c01 + ch], d0 = n0[c012 + ch];
        const int a1 = n1[ch], b1 = n1[s0 + ch], c1 = n1[c01 + ch], d1 = n1[c012 + ch];
        const int p0 = a0 * 255 + f0 * (b0 - a0) + f1 * (c0 - b0) + f2 * (d0 - c0);
        const int p1 = a1 * 255 + f0 * (b1 - a1) + f1 * (c1 - b1) + f2 * (d1 - c1);
        const int v = p0 * 255 + fk * (p1 - p0); // 12 bits in 255ths of 255ths
        rgb[ch] = static_cast<unsigned char>((v + kScale / 2) / kScale);
    }
}

void CmykToRgb::Pixels(const unsigned char *cmyk, std::ptrdiff_t cmykStride, unsigned char *rgb,
                       std::ptrdiff_t rgbStride, int width, int rows) noexcept
{
    for (int y = 0; y < rows; ++y) {
        const unsigned char *s = cmyk + y * cmykStride;
        unsigned char *d = rgb + y * rgbStride;
        // Flat areas repeat one colour: it is converted once.
        unsigned char last[4] = {0, 0, 0, 0};
        unsigned char lastRgb[3];
        Pixel(last, lastRgb);
        for (int x = 0; x < width; ++x, s += 4, d += 3) {
            if (s[0] != last[0] || s[1] != last[1] || s[2] != last[2] || s[3] != last[3]) {
                last[0] = s[0], last[1] = s[1], last[2] = s[2], last[3] = s[3];
                Pixel(last, lastRgb);
            }
            d[0] = lastRgb[0], d[1] = lastRgb[1], d[2] = lastRgb[2];
        }
    }
}

} // namespace render
