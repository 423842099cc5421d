// SPDX-License-Identifier: AGPL-3.0-or-later
#include "viewer/page_renderer.h"

#include <algorithm>

namespace {

QString Why(const render::RenderError &error)
{
    switch (error.kind()) {
    case render::RenderError::Kind::Stopped:
        return PageRenderer::tr("the document reader stopped on it");
    case render::RenderError::Kind::TimedOut:
        return PageRenderer::tr("it takes too long to draw");
    case render::RenderError::Kind::OutOfMemory:
    case render::RenderError::Kind::MemoryLimit:
        return PageRenderer::tr("it needs too much memory");
    case render::RenderError::Kind::TooLarge:
        return PageRenderer::tr("it is too large");
    default:
        return PageRenderer::tr("it is damaged");
    }
}

} // namespace

PageRenderer::PageRenderer(QObject *parent)
    : QObject(parent), helper_(std::make_shared<remote::HelperProcess>(remote::HelperProgram())),
      thread_([this] { Run(); })
{
    cancelTimer_.setSingleShot(true);
    cancelTimer_.setInterval(kCancelGraceMs);
    connect(&cancelTimer_, &QTimer::timeout, this, &PageRenderer::EndLateDrawing);
}

PageRenderer::~PageRenderer()
{
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
        wanted_.clear();
    }
    wake_.notify_all();
    helper_->Kill();
    thread_.join();
}

void PageRenderer::SetSource(Opener opener)
{
    bool late = false;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        ++source_;
        wake_.notify_all();
        opener_ = std::move(opener);
        openSoon_ = false;
        undelivered_ -= static_cast<int>(wanted_.size());
        wanted_.clear();
        late = drawing_;
    }
    if (late) {
        cancelTimer_.start();
    }
}

void PageRenderer::OpenSoon()
{
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        openSoon_ = true;
    }
    wake_.notify_all();
}

void PageRenderer::EndLateDrawing()
{
    const std::lock_guard<std::mutex> lock(mutex_);
    if (drawing_ && drawingSource_ != source_) {
        helper_->Kill();
    }
}

void PageRenderer::Want(const std::vector<Job> &jobs, bool replace)
{
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        undelivered_ -= static_cast<int>(wanted_.size());
        if (replace) {
            wanted_.clear();
        }
        for (const Job &job : jobs) {
            const bool underWay = (drawing_ && drawingSource_ == source_ && drawingJob_ == job) ||
                                  std::find(posted_.begin(), posted_.end(),
                                            std::make_pair(source_, job)) != posted_.end();
            if (!underWay && std::find(wanted_.begin(), wanted_.end(), job) == wanted_.end()) {
                wanted_.push_back(job);
            }
        }
        undelivered_ += static_cast<int>(wanted_.size());
    }
    wake_.notify_all();
}

bool PageRenderer::busy() const
{
    const std::lock_guard<std::mutex> lock(mutex_);
    return undelivered_ > 0;
}

void PageRenderer::Run()
{
    for (;;) {
        Job job;
        Opener opener;
        quint64 source = 0;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            wake_.wait(lock, [this] {
                return stopping_ || !wanted_.empty() ||
                       (documentSource_ != source_ && (openSoon_ || !opener_));
            });
            if (stopping_) {
                break;
            }
            if (wanted_.empty()) {
                opener = opener_;
                source = source_;
                lock.unlock();
                try {
                    OpenSource(source, opener);
                } catch (const std::exception &) {
                    // Opened again for the first page, which then tells why it cannot be.
                    document_.reset();
                }
                continue;
            }
            job = wanted_.front();
            wanted_.pop_front();
            opener = opener_;
            source = source_;
            drawing_ = true;
            drawingJob_ = job;
            drawingSource_ = source;
        }
        Draw(source, job, opener);
        const std::lock_guard<std::mutex> lock(mutex_);
        drawing_ = false;
    }
    document_.reset();
}

void PageRenderer::OpenSource(quint64 source, const Opener &opener)
{
    document_.reset();
    documentSource_ = source;
    if (opener) {
        document_ = opener(helper_);
    }
}

void PageRenderer::Draw(quint64 source, const Job &job, const Opener &opener)
{
    QImage image;
    QString failure;
    int pageHeight = 0;
    try {
        if (!document_ || documentSource_ != source) {
            OpenSource(source, opener);
        }
        if (!document_) {
            throw render::RenderError(render::RenderError::Kind::Failed, "no document");
        }
        const double dpi = job.dpi;
        const render::PixelSize size = document_->PagePixelSize(job.page, dpi, dpi);
        pageHeight = size.height;
        const int y0 = std::clamp(job.y0, 0, std::max(0, size.height - 1));
        const int rows = job.rows < 0 ? size.height : std::min(job.rows, size.height - y0);
        if (size.width > 0 && rows > 0) {
            image = QImage(size.width, rows, QImage::Format_RGB888);
        }
        if (image.isNull()) {
            throw render::RenderError(render::RenderError::Kind::OutOfMemory, "no room");
        }
        document_->RenderBand(job.page, dpi, dpi, y0, rows, render::PixelFormat::Rgb, image.bits(),
                              image.bytesPerLine());
        image.setOffset(QPoint(0, y0));
    } catch (const render::RenderError &error) {
        image = QImage();
        failure = Why(error);
        // The helper went with the document: the next page opens it again in a fresh one.
        if (error.kind() == render::RenderError::Kind::Stopped ||
            error.kind() == render::RenderError::Kind::TimedOut) {
            document_.reset();
        }
    } catch (const std::bad_alloc &) {
        image = QImage();
        failure = tr("it needs too much memory");
    }
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        posted_.emplace_back(source, job);
    }
    QMetaObject::invokeMethod(
        this,
        [this, source, job, image, failure, pageHeight] {
            {
                const std::lock_guard<std::mutex> lock(mutex_);
                --undelivered_;
                posted_.pop_front();
            }
            emit Drawn(source, job, image, failure, pageHeight);
        },
        Qt::QueuedConnection);
}
