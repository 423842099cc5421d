// SPDX-License-Identifier: AGPL-3.0-or-later
#pragma once

#include "render/page_source.h"

#include <QtGlobal>

#include <map>
#include <vector>

// Where the pages of a document lie in a scrolling column, in device-independent pixels.
//
// A document may declare far more pages than it holds, up to 2^31 - 1, and measuring a page
// means loading it; so the layout holds nothing per page until a page is measured. Every page
// not measured yet is laid out at the size of an estimate (the first page's), and only measured
// pages that differ from it are kept, in page order with the running sum of their differences.
// Measuring a page moves only the pages after it, so a page in view stays where it is while the
// pages below it are measured. Positions are 64-bit: a column of two billion pages is about
// 10^12 pixels tall.
class PageLayout {
public:
    static constexpr int kMargin = 8; // around the column and between pages

    // Forgets every measurement. `count` may be 0 (an empty layout).
    void Reset(int count, render::PageSizePt estimate);
    void SetScale(double pixelsPerPoint);

    int count() const { return count_; }
    double scale() const { return scale_; }
    render::PageSizePt estimate() const { return estimate_; }

    bool IsMeasured(int page) const { return measured_.count(page) != 0; }
    void SetMeasured(int page, render::PageSizePt size);
    // The measured size, or the estimate.
    render::PageSizePt Size(int page) const;
    // How many pages were measured: what the layout holds, whatever the page count.
    size_t measuredCount() const { return measured_.size(); }

    qint64 Top(int page) const;
    int Left(int page) const;
    int Width(int page) const;
    int Height(int page) const;
    qint64 ContentHeight() const;
    int ContentWidth() const;
    // The page whose slot (the page and the margin below it) holds content row y; the first or
    // the last page for rows above or below the column. -1 without pages.
    int PageAt(qint64 y) const;

private:
    int Pixels(double points) const;
    void Refresh() const;
    // Sum of the height differences of the measured pages before `page`.
    qint64 OffsetBefore(int page) const;

    int count_ = 0;
    double scale_ = 1.0;
    render::PageSizePt estimate_{612.0, 792.0};
    std::map<int, render::PageSizePt> measured_;

    // Derived from measured_ and scale_, rebuilt when either changes.
    struct Difference {
        int page;
        qint64 before; // the differences of the measured pages before this one
    };
    mutable bool fresh_ = false;
    mutable std::vector<Difference> differences_;
    mutable qint64 totalDifference_ = 0;
    mutable int widest_ = 0;
};
