// SPDX-License-Identifier: AGPL-3.0-or-later
// Previews of files made to crash or hang the parser, and helpers that crash or hang while a
// page draws: the window goes on answering, the page says why it cannot be shown, and the next
// preview is drawn.
#include "support/hostile_pdf.h"
#include "viewer/viewer_fixture.h"

#include <QElapsedTimer>
#include <QTimer>

#include <csignal>
#include <fstream>

namespace {

struct HostilePreview {
    const char *name;
    std::string (*make)();
    int signal; // sent to the drawing helper once it draws; 0 for none
    const char *cause;
};
void PrintTo(const HostilePreview &row, std::ostream *out)
{
    *out << row.name;
}

class HostilePreviewTest : public DocViewerTest,
                           public ::testing::WithParamInterface<HostilePreview> {
protected:
    QString Write(const char *name, const std::string &bytes)
    {
        const QString path = dir.filePath(QString::fromUtf8(name));
        std::ofstream(QFile::encodeName(path).toStdString(), std::ios::binary) << bytes;
        return path;
    }
};

std::string Chain()
{
    return hostile::DeepFormChain(60000);
}

std::string Tiles()
{
    return hostile::TinyTilingPattern(0.02);
}

TEST_P(HostilePreviewTest, WindowAnswersAndThePageSaysWhy)
{
    const HostilePreview &row = GetParam();
    ASSERT_TRUE(Open(Write("hostile.pdf", row.make())).toBool());
    EXPECT_EQ(Call(DocViewerControl::kGetPageCount).toInt(), 1);
    Call(DocViewerControl::kApplyDisplaySetting, {QVariant::fromValue<short>(3)});
    // The interface thread keeps turning while the page is pending.
    int ticks = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&ticks] { ++ticks; });
    ticker.start(20);
    QElapsedTimer clock;
    clock.start();
    Show();
    PageView *view = viewer.pageView();
    view->viewport()->grab();
    ASSERT_TRUE(view->drawing());
    if (row.signal != 0) {
        QTRY_VERIFY(view->renderer().helper()->pid() > 0);
        QTest::qWait(200);
        ::kill(view->renderer().helper()->pid(), row.signal);
    }
    EXPECT_TRUE(QTest::qWaitFor([view] { return !view->drawing(); }, 30000));
    const qint64 took = clock.elapsed();
    // A tick every 20 ms, give or take the machine's load: the window never stalled for long.
    EXPECT_GT(ticks, took / 20 / 4) << took << " ms, " << ticks << " ticks";
    if (row.cause != nullptr) {
        EXPECT_EQ(view->pageFailure(0), QString::fromUtf8(row.cause));
    } else {
        EXPECT_FALSE(view->pageFailure(0).isEmpty());
    }
    const QRect page = view->ViewportRect(0);
    EXPECT_EQ(ViewportPixel(viewer, page.topLeft() + QPoint(4, 4)),
              view->palette().color(QPalette::Mid).rgb());

    // The next preview is drawn.
    ASSERT_TRUE(Open(Pdf(QStringLiteral("next.pdf"), 1)).toBool());
    const QRect next = view->ViewportRect(0);
    EXPECT_LT(qGray(ViewportPixel(viewer, QPoint(next.center().x(), next.top() + 20))), 40);
    EXPECT_TRUE(view->pageFailure(0).isEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    Files, HostilePreviewTest,
    ::testing::Values(HostilePreview{"DeepFormChain", Chain, 0, nullptr},
                      HostilePreview{"TinyTiles", Tiles, 0, "it takes too long to draw"},
                      HostilePreview{"HelperCrashes", Tiles, SIGSEGV,
                                     "the document reader stopped on it"},
                      HostilePreview{"HelperHangs", Tiles, SIGSTOP, "it takes too long to draw"}),
    [](const ::testing::TestParamInfo<HostilePreview> &info) {
        return std::string(info.param.name);
    });

TEST_F(DocViewerTest, AnotherDocumentEndsTheDrawingOfTheLast)
{
    const QString slow = dir.filePath(QStringLiteral("tiles.pdf"));
    std::ofstream(QFile::encodeName(slow).toStdString(), std::ios::binary) << Tiles();
    ASSERT_TRUE(Open(slow).toBool());
    Show();
    PageView *view = viewer.pageView();
    view->viewport()->grab();
    QTRY_VERIFY(view->renderer().helper()->pid() > 0);
    const pid_t drawingHelper = view->renderer().helper()->pid();
    QTest::qWait(200);
    ASSERT_TRUE(view->drawing());

    QElapsedTimer clock;
    clock.start();
    ASSERT_TRUE(Open(Pdf(QStringLiteral("page.pdf"), 1)).toBool());
    const QRect page = view->ViewportRect(0);
    EXPECT_LT(qGray(ViewportPixel(viewer, QPoint(page.center().x(), page.top() + 20))), 40);
    // Long before the slow page's own time limit: its drawing was ended, its helper with it.
    EXPECT_LT(clock.elapsed(), PageRenderer::kCancelGraceMs + 4000);
    EXPECT_NE(::kill(drawingHelper, 0), 0);
    EXPECT_TRUE(view->pageFailure(0).isEmpty());
}

} // namespace
