// SPDX-License-Identifier: AGPL-3.0-or-later
// The main window with the real engine: PDF files dropped on the window, then Convert.
#include "files/file_list_operations.h"
#include "platform/message_box.h"
#include "real_engine_fixture.h"
#include "ui/main_dialog.h"
#include "ui/main_dialog_template.h"
#include "viewer/test_pdf.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QDropEvent>
#include <QFileInfo>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>
#include <QUrl>
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>

namespace {

using FilesEndToEndTest = RealEngineTest;

TEST_F(FilesEndToEndTest, DroppedFilesAreListedPreviewedAndConverted)
{
    const QString binDir = QStringLiteral(PAGEMINT_BIN_DIR);
    // The full build always has the engine beside the front-end; without it this must fail.
    ASSERT_TRUE(QFileInfo(binDir + QStringLiteral("/rastool")).isExecutable())
        << "rastool is missing from " << binDir.toStdString();

    QDir dir(work.path());
    ASSERT_TRUE(dir.mkdir(QStringLiteral("in")) && dir.mkdir(QStringLiteral("out")));
    const QString report = dir.filePath(QStringLiteral("in/report.pdf"));
    const QString letter = dir.filePath(QStringLiteral("in/letter two.pdf"));
    ASSERT_TRUE(WriteTestPdf(report, 3));
    ASSERT_TRUE(WriteTestPdf(letter, 1, QSizeF(288, 144)));
    const QString out = dir.filePath(QStringLiteral("out"));

    MainDialog dialog;
    dialog.SetFrontEndPath(QFile::encodeName(binDir + QStringLiteral("/pagemint")).toStdString());
    dialog.Create();
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));

    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(report), QUrl::fromLocalFile(letter)});
    ASSERT_NO_FATAL_FAILURE(Drop(dialog, data));

    auto *list = dialog.Item<QTreeWidget>(MainControl::kFileList);
    ASSERT_TRUE(QTest::qWaitFor([&] { return list->topLevelItemCount() == 2; }));
    EXPECT_EQ(list->topLevelItem(0)->text(0), report);
    EXPECT_EQ(list->topLevelItem(0)->text(1), QStringLiteral("3"));
    EXPECT_EQ(list->topLevelItem(1)->text(0), letter);
    EXPECT_EQ(list->topLevelItem(1)->text(1), QStringLiteral("1"));

    // A click on the first row shows it in the viewer and enables Remove.
    const QRect row = list->visualItemRect(list->topLevelItem(0));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, row.center());
    EXPECT_EQ(dialog.LastPreviewedPath(), report);
    EXPECT_TRUE(dialog.GetDlgItem(MainControl::kRemove)->isEnabled());
    EXPECT_EQ(dialog.DocViewer().GetPageCount(), 3);

    dialog.Item<QComboBox>(MainControl::kFileType)->setCurrentText(QStringLiteral("PNG"));
    dialog.Item<QLineEdit>(MainControl::kDestination)->setText(out);
    auto *convert = dialog.Item<QAbstractButton>(MainControl::kConvert);
    ASSERT_TRUE(convert->isEnabled());
    QTest::mouseClick(convert, Qt::LeftButton);

    EXPECT_EQ(dialog.Item<QLabel>(MainControl::kStatus)->text(), QStringLiteral("Done."));
    EXPECT_TRUE(messages.isEmpty()) << messages.join(QLatin1Char('\n')).toStdString();
    // One image per page of the three-page file, numbered with whatever zero-padding the engine
    // uses, and one image for the single-page file.
    const QStringList produced = QDir(out).entryList(QDir::Files, QDir::Name);
    ASSERT_EQ(produced.size(), 4) << produced.join(QLatin1Char(' ')).toStdString();
    EXPECT_EQ(produced[0], QStringLiteral("letter two.png"));
    const QRegularExpression pageFile(QStringLiteral("^report-0*(\\d+)\\.png$"));
    for (int page = 1; page <= 3; ++page) {
        const QRegularExpressionMatch match = pageFile.match(produced[page]);
        ASSERT_TRUE(match.hasMatch()) << produced[page].toStdString();
        EXPECT_EQ(match.captured(1).toInt(), page);
    }
    const QStringList &expected = produced;
    for (const QString &name : expected) {
        SCOPED_TRACE(name.toStdString());
        const QImage image(QDir(out).filePath(name));
        ASSERT_FALSE(image.isNull());
        // 101 dpi by default; the top half of every page is black, the bottom half white.
        const QSizeF points =
            name.startsWith(QLatin1String("letter")) ? QSizeF(288, 144) : QSizeF(612, 792);
        EXPECT_NEAR(image.width(), points.width() * 101 / 72, 1.0);
        EXPECT_NEAR(image.height(), points.height() * 101 / 72, 1.0);
        EXPECT_LT(qGray(image.pixel(image.width() / 2, image.height() / 4)), 40);
        EXPECT_GT(qGray(image.pixel(image.width() - 5, image.height() - 5)), 215);
    }
}

// A file whose name is Latin-1, not UTF-8, as older systems and archives leave them: dropped
// from a file manager, it is listed under its real name, counted, and converted by the engine.
TEST_F(FilesEndToEndTest, AFileNameThatIsNotUtf8IsConvertedUnderItsOwnName)
{
    const QString binDir = QStringLiteral(PAGEMINT_BIN_DIR);
    ASSERT_TRUE(QFileInfo(binDir + QStringLiteral("/rastool")).isExecutable());
    const std::string folder = QFile::encodeName(work.path()).toStdString();
    const std::string input = folder + "/latin1-\xE9.pdf";
    const QString staging = work.filePath(QStringLiteral("staging.pdf"));
    ASSERT_TRUE(WriteTestPdf(staging, 1, QSizeF(288, 144)));
    ASSERT_EQ(std::rename(QFile::encodeName(staging).constData(), input.c_str()), 0);
    ASSERT_TRUE(QDir(work.path()).mkdir(QStringLiteral("out")));

    MainDialog dialog;
    dialog.SetFrontEndPath(QFile::encodeName(binDir + QStringLiteral("/pagemint")).toStdString());
    dialog.Create();
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));

    // A file manager's drop: the name's bytes percent-encoded in the uri-list.
    QMimeData data;
    data.setData(QStringLiteral("text/uri-list"),
                 "file://" + QByteArray::fromStdString(input).toPercentEncoding("/") + "\r\n");
    ASSERT_NO_FATAL_FAILURE(Drop(dialog, data));

    auto *list = dialog.Item<QTreeWidget>(MainControl::kFileList);
    ASSERT_TRUE(QTest::qWaitFor([&] { return list->topLevelItemCount() == 1; }));
    EXPECT_EQ(list->topLevelItem(0)->text(0), work.path() + QStringLiteral("/latin1-\uFFFD.pdf"));
    EXPECT_EQ(list->topLevelItem(0)->text(1), QStringLiteral("1"));

    dialog.Item<QComboBox>(MainControl::kFileType)->setCurrentText(QStringLiteral("PNG"));
    dialog.Item<QLineEdit>(MainControl::kDestination)
        ->setText(work.filePath(QStringLiteral("out")));
    QTest::mouseClick(dialog.Item<QAbstractButton>(MainControl::kConvert), Qt::LeftButton);

    EXPECT_EQ(dialog.Item<QLabel>(MainControl::kStatus)->text(), QStringLiteral("Done."));
    EXPECT_TRUE(messages.isEmpty()) << messages.join(QLatin1Char('\n')).toStdString();
    const std::string output = folder + "/out/latin1-\xE9.png";
    std::ifstream file(output, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(file)),
                            std::istreambuf_iterator<char>());
    const QImage image = QImage::fromData(QByteArray::fromStdString(bytes), "PNG");
    ASSERT_FALSE(image.isNull()) << "no image at " << output;
    EXPECT_NEAR(image.width(), 288 * 101 / 72, 1);
}

} // namespace
