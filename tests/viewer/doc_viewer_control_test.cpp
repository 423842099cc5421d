// SPDX-License-Identifier: AGPL-3.0-or-later
#include "viewer/doc_viewer_control.h"
#include "viewer/page_view.h"
#include "viewer/test_pdf.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QKeyEvent>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QWheelEvent>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fcntl.h>
#include <functional>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

class DocViewerTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }

    QString Pdf(const QString &name, int pages, QSizeF size = QSizeF(612, 792))
    {
        const QString path = dir.filePath(name);
        EXPECT_TRUE(WriteTestPdf(path, pages, size));
        return path;
    }

    // Shows the control at a fixed size and lets it lay itself out and paint.
    void Show(int width = 300, int height = 400)
    {
        viewer.resize(width, height);
        viewer.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&viewer));
        QApplication::processEvents();
        viewer.grab();
    }

    QVariant Call(int dispid, const QVariantList &args = {})
    {
        DispatchTarget &target = viewer;
        return target.Invoke(dispid, args);
    }

    QVariant Open(const QString &path, short zoom = 100)
    {
        return Call(DocViewerControl::kOpenDocument,
                    {path, QString(), QString(), QVariant::fromValue<short>(zoom)});
    }

    QTemporaryDir dir;
    DocViewerControl viewer;
};

TEST_F(DocViewerTest, CountsPagesThroughDispatchAndClosesToNone)
{
    for (int pages : {1, 3, 20}) {
        SCOPED_TRACE(pages);
        const QVariant opened = Open(Pdf(QStringLiteral("doc%1.pdf").arg(pages), pages));
        EXPECT_EQ(opened.typeId(), QMetaType::Bool);
        EXPECT_TRUE(opened.toBool());
        const QVariant count = Call(DocViewerControl::kGetPageCount);
        EXPECT_EQ(count.typeId(), QMetaType::Int);
        EXPECT_EQ(count.toInt(), pages);
        EXPECT_FALSE(Call(DocViewerControl::kCloseDocument).isValid());
        EXPECT_EQ(Call(DocViewerControl::kGetPageCount).toInt(), 0);
    }
}

TEST_F(DocViewerTest, CloseWithNothingOpenIsAccepted)
{
    EXPECT_NO_THROW(Call(DocViewerControl::kCloseDocument));
    EXPECT_EQ(Call(DocViewerControl::kGetPageCount).toInt(), 0);
}

struct BrokenInput {
    const char *name;
    // Creates the input in `dir` from a good three-page PDF at `good`; returns its path.
    std::function<QString(const QDir &dir, const QString &good)> make;
};

class UnreadableInputTest : public DocViewerTest,
                            public ::testing::WithParamInterface<BrokenInput> {};

TEST_P(UnreadableInputTest, OpensAsNoDocumentWithoutRaising)
{
    const QString good = Pdf(QStringLiteral("good.pdf"), 3);
    const QString broken = GetParam().make(QDir(dir.path()), good);
    // A document already on show must not survive a failed open.
    ASSERT_TRUE(Open(good).toBool());
    QVariant opened;
    ASSERT_NO_THROW(opened = Open(broken));
    EXPECT_FALSE(opened.toBool());
    EXPECT_EQ(Call(DocViewerControl::kGetPageCount).toInt(), 0);
    EXPECT_TRUE(viewer.navigationText().isEmpty());
    Show();
    EXPECT_EQ(viewer.pageView()->renderCount(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Broken, UnreadableInputTest,
    ::testing::Values(BrokenInput{"Missing",
                                  [](const QDir &dir, const QString &) {
                                      return dir.filePath("none.pdf");
                                  }},
                      BrokenInput{"Empty",
                                  [](const QDir &dir, const QString &) {
                                      const QString path = dir.filePath("empty.pdf");
                                      WriteBytes(path, QByteArray());
                                      return path;
                                  }},
                      BrokenInput{"HeaderOnly",
                                  [](const QDir &dir, const QString &good) {
                                      const QString path = dir.filePath("cut.pdf");
                                      WriteBytes(path, ReadBytes(good).left(16));
                                      return path;
                                  }},
                      BrokenInput{"NotAPdf",
                                  [](const QDir &dir, const QString &) {
                                      const QString path = dir.filePath("notes.pdf");
                                      WriteBytes(path, "just some text\n");
                                      return path;
                                  }},
                      BrokenInput{"Folder",
                                  [](const QDir &dir, const QString &) {
                                      dir.mkdir("folder.pdf");
                                      return dir.filePath("folder.pdf");
                                  }},
                      BrokenInput{"PasswordProtected",
                                  [](const QDir &dir, const QString &good) {
                                      const QString path = dir.filePath("locked.pdf");
                                      EXPECT_TRUE(WriteEncryptedCopy(good, path));
                                      return path;
                                  }}),
    [](const ::testing::TestParamInfo<BrokenInput> &info) { return std::string(info.param.name); });

// A pipe named like a PDF has no end: reading it would hold the window until some other
// program writes to it. The viewer must not even open it for reading.
TEST_F(DocViewerTest, NamedPipeIsNoDocumentAndIsNeverOpened)
{
    const QByteArray pipe = QFile::encodeName(dir.filePath("pipe.pdf"));
    ASSERT_EQ(mkfifo(pipe.constData(), 0600), 0);
    std::atomic<bool> done{false};
    std::atomic<bool> readerSeen{false};
    // Opening the writing end without blocking succeeds only while a reader has the pipe
    // open; it also lets a blocked reader go on, so the test ends either way.
    std::thread writer([&] {
        while (!done) {
            const int fd = ::open(pipe.constData(), O_WRONLY | O_NONBLOCK);
            if (fd >= 0) {
                readerSeen = true;
                ::close(fd);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    });
    const bool opened = viewer.OpenDocument(QFile::decodeName(pipe), {}, {}, 100);
    done = true;
    writer.join();
    EXPECT_FALSE(opened);
    EXPECT_EQ(viewer.GetPageCount(), 0);
    EXPECT_FALSE(readerSeen);
}

TEST_F(DocViewerTest, TruncatedDocumentAnswersConsistently)
{
    const QString good = Pdf(QStringLiteral("long.pdf"), 5);
    const QByteArray bytes = ReadBytes(good);
    for (int keep : {bytes.size() / 4, bytes.size() / 2, bytes.size() - 10}) {
        SCOPED_TRACE(keep);
        const QString path = dir.filePath(QStringLiteral("cut%1.pdf").arg(keep));
        ASSERT_TRUE(WriteBytes(path, bytes.left(keep)));
        QVariant opened;
        ASSERT_NO_THROW(opened = Open(path));
        const int count = Call(DocViewerControl::kGetPageCount).toInt();
        // A repaired file may keep some pages; what is reported must agree with the answer.
        EXPECT_EQ(opened.toBool(), count > 0);
        EXPECT_LE(count, 5);
        Show();
    }
}

struct BadCall {
    const char *name;
    int dispid;
    QVariantList args;
};

class BadCallTest : public DocViewerTest, public ::testing::WithParamInterface<BadCall> {};

TEST_P(BadCallTest, RaisesWithDescription)
{
    const QString good = Pdf(QStringLiteral("good.pdf"), 2);
    QVariantList args = GetParam().args;
    if (!args.isEmpty() && args[0].toString() == QLatin1String("GOOD")) {
        args[0] = good;
    }
    try {
        Call(GetParam().dispid, args);
        FAIL() << "no error raised";
    } catch (const DispatchError &error) {
        EXPECT_FALSE(error.description().isEmpty());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Calls, BadCallTest,
    ::testing::Values(
        BadCall{"UnknownId", 5, {}},
        BadCall{"CloseWithArgument", DocViewerControl::kCloseDocument, {1}},
        BadCall{"PreviewWithoutArgument", DocViewerControl::kApplyPreviewSetting, {}},
        BadCall{
            "PreviewNotANumber", DocViewerControl::kApplyPreviewSetting, {QStringList{"a", "b"}}},
        BadCall{"OpenThreeArguments", DocViewerControl::kOpenDocument, {"GOOD", "", ""}},
        BadCall{"OpenZoomZero",
                DocViewerControl::kOpenDocument,
                {"GOOD", QString(), QString(), QVariant::fromValue<short>(0)}},
        BadCall{"OpenZoomBeyondShort",
                DocViewerControl::kOpenDocument,
                {"GOOD", QString(), QString(), 40000}},
        BadCall{"OpenWithReservedText",
                DocViewerControl::kOpenDocument,
                {"GOOD", "secret", QString(), QVariant::fromValue<short>(100)}},
        BadCall{"DisplayUnknownSetting",
                DocViewerControl::kApplyDisplaySetting,
                {QVariant::fromValue<short>(7)}},
        BadCall{"DisplayZero",
                DocViewerControl::kApplyDisplaySetting,
                {QVariant::fromValue<short>(0)}}),
    [](const ::testing::TestParamInfo<BadCall> &info) { return std::string(info.param.name); });

TEST_F(DocViewerTest, PreviewSettingShowsAndHidesTheNavigationBar)
{
    Show();
    QWidget *bar = viewer.navigationBar();
    EXPECT_TRUE(Call(DocViewerControl::kApplyPreviewSetting, {0}).toBool());
    EXPECT_FALSE(bar->isVisible());
    // An unknown value answers false and leaves the bar as it is.
    EXPECT_FALSE(Call(DocViewerControl::kApplyPreviewSetting, {2}).toBool());
    EXPECT_FALSE(bar->isVisible());
    EXPECT_TRUE(Call(DocViewerControl::kApplyPreviewSetting, {1}).toBool());
    EXPECT_TRUE(bar->isVisible());
}

// Pixel colour of the viewer's rendering at a point of the view's viewport.
QRgb ViewportPixel(DocViewerControl &viewer, QPoint point)
{
    QWidget *viewport = viewer.pageView()->viewport();
    return viewport->grab().toImage().pixel(point);
}

TEST_F(DocViewerTest, ShowsTheRenderedPage)
{
    ASSERT_TRUE(Open(Pdf(QStringLiteral("page.pdf"), 1)).toBool());
    Call(DocViewerControl::kApplyDisplaySetting, {QVariant::fromValue<short>(3)});
    Show();
    PageView *view = viewer.pageView();
    const QRect page = view->PageRect(0);
    ASSERT_FALSE(page.isEmpty());
    // The page is black in its top half and white below, as drawn into the file.
    const QPoint black(page.center().x(), page.top() + page.height() / 4);
    const QPoint white(page.right() - 10, page.top() + page.height() * 7 / 8);
    EXPECT_LT(qGray(ViewportPixel(viewer, black)), 40);
    EXPECT_GT(qGray(ViewportPixel(viewer, white)), 215);
    EXPECT_EQ(viewer.navigationText(), QStringLiteral("Page 1 of 1"));
}

struct FitCase {
    const char *name;
    short setting;
    // Checks the first page's rectangle against the viewport.
    std::function<void(const QRect &page, const QSize &viewport, double dpi)> check;
};

class FitTest : public DocViewerTest, public ::testing::WithParamInterface<FitCase> {};

TEST_P(FitTest, PlacesThePage)
{
    ASSERT_TRUE(Open(Pdf(QStringLiteral("fit.pdf"), 2, QSizeF(300, 600))).toBool());
    Call(DocViewerControl::kApplyDisplaySetting, {QVariant::fromValue<short>(GetParam().setting)});
    Show(320, 480);
    PageView *view = viewer.pageView();
    GetParam().check(view->PageRect(0), view->viewport()->size(), view->logicalDpiY());
}

INSTANTIATE_TEST_SUITE_P(
    Settings, FitTest,
    ::testing::Values(FitCase{"AtZoom", DocViewerControl::kAtZoom,
                              [](const QRect &page, const QSize &, double dpi) {
                                  EXPECT_NEAR(page.width(), 300 * dpi / 72, 1);
                                  EXPECT_NEAR(page.height(), 600 * dpi / 72, 1);
                              }},
                      FitCase{"FitPage", DocViewerControl::kFitPage,
                              [](const QRect &page, const QSize &viewport, double) {
                                  EXPECT_LE(page.height(), viewport.height());
                                  EXPECT_GE(page.height(), viewport.height() - 20);
                                  EXPECT_NEAR(page.width() * 2, page.height(), 2);
                              }},
                      FitCase{"FitWidth", DocViewerControl::kFitWidth,
                              [](const QRect &page, const QSize &viewport, double) {
                                  EXPECT_LE(page.right(), viewport.width());
                                  EXPECT_GE(page.width(), viewport.width() - 20);
                                  EXPECT_NEAR(page.width() * 2, page.height(), 2);
                              }}),
    [](const ::testing::TestParamInfo<FitCase> &info) { return std::string(info.param.name); });

TEST_F(DocViewerTest, LongDocumentRendersOnlyThePagesInView)
{
    ASSERT_TRUE(Open(Pdf(QStringLiteral("long.pdf"), 500)).toBool());
    Call(DocViewerControl::kApplyDisplaySetting, {QVariant::fromValue<short>(3)});
    Show();
    PageView *view = viewer.pageView();
    EXPECT_EQ(Call(DocViewerControl::kGetPageCount).toInt(), 500);
    EXPECT_GE(view->renderCount(), 1);
    EXPECT_LE(view->renderCount(), 3);
    EXPECT_EQ(viewer.navigationText(), QStringLiteral("Page 1 of 500"));

    QTest::keyClick(view, Qt::Key_End);
    viewer.grab();
    EXPECT_EQ(view->CurrentPage(), 499);
    EXPECT_EQ(viewer.navigationText(), QStringLiteral("Page 500 of 500"));
    EXPECT_LE(view->renderCount(), 6);

    QTest::keyClick(view, Qt::Key_Home);
    EXPECT_EQ(viewer.navigationText(), QStringLiteral("Page 1 of 500"));
}

TEST_F(DocViewerTest, PageTooLargeToKeepIsRenderedInBands)
{
    // Letter at 800 percent is far beyond what is rendered whole and kept.
    ASSERT_TRUE(Open(Pdf(QStringLiteral("big.pdf"), 1), 800).toBool());
    Show();
    PageView *view = viewer.pageView();
    const QRect page = view->PageRect(0);
    ASSERT_GT(qint64(page.width()) * page.height(), 16LL * 1024 * 1024);
    EXPECT_LT(qGray(ViewportPixel(viewer, QPoint(50, 50))), 40);

    const int before = view->renderCount();
    QTest::keyClick(view, Qt::Key_End);
    const int bottom = view->viewport()->height() - 30;
    EXPECT_GT(qGray(ViewportPixel(viewer, QPoint(50, bottom))), 215);
    // Only the rows in view were rendered, once more for the new position.
    EXPECT_GT(view->renderCount(), before);
}

TEST_F(DocViewerTest, WheelAndKeysMoveThroughThePages)
{
    ASSERT_TRUE(Open(Pdf(QStringLiteral("three.pdf"), 3)).toBool());
    Call(DocViewerControl::kApplyDisplaySetting, {QVariant::fromValue<short>(2)});
    Show();
    PageView *view = viewer.pageView();
    ASSERT_EQ(view->CurrentPage(), 0);

    QTest::keyClick(view, Qt::Key_PageDown);
    EXPECT_EQ(view->CurrentPage(), 1);
    EXPECT_EQ(viewer.navigationText(), QStringLiteral("Page 2 of 3"));

    const QPoint centre = view->viewport()->rect().center();
    const int before = view->verticalScrollBar()->value();
    QWheelEvent wheel(centre, view->viewport()->mapToGlobal(centre), QPoint(), QPoint(0, -120),
                      Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(view->viewport(), &wheel);
    EXPECT_GT(view->verticalScrollBar()->value(), before);

    QTest::keyClick(view, Qt::Key_End);
    EXPECT_EQ(view->CurrentPage(), 2);
    QTest::keyClick(view, Qt::Key_Up);
    QTest::keyClick(view, Qt::Key_Home);
    EXPECT_EQ(view->CurrentPage(), 0);
    EXPECT_EQ(view->verticalScrollBar()->value(), 0);
}

} // namespace
