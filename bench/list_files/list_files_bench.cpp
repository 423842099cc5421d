// SPDX-License-Identifier: AGPL-3.0-or-later
// Lists N copies of a PDF of P pages in the main window, as one add from the open-file dialog
// would, and prints how long it took until every row showed its page count.
#include "ui/main_dialog.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QTemporaryDir>
#include <QTreeWidget>

#include <cstdio>

namespace {

bool WritePdf(const QString &path, int pages)
{
    QPdfWriter writer(path);
    writer.setResolution(72);
    writer.setPageSize(QPageSize(QPageSize::A4));
    QPainter painter;
    if (!painter.begin(&writer)) {
        return false;
    }
    for (int page = 0; page < pages; ++page) {
        if (page > 0) {
            writer.newPage();
        }
        painter.fillRect(QRectF(40, 40, 300, 200), Qt::darkBlue);
        for (int line = 0; line < 40; ++line) {
            painter.drawText(QPointF(40, 280 + line * 12),
                             QStringLiteral("Page %1, line %2 of some running text")
                                 .arg(page + 1)
                                 .arg(line + 1));
        }
    }
    return painter.end();
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
    QApplication app(argc, argv);
    const int files = argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt() : 200;
    const int pages = argc > 2 ? QString::fromLocal8Bit(argv[2]).toInt() : 20;

    QTemporaryDir dir;
    const QString first = dir.filePath(QStringLiteral("doc0000.pdf"));
    if (!WritePdf(first, pages)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(first));
        return 1;
    }
    PathList paths{QFile::encodeName(first).toStdString()};
    for (int i = 1; i < files; ++i) {
        const QString copy = dir.filePath(QStringLiteral("doc%1.pdf").arg(i, 4, 10, QChar('0')));
        QFile::copy(first, copy);
        paths.push_back(QFile::encodeName(copy).toStdString());
    }

    MainDialog dialog;
    dialog.Create();
    dialog.show();
    QApplication::processEvents();

    QElapsedTimer timer;
    timer.start();
    dialog.AddFilesToList(paths);
    QApplication::processEvents();
    const qint64 elapsed = timer.elapsed();

    const QTreeWidget *list = dialog.FileList();
    for (int row = 0; row < list->topLevelItemCount(); ++row) {
        if (list->topLevelItem(row)->text(1).toInt() != pages) {
            std::fprintf(stderr, "row %d shows %s pages, not %d\n", row,
                         qPrintable(list->topLevelItem(row)->text(1)), pages);
            return 1;
        }
    }
    std::printf("%d files of %d pages listed with page counts in %lld ms (%.2f ms per file)\n",
                list->topLevelItemCount(), pages, static_cast<long long>(elapsed),
                double(elapsed) / files);
    return 0;
}
