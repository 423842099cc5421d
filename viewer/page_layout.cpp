// SPDX-License-Identifier: AGPL-3.0-or-later
#include "viewer/page_layout.h"

#include <algorithm>
#include <cmath>

namespace {

// A page side in pixels is kept below this, so that sums of a few sides stay far from int's
// limit; such a page cannot be rendered anyway and shows as a placeholder.
constexpr double kMaxSidePixels = 1 << 24;

} // namespace

void PageLayout::Reset(int count, render::PageSizePt estimate)
{
    count_ = std::max(0, count);
    estimate_ = estimate;
    measured_.clear();
    fresh_ = false;
}

void PageLayout::SetScale(double pixelsPerPoint)
{
    if (pixelsPerPoint != scale_) {
        scale_ = pixelsPerPoint;
        fresh_ = false;
    }
}

void PageLayout::SetMeasured(int page, render::PageSizePt size)
{
    if (page < 0 || page >= count_) {
        return;
    }
    measured_[page] = size;
    fresh_ = false;
}

render::PageSizePt PageLayout::Size(int page) const
{
    const auto it = measured_.find(page);
    return it == measured_.end() ? estimate_ : it->second;
}

int PageLayout::Pixels(double points) const
{
    const double pixels = std::round(points * scale_);
    // NaN and negative sizes of a broken page box end up as 1 pixel.
    if (!(pixels >= 1)) {
        return 1;
    }
    return static_cast<int>(std::min(pixels, kMaxSidePixels));
}

void PageLayout::Refresh() const
{
    if (fresh_) {
        return;
    }
    fresh_ = true;
    differences_.clear();
    totalDifference_ = 0;
    widest_ = Pixels(estimate_.width);
    const int estimated = Pixels(estimate_.height);
    for (const auto &[page, size] : measured_) {
        widest_ = std::max(widest_, Pixels(size.width));
        const int difference = Pixels(size.height) - estimated;
        if (difference != 0) {
            differences_.push_back({page, totalDifference_});
            totalDifference_ += difference;
        }
    }
}

qint64 PageLayout::OffsetBefore(int page) const
{
    Refresh();
    const auto it =
        std::lower_bound(differences_.begin(), differences_.end(), page,
                         [](const Difference &difference, int p) { return difference.page < p; });
    return it == differences_.end() ? totalDifference_ : it->before;
}

qint64 PageLayout::Top(int page) const
{
    const qint64 slot = qint64(Pixels(estimate_.height)) + kMargin;
    return kMargin + qint64(page) * slot + OffsetBefore(page);
}

int PageLayout::Width(int page) const
{
    return Pixels(Size(page).width);
}

int PageLayout::Height(int page) const
{
    return Pixels(Size(page).height);
}

int PageLayout::Left(int page) const
{
    Refresh();
    return kMargin + (widest_ - Width(page)) / 2;
}

qint64 PageLayout::ContentHeight() const
{
    return count_ == 0 ? 0 : Top(count_);
}

int PageLayout::ContentWidth() const
{
    Refresh();
    return count_ == 0 ? 0 : widest_ + 2 * kMargin;
}

int PageLayout::PageAt(qint64 y) const
{
    if (count_ == 0) {
        return -1;
    }
    // Tops grow with the page number (every page is at least one pixel tall), so the last page
    // starting at or above y is found by halving.
    int low = 0;
    int high = count_ - 1;
    while (low < high) {
        const int middle = low + (high - low + 1) / 2;
        if (Top(middle) <= y) {
            low = middle;
        } else {
            high = middle - 1;
        }
    }
    return low;
}
