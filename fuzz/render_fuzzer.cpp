// SPDX-License-Identifier: AGPL-3.0-or-later
// Opens arbitrary bytes as a PDF document and renders its first pages at a small resolution,
// in two bands and in both pixel formats. Every failure must arrive as render::RenderError:
// any other exception, a crash or a sanitizer report is a finding.
#include "render/document.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace {

constexpr int kPagesPerInput = 2;
constexpr double kDpi = 9;
// A page raster beyond this is not rendered here: the engine bands such pages, and the harness
// must stay within libFuzzer's memory limit.
constexpr long long kMaxPixels = 1LL << 22;

void RenderPage(render::Document &doc, int page)
{
    const render::PixelSize size = doc.PagePixelSize(page, kDpi, kDpi);
    if (size.width <= 0 || size.height <= 0 ||
        static_cast<long long>(size.width) * size.height > kMaxPixels) {
        return;
    }
    const int top = size.height / 2;
    std::vector<unsigned char> rgb(static_cast<size_t>(size.width) * 3 * size.height);
    const std::ptrdiff_t rgbStride = static_cast<std::ptrdiff_t>(size.width) * 3;
    if (top > 0) {
        doc.RenderBand(page, kDpi, kDpi, 0, top, render::PixelFormat::Rgb, rgb.data(), rgbStride);
    }
    doc.RenderBand(page, kDpi, kDpi, top, size.height - top, render::PixelFormat::Rgb,
                   rgb.data() + top * rgbStride, rgbStride);
    // A stride wider than the row takes the library's scratch path.
    const std::ptrdiff_t greyStride = size.width + 7;
    std::vector<unsigned char> grey(static_cast<size_t>(greyStride) * size.height);
    doc.RenderBand(page, kDpi, kDpi, 0, size.height, render::PixelFormat::Grey, grey.data(),
                   greyStride);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    try {
        render::Document doc(std::vector<unsigned char>(data, data + size));
        const int pages = std::min(doc.PageCount(), kPagesPerInput);
        for (int page = 0; page < pages; ++page) {
            try {
                RenderPage(doc, page);
            } catch (const render::RenderError &) {
                // A broken page must not stop the next one from rendering.
            }
        }
    } catch (const render::RenderError &) {
    }
    return 0;
}
