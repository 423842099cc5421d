// SPDX-License-Identifier: AGPL-3.0-or-later
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace render {

// The CMYK profile used when a document names none of its own: the SWOP-based default that
// Debian ships in libgs-common, so that our pages match what print-oriented renderers show.
extern const char *const kDefaultCmykProfile;

// A profile's conversion to sRGB (defined where it is made).
struct CmykGrid;

// One document's conversion of CMYK colours to sRGB through a CMYK output profile, relative
// colorimetric with black-point compensation. The profile is the document's own when it gives
// a usable one, else the default. Nothing is read or built until the first CMYK colour asks for
// it, so documents without CMYK pay nothing. Used by one thread at a time, like its document.
class CmykToRgb {
public:
    // documentProfile: the document's CMYK profile as stored (empty: it could not be read), or
    // none; defaultProfile: a file.
    explicit CmykToRgb(std::optional<std::vector<unsigned char>> documentProfile,
                       std::string defaultProfile = kDefaultCmykProfile);
    ~CmykToRgb();
    CmykToRgb(const CmykToRgb &) = delete;
    CmykToRgb &operator=(const CmykToRgb &) = delete;

    // Whether a profile is at hand; false when neither the document's nor the default can be
    // used, and colours are left to the PDF library. Never throws.
    bool Ready() noexcept;
    // Components 0..1 in, 0..1 out. Only after Ready() returned true.
    void Colour(const float cmyk[4], float rgb[3]) noexcept;
    // Rows of 4 and 3 bytes per pixel, strides in bytes. Only after Ready(). Interpolated in a
    // grid of the profile's colours (see kGrid).
    void Pixels(const unsigned char *cmyk, std::ptrdiff_t cmykStride, unsigned char *rgb,
                std::ptrdiff_t rgbStride, int width, int rows) noexcept;

    // The document gave a profile that is damaged or not a CMYK output profile, and the
    // default took its place.
    bool DocumentProfileRejected() const { return rejected_; }

private:
    bool Build(const void *data, std::size_t size) noexcept;
    // Red, green and blue in the low three bytes; the grid's planes around the pixel's black
    // must have been computed.
    std::uint32_t Pixel(const unsigned char *cmyk) const noexcept;
    // The same, computing the planes first where needed.
    std::uint32_t PixelWithPlanes(const unsigned char *cmyk) noexcept;
    // The same through the cache of recent colours; `pixel` is the four bytes read as one word.
    std::uint32_t Cached(std::uint32_t pixel, const unsigned char *cmyk) noexcept;

    std::optional<std::vector<unsigned char>> documentProfile_;
    std::string defaultProfile_;
    bool tried_ = false;
    bool rejected_ = false;
    // The profile's exact conversion and its sRGB colours at a grid of CMYK values, shared by
    // every document that uses the same profile: making them is most of the cost of a profile.
    std::shared_ptr<CmykGrid> grid_;
    // The planes of black known to be in the grid, a bit each.
    std::uint32_t planes_ = 0;
    // Colours converted lately, by a hash of their CMYK bytes as read in one 32-bit word:
    // smooth areas of a photograph come back to the same few colours row after row.
    static constexpr int kCacheBits = 12;
    static constexpr std::size_t kCacheEntries = std::size_t{1} << kCacheBits;
    struct CacheEntry {
        std::uint32_t cmyk;
        std::uint32_t rgb;
    };
    std::array<CacheEntry, kCacheEntries> cache_;
    bool cacheFilled_ = false;
};

} // namespace render
