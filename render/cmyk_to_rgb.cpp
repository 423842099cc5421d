// SPDX-License-Identifier: AGPL-3.0-or-later
#include "render/cmyk_to_rgb.h"

#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstring>
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
// most) over random CMYK; interpolating in a grid of our own is several times as fast, and 13
// points stray by 0.5 on average (6.5 at most, in the darkest colours). Computing the grid
// takes about as long as the library's tables.
constexpr int kGrid = 13;
constexpr int kNodes = kGrid * kGrid * kGrid * kGrid;

// Four floats that the compiler keeps in one vector register: a node's red, green and blue
// (0..255) and an unused fourth.
typedef float Rgbx __attribute__((vector_size(16)));

constexpr int kPlaneNodes = kGrid * kGrid * kGrid;

} // namespace

// One profile's conversion, shared by the documents (and their threads) that use the profile:
// the exact transform and the grid. The nodes are computed a plane of black at a time, when a
// pixel first needs the plane: text and fills are converted exactly and need none, and an image
// seldom needs every plane.
struct CmykGrid {
    CmykGrid() = default;
    ~CmykGrid()
    {
        if (exact != nullptr) {
            cmsDeleteTransform(exact);
        }
        if (context != nullptr) {
            cmsDeleteContext(context);
        }
    }
    CmykGrid(const CmykGrid &) = delete;
    CmykGrid &operator=(const CmykGrid &) = delete;

    cmsContext context = nullptr;
    // Made without the library's one-colour cache, so that threads can share it.
    cmsHTRANSFORM exact = nullptr;
    std::vector<Rgbx> nodes = std::vector<Rgbx>(kNodes);
    std::mutex mutex;
    std::atomic<bool> computed[kGrid] = {};
};

namespace {

using Grid = CmykGrid;

// Grids in use, by profile (its bytes).
std::mutex gridsMutex;
std::map<std::string, std::weak_ptr<Grid>> grids;

// Computes the plane of black `plane` unless another document using the grid already did.
void ComputePlane(Grid &grid, int plane) noexcept
{
    const std::lock_guard<std::mutex> lock(grid.mutex);
    if (grid.computed[plane].load(std::memory_order_acquire)) {
        return;
    }
    cmsUInt16Number in[kPlaneNodes * 4];
    cmsUInt16Number out[kPlaneNodes * 3];
    int i = 0;
    for (int y = 0; y < kGrid; ++y) {
        for (int m = 0; m < kGrid; ++m) {
            for (int c = 0; c < kGrid; ++c) {
                for (const int v : {c, m, y, plane}) {
                    in[i++] = static_cast<cmsUInt16Number>(v * 65535 / (kGrid - 1));
                }
            }
        }
    }
    cmsDoTransform(grid.exact, in, out, kPlaneNodes);
    Rgbx *nodes = grid.nodes.data() + plane * kPlaneNodes;
    for (int n = 0; n < kPlaneNodes; ++n) {
        constexpr float kToByte = 255.0f / 65535.0f;
        nodes[n] =
            Rgbx{out[n * 3] * kToByte, out[n * 3 + 1] * kToByte, out[n * 3 + 2] * kToByte, 0.0f};
    }
    grid.computed[plane].store(true, std::memory_order_release);
}

// Where each 8-bit value falls in the grid: the node below it along one axis (as an index into
// the grid's nodes) and the fraction of the way to the next.
struct Axis {
    int offset[256];
    float fraction[256];
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
            fraction[v] = static_cast<float>(f) / 255.0f;
        }
    }
};

constexpr int kCyanStride = 1;
constexpr int kMagentaStride = kGrid;
constexpr int kYellowStride = kGrid * kGrid;
constexpr int kBlackStride = kGrid * kGrid * kGrid;
// The axes of cyan (0), magenta (1) and yellow (2) from the largest fraction to the smallest,
// and their strides in the grid, by which of cyan >= magenta, magenta >= yellow and
// cyan >= yellow hold (as bits 2, 1 and 0). Two of the eight cannot happen.
struct Order {
    int axis[3];
    int stride[3];
};
constexpr Order kOrders[8] = {
    {{2, 1, 0}, {kYellowStride, kMagentaStride, kCyanStride}}, // c < m < y
    {{1, 2, 0}, {kMagentaStride, kYellowStride, kCyanStride}}, // impossible: c >= y > m > c
    {{1, 2, 0}, {kMagentaStride, kYellowStride, kCyanStride}}, // c < y <= m
    {{1, 0, 2}, {kMagentaStride, kCyanStride, kYellowStride}}, // y <= c < m
    {{2, 0, 1}, {kYellowStride, kCyanStride, kMagentaStride}}, // m <= c < y
    {{0, 2, 1}, {kCyanStride, kYellowStride, kMagentaStride}}, // m < y <= c
    {{2, 0, 1}, {kYellowStride, kCyanStride, kMagentaStride}}, // impossible: y > c >= m >= y
    {{0, 1, 2}, {kCyanStride, kMagentaStride, kYellowStride}}, // y <= m <= c
};
const Axis kCyan(kCyanStride), kMagenta(kMagentaStride), kYellow(kYellowStride),
    kBlack(kBlackStride);

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

// The profile's conversion, or none when the profile cannot be used.
std::shared_ptr<Grid> MakeGrid(const void *data, std::size_t size)
{
    auto grid = std::make_shared<Grid>();
    grid->context = cmsCreateContext(nullptr, nullptr);
    if (grid->context == nullptr) {
        return nullptr;
    }
    cmsSetLogErrorHandlerTHR(grid->context, Quiet);
    cmsHPROFILE cmyk =
        cmsOpenProfileFromMemTHR(grid->context, data, static_cast<cmsUInt32Number>(size));
    if (cmyk == nullptr) {
        return nullptr;
    }
    // A profile for another space or of another class (an input or link profile) would
    // convert, but not as the printed page looks.
    if (cmsGetColorSpace(cmyk) != cmsSigCmykData || cmsGetDeviceClass(cmyk) != cmsSigOutputClass) {
        cmsCloseProfile(cmyk);
        return nullptr;
    }
    cmsHPROFILE srgb = cmsCreate_sRGBProfileTHR(grid->context);
    if (srgb != nullptr) {
        grid->exact = cmsCreateTransformTHR(grid->context, cmyk, TYPE_CMYK_16, srgb, TYPE_RGB_16,
                                            INTENT_RELATIVE_COLORIMETRIC,
                                            kFlags | cmsFLAGS_NOOPTIMIZE | cmsFLAGS_NOCACHE);
        cmsCloseProfile(srgb);
    }
    cmsCloseProfile(cmyk);
    return grid->exact != nullptr ? grid : nullptr;
}

} // namespace

CmykToRgb::CmykToRgb(std::optional<std::vector<unsigned char>> documentProfile,
                     std::string defaultProfile)
    : documentProfile_(std::move(documentProfile)), defaultProfile_(std::move(defaultProfile))
{
}

CmykToRgb::~CmykToRgb() = default;

bool CmykToRgb::Build(const void *data, std::size_t size) noexcept
{
    if (!WholeProfile(static_cast<const unsigned char *>(data), size)) {
        return false;
    }
    try {
        const std::string key(static_cast<const char *>(data), size);
        const std::lock_guard<std::mutex> lock(gridsMutex);
        const auto known = grids.find(key);
        if (known != grids.end()) {
            grid_ = known->second.lock();
        }
        if (grid_ == nullptr) {
            grid_ = MakeGrid(data, size);
            if (grid_ == nullptr) {
                return false;
            }
            grids[key] = grid_;
            // Profiles no document uses any more are forgotten.
            for (auto i = grids.begin(); i != grids.end();) {
                i = i->second.expired() ? grids.erase(i) : std::next(i);
            }
        }
        return true;
    } catch (...) {
        grid_.reset();
        return false;
    }
}

bool CmykToRgb::Ready() noexcept
{
    if (tried_) {
        return grid_ != nullptr;
    }
    tried_ = true;
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
    cmsDoTransform(grid_->exact, in, out, 1);
    for (int i = 0; i < 3; ++i) {
        rgb[i] = out[i] / 65535.0f;
    }
}

// Tetrahedral interpolation in cyan, magenta and yellow on the two planes of black around the
// pixel, then linear between them, all three colours at once.
std::uint32_t CmykToRgb::Pixel(const unsigned char *cmyk) const noexcept
{
    const float fc = kCyan.fraction[cmyk[0]];
    const float fm = kMagenta.fraction[cmyk[1]];
    const float fy = kYellow.fraction[cmyk[2]];
    const float fk = kBlack.fraction[cmyk[3]];
    // The tetrahedron holding the point: its corners from the base, one axis at a time, in
    // the order of the fractions. Looked up rather than branched to: neighbouring pixels of a
    // photograph fall in different tetrahedra too often for branches to be predicted.
    const float f[3] = {fc, fm, fy};
    const Order &o = kOrders[(fc >= fm) << 2 | (fm >= fy) << 1 | (fc >= fy)];
    const int s0 = o.stride[0], s1 = o.stride[1], s2 = o.stride[2];
    const float f0 = f[o.axis[0]], f1 = f[o.axis[1]], f2 = f[o.axis[2]];
    const Rgbx *n0 = grid_->nodes.data() + kCyan.offset[cmyk[0]] + kMagenta.offset[cmyk[1]] +
                     kYellow.offset[cmyk[2]] + kBlack.offset[cmyk[3]];
    const Rgbx *n1 = n0 + kBlackStride;
    const int c01 = s0 + s1;
    const int c012 = c01 + s2;
    const float w0 = 1.0f - f0, w1 = f0 - f1, w2 = f1 - f2;
    const Rgbx p0 = n0[0] * w0 + n0[s0] * w1 + n0[c01] * w2 + n0[c012] * f2;
    const Rgbx p1 = n1[0] * w0 + n1[s0] * w1 + n1[c01] * w2 + n1[c012] * f2;
    const Rgbx v = p0 + (p1 - p0) * fk + 0.5f;
    // Every weight lies in 0..1 and they sum to 1, so v stays within the nodes' 0..255.5.
    return static_cast<std::uint32_t>(v[0]) | static_cast<std::uint32_t>(v[1]) << 8 |
           static_cast<std::uint32_t>(v[2]) << 16;
}

std::uint32_t CmykToRgb::PixelWithPlanes(const unsigned char *cmyk) noexcept
{
    const int plane = kBlack.offset[cmyk[3]] / kBlackStride;
    if ((planes_ >> plane & 3u) != 3u) {
        for (const int p : {plane, plane + 1}) {
            if (!grid_->computed[p].load(std::memory_order_acquire)) {
                ComputePlane(*grid_, p);
            }
        }
        planes_ |= 3u << plane;
    }
    return Pixel(cmyk);
}

std::uint32_t CmykToRgb::Cached(std::uint32_t pixel, const unsigned char *cmyk) noexcept
{
    if (!cacheFilled_) {
        // Every entry starts as white, so that none needs a mark of its own.
        constexpr unsigned char kWhite[4] = {0, 0, 0, 0};
        cache_.fill(CacheEntry{0, PixelWithPlanes(kWhite)});
        cacheFilled_ = true;
    }
    CacheEntry &entry = cache_[(pixel * 0x9e3779b1u) >> (32 - kCacheBits)];
    if (entry.cmyk != pixel) {
        entry.cmyk = pixel;
        entry.rgb = PixelWithPlanes(cmyk);
    }
    return entry.rgb;
}

void CmykToRgb::Pixels(const unsigned char *cmyk, std::ptrdiff_t cmykStride, unsigned char *rgb,
                       std::ptrdiff_t rgbStride, int width, int rows) noexcept
{
    if (width <= 0) {
        return;
    }
    for (int y = 0; y < rows; ++y) {
        const unsigned char *s = cmyk + y * cmykStride;
        unsigned char *d = rgb + y * rgbStride;
        // Flat areas repeat one colour: it is converted once.
        std::uint32_t last;
        std::memcpy(&last, s, 4);
        std::uint32_t converted = Cached(last, s);
        // Each pixel but the last is stored as a word whose fourth byte the next one overwrites.
        for (int x = 0; x < width - 1; ++x, s += 4, d += 3) {
            std::uint32_t pixel;
            std::memcpy(&pixel, s, 4);
            if (pixel != last) {
                last = pixel;
                converted = Cached(pixel, s);
            }
            std::memcpy(d, &converted, 4);
        }
        std::uint32_t pixel;
        std::memcpy(&pixel, s, 4);
        if (pixel != last) {
            converted = Cached(pixel, s);
        }
        d[0] = static_cast<unsigned char>(converted);
        d[1] = static_cast<unsigned char>(converted >> 8);
        d[2] = static_cast<unsigned char>(converted >> 16);
    }
}

} // namespace render
