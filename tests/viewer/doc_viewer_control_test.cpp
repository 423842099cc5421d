// SPDX-License-Identifier: AGPL-3.0-or-later
#include "viewer/doc_viewer_control.h"
#include "viewer/page_view.h"
#include "viewer/test_pdf.h"
#include "viewer/viewer_fixture.h"

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

// Callers address the control by these numbers, not by the names in this program: each
// number must reach its own operation.
TEST_F(DocViewerTest, DispatchIdsAreTheFixedNumbers)
{
    const QString path = Pdf(QStringLiteral("ids.pdf"), 4);
    QVariant opened = Call(4, {path, QString(), QString(), QVariant::fromValue<short>(100)});
    EXPECT_EQ(opened.typeId(), QMetaType::Bool);
    EXPECT_TRUE(opened.toBool());
    EXPECT_EQ(Call(2), QVariant(4));

    Show();
    EXPECT_EQ(Call(3, {0}), QVariant(true));
    EXPECT_FALSE(viewer.navigationBar()->isVisible());
    EXPECT_EQ(Call(3, {1}), QVariant(true));
    EXPECT_TRUE(viewer.navigationBar()->isVisible());

    EXPECT_FALSE(Call(8, {QVariant::fromValue<short>(2)}).isValid());
    EXPECT_EQ(viewer.pageView()->fitMode(), PageView::FitMode::Page);
    Call(8, {QVariant::fromValue<short>(3)});
    EXPECT_EQ(viewer.pageView()->fitMode(), PageView::FitMode::Width);
    Call(8, {QVariant::fromValue<short>(1)});
    EXPECT_EQ(viewer.pageView()->fitMode(), PageView::FitMode::Zoom);

    EXPECT_FALSE(Call(1).isValid());
    EXPECT_EQ(Call(2), QVariant(0));

    // The names used in this program's calls are the same numbers.
    EXPECT_EQ(DocViewerControl::kCloseDocument, 1);
    EXPECT_EQ(DocViewerControl::kGetPageCount, 2);
    EXPECT_EQ(DocViewerControl::kApplyPreviewSetting, 3);
    EXPECT_EQ(DocViewerControl::kOpenDocument, 4);
    EXPECT_EQ(DocViewerControl::kApplyDisplaySetting, 8);

    // The numbers in between and around answer nothing.
    for (int unknown : {0, 5, 6, 7, 9, -1}) {
        SCOPED_TRACE(unknown);
        EXPECT_THROW(Call(unknown), DispatchError);
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
    // What the panel says about it.
    const char *reason;
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

    // The panel says why, in one line across its middle; closing takes the line away.
    EXPECT_EQ(
        viewer.message(),
        QStringLiteral("Cannot show this file: %1.").arg(QString::fromUtf8(GetParam().reason)));
    QWidget *panel = viewer.pageView()->viewport();
    const QImage withMessage = panel->grab().toImage();
    Call(DocViewerControl::kCloseDocument);
    EXPECT_TRUE(viewer.message().isEmpty());
    const QImage blank = panel->grab().toImage();
    const int middle = blank.height() / 2;
    int differing = 0;
    for (int x = 0; x < blank.width(); ++x) {
        for (int y = middle - 10; y <= middle + 10; ++y) {
            differing += withMessage.pixel(x, y) != blank.pixel(x, y);
        }
    }
    EXPECT_GT(differing, 20);

    // Counting an added file ends with a close: it leaves no message behind.
    Open(broken);
    Call(DocViewerControl::kGetPageCount);
    Call(DocViewerControl::kCloseDocument);
    EXPECT_TRUE(viewer.message().isEmpty());
    // A document that opens takes the place of the message.
    Open(broken);
    ASSERT_TRUE(Open(good).toBool());
    EXPECT_TRUE(viewer.message().isEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    Broken, UnreadableInputTest,
    ::testing::Values(BrokenInput{"Missing",
                                  [](const QDir &dir, const QString &) {
                                      return dir.filePath("none.pdf");
                                  },
                                  "the file is missing"},
                      BrokenInput{"Empty",
                                  [](const QDir &dir, const QString &) {
                                      const QString path = dir.filePath("empty.pdf");
                                      WriteBytes(path, QByteArray());
                                      return path;
                                  },
                                  "the file is empty"},
                      BrokenInput{"HeaderOnly",
                                  [](const QDir &dir, const QString &good) {
                                      const QString path = dir.filePath("cut.pdf");
                                      WriteBytes(path, ReadBytes(good).left(16));
                                      return path;
                                  },
                                  "the document is damaged"},
                      BrokenInput{"NotAPdf",
                                  [](const QDir &dir, const QString &) {
                                      const QString path = dir.filePath("notes.pdf");
                                      WriteBytes(path, "just some text\n");
                                      return path;
                                  },
                                  "it is not a PDF document"},
                      BrokenInput{"Folder",
                                  [](const QDir &dir, const QString &) {
                                      dir.mkdir("folder.pdf");
                                      return dir.filePath("folder.pdf");
                                  },
                                  "it is a folder"},
                      BrokenInput{"PasswordProtected",
                                  [](const QDir &dir, const QString &good) {
                                      const QString path = dir.filePath("locked.pdf");
                                      EXPECT_TRUE(WriteEncryptedCopy(good, path));
                                      return path;
                                  },
                                  "the document is protected by a password"}),
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
    EXPECT_EQ(viewer.message(), QStringLiteral("Cannot show this file: it is not a regular file."));
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

TEST_F(DocViewerTest, ShowsTheRenderedPage)
{
    ASSERT_TRUE(Open(Pdf(QStringLiteral("page.pdf"), 1)).toBool());
    Call(DocViewerControl::kApplyDisplaySetting, {QVariant::fromValue<short>(3)});
    Show();
    PageView *view = viewer.pageView();
    const QRect page = view->ViewportRect(0);
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
    GetParam().check(view->ViewportRect(0), view->viewport()->size(), view->logicalDpiY());
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
    WaitForPages(viewer);
    EXPECT_GE(view->renderCount(), 1);
    EXPECT_LE(view->renderCount(), 3);
    EXPECT_EQ(viewer.navigationText(), QStringLiteral("Page 1 of 500"));

    QTest::keyClick(view, Qt::Key_End);
    WaitForPages(viewer);
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
    const QRect page = view->ViewportRect(0);
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
