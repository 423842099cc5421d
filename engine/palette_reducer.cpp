// SPDX-License-Identifier: AGPL-3.0-or-later
#include "engine/palette_reducer.h"

#include <libimagequant.h>
#include <zlib.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>
#include <unordered_map>

namespace rastool {

namespace {

// Kept indices (16 bits) stay as they are up to this many bytes, a page of 4 megapixels (A4 at
// 200 dpi), so ordinary resolutions never compress them; beyond it each kept band is deflated.
constexpr std::size_t kRawKeptBytes = 8u << 20;
// A page whose kept indices pass this many bytes after compression stops waiting for its end
// and gets a chosen palette, so that memory stays bounded whatever the page holds.
constexpr std::size_t kMaxKeptBytes = 24u << 20;
// The quantiser's speed, 1 (slowest) to 10. On the first pages of a manual at 150 dpi, speed 3
// gave under 1 dB more (at 61-64 dB) for about 40 % more time.
constexpr int kQuantiserSpeed = 8;

// The colours diffused to, wanted colour to nearest entry and its colour: few enough to stay in
// the fastest cache, so that each diffused pixel's error waits on one small look-up.
constexpr int kShownBits = 12;
// No wanted colour has the upper 32 bits all ones.
constexpr uint64_t kNoneShown = ~uint64_t{0};

// The page colours the table tracks: the colours of anti-aliased text and line art, well short
// of a photograph's.
constexpr std::size_t kMaxColours = 1 << 16;
// The table starts small, so that the few thousand colours of a text page are looked up in the
// fastest caches, and doubles whenever it is half full.
constexpr int kFirstSlotBits = 12;

uint32_t Pack(const uint8_t *p)
{
    return static_cast<uint32_t>(p[0]) << 16 | static_cast<uint32_t>(p[1]) << 8 | p[2];
}

// The end of the run of pixels equal to pixel x. The next pixels continue the run when their
// bytes equal the bytes one pixel earlier, pixel end - 1 being in it. Runs of background are
// most of a page, so they are compared 32 pixels at a time by the C library's memcmp (with the
// widest vectors the processor has), then eight at a time in three 64-bit words. The edges of
// anti-aliased marks are runs of one or two pixels, so the next pixel is looked at first.
int RunEnd(const uint8_t *rgb, int x, int width)
{
    const uint8_t *first = rgb + x * 3;
    int end = x + 1;
    if (end == width || std::memcmp(rgb + end * 3, first, 3) != 0) {
        return end;
    }
    for (++end; end + 32 <= width; end += 32) {
        if (std::memcmp(rgb + end * 3 - 3, rgb + end * 3, 32 * 3) != 0) {
            break;
        }
    }
    for (; end + 8 <= width; end += 8) {
        uint64_t earlier[3], next[3];
        std::memcpy(earlier, rgb + end * 3 - 3, sizeof earlier);
        std::memcpy(next, rgb + end * 3, sizeof next);
        if (((next[0] ^ earlier[0]) | (next[1] ^ earlier[1]) | (next[2] ^ earlier[2])) != 0) {
            break;
        }
    }
    while (end < width && std::memcmp(rgb + end * 3, first, 3) == 0) {
        ++end;
    }
    return end;
}

// The end of the run of indices equal to index x, four at a time.
int RunEnd(const uint16_t *indices, int x, int limit)
{
    const uint16_t value = indices[x];
    int end = x + 1;
    if (end == limit || indices[end] != value) {
        return end;
    }
    const uint64_t four = value * 0x0001000100010001ull;
    for (; end + 4 <= limit; end += 4) {
        uint64_t next;
        std::memcpy(&next, indices + end, sizeof next);
        if (next != four) {
            break;
        }
    }
    while (end < limit && indices[end] == value) {
        ++end;
    }
    return end;
}

// std::fill, sixteen indices per copy of a 32-byte block: at -O2 the compiler leaves the plain
// loop scalar, yet copies a block of known size with the widest stores it has.
void Fill(uint16_t *begin, uint16_t *end, uint16_t value)
{
    if (end - begin >= 16) {
        const uint64_t four = value * 0x0001000100010001ull;
        const uint64_t sixteen[4] = {four, four, four, four};
        for (; end - begin >= 16; begin += 16) {
            std::memcpy(begin, sixteen, sizeof sixteen);
        }
    }
    for (; begin < end; ++begin) {
        *begin = value;
    }
}

struct Weighted {
    Colour colour;
    uint64_t count;
};

struct LiqDeleter {
    void operator()(liq_attr *p) const { liq_attr_destroy(p); }
    void operator()(liq_image *p) const { liq_image_destroy(p); }
    void operator()(liq_result *p) const { liq_result_destroy(p); }
    void operator()(liq_histogram *p) const { liq_histogram_destroy(p); }
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

Colour ColourOf(uint32_t rgb)
{
    return Colour{static_cast<uint8_t>(rgb >> 16), static_cast<uint8_t>(rgb >> 8),
                  static_cast<uint8_t>(rgb)};
}

uint32_t Pack(const Colour &c)
{
    return static_cast<uint32_t>(c.r) << 16 | static_cast<uint32_t>(c.g) << 8 | c.b;
}

// The colours of the sample, counted by runs, each count scaled so that the sample stands for
// `pixels` pixels of the page.
std::vector<Weighted> SampleHistogram(const PageSample &sample, double pixels)
{
    if (sample.width <= 0 || sample.height <= 0 ||
        sample.rgb.size() != static_cast<std::size_t>(sample.width) * sample.height * 3) {
        throw std::logic_error("the page sample has no pixels");
    }
    std::unordered_map<uint32_t, uint64_t> counts;
    const std::size_t end = sample.rgb.size();
    for (std::size_t i = 0; i < end;) {
        const uint32_t colour = Pack(&sample.rgb[i]);
        uint64_t run = 0;
        for (; i < end && Pack(&sample.rgb[i]) == colour; i += 3) {
            ++run;
        }
        counts[colour] += run;
    }
    const double scale = std::max(pixels, 1.0) / (static_cast<double>(end) / 3);
    std::vector<Weighted> out;
    out.reserve(counts.size());
    for (const auto &[colour, count] : counts) {
        out.push_back(Weighted{ColourOf(colour),
                               static_cast<uint64_t>(std::max(1.0, std::round(count * scale)))});
    }
    return out;
}

// A palette of at most `size` colours for the counted colours. The commonest colour, the
// page's background, is kept exactly: a background off by one level would scatter diffused
// error over the whole page and cost every flat area its runs.
std::vector<Colour> QuantiseHistogram(const std::vector<Weighted> &histogram, int size)
{
    LiqPtr<liq_attr> attr(liq_attr_create());
    if (!attr) {
        throw std::bad_alloc();
    }
    Check(liq_set_max_colors(attr.get(), size), "palette size");
    Check(liq_set_speed(attr.get(), kQuantiserSpeed), "speed");
    LiqPtr<liq_histogram> hist(liq_histogram_create(attr.get()));
    if (!hist) {
        throw std::bad_alloc();
    }
    // libimagequant counts in 32 bits: counts of larger pages are scaled down together.
    uint64_t largest = 1;
    const Weighted *commonest = &histogram.front();
    for (const Weighted &w : histogram) {
        largest = std::max(largest, w.count);
        if (w.count > commonest->count) {
            commonest = &w;
        }
    }
    const double scale = std::min(1.0, static_cast<double>(UINT32_MAX) / 2 / largest);
    std::vector<liq_histogram_entry> entries;
    entries.reserve(histogram.size());
    for (const Weighted &w : histogram) {
        const auto count =
            static_cast<unsigned>(std::max(1.0, std::floor(static_cast<double>(w.count) * scale)));
        entries.push_back(
            liq_histogram_entry{liq_color{w.colour.r, w.colour.g, w.colour.b, 255}, count});
    }
    Check(liq_histogram_add_colors(hist.get(), attr.get(), entries.data(),
                                   static_cast<int>(entries.size()), 0),
          "colours");
    const Colour &c = commonest->colour;
    Check(liq_histogram_add_fixed_color(hist.get(), liq_color{c.r, c.g, c.b, 255}, 0),
          "background");
    liq_result *raw = nullptr;
    Check(liq_histogram_quantize(hist.get(), attr.get(), &raw), "palette");
    LiqPtr<liq_result> result(raw);
    const liq_palette *palette = liq_get_palette(result.get());
    std::vector<Colour> out;
    for (unsigned i = 0; i < palette->count; ++i) {
        out.push_back(Colour{palette->entries[i].r, palette->entries[i].g, palette->entries[i].b});
    }
    return out;
}

// Kept bands are mostly runs of one 16-bit index; deflate's fastest level finds them.
std::vector<uint8_t> Deflate(const uint16_t *indices, std::size_t count)
{
    z_stream z{};
    if (deflateInit2(&z, 1, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
        throw std::bad_alloc();
    }
    const std::size_t bytes = count * sizeof *indices;
    std::vector<uint8_t> out(deflateBound(&z, bytes));
    z.next_in = reinterpret_cast<Bytef *>(const_cast<uint16_t *>(indices));
    z.avail_in = static_cast<uInt>(bytes);
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

void Inflate(const std::vector<uint8_t> &packed, uint16_t *indices, std::size_t count)
{
    const std::size_t size = count * sizeof *indices;
    z_stream z{};
    if (inflateInit2(&z, -15) != Z_OK) {
        throw std::bad_alloc();
    }
    z.next_in = const_cast<Bytef *>(packed.data());
    z.avail_in = static_cast<uInt>(packed.size());
    z.next_out = reinterpret_cast<Bytef *>(indices);
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
    : sole_(std::size_t{1} << 15, kUnknown), cells_(std::size_t{1} << (3 * kCellBits)),
      cache_(std::size_t{1} << kCacheBits)
{
    if (palette.empty() || palette.size() > 256) {
        throw std::logic_error("a palette has 1 to 256 colours");
    }
    for (std::size_t i = 0; i < palette.size(); ++i) {
        palette_.push_back(
            Entry{palette[i].r, palette[i].g, palette[i].b, static_cast<uint8_t>(i)});
    }
    std::fill(cache_.begin(), cache_.end(), Search(0));
}

// The entry nearer to every colour of the cell (8 levels on each side) than any other entry
// is to any of them, or kShared when there is none.
uint16_t NearestColour::SoleNearest(uint32_t cell) const
{
    constexpr int side = 8;
    const int low[3] = {static_cast<int>(cell >> 10) * side,
                        static_cast<int>(cell >> 5 & 0x1F) * side,
                        static_cast<int>(cell & 0x1F) * side};
    int least[256];
    int bestFar = INT_MAX;
    std::size_t best = 0;
    for (std::size_t i = 0; i < palette_.size(); ++i) {
        const int v[3] = {palette_[i].r, palette_[i].g, palette_[i].b};
        int near = 0, far = 0;
        for (int c = 0; c < 3; ++c) {
            const int lo = low[c], hi = low[c] + side - 1;
            const int d = v[c] < lo ? lo - v[c] : v[c] > hi ? v[c] - hi : 0;
            const int f = std::max(v[c] - lo, hi - v[c]);
            near += d * d;
            far += f * f;
        }
        least[i] = near;
        if (far < bestFar) {
            bestFar = far;
            best = i;
        }
    }
    for (std::size_t i = 0; i < palette_.size(); ++i) {
        if (i != best && least[i] <= bestFar) {
            return kShared;
        }
    }
    return palette_[best].index;
}

// The entries that can be nearest to some colour of the cell: those whose least distance to the
// cell is within the smallest greatest distance of any entry to it.
const std::vector<NearestColour::Entry> &NearestColour::Candidates(int cell)
{
    std::vector<Entry> &list = cells_[static_cast<std::size_t>(cell)];
    if (!list.empty()) {
        return list;
    }
    constexpr int side = 1 << kCellBits;
    const int low[3] = {(cell >> (2 * kCellBits)) * side, (cell >> kCellBits & (side - 1)) * side,
                        (cell & (side - 1)) * side};
    auto axis = [&](int v, int lo, int &least, int &most) {
        const int hi = lo + side - 1;
        const int d = v < lo ? lo - v : v > hi ? v - hi : 0;
        const int far = std::max(v - lo, hi - v);
        least += d * d;
        most += far * far;
    };
    std::vector<int> least(palette_.size());
    int bound = INT_MAX;
    for (std::size_t i = 0; i < palette_.size(); ++i) {
        const Entry &e = palette_[i];
        int near = 0, far = 0;
        axis(e.r, low[0], near, far);
        axis(e.g, low[1], near, far);
        axis(e.b, low[2], near, far);
        least[i] = near;
        bound = std::min(bound, far);
    }
    for (std::size_t i = 0; i < palette_.size(); ++i) {
        if (least[i] <= bound) {
            list.push_back(palette_[i]);
        }
    }
    return list;
}

uint8_t NearestColour::Search(uint32_t rgb)
{
    const int r = static_cast<int>(rgb >> 16), g = static_cast<int>(rgb >> 8 & 0xFF),
              b = static_cast<int>(rgb & 0xFF);
    const int cell = (r >> (8 - kCellBits)) << (2 * kCellBits) |
                     (g >> (8 - kCellBits)) << kCellBits | b >> (8 - kCellBits);
    int best = INT_MAX;
    uint8_t bestIndex = 0;
    for (const Entry &e : Candidates(cell)) {
        const int dr = e.r - r, dg = e.g - g, db = e.b - b;
        const int d = dr * dr + dg * dg + db * db;
        if (d < best || (d == best && e.index < bestIndex)) {
            best = d;
            bestIndex = e.index;
        }
    }
    return bestIndex;
}

struct PaletteReducer::KeptBand {
    int rows = 0;
    std::unique_ptr<uint16_t[]> raw; // the indices as counted, or
    std::vector<uint8_t> deflated;   // them deflated
};

PaletteReducer::PaletteReducer(int bits, const PageFormat &format, ImageWriter &writer,
                               PageSampler sampler)
    : capacity_(1 << bits), format_(format), writer_(writer), sampler_(std::move(sampler)),
      slotBits_(kFirstSlotBits), slots_(std::size_t{1} << kFirstSlotBits, 0)
{
    if (bits != 4 && bits != 8) {
        throw std::logic_error("palette pages have 4 or 8 bits per pixel");
    }
    format_.bitsPerPixel = bits;
    format_.greyscale = false;
    format_.palette.clear();
}

PaletteReducer::~PaletteReducer() = default;

// Maps a row to indices of the page's colours, adding and counting them by runs; false once a
// colour does not fit in the table.
bool PaletteReducer::Count(const uint8_t *rgb, uint16_t *out, int width)
{
    // Locals rather than members: the stores to `out` could otherwise alias them.
    uint64_t *slots = slots_.data();
    uint32_t mask = static_cast<uint32_t>(slots_.size() - 1);
    int shift = 32 - slotBits_;
    uint64_t *counts = counts_.data();
    int x = 0;
    while (x < width) {
        const uint8_t *pixel = rgb + x * 3;
        const uint32_t colour = Pack(pixel);
        const int start = x;
        // Most runs are the single pixels of anti-aliased edges.
        x = x + 1 < width && std::memcmp(pixel, pixel + 3, 3) == 0 ? RunEnd(rgb, x, width) : x + 1;
        const uint64_t key = static_cast<uint64_t>(colour + 1) << 16;
        uint32_t slot = (colour * 0x9E3779B1u) >> shift;
        while (slots[slot] != 0 && (slots[slot] & ~uint64_t{0xFFFF}) != key) {
            slot = (slot + 1) & mask;
        }
        uint16_t index;
        if (slots[slot] != 0) {
            index = static_cast<uint16_t>(slots[slot]);
        } else {
            if (colours_.size() == kMaxColours) {
                return false;
            }
            index = static_cast<uint16_t>(colours_.size());
            slots[slot] = key | index;
            colours_.push_back(ColourOf(colour));
            counts_.push_back(0);
            counts = counts_.data();
            if (colours_.size() * 2 > slots_.size()) {
                Grow();
                slots = slots_.data();
                mask = static_cast<uint32_t>(slots_.size() - 1);
                shift = 32 - slotBits_;
            }
        }
        counts[index] += static_cast<uint64_t>(x - start);
        Fill(out + start, out + x, index);
    }
    return true;
}

// Doubles the colour table and puts every colour back in.
void PaletteReducer::Grow()
{
    ++slotBits_;
    slots_.assign(std::size_t{1} << slotBits_, 0);
    const uint32_t mask = static_cast<uint32_t>(slots_.size() - 1);
    for (std::size_t i = 0; i < colours_.size(); ++i) {
        const uint32_t colour = Pack(colours_[i]);
        uint32_t slot = (colour * 0x9E3779B1u) >> (32 - slotBits_);
        while (slots_[slot] != 0) {
            slot = (slot + 1) & mask;
        }
        slots_[slot] = static_cast<uint64_t>(colour + 1) << 16 | i;
    }
}

// Room for `count` indices in counted_, left uninitialised: they are all written before use.
uint16_t *PaletteReducer::Scratch(std::size_t count)
{
    if (countedSize_ < count) {
        counted_.reset(); // before allocating, so that the two are never held at once
        counted_.reset(new uint16_t[count]);
        countedSize_ = count;
    }
    return counted_.get();
}

// Keeps the band just counted: raw bands take counted_ over, so the indices are never copied.
void PaletteReducer::Keep(int rowCount)
{
    KeptBand band;
    band.rows = rowCount;
    const std::size_t count = static_cast<std::size_t>(rowCount) * format_.width;
    if (keptBytes_ + count * sizeof(uint16_t) > kRawKeptBytes) {
        band.deflated = Deflate(counted_.get(), count);
        keptBytes_ += band.deflated.size();
    } else {
        band.raw = std::move(counted_);
        countedSize_ = 0;
        keptBytes_ += count * sizeof(uint16_t);
    }
    kept_.push_back(std::move(band));
}

void PaletteReducer::Take(const uint8_t *rgb, int rowCount, std::ptrdiff_t stride)
{
    if (streaming_) {
        Remap(rgb, rowCount, stride);
        return;
    }
    const auto width = static_cast<std::size_t>(format_.width);
    uint16_t *counted = Scratch(width * static_cast<std::size_t>(rowCount));
    bool fits = true;
    for (int row = 0; row < rowCount && fits; ++row) {
        fits = Count(rgb + row * stride, counted + row * width, format_.width);
    }
    if (fits) {
        Keep(rowCount);
        if (keptBytes_ <= kMaxKeptBytes) {
            return;
        }
    }
    // From here on the page streams: its palette comes from the colours counted so far and the
    // sample standing for the rest of the page.
    if (!sampler_) {
        throw std::logic_error("a page with this many colours needs a sample");
    }
    uint64_t seen = 0;
    for (uint64_t n : counts_) {
        seen += n;
    }
    const double pagePixels = static_cast<double>(format_.width) * format_.height;
    std::vector<Weighted> histogram = SampleHistogram(sampler_(), pagePixels - seen);
    for (std::size_t i = 0; i < colours_.size(); ++i) {
        histogram.push_back(Weighted{colours_[i], counts_[i]});
    }
    streaming_ = true;
    Begin(QuantiseHistogram(histogram, capacity_));
    WriteKept();
    if (!fits) {
        Remap(rgb, rowCount, stride);
    }
}

void PaletteReducer::Finish()
{
    if (streaming_) {
        return;
    }
    if (colours_.size() <= static_cast<std::size_t>(capacity_)) {
        exact_ = true;
        Begin(colours_);
    } else {
        std::vector<Weighted> histogram;
        for (std::size_t i = 0; i < colours_.size(); ++i) {
            histogram.push_back(Weighted{colours_[i], counts_[i]});
        }
        Begin(QuantiseHistogram(histogram, capacity_));
    }
    WriteKept();
}

void PaletteReducer::Begin(std::vector<Colour> palette)
{
    format_.palette = std::move(palette);
    nearest_ = std::make_unique<NearestColour>(format_.palette);
    if (!exact_ && capacity_ <= 16) {
        errorThis_.assign((static_cast<std::size_t>(format_.width) + 2) * 3, 0);
        errorNext_.assign(errorThis_.size(), 0);
        shown_.assign(std::size_t{1} << kShownBits, kNoneShown);
    }
    writer_.BeginPage(format_);
}

namespace {

// Diffusion passes on no error of at most this many levels in every channel. Such error is
// invisible, yet passing it on dithered whole areas a level or two off an entry and kept the
// tails of every edge's error going; on the first pages of a manual at 150 dpi, stopping it
// took a third off diffusion's time for 0.03 dB more and 2 % smaller files.
constexpr int kDeadZone = 2;

// Whether `shown` is close enough to `colour` to pass on no error.
bool Near(const Colour &shown, uint32_t colour)
{
    return std::abs(shown.r - static_cast<int>(colour >> 16)) <= kDeadZone &&
           std::abs(shown.g - static_cast<int>(colour >> 8 & 0xFF)) <= kDeadZone &&
           std::abs(shown.b - static_cast<int>(colour & 0xFF)) <= kDeadZone;
}

// A row of RGB pixels as it was rendered.
struct RgbRow {
    const uint8_t *rgb;
    NearestColour &nearest;
    const std::vector<Colour> &palette;

    uint32_t ColourAt(int x) const { return Pack(rgb + x * 3); }
    // The nearest entry of pixel x's own colour, and whether it is near enough to pass on no
    // error.
    uint8_t Nearest(int x, bool &near) const
    {
        const uint32_t colour = ColourAt(x);
        const uint8_t index = nearest.Find(colour);
        near = Near(palette[index], colour);
        return index;
    }
    int RunEnd(int x, int limit) const { return rastool::RunEnd(rgb, x, limit); }
};

// A kept row: indices of the page's colours, each with its nearest entry worked out once.
struct KeptRow {
    const uint16_t *kept;
    const uint32_t *colours;
    const uint16_t *nearest; // the nearest entry, plus kNear if it is near enough

    static constexpr uint16_t kNear = 0x100;
    uint32_t ColourAt(int x) const { return colours[kept[x]]; }
    uint8_t Nearest(int x, bool &isNear) const
    {
        const uint16_t entry = nearest[kept[x]];
        isNear = (entry & kNear) != 0;
        return static_cast<uint8_t>(entry);
    }
    int RunEnd(int x, int limit) const { return rastool::RunEnd(kept, x, limit); }
};

} // namespace

// Floyd–Steinberg in RGB, errors in sixteenths: 7/16 right, 3/16 down-left, 5/16 down,
// 1/16 down-right, none within the dead zone. The error rows carry over from one band to the
// next. Most of a page is flat areas near a palette colour that no error reaches (error dies
// out a few pixels from the edge that made it), so only the spans marked as holding error, the
// pixel after one that passed error on and pixels far from the palette are diffused one by one;
// the rest go by runs.
template <typename Row> void PaletteReducer::Diffuse(const Row &row, uint8_t *out)
{
    const int width = format_.width;
    // Locals rather than members: the stores to `out` could otherwise alias them and have them
    // reloaded for every pixel.
    int *const errorThis = errorThis_.data();
    int *const errorNext = errorNext_.data();
    const Colour *const palette = format_.palette.data();
    NearestColour &nearest = *nearest_;
    uint64_t *const shown = shown_.data();
    dirtyNext_.clear();
    // The last span of the next row that error was passed into, still open to growing.
    int openFrom = 0, openTo = -1;
    // The error passed to the right, held here rather than in the error row so that a pixel does
    // not wait for the one before it to be stored and read back. Only a diffused pixel passes
    // error on, and the pixel after one that did is always diffused, so it is zero wherever
    // pixels go by runs. Three scalars, as an array would be kept in memory.
    int rightR = 0, rightG = 0, rightB = 0;
    // Diffuses pixel x and clears its incoming error; true if it passed error on. No incoming
    // error leaves the pixel's colour as it is.
    auto diffuse = [&](int x) {
        const uint32_t colour = row.ColourAt(x);
        int *here = errorThis + (static_cast<std::size_t>(x) + 1) * 3;
        const int wanted[3] = {
            std::clamp((static_cast<int>(colour >> 16) * 16 + here[0] + rightR + 8) >> 4, 0, 255),
            std::clamp((static_cast<int>(colour >> 8 & 0xFF) * 16 + here[1] + rightG + 8) >> 4, 0,
                       255),
            std::clamp((static_cast<int>(colour & 0xFF) * 16 + here[2] + rightB + 8) >> 4, 0, 255)};
        here[0] = here[1] = here[2] = 0;
        const uint32_t rgb = static_cast<uint32_t>(wanted[0]) << 16 |
                             static_cast<uint32_t>(wanted[1]) << 8 |
                             static_cast<uint32_t>(wanted[2]);
        uint64_t &found = shown[(rgb * 0x9E3779B1u) >> (32 - kShownBits)];
        if (static_cast<uint32_t>(found >> 32) != rgb) {
            const uint8_t entry = nearest.Find(rgb);
            found = static_cast<uint64_t>(rgb) << 32 | static_cast<uint64_t>(entry) << 24 |
                    Pack(palette[entry]);
        }
        const auto index = static_cast<uint8_t>(found >> 24);
        out[x] = index;
        const int error[3] = {wanted[0] - static_cast<int>(found >> 16 & 0xFF),
                              wanted[1] - static_cast<int>(found >> 8 & 0xFF),
                              wanted[2] - static_cast<int>(found & 0xFF)};
        if (std::abs(error[0]) <= kDeadZone && std::abs(error[1]) <= kDeadZone &&
            std::abs(error[2]) <= kDeadZone) {
            rightR = rightG = rightB = 0;
            return false;
        }
        rightR = error[0] * 7;
        rightG = error[1] * 7;
        rightB = error[2] * 7;
        int *next = errorNext + static_cast<std::size_t>(x) * 3;
        for (int c = 0; c < 3; ++c) {
            next[c] += error[c] * 3;
            next[c + 3] += error[c] * 5;
            next[c + 6] += error[c];
        }
        const int from = std::max(0, x - 1), to = std::min(width, x + 2);
        if (openTo < from) {
            if (openTo >= 0) {
                dirtyNext_.emplace_back(openFrom, openTo);
            }
            openFrom = from;
        }
        openTo = to;
        return true;
    };
    std::size_t span = 0;
    bool carried = false;
    for (int x = 0; x < width;) {
        while (span < dirtyThis_.size() && dirtyThis_[span].second <= x) {
            ++span;
        }
        const int dirtyFrom = span < dirtyThis_.size() ? dirtyThis_[span].first : width;
        if (!carried && x < dirtyFrom) {
            bool near = false;
            const uint8_t index = row.Nearest(x, near);
            if (near) {
                const int end = row.RunEnd(x, dirtyFrom);
                std::memset(out + x, index, static_cast<std::size_t>(end - x));
                x = end;
                continue;
            }
        }
        // Inside a span holding error every pixel is diffused; outside it, this one.
        for (const int end = x >= dirtyFrom ? dirtyThis_[span].second : x + 1; x < end; ++x) {
            carried = diffuse(x);
        }
    }
    if (openTo >= 0) {
        dirtyNext_.emplace_back(openFrom, openTo);
    }
    errorThis_.swap(errorNext_);
    dirtyThis_.swap(dirtyNext_);
    // The margins take error that falls outside the row and are never read: clear them before
    // the row is used again so that they cannot grow without bound.
    std::fill_n(errorNext_.begin(), 3, 0);
    std::fill_n(errorNext_.end() - 3, 3, 0);
}

// Writes the kept bands in the chosen palette and lets them go.
void PaletteReducer::WriteKept()
{
    const auto width = static_cast<std::size_t>(format_.width);
    std::vector<uint32_t> colours(colours_.size());
    std::vector<uint8_t> toPalette(colours_.size());
    std::vector<uint16_t> nearest(colours_.size());
    for (std::size_t i = 0; i < colours_.size(); ++i) {
        colours[i] = Pack(colours_[i]);
        toPalette[i] = exact_ ? static_cast<uint8_t>(i) : nearest_->Find(colours[i]);
        nearest[i] =
            toPalette[i] | (Near(format_.palette[toPalette[i]], colours[i]) ? KeptRow::kNear : 0);
    }
    for (KeptBand &band : kept_) {
        const std::size_t count = static_cast<std::size_t>(band.rows) * width;
        const uint16_t *kept = band.raw.get();
        if (!kept) {
            uint16_t *unpacked = Scratch(count);
            Inflate(band.deflated, unpacked, count);
            band.deflated = std::vector<uint8_t>();
            kept = unpacked;
        }
        indices_.resize(count);
        for (int row = 0; row < band.rows; ++row) {
            const uint16_t *in = kept + row * width;
            uint8_t *out = indices_.data() + row * width;
            if (errorThis_.empty()) {
                for (std::size_t x = 0; x < width; ++x) {
                    out[x] = toPalette[in[x]];
                }
            } else {
                Diffuse(KeptRow{in, colours.data(), nearest.data()}, out);
            }
        }
        writer_.WriteRows(indices_.data(), band.rows, static_cast<std::ptrdiff_t>(width));
        band.raw.reset();
    }
    kept_.clear();
    keptBytes_ = 0;
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
            Diffuse(RgbRow{rgb + row * stride, *nearest_, format_.palette}, out);
        }
    }
    writer_.WriteRows(indices_.data(), rowCount, static_cast<std::ptrdiff_t>(width));
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

} // namespace rastool
