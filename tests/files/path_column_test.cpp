// SPDX-License-Identifier: AGPL-3.0-or-later
#include "files/path_column_delegate.h"
#include "ui/main_dialog.h"
#include "viewer/test_pdf.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QHelpEvent>
#include <QProxyStyle>
#include <QStyleOptionViewItem>
#include <QTemporaryDir>
#include <QTest>
#include <QToolTip>
#include <QTreeWidget>
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <optional>

namespace {

// Notes how the list asks for its path cells to be drawn.
class RecordingStyle : public QProxyStyle {
public:
    void drawControl(ControlElement element, const QStyleOption *option, QPainter *painter,
                     const QWidget *widget) const override
    {
        if (element == CE_ItemViewItem) {
            const auto *item = qstyleoption_cast<const QStyleOptionViewItem *>(option);
            if (item != nullptr && item->index.column() == 0) {
                pathCell = *item;
            }
        }
        QProxyStyle::drawControl(element, option, painter, widget);
    }

    mutable std::optional<QStyleOptionViewItem> pathCell;
};

class PathColumnTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(config.isValid() && files.isValid());
        savedConfig = qgetenv("XDG_CONFIG_HOME");
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
        // A path far longer than the column, ending in the name that tells the row apart.
        QDir folder(files.path());
        const QString deep = QStringLiteral("quarterly reports of the northern region/2026/"
                                            "drafts sent to the board for review");
        ASSERT_TRUE(folder.mkpath(deep));
        path = folder.filePath(deep + QStringLiteral("/budget-summary.pdf"));
        ASSERT_TRUE(WriteTestPdf(path, 1));

        dialog = std::make_unique<MainDialog>();
        dialog->Create();
        dialog->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(dialog.get()));
        dialog->AddFilesToList({QFile::encodeName(path).toStdString()});
        list = dialog->FileList();
        ASSERT_EQ(list->topLevelItemCount(), 1);
    }
    void TearDown() override
    {
        dialog.reset();
        qputenv("XDG_CONFIG_HOME", savedConfig);
    }

    // Asks for the tooltip of the path cell as the pointer resting there would.
    QString ToolTipShown()
    {
        QToolTip::hideText();
        const QPoint at = list->visualRect(list->model()->index(0, 0)).center();
        QHelpEvent help(QEvent::ToolTip, at, list->viewport()->mapToGlobal(at));
        QApplication::sendEvent(list->viewport(), &help);
        return QToolTip::isVisible() ? QToolTip::text() : QString();
    }

    QTemporaryDir config;
    QTemporaryDir files;
    QByteArray savedConfig;
    QString path;
    std::unique_ptr<MainDialog> dialog;
    QTreeWidget *list = nullptr;
};

TEST_F(PathColumnTest, LongPathLosesItsStartAndKeepsTheFileName)
{
    // The row still holds the whole path: the batch reads it there.
    EXPECT_EQ(list->topLevelItem(0)->text(0), path);
    EXPECT_EQ(dialog->GetRowPath(0), QFile::encodeName(path).toStdString());

    RecordingStyle style;
    style.setBaseStyle(nullptr);
    list->setStyle(&style);
    list->viewport()->grab();
    list->setStyle(nullptr);
    ASSERT_TRUE(style.pathCell.has_value());
    const QStyleOptionViewItem &cell = *style.pathCell;
    EXPECT_EQ(cell.text, path);
    EXPECT_EQ(cell.textElideMode, Qt::ElideLeft);

    // What that gives in this column: the start is cut, the file name shows whole.
    const QString shown =
        cell.fontMetrics.elidedText(cell.text, cell.textElideMode, list->columnWidth(0) - 30);
    EXPECT_NE(shown, path);
    EXPECT_TRUE(shown.endsWith(QStringLiteral("budget-summary.pdf"))) << shown.toStdString();
}

TEST_F(PathColumnTest, GridLinesStillFrameThePathCell)
{
    const QRect cell = list->visualRect(list->model()->index(0, 0));
    const QImage image = list->viewport()->grab().toImage();
    const int line = qGray(list->palette().color(QPalette::Midlight).rgb());
    ASSERT_GT(std::abs(qGray(list->palette().color(QPalette::Base).rgb()) - line), 20);
    // Within a level or two: the line colour is rounded to the image's 8 bits.
    EXPECT_NEAR(qGray(image.pixel(cell.right(), cell.center().y())), line, 2);
    EXPECT_NEAR(qGray(image.pixel(cell.center().x(), cell.bottom())), line, 2);
}

TEST_F(PathColumnTest, ToolTipIsTheWholePathUnlessTheRowSaysOtherwise)
{
    EXPECT_EQ(ToolTipShown(), path);

    QTreeWidgetItem *row = list->topLevelItem(0);
    const QString failure =
        QStringLiteral("Could not be converted: the document is protected by a password");
    row->setToolTip(0, failure);
    EXPECT_EQ(ToolTipShown(), failure);

    // A row started afresh shows its path again.
    row->setToolTip(0, QString());
    EXPECT_EQ(ToolTipShown(), path);
    QToolTip::hideText();
}

} // namespace
