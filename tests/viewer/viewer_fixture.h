// SPDX-License-Identifier: AGPL-3.0-or-later
#pragma once

#include "viewer/doc_viewer_control.h"
#include "viewer/page_view.h"
#include "viewer/test_pdf.h"

#include <QApplication>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

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

// Paints the viewer until no page it shows is still being drawn: pages are drawn by a helper
// process and arrive through the event loop.
inline void WaitForPages(DocViewerControl &viewer)
{
    PageView *view = viewer.pageView();
    for (int round = 0; round < 20; ++round) {
        view->viewport()->grab();
        if (!view->drawing()) {
            return;
        }
        EXPECT_TRUE(QTest::qWaitFor([view] { return !view->drawing(); }, 20000));
    }
    ADD_FAILURE() << "the pages in view kept being drawn";
}

// Pixel colour of the viewer's rendering at a point of the view's viewport, once drawn.
inline QRgb ViewportPixel(DocViewerControl &viewer, QPoint point)
{
    WaitForPages(viewer);
    QWidget *viewport = viewer.pageView()->viewport();
    return viewport->grab().toImage().pixel(point);
}
