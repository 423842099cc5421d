// SPDX-License-Identifier: AGPL-3.0-or-later
#pragma once

#include <QFile>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QProcess>
#include <QSizeF>
#include <QString>

// Writes a PDF of `pages` pages of `sizePt` points. The top half of every page is black, so a
// rendering of it can be told from a blank page; the page number is written below.
inline bool WriteTestPdf(const QString &path, int pages, QSizeF sizePt = QSizeF(612, 792))
{
    QPdfWriter writer(path);
    writer.setResolution(72);
    writer.setPageSize(QPageSize(sizePt, QPageSize::Point));
    writer.setPageMargins(QMarginsF(0, 0, 0, 0));
    QPainter painter;
    if (!painter.begin(&writer)) {
        return false;
    }
    for (int page = 0; page < pages; ++page) {
        if (page > 0) {
            writer.newPage();
        }
        painter.fillRect(QRectF(0, 0, sizePt.width(), sizePt.height() / 2), Qt::black);
        painter.drawText(QPointF(20, sizePt.height() * 3 / 4), QString::number(page + 1));
    }
    return painter.end();
}

// A copy of `source` that opens only with the password "user".
inline bool WriteEncryptedCopy(const QString &source, const QString &target)
{
    return QProcess::execute(QStringLiteral("qpdf"),
                             {QStringLiteral("--encrypt"), QStringLiteral("user"),
                              QStringLiteral("owner"), QStringLiteral("256"), QStringLiteral("--"),
                              source, target}) == 0;
}

inline bool WriteBytes(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

inline QByteArray ReadBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
