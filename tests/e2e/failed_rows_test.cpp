// SPDX-License-Identifier: AGPL-3.0-or-later
// The main window with the real engine: files that cannot be converted are marked in the list
// with the engine's own reason, and the next run starts every row afresh.
#include "files/row_failure.h"
#include "platform/message_box.h"
#include "real_engine_fixture.h"
#include "ui/main_dialog.h"
#include "ui/main_dialog_template.h"
#include "viewer/test_pdf.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QDir>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QStyle>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>
#include <gtest/gtest.h>

namespace {

using namespace MainControl;

QImage Pixels(const QIcon &icon)
{
    return icon.pixmap(16, 16).toImage();
}

class FailedRowsTest : public RealEngineTest {
protected:
    void SetUp() override
    {
        ASSERT_NO_FATAL_FAILURE(RealEngineTest::SetUp());
        ASSERT_TRUE(QFileInfo(QStringLiteral(PAGEMINT_BIN_DIR "/rastool")).isExecutable());
        ASSERT_TRUE(QDir(work.path()).mkdir(QStringLiteral("out")));
    }

    QString Path(const char *name) const { return work.filePath(QString::fromUtf8(name)); }

    // Presses Convert with `destination`; answers what the run wrote on standard error.
    std::string Convert(MainDialog &dialog, const QString &destination)
    {
        dialog.Item<QLineEdit>(kDestination)->setText(destination);
        testing::internal::CaptureStderr();
        QTest::mouseClick(dialog.Item<QAbstractButton>(kConvert), Qt::LeftButton);
        return testing::internal::GetCapturedStderr();
    }
};

TEST_F(FailedRowsTest, FailedRowsShowTheEngineReasonUntilTheNextRun)
{
    ASSERT_TRUE(WriteTestPdf(Path("good.pdf"), 1));
    ASSERT_TRUE(WriteEncryptedCopy(Path("good.pdf"), Path("locked.pdf")));
    ASSERT_TRUE(WriteBytes(Path("notes.pdf"), "These are notes, not a document.\n"));

    MainDialog dialog;
    dialog.SetFrontEndPath(PAGEMINT_BIN_DIR "/pagemint");
    dialog.Create();
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    dialog.AddFilesToList({QFile::encodeName(Path("good.pdf")).toStdString(),
                           QFile::encodeName(Path("locked.pdf")).toStdString(),
                           QFile::encodeName(Path("notes.pdf")).toStdString()});
    dialog.Item<QComboBox>(kFileType)->setCurrentText(QStringLiteral("PNG"));

    auto *list = dialog.Item<QTreeWidget>(kFileList);
    ASSERT_EQ(list->topLevelItemCount(), 3);
    QTreeWidgetItem &good = *list->topLevelItem(0);
    QTreeWidgetItem &locked = *list->topLevelItem(1);
    QTreeWidgetItem &notes = *list->topLevelItem(2);
    const QImage warning =
        Pixels(list->style()->standardIcon(QStyle::SP_MessageBoxWarning, nullptr, list));
    const QImage fileIcon = Pixels(good.icon(0));
    ASSERT_NE(fileIcon, warning);

    // Found out when added: no pages, and why.
    EXPECT_EQ(good.toolTip(0), Path("good.pdf"));
    EXPECT_EQ(locked.text(1), QStringLiteral("0"));
    EXPECT_TRUE(locked.toolTip(0).startsWith(QStringLiteral("Could not be read: ")));
    EXPECT_TRUE(locked.toolTip(0).contains(QStringLiteral("password")));
    EXPECT_TRUE(notes.toolTip(0).contains(QStringLiteral("not a PDF")));

    // Run 1: the good file converts, the other two fail with the engine's reasons.
    const std::string errors = Convert(dialog, Path("out"));
    EXPECT_EQ(dialog.Item<QLabel>(kStatus)->text(),
              QStringLiteral("Done. 2 of 3 files could not be converted."));
    EXPECT_TRUE(QFileInfo::exists(Path("out/good.png")));
    EXPECT_EQ(Pixels(good.icon(0)), fileIcon);
    EXPECT_EQ(good.toolTip(0), Path("good.pdf"));
    for (QTreeWidgetItem *row : {&locked, &notes}) {
        EXPECT_EQ(Pixels(row->icon(0)), warning) << row->text(0).toStdString();
        EXPECT_TRUE(row->toolTip(0).startsWith(QStringLiteral("Could not be converted: ")));
        // The engine's name and the file's path are left out of the plain words.
        EXPECT_FALSE(row->toolTip(0).contains(QStringLiteral("rastool")));
        EXPECT_FALSE(row->toolTip(0).contains(row->text(0)));
        EXPECT_EQ(row->toolTip(1), row->toolTip(0));
    }
    EXPECT_TRUE(locked.toolTip(0).contains(QStringLiteral("password")))
        << locked.toolTip(0).toStdString();
    EXPECT_TRUE(notes.toolTip(0).contains(QStringLiteral("not a PDF")))
        << notes.toolTip(0).toStdString();
    // Everything the engine said still reaches our own standard error.
    const std::string lockedPath = QFile::encodeName(Path("locked.pdf")).toStdString();
    EXPECT_NE(errors.find("rastool: " + lockedPath + ": "), std::string::npos) << errors;

    // Run 2: the destination folder is missing, so the good file fails too, saying where.
    Convert(dialog, Path("missing"));
    EXPECT_EQ(Pixels(good.icon(0)), warning);
    EXPECT_TRUE(good.toolTip(0).startsWith(QStringLiteral("Could not be converted: ")));
    EXPECT_TRUE(good.toolTip(0).contains(Path("missing"))) << good.toolTip(0).toStdString();

    // Run 3: the locked file has been replaced by a readable one; rows that now convert get
    // their own icon and the path back, and the one still failing keeps its reason.
    ASSERT_TRUE(QFile::remove(Path("locked.pdf")));
    ASSERT_TRUE(WriteTestPdf(Path("locked.pdf"), 1));
    Convert(dialog, Path("out"));
    EXPECT_EQ(dialog.Item<QLabel>(kStatus)->text(),
              QStringLiteral("Done. 1 of 3 files could not be converted."));
    for (QTreeWidgetItem *row : {&good, &locked}) {
        EXPECT_EQ(Pixels(row->icon(0)), fileIcon) << row->text(0).toStdString();
        EXPECT_EQ(row->toolTip(0), row->text(0));
        EXPECT_TRUE(RowFailure(*row).isEmpty());
    }
    EXPECT_EQ(Pixels(notes.icon(0)), warning);
    EXPECT_TRUE(notes.toolTip(0).contains(QStringLiteral("not a PDF")));
    EXPECT_TRUE(messages.isEmpty()) << messages.join('\n').toStdString();
}

} // namespace
