// SPDX-License-Identifier: AGPL-3.0-or-later
#include "viewer/page_view.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace {

constexpr int kMargin = PageLayout::kMargin;
constexpr int kScrollStep = 20;
// Pages up to this size are rendered whole and kept; larger ones only in the rows in view.
constexpr qint64 kMaxWholePagePixels = 16 * 1024 * 1024;
constexpr qint64 kCacheBudgetBytes = 64 * 1024 * 1024;
constexpr size_t kMaxCachedPages = 12;
// A page whose size cannot be read is laid out as US Letter.
constexpr render::PageSizePt kFallbackPageSize{612.0, 792.0};
// The vertical scroll bar's range stays within this; a taller column is mapped onto it.
constexpr qint64 kMaxBarRange = 1 << 30;
// A jump to the end measures the pages it lands on, which may move the end again; a few
// rounds settle it.
constexpr int kEndRounds = 4;
// Pages measured while the window is idle: this long at a time, up to this many pages.
constexpr qint64 kIdleSliceNs = 4'000'000;
// While pages in view are drawn, measuring looks again this often.
constexpr int kBusyMeasureRetryMs = 50;
constexpr int kMaxIdleMeasuredPages = 100'000;

int ClampToInt(qint64 value)
{
    return static_cast<int>(std::clamp<qint64>(value, -(qint64(1) << 30), qint64(1) << 30));
}

} // namespace

PageView::PageView(QWidget *parent) : QAbstractScrollArea(parent)
{
    setFocusPolicy(Qt::StrongFocus);
    verticalScrollBar()->setSingleStep(kScrollStep);
    horizontalScrollBar()->setSingleStep(kScrollStep);
    viewport()->setAutoFillBackground(false);
    idleTimer_.setSingleShot(true);
    idleTimer_.setInterval(0);
    connect(&idleTimer_, &QTimer::timeout, this, &PageView::MeasureWhileIdle);
    connect(&renderer_, &PageRenderer::Drawn, this,
            [this](quint64 source, const PageRenderer::Job &job, const QImage &image,
                   const QString &failure, int) {
                TakeDrawing(source, job, image, failure);
                // Measuring starts, or goes on, once the pages in view are drawn.
                if (!renderer_.busy() && pagesKnown_ && idlePage_ < layout_.count()) {
                    idleTimer_.start(0);
                }
            });
}

PageView::~PageView() = default;

void PageView::SetDocument(std::unique_ptr<render::PageSource> document,
                           PageRenderer::Opener drawing)
{
    renderer_.SetSource(document ? std::move(drawing) : PageRenderer::Opener());
    failures_.clear();
    document_ = std::move(document);
    message_.clear();
    layout_.Reset(0, kFallbackPageSize);
    layoutValid_ = false;
    pagesKnown_ = false;
    pendingAnchor_.reset();
    pinnedPage_ = -1;
    top_ = 0;
    renderCount_ = 0;
    idleTimer_.stop();
    InvalidateLayout();
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

void PageView::SetMessage(const QString &text)
{
    message_ = text;
    viewport()->update();
}

void PageView::SetZoomPercent(int percent)
{
    baseZoomPercent_ = percent;
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
    // A fitting is chosen for a document about to be shown, not for one only counted: its
    // first page is drawn sooner when the helper reads the file while the view lays out.
    if (document_) {
        renderer_.OpenSoon();
    }
    baseFitMode_ = mode;
    // Showing at the zoom means the zoom last set, not whatever the user zoomed to.
    const bool zoomChanged = mode == FitMode::Zoom && zoomPercent_ != baseZoomPercent_;
    zoomPercent_ = baseZoomPercent_;
    if (mode == fitMode_ && !zoomChanged) {
        return;
    }
    fitMode_ = mode;
    InvalidateLayout();
}

double PageView::zoomPercent()
{
    EnsureLayout();
    return layout_.scale() * 72.0 / logicalDpiY() * 100.0;
}

void PageView::ZoomBy(double factor, QPoint anchor)
{
    EnsureLayout();
    if (layout_.count() == 0 || !(factor > 0)) {
        return;
    }
    const double current = zoomPercent();
    // A fitted zoom may lie outside the bounds; zooming never crosses a bound the wrong way.
    const double target = std::clamp(current * factor, std::min(current, kMinZoomPercent),
                                     std::max(current, kMaxZoomPercent));
    fitMode_ = FitMode::Zoom;
    zoomPercent_ = target;
    Rescale(anchor);
}

void PageView::ResetZoom(QPoint anchor)
{
    EnsureLayout();
    fitMode_ = baseFitMode_;
    zoomPercent_ = baseZoomPercent_;
    if (layout_.count() > 0) {
        Rescale(anchor);
    }
}

void PageView::InvalidateLayout()
{
    // Keep the same part of the document in view across a change of scale.
    if (layoutValid_ && layout_.count() > 0 && !pendingAnchor_) {
        pendingAnchor_ = AnchorAt(QPoint(0, 0));
    }
    layoutValid_ = false;
    ClearCache();
    viewport()->update();
    // Laid out when control returns to the event loop, so that a document opened only to be
    // counted and closed again never has a page measured.
    QTimer::singleShot(0, this, [this] { EnsureLayout(); });
}

void PageView::ClearCache()
{
    cache_.clear();
    cacheBytes_ = 0;
}

double PageView::ScaleFor(QSize viewport) const
{
    // Fitting follows the first page: the others are not measured until they are shown.
    const render::PageSizePt page = layout_.estimate();
    const double width = std::max(1, viewport.width() - 2 * kMargin);
    const double height = std::max(1, viewport.height() - 2 * kMargin);
    switch (fitMode_) {
    case FitMode::Width:
        return width / std::max(page.width, 1.0);
    case FitMode::Page:
        return std::min(width / std::max(page.width, 1.0), height / std::max(page.height, 1.0));
    case FitMode::Zoom:
        break;
    }
    return zoomPercent_ / 100.0 * logicalDpiY() / 72.0;
}

double PageView::FittedScale()
{
    // The fitted scale depends on whether a vertical scroll bar takes part of the width; the
    // largest possible viewport has none, so the result cannot flip back and forth.
    const QSize available = maximumViewportSize();
    double scale = ScaleFor(available);
    if (fitMode_ != FitMode::Zoom) {
        layout_.SetScale(scale);
        if (layout_.ContentHeight() > available.height()) {
            scale = ScaleFor(available - QSize(verticalScrollBar()->sizeHint().width(), 0));
        }
    }
    return scale;
}

void PageView::EnsureLayout()
{
    if (layoutValid_) {
        return;
    }
    layoutValid_ = true;
    if (!pagesKnown_) {
        pagesKnown_ = true;
        renderer_.OpenSoon();
        const int count = PageCount();
        const std::optional<render::PageSizePt> first =
            count > 0 ? DeclaredSize(0) : std::optional<render::PageSizePt>();
        layout_.Reset(count, first.value_or(kFallbackPageSize));
        if (first) {
            layout_.SetMeasured(0, *first);
        }
        // The other pages are measured once the pages in view are drawn (see the Drawn
        // handler).
        idlePage_ = 1;
    }
    layout_.SetScale(FittedScale());
    SyncScrollBars();
    if (pendingAnchor_) {
        // A page gone to stays the current page through a new fitting.
        const bool pinned = pinnedPage_ >= 0 && top_ == pinnedTop_;
        MoveAnchorTo(*pendingAnchor_, QPoint(0, 0));
        pendingAnchor_.reset();
        if (pinned) {
            pinnedTop_ = top_;
        }
    } else {
        SetTop(top_);
    }
    viewport()->update();
    NoteCurrentPage();
}

void PageView::Rescale(QPoint point)
{
    const Anchor anchor = AnchorAt(point);
    layout_.SetScale(FittedScale());
    ClearCache();
    SyncScrollBars();
    MoveAnchorTo(anchor, point);
    viewport()->update();
    NoteCurrentPage();
}

PageView::Anchor PageView::AnchorAt(QPoint point) const
{
    const qint64 y = top_ + point.y();
    int page = std::max(0, layout_.PageAt(y));
    // A point in the margin above a page keeps its distance to that page in pixels, since
    // margins do not scale: a page gone to stays one margin below the top of the view.
    qint64 gap = 0;
    if (y >= layout_.Top(page) + layout_.Height(page) && page + 1 < layout_.count()) {
        ++page;
    }
    if (y < layout_.Top(page)) {
        gap = layout_.Top(page) - y;
    }
    const int x = horizontalScrollBar()->value() + point.x() - Centring();
    const double scale = layout_.scale();
    const double down = gap > 0 ? 0.0 : (y - layout_.Top(page)) / scale;
    return {page, (x - layout_.Left(page)) / scale, down, gap};
}

void PageView::MoveAnchorTo(const Anchor &anchor, QPoint point)
{
    if (anchor.page >= layout_.count()) {
        SetTop(top_);
        return;
    }
    const double scale = layout_.scale();
    const qint64 y = layout_.Top(anchor.page) + std::llround(anchor.y * scale) - anchor.gap;
    const qint64 x = layout_.Left(anchor.page) + std::llround(anchor.x * scale);
    horizontalScrollBar()->setValue(ClampToInt(x - point.x() + Centring()));
    SetTop(y - point.y());
}

const PageLayout &PageView::layout()
{
    EnsureLayout();
    return layout_;
}

qint64 PageView::MaxTop() const
{
    return std::max<qint64>(0, layout_.ContentHeight() - viewport()->height());
}

int PageView::Centring() const
{
    return std::max(0, (viewport()->width() - layout_.ContentWidth()) / 2);
}

void PageView::SyncScrollBars()
{
    const QSize viewportSize = viewport()->size();
    const qint64 maxTop = MaxTop();
    barUnit_ = maxTop > kMaxBarRange ? double(maxTop) / kMaxBarRange : 1.0;
    syncingBars_ = true;
    QScrollBar *bar = verticalScrollBar();
    bar->setRange(0, static_cast<int>(std::llround(maxTop / barUnit_)));
    bar->setPageStep(std::max(1, static_cast<int>(viewportSize.height() / barUnit_)));
    bar->setSingleStep(std::max(1, static_cast<int>(kScrollStep / barUnit_)));
    top_ = std::clamp<qint64>(top_, 0, maxTop);
    bar->setValue(static_cast<int>(std::llround(top_ / barUnit_)));
    syncingBars_ = false;
    QScrollBar *across = horizontalScrollBar();
    across->setRange(0, std::max(0, layout_.ContentWidth() - viewportSize.width()));
    across->setPageStep(viewportSize.width());
}

void PageView::SetTop(qint64 top)
{
    top = std::clamp<qint64>(top, 0, MaxTop());
    const bool moved = top != top_;
    top_ = top;
    syncingBars_ = true;
    verticalScrollBar()->setValue(static_cast<int>(std::llround(top_ / barUnit_)));
    syncingBars_ = false;
    if (moved) {
        viewport()->update();
    }
    NoteCurrentPage();
}

void PageView::scrollContentsBy(int, int dy)
{
    // Moves of the scroll bar by the user; those made to follow top_ are not taken back.
    if (dy != 0 && !syncingBars_) {
        const int value = verticalScrollBar()->value();
        top_ = barUnit_ == 1.0 ? value : std::llround(value * barUnit_);
        top_ = std::clamp<qint64>(top_, 0, MaxTop());
    }
    viewport()->update();
    NoteCurrentPage();
}

std::optional<render::PageSizePt> PageView::DeclaredSize(int page) const
{
    try {
        return document_->DeclaredPageSize(page);
    } catch (const render::RenderError &) {
        return std::nullopt;
    }
}

bool PageView::MeasureVisible()
{
    if (!document_ || layout_.count() == 0) {
        return false;
    }
    const qint64 bottom = top_ + viewport()->height();
    int page = layout_.PageAt(top_);
    // A page whose slot reaches into view only by its margin stays as it is: measuring it would
    // move the page below it, the one in view.
    if (layout_.Top(page) + layout_.Height(page) <= top_) {
        ++page;
    }
    bool changed = false;
    for (; page < layout_.count() && layout_.Top(page) < bottom; ++page) {
        if (layout_.IsMeasured(page)) {
            continue;
        }
        // A page that cannot be found keeps the estimate and shows as a placeholder; it is
        // not tried again.
        layout_.SetMeasured(page, DeclaredSize(page).value_or(layout_.estimate()));
        changed = true;
    }
    if (changed) {
        SyncScrollBars();
    }
    return changed;
}

void PageView::MeasureWhileIdle()
{
    // Measuring the pages in order makes the layout exact, and it loads what the library needs
    // to find a page, which a jump far into the document would otherwise wait for. It stops at
    // the first page that cannot be found: a page tree that declares more pages than it has is
    // measured only where it is shown.
    if (!document_ || !layoutValid_) {
        return;
    }
    // Each size is a round trip to the helper, which would share the processor with the
    // drawing of the pages the user waits for: the next drawing delivered starts it again.
    if (renderer_.busy()) {
        idleTimer_.start(kBusyMeasureRetryMs);
        return;
    }
    const int last = std::min(layout_.count(), kMaxIdleMeasuredPages);
    const Anchor anchor = AnchorAt(QPoint(0, 0));
    const bool pinned = pinnedPage_ >= 0 && top_ == pinnedTop_;
    bool changed = false;
    QElapsedTimer clock;
    clock.start();
    while (idlePage_ < last && clock.nsecsElapsed() < kIdleSliceNs) {
        if (!layout_.IsMeasured(idlePage_)) {
            const std::optional<render::PageSizePt> size = DeclaredSize(idlePage_);
            if (!size) {
                idlePage_ = last;
                break;
            }
            layout_.SetMeasured(idlePage_, *size);
            changed = true;
        }
        ++idlePage_;
    }
    if (changed) {
        // Pages measured above the view move it: the part of the document in view stays.
        SyncScrollBars();
        MoveAnchorTo(anchor, QPoint(0, 0));
        if (pinned) {
            pinnedTop_ = top_;
        }
        viewport()->update();
    }
    if (idlePage_ < last) {
        idleTimer_.start(0);
    }
}

QRect PageView::ViewportRect(int page)
{
    EnsureLayout();
    if (page < 0 || page >= layout_.count()) {
        return QRect();
    }
    MeasureVisible();
    return RectInViewport(page);
}

QRect PageView::RectInViewport(int page) const
{
    const int x = layout_.Left(page) + Centring() - horizontalScrollBar()->value();
    return QRect(x, ClampToInt(layout_.Top(page) - top_), layout_.Width(page),
                 layout_.Height(page));
}

int PageView::CurrentPage()
{
    EnsureLayout();
    if (layout_.count() == 0) {
        return -1;
    }
    MeasureVisible();
    if (pinnedPage_ >= 0 && top_ == pinnedTop_) {
        return pinnedPage_;
    }
    pinnedPage_ = -1;
    const qint64 bottom = top_ + std::max(1, viewport()->height());
    int best = layout_.PageAt(top_);
    qint64 bestArea = -1;
    for (int page = best; page < layout_.count() && layout_.Top(page) < bottom; ++page) {
        const qint64 shown = std::min(bottom, layout_.Top(page) + layout_.Height(page)) -
                             std::max(top_, layout_.Top(page));
        const qint64 area = std::max<qint64>(0, shown) * layout_.Width(page);
        if (area > bestArea) {
            best = page;
            bestArea = area;
        }
    }
    return best;
}

void PageView::ScrollToPage(int page)
{
    EnsureLayout();
    if (page < 0 || page >= layout_.count()) {
        return;
    }
    // Pinned first, so that the move reports this page and no other on its way.
    pinnedPage_ = page;
    pinnedTop_ = std::clamp<qint64>(layout_.Top(page) - kMargin, 0, MaxTop());
    SetTop(pinnedTop_);
}

void PageView::ScrollToEnd()
{
    EnsureLayout();
    if (layout_.count() == 0) {
        return;
    }
    for (int round = 0; round < kEndRounds; ++round) {
        pinnedPage_ = layout_.count() - 1;
        pinnedTop_ = MaxTop();
        SetTop(pinnedTop_);
        if (!MeasureVisible()) {
            break;
        }
    }
    pinnedTop_ = top_;
    NoteCurrentPage();
}

void PageView::NoteCurrentPage()
{
    const int page = CurrentPage();
    if (page != lastCurrentPage_) {
        lastCurrentPage_ = page;
        emit CurrentPageChanged(page);
    }
}

QImage PageView::PageImage(int page, const QRect &visibleRows, std::vector<PageRenderer::Job> &jobs)
{
    const double deviceRatio = devicePixelRatioF();
    const double dpi = layout_.scale() * 72.0 * deviceRatio;
    // The size in pixels as laid out; the renderer finds the exact one.
    const qint64 width = std::llround(layout_.Width(page) * deviceRatio);
    const qint64 height = std::llround(layout_.Height(page) * deviceRatio);
    const bool whole = width * height <= kMaxWholePagePixels;
    PageRenderer::Job job{page, dpi, 0, -1};
    if (!whole) {
        job.y0 = std::clamp(static_cast<int>(std::floor(visibleRows.top() * deviceRatio)), 0,
                            static_cast<int>(std::max<qint64>(0, height - 1)));
        const int y1 = std::max(
            job.y0 + 1, static_cast<int>(std::ceil((visibleRows.bottom() + 1) * deviceRatio)));
        job.rows = y1 - job.y0;
    }
    for (auto it = cache_.begin(); it != cache_.end(); ++it) {
        if (it->page != page || it->dpi != dpi || it->whole != whole) {
            continue;
        }
        const int top = it->image.offset().y();
        if (whole || (top <= job.y0 && top + it->image.height() >= job.y0 + job.rows)) {
            cache_.splice(cache_.begin(), cache_, it);
            return cache_.front().image;
        }
    }
    jobs.push_back(job);
    return QImage();
}

void PageView::TakeDrawing(quint64 source, const PageRenderer::Job &job, const QImage &image,
                           const QString &failure)
{
    if (source != renderer_.source() || !document_) {
        return;
    }
    if (!failure.isEmpty()) {
        failures_.insert(job.page, failure);
        viewport()->update();
        return;
    }
    if (job.dpi != layout_.scale() * 72.0 * devicePixelRatioF()) {
        return;
    }
    ++renderCount_;
    QImage shown = image;
    shown.setDevicePixelRatio(devicePixelRatioF());
    // A band replaces the page's band before it; whole pages are kept with the others.
    const bool whole = job.rows < 0;
    if (!whole) {
        cache_.remove_if([&](const CachedPage &cached) {
            if (cached.page == job.page && !cached.whole) {
                cacheBytes_ -= cached.image.sizeInBytes();
                return true;
            }
            return false;
        });
    }
    cache_.push_front({job.page, job.dpi, whole, shown});
    cacheBytes_ += shown.sizeInBytes();
    while (cache_.size() > 1 &&
           (cache_.size() > kMaxCachedPages || cacheBytes_ > kCacheBudgetBytes)) {
        cacheBytes_ -= cache_.back().image.sizeInBytes();
        cache_.pop_back();
    }
    viewport()->update();
}

void PageView::paintEvent(QPaintEvent *event)
{
    EnsureLayout();
    MeasureVisible();
    QPainter painter(viewport());
    painter.fillRect(event->rect(), palette().color(QPalette::Dark));
    std::vector<PageRenderer::Job> jobs;
    if (layout_.count() == 0) {
        renderer_.Want(jobs, true);
        if (!message_.isEmpty()) {
            painter.setPen(palette().color(QPalette::BrightText));
            painter.drawText(viewport()->rect().adjusted(kMargin, kMargin, -kMargin, -kMargin),
                             Qt::AlignCenter | Qt::TextWordWrap, message_);
        }
        return;
    }
    const QRect exposed = event->rect();
    const qint64 bottom = top_ + exposed.bottom();
    for (int page = layout_.PageAt(top_ + exposed.top());
         page < layout_.count() && layout_.Top(page) <= bottom; ++page) {
        const QRect target = RectInViewport(page);
        if (!target.intersects(exposed)) {
            continue;
        }
        painter.setPen(palette().color(QPalette::Shadow));
        painter.drawRect(target.adjusted(-1, -1, 0, 0));
        const auto failure = failures_.constFind(page);
        if (failure != failures_.constEnd()) {
            painter.fillRect(target, palette().color(QPalette::Mid));
            painter.setPen(palette().color(QPalette::Light));
            painter.drawText(target, Qt::AlignCenter | Qt::TextWordWrap,
                             tr("This page cannot be shown: %1.").arg(*failure));
            continue;
        }
        const QRect rowsInView = target.intersected(exposed).translated(-target.topLeft());
        const QImage image = PageImage(page, rowsInView, jobs);
        painter.fillRect(target, Qt::white);
        if (image.isNull()) {
            painter.setPen(palette().color(QPalette::Mid));
            painter.drawText(target, Qt::AlignCenter | Qt::TextWordWrap, tr("Drawing the page..."));
            continue;
        }
        const double deviceRatio = image.devicePixelRatio();
        painter.drawImage(QPointF(target.left(), target.top() + image.offset().y() / deviceRatio),
                          image);
    }
    // Only what a paint of the whole view found missing stays wanted: pages scrolled away are
    // dropped.
    renderer_.Want(jobs, exposed.contains(viewport()->rect()));
}

void PageView::resizeEvent(QResizeEvent *event)
{
    QAbstractScrollArea::resizeEvent(event);
    if (fitMode_ != FitMode::Zoom) {
        InvalidateLayout();
    } else if (layoutValid_) {
        SyncScrollBars();
    }
    NoteCurrentPage();
}

void PageView::keyPressEvent(QKeyEvent *event)
{
    const QPoint centre = viewport()->rect().center();
    // Plus is a shifted key on many keyboards, and Ctrl with the unshifted "=" means the same.
    if (event->modifiers() & Qt::ControlModifier) {
        switch (event->key()) {
        case Qt::Key_Plus:
        case Qt::Key_Equal:
            ZoomBy(kZoomStep, centre);
            return;
        case Qt::Key_Minus:
            ZoomBy(1 / kZoomStep, centre);
            return;
        case Qt::Key_0:
            ResetZoom(centre);
            return;
        default:
            break;
        }
    }
    EnsureLayout();
    const qint64 screen = std::max(1, viewport()->height());
    switch (event->key()) {
    case Qt::Key_Home:
        ScrollToPage(0);
        return;
    case Qt::Key_End:
        ScrollToEnd();
        return;
    case Qt::Key_Up:
        SetTop(top_ - kScrollStep);
        return;
    case Qt::Key_Down:
        SetTop(top_ + kScrollStep);
        return;
    case Qt::Key_PageUp:
        SetTop(top_ - screen);
        return;
    case Qt::Key_PageDown:
        SetTop(top_ + screen);
        return;
    case Qt::Key_Space:
        SetTop(event->modifiers() & Qt::ShiftModifier ? top_ - screen : top_ + screen);
        return;
    default:
        QAbstractScrollArea::keyPressEvent(event);
    }
}

void PageView::wheelEvent(QWheelEvent *event)
{
    const QPoint angle = event->angleDelta();
    if (event->modifiers() & Qt::ControlModifier) {
        if (angle.y() != 0) {
            ZoomBy(std::pow(kZoomStep, angle.y() / 120.0), event->position().toPoint());
        }
        event->accept();
        return;
    }
    // Sideways turns, and Alt+wheel, which Qt turns sideways, are the horizontal bar's.
    if (angle.y() == 0 || event->modifiers() & Qt::AltModifier) {
        QAbstractScrollArea::wheelEvent(event);
        return;
    }
    EnsureLayout();
    const QPoint pixels = event->pixelDelta();
    const qint64 rows =
        pixels.y() != 0 ? pixels.y()
                        : qint64(angle.y()) * QApplication::wheelScrollLines() * kScrollStep / 120;
    SetTop(top_ - rows);
    event->accept();
}
