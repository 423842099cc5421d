// SPDX-License-Identifier: AGPL-3.0-or-later
#pragma once

#include "render/document.h"

#include <QAbstractScrollArea>
#include <QImage>
#include <QRect>

#include <list>
#include <memory>
#include <vector>

// Scrolling column of a document's pages. Page sizes are read when the view is first laid out,
// not when the document is set, so that setting a document only to count its pages costs
// nothing here. Pages are rendered while painting, only those that intersect the viewport;
// rendered pages are kept up to a memory budget, most recently used first.
class PageView : public QAbstractScrollArea {
    Q_OBJECT
public:
    enum class FitMode { Zoom, Page, Width };

    explicit PageView(QWidget *parent = nullptr);
    ~PageView() override;

    // Takes the document and shows it from its first page; nullptr shows nothing.
    void SetDocument(std::unique_ptr<render::Document> document);
    render::Document *document() const { return document_.get(); }
    int PageCount() const;

    void SetZoomPercent(int percent);
    void SetFitMode(FitMode mode);
    FitMode fitMode() const { return fitMode_; }

    // 0-based page that takes most of the viewport; -1 without a document.
    int CurrentPage();
    // The page last reported by CurrentPageChanged, without laying the view out.
    int reportedPage() const { return lastCurrentPage_; }
    void ScrollToPage(int page);

    // Where each page lies in the scrolled content, in device-independent pixels.
    QRect PageRect(int page);
    // Pages rendered since the document was set: lets tests see that only visible pages are.
    int renderCount() const { return renderCount_; }

signals:
    void CurrentPageChanged(int page);

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void scrollContentsBy(int dx, int dy) override;

private:
    struct CachedPage {
        int page;
        QImage image;
    };

    void InvalidateLayout();
    void EnsureLayout();
    void UpdateScrollBars();
    double ScaleFor(QSize viewport) const;
    // A rendered page at the current scale, or a null image when the page cannot be rendered.
    QImage PageImage(int page, const QRect &visibleRows);
    void NoteCurrentPage();

    std::unique_ptr<render::Document> document_;
    std::vector<render::PageSizePt> sizes_;
    std::vector<QRect> rects_;
    QSize contentSize_;
    double scale_ = 1.0; // device-independent pixels per point
    bool layoutValid_ = false;
    double scrollFraction_ = 0.0; // vertical position to restore at the next layout
    int zoomPercent_ = 100;
    FitMode fitMode_ = FitMode::Zoom;
    std::list<CachedPage> cache_;
    qint64 cacheBytes_ = 0;
    int renderCount_ = 0;
    int lastCurrentPage_ = -1;
};
