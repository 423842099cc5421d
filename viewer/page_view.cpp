// SPDX-License-Identifier: AGPL-3.0-or-later
#include "viewer/page_view.h"

#include <QKeyEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QTimer>

#include <algorithm>
#include <cmath>

namespace {

constexpr int kMargin = 8; // around the column and between pages
constexpr int kScrollStep = 20;
// Pages up to this size are rendered whole and kept; larger ones only in the rows in view.
constexpr qint64 kMaxWholePagePixels = 16 * 1024 * 1024;
constexpr qint64 kCacheBudgetBytes = 64 * 1024 * 1024;
constexpr size_t kMaxCachedPages = 12;
// A page whose size cannot be read is laid out as US Letter.
constexpr render::PageSizePt kFallbackPageSize{612.0, 792.0};

} // namespace

PageView::PageView(QWidget *parent) : QAbstractScrollArea(parent)
{
    setFocusPolicy(Qt::StrongFocus);
    verticalScrollBar()->setSingleStep(kScrollStep);
    horizontalScrollBar()->setSingleStep(kScrollStep);
    viewport()->setAutoFillBackground(false);
}

PageView::~PageView() = default;

void PageView::SetDocument(std::unique_ptr<render::Document> document)
{
    document_ = std::move(document);
    sizes_.clear();
    renderCount_ = 0;
    InvalidateLayout();
    scrollFraction_ = 0.0;
    const int current = PageCount() > 0 ? 0 : -1;
    if (current != lastCurrentPage_) {
        lastCurrentPage_ = current;
        emit CurrentPageChanged(current);
    }
}

int PageView::PageCount() const
{
    return document_ ? document_->PageCount() : 0;
}

void PageView::SetZoomPercent(int percent)
{
    if (percent == zoomPercent_) {
        return;
    }
    zoomPercent_ = percent;
    if (fitMode_ == FitMode::Zoom) {
        InvalidateLayout();
    }
}

void PageView::SetFitMode(FitMode mode)
{
    if (mode == fitMode_) {
        return;
    }
    fitMode_ = mode;
    InvalidateLayout();
}

void PageView::InvalidateLayout()
{
    // Keep the same part of the document in view across a change of scale.
    if (layoutValid_ && contentSize_.height() > 0) {
        scrollFraction_ = double(verticalScrollBar()->value()) / contentSize_.height();
    }
    layoutValid_ = false;
    cache_.clear();
    cacheBytes_ = 0;
    viewport()->update();
    // Laid out when control returns to the event loop, so that a document opened only to be
    // counted and closed again never has its pages measured.
    QTimer::singleShot(0, this, [this] { EnsureLayout(); });
}

double PageView::ScaleFor(QSize viewport) const
{
    double widest = 0;
    double tallest = 0;
    for (const render::PageSizePt &size : sizes_) {
        widest = std::max(widest, size.width);
        tallest = std::max(tallest, size.height);
    }
    const double width = std::max(1, viewport.width() - 2 * kMargin);
    const double height = std::max(1, viewport.height() - 2 * kMargin);
    switch (fitMode_) {
    case FitMode::Width:
        return width / std::max(widest, 1.0);
    case FitMode::Page:
        return std::min(width / std::max(widest, 1.0), height / std::max(tallest, 1.0));
    case FitMode::Zoom:
        break;
    }
    return zoomPercent_ / 100.0 * logicalDpiY() / 72.0;
}

void PageView::EnsureLayout()
{
    if (layoutValid_) {
        return;
    }
    layoutValid_ = true;
    rects_.clear();
    if (document_ && sizes_.empty()) {
        const int count = document_->PageCount();
        sizes_.reserve(count);
        for (int page = 0; page < count; ++page) {
            try {
                sizes_.push_back(document_->PageSize(page));
            } catch (const render::RenderError &) {
                sizes_.push_back(kFallbackPageSize);
            }
        }
    }

    // The fitted scale depends on whether a vertical scroll bar takes part of the width; the
    // largest possible viewport does not, so the result cannot flip back and forth.
    const QSize available = maximumViewportSize();
    scale_ = ScaleFor(available);
    if (fitMode_ != FitMode::Zoom) {
        double height = kMargin;
        for (const render::PageSizePt &size : sizes_) {
            height += size.height * scale_ + kMargin;
        }
        if (height > available.height()) {
            scale_ = ScaleFor(available - QSize(verticalScrollBar()->sizeHint().width(), 0));
        }
    }

    int widest = 0;
    for (const render::PageSizePt &size : sizes_) {
        widest = std::max(widest, static_cast<int>(std::lround(size.width * scale_)));
    }
    int y = kMargin;
    for (const render::PageSizePt &size : sizes_) {
        const int width = std::max(1, static_cast<int>(std::lround(size.width * scale_)));
        const int height = std::max(1, static_cast<int>(std::lround(size.height * scale_)));
        rects_.emplace_back(kMargin + (widest - width) / 2, y, width, height);
        y += height + kMargin;
    }
    contentSize_ = rects_.empty() ? QSize() : QSize(widest + 2 * kMargin, y);

    UpdateScrollBars();
    verticalScrollBar()->setValue(
        static_cast<int>(std::lround(scrollFraction_ * contentSize_.height())));
    viewport()->update();
    NoteCurrentPage();
}

void PageView::UpdateScrollBars()
{
    const QSize viewportSize = viewport()->size();
    verticalScrollBar()->setRange(0, std::max(0, contentSize_.height() - viewportSize.height()));
    verticalScrollBar()->setPageStep(viewportSize.height());
    horizontalScrollBar()->setRange(0, std::max(0, contentSize_.width() - viewportSize.width()));
    horizontalScrollBar()->setPageStep(viewportSize.width());
}

QRect PageView::PageRect(int page)
{
    EnsureLayout();
    if (page < 0 || page >= static_cast<int>(rects_.size())) {
        return QRect();
    }
    return rects_[page];
}

int PageView::CurrentPage()
{
    EnsureLayout();
    if (rects_.empty()) {
        return -1;
    }
    const QRect visible(horizontalScrollBar()->value(), verticalScrollBar()->value(),
                        std::max(1, viewport()->width()), std::max(1, viewport()->height()));
    int best = -1;
    qint64 bestArea = -1;
    for (size_t page = 0; page < rects_.size(); ++page) {
        const QRect shown = rects_[page].intersected(visible);
        const qint64 area = shown.isEmpty() ? 0 : qint64(shown.width()) * shown.height();
        if (area > bestArea) {
            best = static_cast<int>(page);
            bestArea = area;
        }
        if (rects_[page].top() > visible.bottom()) {
            break;
        }
    }
    return best;
}

void PageView::ScrollToPage(int page)
{
    EnsureLayout();
    if (page < 0 || page >= static_cast<int>(rects_.size())) {
        return;
    }
    verticalScrollBar()->setValue(rects_[page].top() - kMargin);
}

void PageView::NoteCurrentPage()
{
    const int page = CurrentPage();
    if (page != lastCurrentPage_) {
        lastCurrentPage_ = page;
        emit CurrentPageChanged(page);
    }
}

QImage PageView::PageImage(int page, const QRect &visibleRows)
{
    const double deviceRatio = devicePixelRatioF();
    const double dpi = scale_ * 72.0 * deviceRatio;
    render::PixelSize size{0, 0};
    try {
        size = document_->PagePixelSize(page, dpi, dpi);
    } catch (const render::RenderError &) {
        return QImage();
    }
    if (size.width <= 0 || size.height <= 0) {
        return QImage();
    }
    const bool whole = qint64(size.width) * size.height <= kMaxWholePagePixels;
    if (whole) {
        for (auto it = cache_.begin(); it != cache_.end(); ++it) {
            if (it->page == page) {
                cache_.splice(cache_.begin(), cache_, it);
                return cache_.front().image;
            }
        }
    }

    int y0 = 0;
    int rows = size.height;
    if (!whole) {
        y0 = std::clamp(static_cast<int>(std::floor(visibleRows.top() * deviceRatio)), 0,
                        size.height - 1);
        const int y1 =
            std::clamp(static_cast<int>(std::ceil((visibleRows.bottom() + 1) * deviceRatio)),
                       y0 + 1, size.height);
        rows = y1 - y0;
    }
    QImage image(size.width, rows, QImage::Format_RGB888);
    if (image.isNull()) {
        return QImage();
    }
    try {
        ++renderCount_;
        document_->RenderBand(page, dpi, dpi, y0, rows, render::PixelFormat::Rgb, image.bits(),
                              image.bytesPerLine());
    } catch (const render::RenderError &) {
        image = QImage();
    }
    image.setDevicePixelRatio(deviceRatio);
    image.setOffset(QPoint(0, y0));
    if (whole) {
        cache_.push_front({page, image});
        cacheBytes_ += image.sizeInBytes();
        while (cache_.size() > 1 &&
               (cache_.size() > kMaxCachedPages || cacheBytes_ > kCacheBudgetBytes)) {
            cacheBytes_ -= cache_.back().image.sizeInBytes();
            cache_.pop_back();
        }
    }
    return image;
}

void PageView::paintEvent(QPaintEvent *event)
{
    EnsureLayout();
    QPainter painter(viewport());
    painter.fillRect(event->rect(), palette().color(QPalette::Dark));
    if (rects_.empty()) {
        return;
    }
    const int centring = std::max(0, (viewport()->width() - contentSize_.width()) / 2);
    const QPoint origin(centring - horizontalScrollBar()->value(), -verticalScrollBar()->value());
    const QRect exposed = event->rect();
    for (size_t page = 0; page < rects_.size(); ++page) {
        const QRect target = rects_[page].translated(origin);
        if (target.top() > exposed.bottom()) {
            break;
        }
        if (!target.intersects(exposed)) {
            continue;
        }
        painter.setPen(palette().color(QPalette::Shadow));
        painter.drawRect(target.adjusted(-1, -1, 0, 0));
        painter.fillRect(target, Qt::white);
        const QRect rowsInView = target.intersected(exposed).translated(-target.topLeft());
        const QImage image = PageImage(static_cast<int>(page), rowsInView);
        if (image.isNull()) {
            painter.setPen(Qt::darkGray);
            painter.drawText(target, Qt::AlignCenter | Qt::TextWordWrap,
                             tr("This page cannot be shown."));
            continue;
        }
        const double deviceRatio = image.devicePixelRatio();
        painter.drawImage(QPointF(target.left(), target.top() + image.offset().y() / deviceRatio),
                          image);
    }
}

void PageView::resizeEvent(QResizeEvent *event)
{
    QAbstractScrollArea::resizeEvent(event);
    if (fitMode_ != FitMode::Zoom) {
        InvalidateLayout();
    } else {
        UpdateScrollBars();
    }
    NoteCurrentPage();
}

void PageView::keyPressEvent(QKeyEvent *event)
{
    QScrollBar *bar = verticalScrollBar();
    switch (event->key()) {
    case Qt::Key_Home:
        bar->triggerAction(QAbstractSlider::SliderToMinimum);
        return;
    case Qt::Key_End:
        bar->triggerAction(QAbstractSlider::SliderToMaximum);
        return;
    case Qt::Key_Space:
        bar->triggerAction(event->modifiers() & Qt::ShiftModifier
                               ? QAbstractSlider::SliderPageStepSub
                               : QAbstractSlider::SliderPageStepAdd);
        return;
    default:
        QAbstractScrollArea::keyPressEvent(event);
    }
}

void PageView::scrollContentsBy(int, int)
{
    viewport()->update();
    NoteCurrentPage();
}
