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

// Writes a PDF whose pages alternate between the given sizes, each page with a black top half.
inline bool WriteMixedPdf(const QString &path, int pages, const QList<QSizeF> &sizesPt)
{
    QPdfWriter writer(path);
    writer.setResolution(72);
    writer.setPageMargins(QMarginsF(0, 0, 0, 0));
    writer.setPageSize(QPageSize(sizesPt.first(), QPageSize::Point));
    QPainter painter;
    if (!painter.begin(&writer)) {
        return false;
    }
    for (int page = 0; page < pages; ++page) {
        const QSizeF size = sizesPt[page % sizesPt.size()];
        if (page > 0) {
            writer.setPageSize(QPageSize(size, QPageSize::Point));
            writer.newPage();
        }
        painter.fillRect(QRectF(0, 0, size.width(), size.height() / 2), Qt::black);
    }
    return painter.end();
}

// A one-page PDF (Letter, black top half) whose page tree declares `declaredCount` pages.
inline QByteArray DeclaredCountPdf(qint64 declaredCount)
{
    const QByteArray content = "0 0 0 rg 0 396 612 396 re f";
    const QList<QByteArray> objects = {
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [3 0 R] /Count " + QByteArray::number(declaredCount) + " >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 4 0 R >>",
        "<< /Length " + QByteArray::number(content.size()) + " >>\nstream\n" + content +
            "\nendstream",
    };
    QByteArray pdf = "%PDF-1.4\n";
    QList<qsizetype> offsets;
    for (int i = 0; i < objects.size(); ++i) {
        offsets.append(pdf.size());
        pdf += QByteArray::number(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
    }
    const qsizetype xref = pdf.size();
    pdf += "xref\n0 " + QByteArray::number(objects.size() + 1) + "\n0000000000 65535 f \n";
    for (qsizetype offset : offsets) {
        pdf += QByteArray::number(offset).rightJustified(10, '0') + " 00000 n \n";
    }
    pdf += "trailer\n<< /Size " + QByteArray::number(objects.size() + 1) +
           " /Root 1 0 R >>\nstartxref\n" + QByteArray::number(xref) + "\n%%EOF\n";
    return pdf;
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
