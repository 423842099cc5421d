// SPDX-License-Identifier: AGPL-3.0-or-later
#include "files/row_failure.h"

#include "files/file_list_operations.h"
#include "platform/dialog_template.h"
#include "remote/helper_process.h"
#include "viewer/doc_viewer_control.h"
#include "viewer/test_pdf.h"

#include <QDir>
#include <QElapsedTimer>
#include <QImage>
#include <QStyle>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <gtest/gtest.h>

#include <csignal>

namespace {

using namespace FileListControl;

const DialogTemplate &ListTemplate()
{
    static const DialogTemplate dialogTemplate{
        901,
        WindowStyle::SysMenu,
        420,
        200,
        "File list",
        {
            {kList, ControlKind::ListView,
             WindowStyle::Visible | WindowStyle::Border | WindowStyle::ReportView, 150, 10, 259,
             119, ""},
            {kViewer, ControlKind::Custom, WindowStyle::Visible, 5, 5, 140, 190, ""},
        },
        {}};
    return dialogTemplate;
}

// The list and the real viewer, with the file list's operations.
class ListDialog : public TemplateDialog, public FileListOperations {
public:
    ListDialog() : TemplateDialog(ListTemplate()), FileListOperations(this) { Create(); }
    ~ListDialog() override { DetachSystemImageLists(); }

    QTreeWidgetItem &Row(int row) { return *FileList()->topLevelItem(row); }

protected:
    QWidget *CreateCustomControl(const ControlTemplate &control) override
    {
        return control.id == kViewer ? new DocViewerControl(this) : nullptr;
    }
    bool OnInitDialog() override
    {
        TemplateDialog::OnInitDialog();
        InitFileList();
        AttachSystemImageLists();
        return true;
    }
};

QImage Pixels(const QIcon &icon)
{
    return icon.pixmap(16, 16).toImage();
}

std::string Bytes(const QString &path)
{
    return QFile::encodeName(path).toStdString();
}

class RowFailureTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        ASSERT_TRUE(WriteTestPdf(File("good.pdf"), 2));
    }
    QString File(const char *name) const { return dir.filePath(QString::fromUtf8(name)); }
    QImage Warning() const
    {
        QTreeWidget *list = dialog.FileList();
        return Pixels(list->style()->standardIcon(QStyle::SP_MessageBoxWarning, nullptr, list));
    }
    void AddGoodRows(int count)
    {
        PathList paths(static_cast<size_t>(count), Bytes(File("good.pdf")));
        dialog.AddFilesToList(paths);
    }

    QTemporaryDir dir;
    ListDialog dialog;
};

struct UnreadableRow {
    const char *name;
    // Writes the file (or not) and answers its path.
    std::function<QString(const QDir &)> make;
    // A word the reason must hold.
    QString cause;
};
void PrintTo(const UnreadableRow &row, std::ostream *out)
{
    *out << row.name;
}

class UnreadableAtAddTest : public RowFailureTest,
                            public ::testing::WithParamInterface<UnreadableRow> {};

TEST_P(UnreadableAtAddTest, KeepsNoPagesAndTellsWhyWithoutThePath)
{
    const QString path = GetParam().make(QDir(dir.path()));
    ASSERT_FALSE(path.isEmpty());
    dialog.AddFilesToList({Bytes(File("good.pdf")), Bytes(path)});

    QTreeWidgetItem &good = dialog.Row(0);
    EXPECT_EQ(good.text(1), QStringLiteral("2"));
    EXPECT_EQ(good.toolTip(0), File("good.pdf"));
    EXPECT_TRUE(RowFailure(good).isEmpty());

    QTreeWidgetItem &bad = dialog.Row(1);
    EXPECT_EQ(bad.text(1), QStringLiteral("0"));
    const QString tip = bad.toolTip(0);
    EXPECT_TRUE(tip.startsWith(QStringLiteral("Could not be read: "))) << tip.toStdString();
    EXPECT_TRUE(tip.contains(GetParam().cause, Qt::CaseInsensitive)) << tip.toStdString();
    EXPECT_FALSE(tip.contains(path)) << tip.toStdString();
    EXPECT_EQ(bad.toolTip(1), tip);
    // Only a failed conversion changes the icon.
    EXPECT_NE(Pixels(bad.icon(0)), Warning());
}

INSTANTIATE_TEST_SUITE_P(
    Files, UnreadableAtAddTest,
    ::testing::Values(
        UnreadableRow{"Missing", [](const QDir &d) { return d.filePath("gone.pdf"); }, "not found"},
        UnreadableRow{"NotAPdf",
                      [](const QDir &d) {
                          const QString path = d.filePath("notes.pdf");
                          return WriteBytes(path, "plain notes\n") ? path : QString();
                      },
                      "not a PDF"},
        UnreadableRow{"Damaged",
                      [](const QDir &d) {
                          const QString path = d.filePath("torn.pdf");
                          return WriteBytes(path, "%PDF-1.4\n1 0 obj\n<< /Type /Cat") ? path
                                                                                      : QString();
                      },
                      "damaged"},
        UnreadableRow{"Password",
                      [](const QDir &d) {
                          const QString path = d.filePath("locked.pdf");
                          return WriteEncryptedCopy(d.filePath("good.pdf"), path) ? path
                                                                                  : QString();
                      },
                      "password"},
        UnreadableRow{"Folder",
                      [](const QDir &d) {
                          return d.mkdir("folder.pdf") ? d.filePath("folder.pdf") : QString();
                      },
                      "folder"}),
    [](const ::testing::TestParamInfo<UnreadableRow> &info) {
        return std::string(info.param.name);
    });

TEST_F(RowFailureTest, ConversionFailureShowsWarningUntilTheNextRun)
{
    AddGoodRows(3);
    const QImage fileIcon = Pixels(dialog.Row(1).icon(0));
    ASSERT_NE(fileIcon, Warning());

    ShowConversionFailure(dialog, 1, Bytes(File("good.pdf")), "the disk is full");
    QTreeWidgetItem &failed = dialog.Row(1);
    EXPECT_EQ(Pixels(failed.icon(0)), Warning());
    EXPECT_EQ(failed.toolTip(0), QStringLiteral("Could not be converted: the disk is full"));
    EXPECT_EQ(failed.toolTip(1), failed.toolTip(0));
    // Screen readers read the reason as the description of each cell of the row.
    for (int column : {0, 1})
        EXPECT_EQ(failed.data(column, Qt::AccessibleDescriptionRole).toString(),
                  QStringLiteral("Could not be converted: the disk is full"));
    for (int row : {0, 2}) {
        EXPECT_EQ(Pixels(dialog.Row(row).icon(0)), fileIcon) << row;
        EXPECT_EQ(dialog.Row(row).toolTip(0), File("good.pdf")) << row;
        EXPECT_FALSE(dialog.Row(row).data(0, Qt::AccessibleDescriptionRole).isValid()) << row;
    }

    // Failing again before a clear must not take the warning for the file's own icon.
    ShowConversionFailure(dialog, 1, Bytes(File("good.pdf")), "again");
    EXPECT_EQ(failed.toolTip(0), QStringLiteral("Could not be converted: again"));
    ClearRowFailures(*dialog.FileList());
    EXPECT_EQ(Pixels(failed.icon(0)), fileIcon);
    EXPECT_EQ(failed.toolTip(0), File("good.pdf"));
    EXPECT_TRUE(RowFailure(failed).isEmpty());
    EXPECT_FALSE(failed.data(1, Qt::AccessibleDescriptionRole).isValid());
}

TEST_F(RowFailureTest, ClearForgetsReasonsFoundWhenAdded)
{
    dialog.AddFilesToList({Bytes(File("gone.pdf"))});
    ASSERT_FALSE(RowFailure(dialog.Row(0)).isEmpty());
    ClearRowFailures(*dialog.FileList());
    EXPECT_TRUE(RowFailure(dialog.Row(0)).isEmpty());
    EXPECT_EQ(dialog.Row(0).toolTip(0), File("gone.pdf"));
}

TEST_F(RowFailureTest, FailureFindsItsRowAfterRowsAboveWereRemoved)
{
    ASSERT_TRUE(WriteTestPdf(File("c.pdf"), 1));
    dialog.AddFilesToList({Bytes(File("good.pdf")), Bytes(File("good.pdf")), Bytes(File("c.pdf"))});
    // The run read c.pdf as row 2; the first row was removed before its engine ended.
    delete dialog.FileList()->takeTopLevelItem(0);
    ShowConversionFailure(dialog, 2, Bytes(File("c.pdf")), "broken");
    EXPECT_EQ(dialog.Row(1).toolTip(0), QStringLiteral("Could not be converted: broken"));
    EXPECT_TRUE(RowFailure(dialog.Row(0)).isEmpty());

    // A row no longer listed marks no other row.
    ShowConversionFailure(dialog, 0, Bytes(File("gone.pdf")), "gone");
    EXPECT_TRUE(RowFailure(dialog.Row(0)).isEmpty());
}

} // namespace

struct HelperFault {
    const char *name;
    int signal;
    const char *cause;
};
void PrintTo(const HelperFault &row, std::ostream *out)
{
    *out << row.name;
}

class HelperFaultAtAddTest : public RowFailureTest,
                             public ::testing::WithParamInterface<HelperFault> {};

// The helper that counts pages crashes or hangs as a file is added: that row fails, in time and
// saying why, and the next file is counted by a fresh helper.
TEST_P(HelperFaultAtAddTest, OneRowFailsAndTheNextIsCounted)
{
    ASSERT_TRUE(WriteTestPdf(File("next.pdf"), 3));
    dialog.AddFilesToList({Bytes(File("good.pdf"))});
    const std::shared_ptr<remote::HelperProcess> helper = remote::SharedHelper();
    const pid_t first = helper->pid();
    ASSERT_GT(first, 0);

    ::kill(first, GetParam().signal);
    QElapsedTimer clock;
    clock.start();
    dialog.AddFilesToList({Bytes(File("good.pdf"))});
    // One wait at most: the reason is not asked of a second helper.
    EXPECT_LT(clock.elapsed(), remote::HelperProcess::kCallTimeout.count() + 1000);
    QTreeWidgetItem &failed = dialog.Row(1);
    EXPECT_EQ(failed.text(1), QStringLiteral("0"));
    EXPECT_EQ(RowFailure(failed),
              QStringLiteral("Could not be read: ") + QString::fromUtf8(GetParam().cause));

    dialog.AddFilesToList({Bytes(File("next.pdf"))});
    EXPECT_EQ(dialog.Row(2).text(1), QStringLiteral("3"));
    EXPECT_TRUE(RowFailure(dialog.Row(2)).isEmpty());
    EXPECT_NE(helper->pid(), first);
    EXPECT_NE(::kill(first, 0), 0) << "the helper was left behind";
}

INSTANTIATE_TEST_SUITE_P(
    Faults, HelperFaultAtAddTest,
    ::testing::Values(HelperFault{"Crash", SIGSEGV, "the document reader stopped on it"},
                      HelperFault{"Hang", SIGSTOP, "reading it took too long"}),
    [](const ::testing::TestParamInfo<HelperFault> &info) { return std::string(info.param.name); });
