// SPDX-License-Identifier: AGPL-3.0-or-later
#include "viewer/doc_viewer_control.h"

#include "remote/remote_document.h"
#include "viewer/page_view.h"

#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpressionValidator>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <chrono>
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

// A page that takes longer to draw is shown as one that cannot be shown.
constexpr std::chrono::milliseconds kPageDrawTimeout{10000};

// The PDF library takes a file as a PDF only when "%PDF-" appears near its start; a file
// without it was never a PDF, one with it that still fails is a damaged PDF.
constexpr qint64 kHeaderWindow = 1024;

bool StartsLikePdf(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) && file.read(kHeaderWindow).contains("%PDF-");
}

// Why the document at `path` could not be opened, in a few plain words.
QString FailureReason(const QString &path, const render::RenderError &error)
{
    switch (error.kind()) {
    case render::RenderError::Kind::NotFound:
        return DocViewerControl::tr("the file is missing");
    case render::RenderError::Kind::Password:
        return DocViewerControl::tr("the document is protected by a password");
    case render::RenderError::Kind::Damaged:
        return DocViewerControl::tr("the document is damaged");
    case render::RenderError::Kind::Unreadable:
        break;
    case render::RenderError::Kind::MemoryLimit:
        return DocViewerControl::tr("the document needs more memory than the limit");
    case render::RenderError::Kind::TooLarge:
    case render::RenderError::Kind::Failed:
        return DocViewerControl::tr("the document cannot be read");
    case render::RenderError::Kind::Stopped:
        return DocViewerControl::tr("the document reader stopped on it");
    case render::RenderError::Kind::TimedOut:
        return DocViewerControl::tr("reading it took too long");
    case render::RenderError::Kind::OutOfMemory:
        return DocViewerControl::tr("it needs too much memory");
    }
    const QFileInfo info(path);
    if (info.size() == 0) {
        return DocViewerControl::tr("the file is empty");
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return DocViewerControl::tr("the file cannot be read (%1)").arg(file.errorString());
    }
    return StartsLikePdf(path) ? DocViewerControl::tr("the document is damaged")
                               : DocViewerControl::tr("it is not a PDF document");
}

} // namespace

static_assert(DocViewerControl::kMinZoom == PageView::kMinZoomPercent &&
                  DocViewerControl::kMaxZoom == PageView::kMaxZoomPercent,
              "a zoom that can be opened at can also be zoomed to");

DocViewerControl::DocViewerControl(QWidget *parent) : QWidget(parent)
{
    navigationBar_ = new QWidget(this);
    navigationBar_->setAccessibleName(tr("Page navigation"));
    previousButton_ = new QToolButton(navigationBar_);
    previousButton_->setArrowType(Qt::UpArrow);
    previousButton_->setToolTip(tr("Previous page"));
    previousButton_->setAccessibleName(tr("Previous page"));
    nextButton_ = new QToolButton(navigationBar_);
    nextButton_->setArrowType(Qt::DownArrow);
    nextButton_->setToolTip(tr("Next page"));
    nextButton_->setAccessibleName(tr("Next page"));
    pageLabel_ = new QLabel(tr("Page"), navigationBar_);
    pageField_ = new QLineEdit(navigationBar_);
    pageField_->setAlignment(Qt::AlignRight);
    pageField_->setAccessibleName(tr("Page"));
    pageField_->setToolTip(tr("Type a page number and press Enter to go there"));
    pageField_->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), pageField_));
    pageField_->setMaxLength(10);
    pageField_->installEventFilter(this);
    countLabel_ = new QLabel(navigationBar_);
    auto *barLayout = new QHBoxLayout(navigationBar_);
    barLayout->setContentsMargins(2, 2, 2, 2);
    barLayout->addWidget(previousButton_);
    barLayout->addWidget(nextButton_);
    barLayout->addWidget(pageLabel_);
    barLayout->addWidget(pageField_);
    barLayout->addWidget(countLabel_);
    barLayout->addStretch(1);

    view_ = new PageView(this);
    view_->setAccessibleName(tr("Pages"));
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
    // Leaving the field without Enter puts the current page back.
    connect(pageField_, &QLineEdit::editingFinished, this, [this] {
        pageField_->setModified(false);
        UpdateNavigation();
    });
    setFocusProxy(view_);
    UpdateNavigation();
}

DocViewerControl::~DocViewerControl()
{
    // The children outlive this part of the object: what they signal on their way out (the
    // page field losing focus as the window goes) must not reach it.
    pageField_->removeEventFilter(this);
    pageField_->disconnect(this);
    view_->disconnect(this);
}

bool DocViewerControl::eventFilter(QObject *watched, QEvent *event)
{
    // Enter in the page field is the field's own: passed on, it would press the window's
    // default button. Esc first takes back what was typed, and only then is the window's.
    if (watched == pageField_ && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            GoToTypedPage();
            return true;
        }
        if (key == Qt::Key_Escape && pageField_->isModified()) {
            pageField_->setModified(false);
            UpdateNavigation();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void DocViewerControl::GoToTypedPage()
{
    bool ok = false;
    const qint64 page = pageField_->text().toLongLong(&ok);
    if (ok && page >= 1 && page <= GetPageCount()) {
        view_->ScrollToPage(static_cast<int>(page - 1));
        view_->setFocus(Qt::OtherFocusReason);
    }
    // A number out of range is replaced by the current page.
    pageField_->setModified(false);
    UpdateNavigation();
}

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
    const QFileInfo info(path);
    if (!info.isFile()) {
        ShowFailure(!info.exists() ? tr("the file is missing")
                    : info.isDir() ? tr("it is a folder")
                                   : tr("it is not a regular file"));
        return false;
    }
    std::unique_ptr<remote::RemoteDocument> document;
    try {
        document = std::make_unique<remote::RemoteDocument>(remote::SharedHelper(),
                                                            QFile::encodeName(path).toStdString());
    } catch (const render::RenderError &error) {
        ShowFailure(FailureReason(path, error));
        return false;
    }
    if (document->PageCount() <= 0) {
        ShowFailure(tr("the document is damaged"));
        return false;
    }
    view_->SetZoomPercent(zoom);
    // The pages are drawn from the same open file, read again by the view's own helper.
    PageRenderer::Opener drawing =
        [file = document->file()](const std::shared_ptr<remote::HelperProcess> &helper) {
            auto pages = std::make_unique<remote::RemoteDocument>(helper, file);
            pages->SetRenderTimeout(kPageDrawTimeout);
            return std::unique_ptr<render::PageSource>(std::move(pages));
        };
    view_->SetDocument(std::move(document), std::move(drawing));
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

void DocViewerControl::ShowFailure(const QString &reason)
{
    view_->SetMessage(tr("Cannot show this file: %1.").arg(reason));
}

QString DocViewerControl::message() const
{
    return view_->message();
}

QString DocViewerControl::navigationText() const
{
    const int count = view_->PageCount();
    if (count <= 0) {
        return QString();
    }
    return tr("Page %1 of %2").arg(std::max(0, view_->reportedPage()) + 1).arg(count);
}

void DocViewerControl::UpdateNavigation()
{
    const int count = view_->PageCount();
    // Without a document there is no page to tell.
    pageField_->setEnabled(count > 0);
    pageLabel_->setVisible(count > 0);
    pageField_->setVisible(count > 0);
    if (count <= 0) {
        pageField_->clear();
        countLabel_->clear();
        previousButton_->setEnabled(false);
        nextButton_->setEnabled(false);
        return;
    }
    const int current = std::max(0, view_->reportedPage());
    // Wide enough for the largest page number, and not wider.
    const int digits = std::max(3, int(QString::number(count).size()));
    pageField_->setFixedWidth(
        pageField_->fontMetrics().horizontalAdvance(QString(digits, QLatin1Char('0'))) + 12);
    // What the user is typing stays until Enter or leaving the field.
    if (!(pageField_->hasFocus() && pageField_->isModified())) {
        pageField_->setText(QString::number(current + 1));
    }
    countLabel_->setText(tr("of %1").arg(count));
    previousButton_->setEnabled(current > 0);
    nextButton_->setEnabled(current + 1 < count);
}
