// SPDX-License-Identifier: AGPL-3.0-or-later
#include "engine/palette_reducer.h"

#include <libimagequant.h>
#include <zlib.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <stdexcept>
#include <string>
#include <unordered_map>

namespace rastool {

namespace {

// Kept indices stay as they are up to this many bytes (a whole page up to 8 megapixels, so
// ordinary resolutions never compress them); beyond it each kept band is deflated.
constexpr std::size_t kRawKeptBytes = 8u << 20;
// A page whose kept indices pass this many bytes after compression stops waiting for its end
// and gets a chosen palette, so that memory stays bounded whatever the page holds.
constexpr std::size_t kMaxKeptBytes = 24u << 20;
// Open-addressed table of the exact colours: four times the largest palette.
constexpr uint32_t kExactSlots = 1024;
// The quantiser's speed, 1 (slowest) to 10: measured on rendered pages, 8 and above keep the
// same PSNR as the default within 0.1 dB at a fraction of the time.
constexpr int kQuantiserSpeed = 8;

uint32_t Pack(const uint8_t *p)
{
    return static_cast<uint32_t>(p[0]) << 16 | static_cast<uint32_t>(p[1]) << 8 | p[2];
}

struct LiqDeleter {
    void operator()(liq_attr *p) const { liq_attr_destroy(p); }
    void operator()(liq_image *p) const { liq_image_destroy(p); }
    void operator()(liq_result *p) const { liq_result_destroy(p); }
};
template <typename T> using LiqPtr = std::unique_ptr<T, LiqDeleter>;

void Check(liq_error error, const char *what)
{
    if (error == LIQ_OUT_OF_MEMORY) {
        throw std::bad_alloc();
    }
    if (error != LIQ_OK) {
        throw std::runtime_error(std::string("colour quantisation failed: ") + what);
    }
}

void SampleRow(liq_color rowOut[], int row, int width, void *user)
{
    const auto *sample = static_cast<const PageSample *>(user);
    const uint8_t *src = sample->rgb.data() + static_cast<std::size_t>(row) * sample->width * 3;
    for (int x = 0; x < width; ++x, src += 3) {
        rowOut[x] = liq_color{src[0], src[1], src[2], 255};
    }
}

liq_color CommonestColour(const PageSample &sample)
{
    // Counted by runs of one colour, which is what pages mostly are.
    std::unordered_map<uint32_t, std::size_t> counts;
    uint32_t best = 0xFFFFFF;
    std::size_t bestCount = 0;
    for (std::size_t i = 0; i + 2 < sample.rgb.size();) {
        const uint32_t colour = Pack(&sample.rgb[i]);
        std::size_t run = 0;
        for (; i + 2 < sample.rgb.size() && Pack(&sample.rgb[i]) == colour; i += 3) {
            ++run;
        }
        const std::size_t count = counts[colour] += run;
        if (count > bestCount) {
            best = colour;
            bestCount = count;
        }
    }
    return liq_color{static_cast<uint8_t>(best >> 16), static_cast<uint8_t>(best >> 8),
                     static_cast<uint8_t>(best), 255};
}

std::vector<Colour> QuantiseSample(const PageSample &sample, int colours)
{
    if (sample.width <= 0 || sample.height <= 0 ||
        sample.rgb.size() != static_cast<std::size_t>(sample.width) * sample.height * 3) {
        throw std::logic_error("the page sample has no pixels");
    }
    LiqPtr<liq_attr> attr(liq_attr_create());
    if (!attr) {
        throw std::bad_alloc();
    }
    Check(liq_set_max_colors(attr.get(), colours), "palette size");
    Check(liq_set_speed(attr.get(), kQuantiserSpeed), "speed");
    LiqPtr<liq_image> image(liq_image_create_custom(
        attr.get(), SampleRow, const_cast<PageSample *>(&sample), sample.width, sample.height, 0));
    if (!image) {
        throw std::runtime_error("colour quantisation failed: sample size");
    }
    // The page's commonest colour, its background, is kept exactly: a background off by one
    // level would scatter diffused error over the whole page.
    Check(liq_image_add_fixed_color(image.get(), CommonestColour(sample)), "background");
    liq_result *raw = nullptr;
    Check(liq_image_quantize(image.get(), attr.get(), &raw), "palette");
    LiqPtr<liq_result> result(raw);
    const liq_palette *palette = liq_get_palette(result.get());
    std::vector<Colour> out;
    for (unsigned i = 0; i < palette->count; ++i) {
        out.push_back(Colour{palette->entries[i].r, palette->entries[i].g, palette->entries[i].b});
    }
    return out;
}

// Runs of one index are what kept bands hold, so a run-length-only deflate at level 1 keeps
// them small at memory speed.
std::vector<uint8_t> Deflate(const std::vector<uint8_t> &raw)
{
    z_stream z{};
    if (deflateInit2(&z, 1, Z_DEFLATED, -15, 8, Z_RLE) != Z_OK) {
        throw std::bad_alloc();
    }
    std::vector<uint8_t> out(deflateBound(&z, raw.size()));
    z.next_in = const_cast<Bytef *>(raw.data());
    z.avail_in = static_cast<uInt>(raw.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    const int status = deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    if (status != Z_STREAM_END) {
        throw std::runtime_error("cannot compress the page's kept rows");
    }
    out.shrink_to_fit();
    return out;
}

void Inflate(const std::vector<uint8_t> &packed, uint8_t *out, std::size_t size)
{
    z_stream z{};
    if (inflateInit2(&z, -15) != Z_OK) {
        throw std::bad_alloc();
    }
    z.next_in = const_cast<Bytef *>(packed.data());
    z.avail_in = static_cast<uInt>(packed.size());
    z.next_out = out;
    z.avail_out = static_cast<uInt>(size);
    const int status = inflate(&z, Z_FINISH);
    const bool whole = status == Z_STREAM_END && z.total_out == size;
    inflateEnd(&z);
    if (!whole) {
        throw std::runtime_error("the page's kept rows are damaged");
    }
}

} // namespace

NearestColour::NearestColour(const std::vector<Colour> &palette)
    : keys_(std::size_t{1} << kCacheBits, UINT32_MAX), values_(std::size_t{1} << kCacheBits, 0)
{
    if (palette.empty() || palette.size() > 256) {
        throw std::logic_error("a palette has 1 to 256 colours");
    }
    for (std::size_t i = 0; i < palette.size(); ++i) {
        byGreen_.push_back(
            Entry{palette[i].r, palette[i].g, palette[i].b, static_cast<uint8_t>(i)});
    }
    std::stable_sort(byGreen_.begin(), byGreen_.end(),
                     [](const Entry &a, const Entry &b) { return a.g < b.g; });
}

// Walks out from the entries of the nearest green both ways; a side stops once its green
// difference alone is no nearer than the best found.
uint8_t NearestColour::Search(int r, int g, int b) const
{
    const auto n = static_cast<std::ptrdiff_t>(byGreen_.size());
    std::ptrdiff_t up = std::lower_bound(byGreen_.begin(), byGreen_.end(), g,
                                         [](const Entry &e, int v) { return e.g < v; }) -
                        byGreen_.begin();
    std::ptrdiff_t down = up - 1;
    int best = INT_MAX;
    uint8_t bestIndex = 0;
    auto consider = [&](const Entry &e) {
        const int dr = e.r - r, dg = e.g - g, db = e.b - b;
        const int d = dr * dr + dg * dg + db * db;
        if (d < best || (d == best && e.index < bestIndex)) {
            best = d;
            bestIndex = e.index;
        }
    };
    while (up < n || down >= 0) {
        if (up < n) {
            const int dg = byGreen_[up].g - g;
            if (dg * dg > best) {
                up = n;
            } else {
                consider(byGreen_[up++]);
            }
        }
        if (down >= 0) {
            const int dg = g - byGreen_[down].g;
            if (dg * dg > best) {
                down = -1;
            } else {
                consider(byGreen_[down--]);
            }
        }
    }
    return bestIndex;
}

struct PaletteReducer::KeptBand {
    int rows = 0;
    bool deflated = false;
    std::vector<uint8_t> bytes;
};

PaletteReducer::PaletteReducer(int bits, const PageFormat &format, ImageWriter &writer,
                               PageSampler sampler)
    : capacity_(1 << bits), format_(format), writer_(writer), sampler_(std::move(sampler)),
      exactKeys_(kExactSlots, 0), exactIndex_(kExactSlots, 0)
{
    if (bits != 4 && bits != 8) {
        throw std::logic_error("palette pages have 4 or 8 bits per pixel");
    }
    format_.bitsPerPixel = bits;
    format_.greyscale = false;
    format_.palette.clear();
}

PaletteReducer::~PaletteReducer() = default;

// Maps a row to exact-colour indices, adding new colours; false once a colour does not fit.
bool PaletteReducer::MapExact(const uint8_t *rgb, uint8_t *out, int width)
{
    uint32_t previous = UINT32_MAX;
    uint8_t index = 0;
    for (int x = 0; x < width; ++x, rgb += 3) {
        const uint32_t colour = Pack(rgb);
        if (colour != previous) {
            previous = colour;
            uint32_t slot = (colour * 0x9E3779B1u) >> 22;
            while (exactKeys_[slot] != 0 && exactKeys_[slot] != colour + 1) {
                slot = (slot + 1) & (kExactSlots - 1);
            }
            if (exactKeys_[slot] == 0) {
                if (exact_.size() == static_cast<std::size_t>(capacity_)) {
                    return false;
                }
                exactKeys_[slot] = colour + 1;
                exactIndex_[slot] = static_cast<uint8_t>(exact_.size());
                exact_.push_back(Colour{rgb[0], rgb[1], rgb[2]});
            }
            index = exactIndex_[slot];
        }
        out[x] = index;
    }
    return true;
}

void PaletteReducer::Keep(int rowCount)
{
    KeptBand band;
    band.rows = rowCount;
    band.bytes.assign(indices_.begin(),
                      indices_.begin() + static_cast<std::ptrdiff_t>(rowCount) * format_.width);
    if (keptBytes_ + band.bytes.size() > kRawKeptBytes) {
        band.bytes = Deflate(band.bytes);
        band.deflated = true;
    }
    keptBytes_ += band.bytes.size();
    kept_.push_back(std::move(band));
}

std::vector<uint8_t> PaletteReducer::Unpack(const KeptBand &band) const
{
    if (!band.deflated) {
        return band.bytes;
    }
    std::vector<uint8_t> raw(static_cast<std::size_t>(band.rows) * format_.width);
    Inflate(band.bytes, raw.data(), raw.size());
    return raw;
}

void PaletteReducer::Take(const uint8_t *rgb, int rowCount, std::ptrdiff_t stride)
{
    const auto width = static_cast<std::size_t>(format_.width);
    if (!Exact()) {
        Remap(rgb, rowCount, stride);
        return;
    }
    indices_.resize(width * static_cast<std::size_t>(rowCount));
    for (int row = 0; row < rowCount; ++row) {
        if (!MapExact(rgb + row * stride, indices_.data() + row * width, format_.width)) {
            ChoosePalette();
            Remap(rgb, rowCount, stride);
            return;
        }
    }
    Keep(rowCount);
    if (keptBytes_ > kMaxKeptBytes) {
        ChoosePalette();
    }
}

// Leaves exact colours: the palette comes from the page's sample, and the rows kept so far are
// written mapped to it.
void PaletteReducer::ChoosePalette()
{
    if (!sampler_) {
        throw std::logic_error("a page with many colours needs a sample");
    }
    format_.palette = QuantiseSample(sampler_(), capacity_);
    nearest_ = std::make_unique<NearestColour>(format_.palette);
    if (capacity_ <= 16) {
        errorThis_.assign((static_cast<std::size_t>(format_.width) + 2) * 3, 0);
        errorNext_.assign(errorThis_.size(), 0);
    }
    writer_.BeginPage(format_);

    std::vector<KeptBand> kept;
    kept.swap(kept_);
    keptBytes_ = 0;
    const auto width = static_cast<std::size_t>(format_.width);
    std::vector<uint8_t> rgb;
    for (KeptBand &band : kept) {
        const std::vector<uint8_t> exactIndices = Unpack(band);
        band.bytes.clear();
        band.bytes.shrink_to_fit();
        rgb.resize(exactIndices.size() * 3);
        for (std::size_t i = 0; i < exactIndices.size(); ++i) {
            const Colour &c = exact_[exactIndices[i]];
            rgb[i * 3] = c.r;
            rgb[i * 3 + 1] = c.g;
            rgb[i * 3 + 2] = c.b;
        }
        Remap(rgb.data(), band.rows, static_cast<std::ptrdiff_t>(width * 3));
    }
}

void PaletteReducer::Remap(const uint8_t *rgb, int rowCount, std::ptrdiff_t stride)
{
    const auto width = static_cast<std::size_t>(format_.width);
    indices_.resize(width * static_cast<std::size_t>(rowCount));
    for (int row = 0; row < rowCount; ++row) {
        uint8_t *out = indices_.data() + row * width;
        if (errorThis_.empty()) {
            MapNearest(rgb + row * stride, out);
        } else {
            MapDiffused(rgb + row * stride, out);
        }
    }
    WriteIndices(rowCount);
}

void PaletteReducer::MapNearest(const uint8_t *rgb, uint8_t *out)
{
    uint32_t previous = UINT32_MAX;
    uint8_t index = 0;
    for (int x = 0; x < format_.width; ++x, rgb += 3) {
        const uint32_t colour = Pack(rgb);
        if (colour != previous) {
            previous = colour;
            index = nearest_->Find(colour);
        }
        out[x] = index;
    }
}

// Floyd–Steinberg in RGB, errors in sixteenths: 7/16 right, 3/16 down-left, 5/16 down,
// 1/16 down-right. The error rows carry over from one band to the next.
void PaletteReducer::MapDiffused(const uint8_t *rgb, uint8_t *out)
{
    std::fill(errorNext_.begin(), errorNext_.end(), 0);
    int *here = errorThis_.data() + 3;
    int *next = errorNext_.data();
    // Most pixels receive no error (flat areas in a palette colour): one lookup per run.
    uint32_t previous = UINT32_MAX;
    uint8_t previousIndex = 0;
    for (int x = 0; x < format_.width; ++x, rgb += 3, here += 3, next += 3) {
        uint32_t wanted;
        if ((here[0] | here[1] | here[2]) == 0) {
            wanted = Pack(rgb);
        } else {
            wanted = 0;
            for (int c = 0; c < 3; ++c) {
                wanted = wanted << 8 | static_cast<uint32_t>(
                                           std::clamp((rgb[c] * 16 + here[c] + 8) >> 4, 0, 255));
            }
        }
        if (wanted != previous) {
            previous = wanted;
            previousIndex = nearest_->Find(wanted);
        }
        out[x] = previousIndex;
        const Colour &shown = format_.palette[previousIndex];
        const int error[3] = {static_cast<int>(wanted >> 16) - shown.r,
                              static_cast<int>(wanted >> 8 & 0xFF) - shown.g,
                              static_cast<int>(wanted & 0xFF) - shown.b};
        if ((error[0] | error[1] | error[2]) == 0) {
            continue;
        }
        for (int c = 0; c < 3; ++c) {
            here[c + 3] += error[c] * 7;
            next[c] += error[c] * 3;
            next[c + 3] += error[c] * 5;
            next[c + 6] += error[c];
        }
    }
    errorThis_.swap(errorNext_);
}

void PaletteReducer::WriteIndices(int rowCount)
{
    writer_.WriteRows(indices_.data(), rowCount, static_cast<std::ptrdiff_t>(format_.width));
}

void PaletteReducer::Finish()
{
    if (!Exact()) {
        return;
    }
    format_.palette = exact_;
    writer_.BeginPage(format_);
    for (KeptBand &band : kept_) {
        const std::vector<uint8_t> indices = Unpack(band);
        band.bytes.clear();
        band.bytes.shrink_to_fit();
        writer_.WriteRows(indices.data(), band.rows, static_cast<std::ptrdiff_t>(format_.width));
    }
    kept_.clear();
    keptBytes_ = 0;
}

} // namespace rastool
