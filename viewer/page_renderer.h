// SPDX-License-Identifier: AGPL-3.0-or-later
#pragma once

#include "remote/helper_process.h"
#include "render/page_source.h"

#include <QImage>
#include <QObject>
#include <QString>
#include <QTimer>

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

// Draws the pages of the document shown, away from the interface thread, through a helper
// process of its own: a page that takes long to draw never delays a page count or a size, which
// go to the shared helper.
//
// A thread of ours owns the blocking connection and posts each result back through the event
// loop. The helper answers one request at a time anyway, so a socket notifier would only move
// the same waiting into a state machine; a blocked thread is also simply ended by killing its
// helper, which is what cancelling a drawing that does not stop in time means.
class PageRenderer : public QObject {
    Q_OBJECT
public:
    struct Job {
        int page = 0;
        double dpi = 0;
        int y0 = 0;
        int rows = -1; // -1: the whole page

        bool operator==(const Job &other) const
        {
            return page == other.page && dpi == other.dpi && y0 == other.y0 && rows == other.rows;
        }
    };
    // Opens the document in the given helper; called on the drawing thread.
    using Opener = std::function<std::unique_ptr<render::PageSource>(
        const std::shared_ptr<remote::HelperProcess> &)>;

    // A drawing of a document no longer shown is given this long to end before its helper is
    // killed.
    static constexpr int kCancelGraceMs = 1000;

    explicit PageRenderer(QObject *parent = nullptr);
    ~PageRenderer() override;

    // The document to draw from now on (an empty opener: none). What was wanted of the one
    // before is dropped.
    void SetSource(Opener opener);
    // Opens the document in the helper now, before its first page is wanted: the view is about
    // to be laid out. A document only counted is never opened there.
    void OpenSoon();
    // The pages wanted now, most wanted first. With `replace`, what was wanted before and is not
    // in the list is dropped; else the list is added. A page being drawn is not asked for twice.
    void Want(const std::vector<Job> &jobs, bool replace);
    // Pages wanted or being drawn, results not yet delivered included.
    bool busy() const;
    // Which SetSource a Drawn belongs to.
    quint64 source() const { return source_; }
    const std::shared_ptr<remote::HelperProcess> &helper() const { return helper_; }

signals:
    // The image of the job (rows `job.y0` on, at most the page's height) or why it cannot be
    // drawn.
    void Drawn(quint64 source, PageRenderer::Job job, QImage image, QString failure,
               int pageHeight);

private:
    void Run();
    // Throws render::RenderError when the document cannot be opened.
    void OpenSource(quint64 source, const Opener &opener);
    void Draw(quint64 source, const Job &job, const Opener &opener);
    void EndLateDrawing();

    std::shared_ptr<remote::HelperProcess> helper_;
    QTimer cancelTimer_;

    // Guards what follows; source_ is written only on the interface thread, which may read it
    // without the lock.
    mutable std::mutex mutex_;
    quint64 source_ = 0;
    std::condition_variable wake_;
    std::deque<Job> wanted_;
    Opener opener_;
    bool stopping_ = false;
    bool openSoon_ = false;
    int undelivered_ = 0;
    bool drawing_ = false;
    Job drawingJob_;
    quint64 drawingSource_ = 0;
    // Drawn, and on their way through the event loop.
    std::deque<std::pair<quint64, Job>> posted_;

    // The drawing thread's own.
    std::unique_ptr<render::PageSource> document_;
    quint64 documentSource_ = 0;
    std::thread thread_;
};
