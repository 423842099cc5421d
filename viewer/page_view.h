// SPDX-License-Identifier: AGPL-3.0-or-later
#pragma once

#include "render/page_source.h"
#include "viewer/page_layout.h"
#include "viewer/page_renderer.h"

#include <QAbstractScrollArea>
#include <QHash>
#include <QImage>
#include <QRect>
#include <QString>
#include <QTimer>

#include <list>
#include <memory>
#include <optional>
#include <vector>

// Scrolling column of a document's pages.
//
// Nothing is measured when the document is set, so that setting a document only to count its
// pages costs nothing here. The first layout measures the first page only; the other pages are
// measured when they come into view (see PageLayout), and a few at a time while the window is
// idle, so opening costs the same for a page count of ten or of two billion. Pages are drawn by a
// PageRenderer, away from the interface thread, only those in view: a page still drawing shows
// as a blank sheet with a short note, and a page scrolled away before its turn is never drawn.
// Drawn pages are kept up to a memory budget, most recently used first. A page that cannot be
// drawn is shown as a grey placeholder that says why.
//
// The vertical position is a 64-bit pixel row. The scroll bar follows it one to one while the
// column fits its int range, and in proportion beyond; the wheel and the keys move the position
// itself, so they keep their step however long the column is.
//
// Zoom: the dispatch interface sets how pages are fitted (SetFitMode, SetZoomPercent); the user
// zooms from there with Ctrl+wheel and Ctrl+plus/minus, within kMinZoomPercent..kMaxZoomPercent,
// and Ctrl+0 returns to the fitting last set through the interface.
class PageView : public QAbstractScrollArea {
    Q_OBJECT
public:
    enum class FitMode { Zoom, Page, Width };
    static constexpr double kMinZoomPercent = 10;
    static constexpr double kMaxZoomPercent = 800;
    // One wheel notch or one key press zooms by this factor.
    static constexpr double kZoomStep = 1.25;

    explicit PageView(QWidget *parent = nullptr);
    ~PageView() override;

    // Takes the document and shows it from its first page; nullptr shows nothing. Either way
    // the message goes. The pages are drawn from the document `drawing` opens in the renderer's
    // helper: the sizes come from `document`, the pixels from a process that may be busy.
    void SetDocument(std::unique_ptr<render::PageSource> document,
                     PageRenderer::Opener drawing = {});
    render::PageSource *document() const { return document_.get(); }
    int PageCount() const;

    // Shown centred in place of pages while no document is set.
    void SetMessage(const QString &text);
    const QString &message() const { return message_; }

    void SetZoomPercent(int percent);
    void SetFitMode(FitMode mode);
    FitMode fitMode() const { return fitMode_; }
    // The zoom in effect, in percent of the page's actual size, whatever the fit mode.
    double zoomPercent();
    // Multiplies the zoom in effect by `factor`, within bounds, keeping the document point under
    // `anchor` (viewport coordinates) where it is.
    void ZoomBy(double factor, QPoint anchor);
    void ResetZoom(QPoint anchor);

    // 0-based page that takes most of the viewport, or the page last gone to with ScrollToPage
    // while the view has not moved since; -1 without a document.
    int CurrentPage();
    // The page last reported by CurrentPageChanged, without laying the view out.
    int reportedPage() const { return lastCurrentPage_; }
    // Puts the top of the page at the top of the view, as far as the column allows.
    void ScrollToPage(int page);
    void ScrollToEnd();

    // Where a page lies in the viewport now (rows beyond int's range are clamped).
    QRect ViewportRect(int page);
    // First content row in view.
    qint64 contentTop() const { return top_; }
    const PageLayout &layout();
    // Pages rendered since the document was set: lets tests see that only visible pages are.
    int renderCount() const { return renderCount_; }
    // Why the page cannot be shown, when it cannot.
    QString pageFailure(int page) const { return failures_.value(page); }
    // Whether pages asked for are still being drawn.
    bool drawing() const { return renderer_.busy(); }
    PageRenderer &renderer() { return renderer_; }

signals:
    void CurrentPageChanged(int page);

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    struct CachedPage {
        int page;
        double dpi;
        bool whole;
        QImage image; // its offset: the first row it holds
    };
    // A point of the document: a page and a position on it in points from its top left corner,
    // or, for a point in the margin above the page, its distance to the page in pixels.
    struct Anchor {
        int page;
        double x, y;
        qint64 gap;
    };

    void InvalidateLayout();
    void EnsureLayout();
    double ScaleFor(QSize viewport) const;
    double FittedScale();
    // Applies the current fit mode and zoom, keeping the document point under `point` in place.
    void Rescale(QPoint point);
    Anchor AnchorAt(QPoint point) const;
    void MoveAnchorTo(const Anchor &anchor, QPoint point);
    // The page's size, or none for a page that cannot be found.
    std::optional<render::PageSizePt> DeclaredSize(int page) const;
    // Measures the pages that lie in view; true when that changed the layout.
    bool MeasureVisible();
    void MeasureWhileIdle();
    void SetTop(qint64 top);
    qint64 MaxTop() const;
    void SyncScrollBars();
    int Centring() const;
    QRect RectInViewport(int page) const;
    // The page's image at the current scale when it has been drawn; else asks for it in `jobs`.
    QImage PageImage(int page, const QRect &visibleRows, std::vector<PageRenderer::Job> &jobs);
    void TakeDrawing(quint64 source, const PageRenderer::Job &job, const QImage &image,
                     const QString &failure);
    void ClearCache();
    void NoteCurrentPage();

    std::unique_ptr<render::PageSource> document_;
    PageLayout layout_;
    bool layoutValid_ = false;
    bool pagesKnown_ = false; // the layout was set up for document_
    std::optional<Anchor> pendingAnchor_;
    QTimer idleTimer_;
    int idlePage_ = 0; // the next page to measure while idle
    QString message_;

    qint64 top_ = 0;
    double barUnit_ = 1.0; // content rows per step of the vertical scroll bar
    bool syncingBars_ = false;
    int pinnedPage_ = -1;
    qint64 pinnedTop_ = 0;

    // The fitting last set through the interface, and the one in effect.
    FitMode baseFitMode_ = FitMode::Zoom;
    int baseZoomPercent_ = 100;
    FitMode fitMode_ = FitMode::Zoom;
    double zoomPercent_ = 100;

    PageRenderer renderer_;
    // Pages that cannot be drawn, with the reason.
    QHash<int, QString> failures_;
    std::list<CachedPage> cache_;
    qint64 cacheBytes_ = 0;
    int renderCount_ = 0;
    int lastCurrentPage_ = -1;
};
