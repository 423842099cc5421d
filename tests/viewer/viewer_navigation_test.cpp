// SPDX-License-Identifier: AGPL-3.0-or-later
// Zoom, the page field, the keys that travel, and documents that declare more pages than any
// layout could hold one by one.
#include "viewer/doc_viewer_control.h"
#include "viewer/page_view.h"
#include "viewer/test_pdf.h"
#include "viewer/viewer_fixture.h"

#include <QDialog>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QVBoxLayout>
#include <QWheelEvent>

#include <climits>
#include <cmath>
#include <csignal>
#include <functional>
#include <unistd.h>

namespace {

constexpr int kMargin = 8;

void Wheel(PageView *view, QPoint at, int delta, Qt::KeyboardModifiers modifiers = {})
{
    QWidget *viewport = view->viewport();
    QWheelEvent wheel(at, viewport->mapToGlobal(at), QPoint(), QPoint(0, delta), Qt::NoButton,
                      modifiers, Qt::NoScrollPhase, false);
    QApplication::sendEvent(viewport, &wheel);
}

// Where a viewport point lies on the page under it, as fractions of that page's width and
// height: the same fractions must be under the point after a zoom about it.
struct PagePoint {
    int page;
    double x, y;
};

PagePoint PointOnPage(PageView *view, QPoint at)
{
    const int page = view->layout().PageAt(view->contentTop() + at.y());
    const QRect rect = view->ViewportRect(page);
    return {page, double(at.x() - rect.left()) / rect.width(),
            double(at.y() - rect.top()) / rect.height()};
}

void ExpectStillUnder(PageView *view, const PagePoint &point, QPoint at)
{
    const QRect rect = view->ViewportRect(point.page);
    EXPECT_NEAR(rect.left() + point.x * rect.width(), at.x(), 1.5);
    EXPECT_NEAR(rect.top() + point.y * rect.height(), at.y(), 1.5);
}

bool WaitFor(const std::function<bool()> &condition)
{
    QElapsedTimer clock;
    clock.start();
    while (!condition() && clock.elapsed() < 10000) {
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return condition();
}

TEST_F(DocViewerTest, CtrlWheelZoomsAboutThePointer)
{
    ASSERT_TRUE(Open(Pdf(QStringLiteral("zoom.pdf"), 5)).toBool());
    Call(DocViewerControl::kApplyDisplaySetting, {QVariant::fromValue<short>(3)});
    Show();
    PageView *view = viewer.pageView();
    view->ScrollToPage(1);
    // The pointer on the edge between the black top half of page 2 and its white lower half.
    const QRect page = view->ViewportRect(1);
    const QPoint pointer(page.left() + page.width() / 3, page.top() + page.height() / 2);
    const double fitted = view->zoomPercent();

    for (int delta : {120, 240, -120}) {
        SCOPED_TRACE(delta);
        const PagePoint under = PointOnPage(view, pointer);
        const qint64 top = view->contentTop();
        Wheel(view, pointer, delta, Qt::ControlModifier);
        viewer.grab();
        ExpectStillUnder(view, under, pointer);
        EXPECT_NE(view->contentTop(), top);
        // What is drawn agrees: the edge is still under the pointer.
        EXPECT_LT(qGray(ViewportPixel(viewer, pointer - QPoint(0, 3))), 60);
        EXPECT_GT(qGray(ViewportPixel(viewer, pointer + QPoint(0, 3))), 200);
    }
    EXPECT_NEAR(view->zoomPercent(), fitted * std::pow(PageView::kZoomStep, 2), 0.01);
    EXPECT_EQ(view->fitMode(), PageView::FitMode::Zoom);

    // The plain wheel still scrolls and leaves the zoom alone.
    const double zoom = view->zoomPercent();
    const qint64 top = view->contentTop();
    Wheel(view, pointer, -120);
    EXPECT_GT(view->contentTop(), top);
    EXPECT_EQ(view->zoomPercent(), zoom);
}

struct ZoomKey {
    const char *name;
    Qt::Key key;
    Qt::KeyboardModifiers modifiers;
    double factor;
};

class ZoomKeyTest : public DocViewerTest, public ::testing::WithParamInterface<ZoomKey> {};

TEST_P(ZoomKeyTest, ZoomsAboutTheCentre)
{
    ASSERT_TRUE(Open(Pdf(QStringLiteral("keys.pdf"), 5)).toBool());
    Call(DocViewerControl::kApplyDisplaySetting, {QVariant::fromValue<short>(1)});
    Show();
    PageView *view = viewer.pageView();
    view->ScrollToPage(2);
    QTest::keyClick(view, Qt::Key_Down);
    // Away from the left edge, so that zooming out can keep the centre too.
    QScrollBar *across = view->horizontalScrollBar();
    ASSERT_GT(across->maximum(), 0);
    across->setValue(across->maximum() / 2);
    const QPoint centre = view->viewport()->rect().center();
    const PagePoint under = PointOnPage(view, centre);
    const double before = view->zoomPercent();
    QTest::keyClick(view, GetParam().key, GetParam().modifiers);
    ExpectStillUnder(view, under, centre);
    EXPECT_NEAR(view->zoomPercent(), before * GetParam().factor, 0.01);
}

INSTANTIATE_TEST_SUITE_P(
    Keys, ZoomKeyTest,
    ::testing::Values(ZoomKey{"CtrlPlus", Qt::Key_Plus, Qt::ControlModifier, PageView::kZoomStep},
                      ZoomKey{"CtrlShiftPlus", Qt::Key_Plus,
                              Qt::ControlModifier | Qt::ShiftModifier, PageView::kZoomStep},
                      ZoomKey{"CtrlEqual", Qt::Key_Equal, Qt::ControlModifier, PageView::kZoomStep},
                      ZoomKey{"CtrlMinus", Qt::Key_Minus, Qt::ControlModifier,
                              1 / PageView::kZoomStep}),
    [](const ::testing::TestParamInfo<ZoomKey> &info) { return std::string(info.param.name); });

TEST_F(DocViewerTest, ZoomStaysWithinBoundsAndCtrlZeroReturnsToTheFitting)
{
    ASSERT_TRUE(Open(Pdf(QStringLiteral("bounds.pdf"), 3)).toBool());
    Call(DocViewerControl::kApplyDisplaySetting, {QVariant::fromValue<short>(3)});
    Show();
    PageView *view = viewer.pageView();
    const QRect fitted = view->ViewportRect(0);
    const QPoint centre = view->viewport()->rect().center();

    for (int notch = 0; notch < 30; ++notch) {
        Wheel(view, centre, 120, Qt::ControlModifier);
    }
    EXPECT_DOUBLE_EQ(view->zoomPercent(), PageView::kMaxZoomPercent);
    // At the largest zoom the page is still drawn, in bands.
    WaitForPages(viewer);
    EXPECT_GT(view->renderCount(), 0);
    for (int notch = 0; notch < 40; ++notch) {
        QTest::keyClick(view, Qt::Key_Minus, Qt::ControlModifier);
    }
    EXPECT_DOUBLE_EQ(view->zoomPercent(), PageView::kMinZoomPercent);

    QTest::keyClick(view, Qt::Key_0, Qt::ControlModifier);
    EXPECT_EQ(view->fitMode(), PageView::FitMode::Width);
    EXPECT_EQ(view->ViewportRect(0).size(), fitted.size());
}

// The calls that set a zoom win over whatever the user zoomed to.
TEST_F(DocViewerTest, DisplaySettingsStillApplyAfterTheUserZoomed)
{
    const QString path = Pdf(QStringLiteral("calls.pdf"), 2, QSizeF(300, 600));
    ASSERT_TRUE(Open(path).toBool());
    Call(DocViewerControl::kApplyDisplaySetting, {QVariant::fromValue<short>(3)});
    Show(320, 480);
    PageView *view = viewer.pageView();
    const double dpi = view->logicalDpiY();
    const QPoint centre = view->viewport()->rect().center();
    const auto zoomIn = [&] {
        Wheel(view, centre, 360, Qt::ControlModifier);
        ASSERT_EQ(view->fitMode(), PageView::FitMode::Zoom);
    };

    zoomIn();
    Call(DocViewerControl::kApplyDisplaySetting, {QVariant::fromValue<short>(1)});
    QApplication::processEvents();
    EXPECT_NEAR(view->ViewportRect(0).width(), 300 * dpi / 72, 1);

    zoomIn();
    Call(DocViewerControl::kApplyDisplaySetting, {QVariant::fromValue<short>(2)});
    QApplication::processEvents();
    EXPECT_LE(view->ViewportRect(0).height(), view->viewport()->height());

    zoomIn();
    Call(DocViewerControl::kApplyDisplaySetting, {QVariant::fromValue<short>(3)});
    QApplication::processEvents();
    EXPECT_LE(view->ViewportRect(0).width(), view->viewport()->width());
    EXPECT_GE(view->ViewportRect(0).width(), view->viewport()->width() - 20);

    // Opening again at another zoom shows at that zoom.
    zoomIn();
    ASSERT_TRUE(Open(path, 50).toBool());
    Call(DocViewerControl::kApplyDisplaySetting, {QVariant::fromValue<short>(1)});
    QApplication::processEvents();
    EXPECT_NEAR(view->ViewportRect(0).width(), 150 * dpi / 72, 1);
}

TEST_F(DocViewerTest, PageFieldFollowsThePageAndGoesToTheTypedOne)
{
    ASSERT_TRUE(Open(Pdf(QStringLiteral("field.pdf"), 500)).toBool());
    Call(DocViewerControl::kApplyDisplaySetting, {QVariant::fromValue<short>(2)});
    Show();
    PageView *view = viewer.pageView();
    QLineEdit *field = viewer.pageField();
    EXPECT_EQ(field->text(), QStringLiteral("1"));
    QTest::keyClick(view, Qt::Key_PageDown);
    EXPECT_EQ(field->text(), QStringLiteral("2"));

    const auto type = [&](const QString &text) {
        field->setFocus();
        field->selectAll();
        QTest::keyClicks(field, text);
        QTest::keyClick(field, Qt::Key_Return);
    };
    type(QStringLiteral("250"));
    EXPECT_EQ(view->CurrentPage(), 249);
    EXPECT_EQ(view->ViewportRect(249).top(), kMargin);
    EXPECT_EQ(field->text(), QStringLiteral("250"));
    EXPECT_EQ(viewer.navigationText(), QStringLiteral("Page 250 of 500"));
    // The keys go on from the page gone to.
    EXPECT_TRUE(view->hasFocus());

    for (const QString &wrong : {QStringLiteral("0"), QStringLiteral("501"), QString(),
                                 QStringLiteral("9999999999"), QStringLiteral("x")}) {
        SCOPED_TRACE(wrong.toStdString());
        type(wrong);
        EXPECT_EQ(view->CurrentPage(), 249);
        EXPECT_EQ(field->text(), QStringLiteral("250"));
    }

    type(QStringLiteral("500"));
    EXPECT_EQ(field->text(), QStringLiteral("500"));
    QTest::keyClick(view, Qt::Key_Home);
    EXPECT_EQ(field->text(), QStringLiteral("1"));
    EXPECT_EQ(view->contentTop(), 0);
    QTest::keyClick(view, Qt::Key_End);
    EXPECT_EQ(field->text(), QStringLiteral("500"));
    EXPECT_EQ(view->contentTop(), view->verticalScrollBar()->maximum());

    Call(DocViewerControl::kCloseDocument);
    EXPECT_TRUE(field->text().isEmpty());
    EXPECT_FALSE(field->isEnabled());
    EXPECT_FALSE(field->isVisible());
}

// In a dialog, Enter or Esc that nobody takes presses the default button or cancels, and either
// ends the dialog.
TEST(DocViewerInDialogTest, EnterAndEscInThePageFieldAreNotTheDialogsFirst)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("ten.pdf"));
    ASSERT_TRUE(WriteTestPdf(path, 10));
    QDialog dialog;
    auto *viewer = new DocViewerControl(&dialog);
    auto *ok = new QPushButton(QStringLiteral("OK"), &dialog);
    ok->setDefault(true);
    QObject::connect(ok, &QPushButton::clicked, &dialog, &QDialog::accept);
    auto *layout = new QVBoxLayout(&dialog);
    layout->addWidget(viewer);
    layout->addWidget(ok);
    dialog.resize(300, 450);
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    ASSERT_TRUE(viewer->OpenDocument(path, QString(), QString(), 100));

    QLineEdit *field = viewer->pageField();
    field->setFocus();
    field->selectAll();
    QTest::keyClicks(field, QStringLiteral("7"));
    QTest::keyClick(field, Qt::Key_Return);
    QTest::keyClick(field, Qt::Key_Enter);
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), 0);
    EXPECT_EQ(viewer->pageView()->CurrentPage(), 6);

    // Esc takes back a number typed and not gone to; a second Esc is the dialog's.
    field->setFocus();
    field->selectAll();
    QTest::keyClicks(field, QStringLiteral("3"));
    QTest::keyClick(field, Qt::Key_Escape);
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(field->text(), QStringLiteral("7"));
    QTest::keyClick(field, Qt::Key_Escape);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
}

// Resident memory of this process, in bytes.
qint64 ResidentBytes()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly)) {
        return 0;
    }
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.size() > 1 ? fields[1].toLongLong() * sysconf(_SC_PAGESIZE) : 0;
}

class DeclaredCountTest : public DocViewerTest, public ::testing::WithParamInterface<int> {};

// A one-page file whose page tree claims millions or billions of pages is shown as such: the
// first page as it is, every other page as a placeholder, and the view travels all of it.
TEST_P(DeclaredCountTest, ShowsAndTravelsEveryDeclaredPageWithoutHoldingThem)
{
    const int count = GetParam();
    const QString path = dir.filePath(QStringLiteral("claims.pdf"));
    ASSERT_TRUE(WriteBytes(path, DeclaredCountPdf(count)));
    const qint64 residentBefore = ResidentBytes();

    ASSERT_TRUE(Open(path).toBool());
    EXPECT_EQ(Call(DocViewerControl::kGetPageCount).toInt(), count);
    Call(DocViewerControl::kApplyPreviewSetting, {1});
    Call(DocViewerControl::kApplyDisplaySetting, {QVariant::fromValue<short>(3)});
    Show();
    PageView *view = viewer.pageView();
    const QRect first = view->ViewportRect(0);
    EXPECT_LT(qGray(ViewportPixel(viewer, first.topLeft() + QPoint(10, first.height() / 4))), 40);

    QTest::keyClick(view, Qt::Key_End);
    viewer.grab();
    EXPECT_EQ(view->CurrentPage(), count - 1);
    EXPECT_EQ(viewer.navigationText(), QStringLiteral("Page %1 of %1").arg(count));
    EXPECT_EQ(viewer.pageField()->text(), QString::number(count));
    // Positions past 32 bits.
    EXPECT_GT(view->contentTop(), qint64(INT_MAX));
    // The last page cannot be loaded: it is a grey placeholder.
    const QRect last = view->ViewportRect(count - 1);
    ASSERT_TRUE(view->viewport()->rect().intersects(last));
    EXPECT_EQ(ViewportPixel(viewer, last.topLeft() + QPoint(4, 4)),
              view->palette().color(QPalette::Mid).rgb());

    // The wheel keeps its step however far down the column is.
    const qint64 top = view->contentTop();
    Wheel(view, view->viewport()->rect().center(), 120);
    EXPECT_EQ(view->contentTop(), top - QApplication::wheelScrollLines() * 20);

    // The scroll bar reaches the middle of the column.
    QScrollBar *bar = view->verticalScrollBar();
    bar->setValue(bar->maximum() / 2);
    viewer.grab();
    EXPECT_NEAR(view->CurrentPage(), count / 2.0, count / 100.0);

    // So does the page field.
    QLineEdit *field = viewer.pageField();
    field->setFocus();
    field->selectAll();
    QTest::keyClicks(field, QString::number(count - 2));
    QTest::keyClick(field, Qt::Key_Return);
    viewer.grab();
    EXPECT_EQ(view->CurrentPage(), count - 3);
    EXPECT_EQ(view->ViewportRect(count - 3).top(), kMargin);

    QTest::keyClick(view, Qt::Key_Home);
    viewer.grab();
    EXPECT_EQ(view->CurrentPage(), 0);
    EXPECT_LT(qGray(ViewportPixel(viewer, first.topLeft() + QPoint(10, first.height() / 4))), 40);

    // Idle time does not go on to measure the pages that are not there.
    QTest::qWait(200);
    EXPECT_LE(view->layout().measuredCount(), 16u);
    EXPECT_LE(view->renderCount(), 20);
    EXPECT_LT(ResidentBytes() - residentBefore, 64 << 20);
}

INSTANTIATE_TEST_SUITE_P(Counts, DeclaredCountTest, ::testing::Values(20000000, INT_MAX));

TEST_F(DocViewerTest, PagesMeasuredLaterLeaveThePageInViewWhereItIs)
{
    const QString path = dir.filePath(QStringLiteral("mixed.pdf"));
    ASSERT_TRUE(WriteMixedPdf(path, 300, {QSizeF(612, 792), QSizeF(792, 612), QSizeF(612, 1008)}));
    ASSERT_TRUE(Open(path).toBool());
    Call(DocViewerControl::kApplyDisplaySetting, {QVariant::fromValue<short>(3)});
    // Straight to page 200 before the window has had any idle time.
    viewer.resize(300, 400);
    viewer.show();
    QLineEdit *field = viewer.pageField();
    field->setText(QStringLiteral("200"));
    QTest::keyClick(field, Qt::Key_Return);
    PageView *view = viewer.pageView();
    EXPECT_LT(view->layout().measuredCount(), 100u);
    EXPECT_EQ(view->ViewportRect(199).top(), kMargin);

    ASSERT_TRUE(WaitFor([&] { return view->layout().measuredCount() == 300u; }));
    EXPECT_EQ(view->ViewportRect(199).top(), kMargin);
    EXPECT_EQ(view->CurrentPage(), 199);
    EXPECT_EQ(field->text(), QStringLiteral("200"));

    // Each page at its own size, in order, one margin apart.
    const double scale = double(view->ViewportRect(0).width()) / 612;
    for (int page = 199; page < 203; ++page) {
        SCOPED_TRACE(page);
        const QRect rect = view->ViewportRect(page);
        const QSizeF size = QList<QSizeF>{{612, 792}, {792, 612}, {612, 1008}}[page % 3];
        EXPECT_NEAR(rect.width(), size.width() * scale, 1);
        EXPECT_NEAR(rect.height(), size.height() * scale, 1);
        EXPECT_EQ(view->ViewportRect(page + 1).top(), rect.bottom() + 1 + kMargin);
    }
    // The end of the column is the end of the last page.
    QTest::keyClick(view, Qt::Key_End);
    EXPECT_EQ(view->ViewportRect(299).bottom() + 1 + kMargin, view->viewport()->height());
}

// Measuring the other pages costs a round trip each to the helper: it waits while the pages in
// view are being drawn, and goes on once they are.
TEST_F(DocViewerTest, PagesAreMeasuredOnceThePagesInViewAreDrawn)
{
    const QString path = dir.filePath(QStringLiteral("mixed.pdf"));
    ASSERT_TRUE(WriteMixedPdf(path, 300, {QSizeF(612, 792), QSizeF(792, 612), QSizeF(612, 1008)}));
    ASSERT_TRUE(Open(path).toBool());
    Call(DocViewerControl::kApplyDisplaySetting, {QVariant::fromValue<short>(3)});
    PageView *view = viewer.pageView();
    // The drawing helper is held still, so that the first pages stay wanted.
    ASSERT_TRUE(WaitFor([&] { return view->renderer().helper()->pid() > 0; }));
    const pid_t drawing = view->renderer().helper()->pid();
    ASSERT_EQ(::kill(drawing, SIGSTOP), 0);
    // Laid out and painted at once, as a click shows a document: the pages in view are wanted
    // before any idle time.
    viewer.resize(300, 400);
    viewer.show();
    view->viewport()->grab();
    ASSERT_TRUE(view->drawing());
    QTest::qWait(300);
    EXPECT_LT(view->layout().measuredCount(), 10u);

    ASSERT_EQ(::kill(drawing, SIGCONT), 0);
    WaitForPages(viewer);
    EXPECT_TRUE(WaitFor([&] { return view->layout().measuredCount() == 300u; }));
}

} // namespace
