// SPDX-License-Identifier: AGPL-3.0-or-later
#include "viewer/doc_viewer_control.h"

#include "render/document.h"
#include "viewer/page_view.h"

#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <memory>

namespace {

void RequireArgumentCount(const QVariantList &args, int count)
{
    if (args.size() != count) {
        throw DispatchError(QStringLiteral("Invalid number of parameters."));
    }
}

// Automation callers may pass a number where a text is expected and the other way round; both
// are converted as far as the value allows.
QString TextArgument(const QVariant &value)
{
    if (!value.isValid()) {
        return QString();
    }
    if (!value.canConvert<QString>()) {
        throw DispatchError(QStringLiteral("Type mismatch."));
    }
    return value.toString();
}

qint64 IntegerArgument(const QVariant &value, qint64 lowest, qint64 highest)
{
    bool ok = false;
    const qint64 number = value.toLongLong(&ok);
    if (!ok) {
        throw DispatchError(QStringLiteral("Type mismatch."));
    }
    if (number < lowest || number > highest) {
        throw DispatchError(QStringLiteral("Out of present range."));
    }
    return number;
}

int32_t Int32Argument(const QVariant &value)
{
    return static_cast<int32_t>(IntegerArgument(value, INT32_MIN, INT32_MAX));
}

int16_t Int16Argument(const QVariant &value)
{
    return static_cast<int16_t>(IntegerArgument(value, INT16_MIN, INT16_MAX));
}

} // namespace

DocViewerControl::DocViewerControl(QWidget *parent) : QWidget(parent)
{
    navigationBar_ = new QWidget(this);
    previousButton_ = new QToolButton(navigationBar_);
    previousButton_->setArrowType(Qt::UpArrow);
    previousButton_->setToolTip(tr("Previous page"));
    nextButton_ = new QToolButton(navigationBar_);
    nextButton_->setArrowType(Qt::DownArrow);
    nextButton_->setToolTip(tr("Next page"));
    pageLabel_ = new QLabel(navigationBar_);
    auto *barLayout = new QHBoxLayout(navigationBar_);
    barLayout->setContentsMargins(2, 2, 2, 2);
    barLayout->addWidget(previousButton_);
    barLayout->addWidget(nextButton_);
    barLayout->addWidget(pageLabel_, 1);

    view_ = new PageView(this);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(navigationBar_);
    layout->addWidget(view_, 1);

    connect(view_, &PageView::CurrentPageChanged, this, &DocViewerControl::UpdateNavigation);
    connect(previousButton_, &QToolButton::clicked, this,
            [this] { view_->ScrollToPage(view_->CurrentPage() - 1); });
    connect(nextButton_, &QToolButton::clicked, this,
            [this] { view_->ScrollToPage(view_->CurrentPage() + 1); });
    setFocusProxy(view_);
    UpdateNavigation();
}

DocViewerControl::~DocViewerControl() = default;

QVariant DocViewerControl::Invoke(int dispid, const QVariantList &args)
{
    switch (dispid) {
    case kCloseDocument:
        RequireArgumentCount(args, 0);
        CloseDocument();
        return QVariant();
    case kGetPageCount:
        RequireArgumentCount(args, 0);
        return QVariant(int(GetPageCount()));
    case kApplyPreviewSetting:
        RequireArgumentCount(args, 1);
        return QVariant(ApplyPreviewSetting(Int32Argument(args[0])));
    case kOpenDocument:
        RequireArgumentCount(args, 4);
        return QVariant(OpenDocument(TextArgument(args[0]), TextArgument(args[1]),
                                     TextArgument(args[2]), Int16Argument(args[3])));
    case kApplyDisplaySetting:
        RequireArgumentCount(args, 1);
        ApplyDisplaySetting(Int16Argument(args[0]));
        return QVariant();
    default:
        throw DispatchError(QStringLiteral("Member not found."));
    }
}

void DocViewerControl::CloseDocument()
{
    view_->SetDocument(nullptr);
    UpdateNavigation();
}

int32_t DocViewerControl::GetPageCount() const
{
    return view_->PageCount();
}

bool DocViewerControl::ApplyPreviewSetting(int32_t setting)
{
    if (setting != kHideNavigationBar && setting != kShowNavigationBar) {
        return false;
    }
    navigationBar_->setVisible(setting == kShowNavigationBar);
    return true;
}

bool DocViewerControl::OpenDocument(const QString &path, const QString &second,
                                    const QString &third, int16_t zoom)
{
    if (!second.isEmpty() || !third.isEmpty()) {
        throw DispatchError(QStringLiteral("Invalid argument: the second and third texts of "
                                           "OpenDocument must be empty."));
    }
    if (zoom < kMinZoom || zoom > kMaxZoom) {
        throw DispatchError(QStringLiteral("Out of present range."));
    }
    CloseDocument();
    // Only a regular file can be a document: a named pipe or a device would hold the window
    // while it is read, for ever if nothing ends it.
    if (!QFileInfo(path).isFile()) {
        return false;
    }
    std::unique_ptr<render::Document> document;
    try {
        document = std::make_unique<render::Document>(QFile::encodeName(path).toStdString());
    } catch (const render::RenderError &) {
        return false;
    }
    if (document->PageCount() <= 0) {
        return false;
    }
    view_->SetZoomPercent(zoom);
    view_->SetDocument(std::move(document));
    UpdateNavigation();
    return true;
}

void DocViewerControl::ApplyDisplaySetting(int16_t setting)
{
    switch (setting) {
    case kAtZoom:
        view_->SetFitMode(PageView::FitMode::Zoom);
        return;
    case kFitPage:
        view_->SetFitMode(PageView::FitMode::Page);
        return;
    case kFitWidth:
        view_->SetFitMode(PageView::FitMode::Width);
        return;
    default:
        throw DispatchError(QStringLiteral("Out of present range."));
    }
}

QString DocViewerControl::navigationText() const
{
    return pageLabel_->text();
}

void DocViewerControl::UpdateNavigation()
{
    const int count = view_->PageCount();
    if (count <= 0) {
        pageLabel_->clear();
        previousButton_->setEnabled(false);
        nextButton_->setEnabled(false);
        return;
    }
    const int current = std::max(0, view_->reportedPage());
    pageLabel_->setText(tr("Page %1 of %2").arg(current + 1).arg(count));
    previousButton_->setEnabled(current > 0);
    nextButton_->setEnabled(current + 1 < count);
}
