// SPDX-License-Identifier: AGPL-3.0-or-later
#pragma once

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
    void Pixel(const unsigned char *cmyk, unsigned char *rgb) const noexcept;

    std::optional<std::vector<unsigned char>> documentProfile_;
    std::string defaultProfile_;
    bool tried_ = false;
    bool rejected_ = false;
    void *context_ = nullptr;
    void *colourTransform_ = nullptr;
    // The profile's sRGB colours at a grid of CMYK values, shared by every document that uses
    // the same profile: computing it is most of the cost of a profile.
    std::shared_ptr<const std::vector<std::uint16_t>> grid_;
};

} // namespace render
