// SPDX-License-Identifier: AGPL-3.0-or-later
#include "core/run_batch.h"
#include "files/file_list_operations.h"
#include "platform/dialog_template.h"
#include "platform/message_box.h"
#include "platform/profile_file.h"
#include "viewer/dispatch_target.h"
#include "viewer/doc_viewer_control.h"
#include "viewer/test_pdf.h"

#include <QApplication>
#include <QDropEvent>
#include <QHeaderView>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>
#include <QUrl>
#include <gtest/gtest.h>

#include <cstdio>
#include <map>

namespace {

using namespace FileListControl;

// Stands in for the viewer control: logs every call and answers from a table of page counts.
class FakeViewer : public QWidget, public DispatchTarget {
public:
    using QWidget::QWidget;

    QVariant Invoke(int dispid, const QVariantList &args) override
    {
        QString call;
        switch (dispid) {
        case DocViewerControl::kCloseDocument:
            call = QStringLiteral("Close");
            break;
        case DocViewerControl::kGetPageCount:
            call = QStringLiteral("Count");
            break;
        case DocViewerControl::kApplyPreviewSetting:
            call = QStringLiteral("Preview %1").arg(args.value(0).toInt());
            break;
        case DocViewerControl::kOpenDocument:
            call = QStringLiteral("Open %1 [%2] [%3] %4")
                       .arg(args.value(0).toString(), args.value(1).toString(),
                            args.value(2).toString())
                       .arg(args.value(3).toInt());
            open = args.value(0).toString();
            break;
        case DocViewerControl::kApplyDisplaySetting:
            call = QStringLiteral("Display %1").arg(args.value(0).toInt());
            break;
        }
        calls << call;
        if (failOn == call.section(QLatin1Char(' '), 0, 0)) {
            throw DispatchError(failure);
        }
        if (dispid == DocViewerControl::kGetPageCount) {
            return pages.count(open) ? pages.at(open) : 0;
        }
        return dispid == DocViewerControl::kCloseDocument ||
                       dispid == DocViewerControl::kApplyDisplaySetting
                   ? QVariant()
                   : QVariant(true);
    }

    QStringList calls;
    std::map<QString, int> pages;
    QString open;
    QString failOn; // first word of the call that raises
    QString failure;
};

constexpr uint32_t kButton = WindowStyle::Visible | WindowStyle::TabStop;
constexpr int kDestinationEdit = 1040;

const DialogTemplate &ListTemplate()
{
    static const DialogTemplate dialogTemplate{
        900,
        WindowStyle::SysMenu,
        420,
        200,
        "File list",
        {
            {kList, ControlKind::ListView,
             WindowStyle::Visible | WindowStyle::Border | WindowStyle::TabStop |
                 WindowStyle::ReportView,
             150, 10, 259, 119, ""},
            {kAdd, ControlKind::PushButton, kButton, 150, 140, 47, 14, "Add"},
            {kRemove, ControlKind::PushButton, kButton | WindowStyle::Disabled, 200, 140, 47, 14,
             "Remove"},
            {kRemoveAll, ControlKind::PushButton, kButton | WindowStyle::Disabled, 250, 140, 47, 14,
             "Remove all"},
            {kConvert, ControlKind::PushButton, kButton | WindowStyle::Disabled, 300, 140, 47, 14,
             "Convert"},
            {kViewer, ControlKind::Custom, WindowStyle::Visible, 5, 5, 140, 190, ""},
            {kDestinationEdit, ControlKind::Edit, kButton | WindowStyle::Border, 150, 160, 134, 12,
             ""},
        },
        {}};
    return dialogTemplate;
}

// A window with the file list's controls that gains the operations as the main window does.
class ListDialog : public TemplateDialog, public FileListOperations {
public:
    explicit ListDialog(bool realViewer)
        : TemplateDialog(ListTemplate()), FileListOperations(this), realViewer(realViewer)
    {
        Create();
    }
    ~ListDialog() override { DetachSystemImageLists(); }

protected:
    QWidget *CreateCustomControl(const ControlTemplate &control) override
    {
        if (control.id != kViewer) {
            return nullptr;
        }
        if (realViewer) {
            return new DocViewerControl(this);
        }
        fake = new FakeViewer(this);
        return fake;
    }

    bool OnInitDialog() override
    {
        TemplateDialog::OnInitDialog();
        InitFileList();
        AttachSystemImageLists();
        DragAcceptFiles(true);
        return true;
    }

public:
    bool realViewer;
    FakeViewer *fake = nullptr;
};

struct Message {
    QString text;
    QMessageBox::Icon icon;
};

class FileListTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(config.isValid());
        savedConfig = qgetenv("XDG_CONFIG_HOME");
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
        SetMessageBoxHandlerForTesting(
            [this](QWidget *, const QString &text, QMessageBox::Icon icon) {
                messages.push_back({text, icon});
                return int(QMessageBox::Ok);
            });
    }

    void TearDown() override
    {
        SetMessageBoxHandlerForTesting(nullptr);
        qputenv("XDG_CONFIG_HOME", savedConfig);
    }

    // Button states as "Remove/RemoveAll/Convert", 1 for enabled.
    static QString Buttons(const ListDialog &dialog)
    {
        return QStringLiteral("%1%2%3")
            .arg(int(dialog.GetDlgItem(kRemove)->isEnabled()))
            .arg(int(dialog.GetDlgItem(kRemoveAll)->isEnabled()))
            .arg(int(dialog.GetDlgItem(kConvert)->isEnabled()));
    }

    static QStringList Rows(const ListDialog &dialog)
    {
        QStringList rows;
        const QTreeWidget *list = dialog.FileList();
        for (int row = 0; row < list->topLevelItemCount(); ++row) {
            rows << list->topLevelItem(row)->text(0) + QLatin1Char('|') +
                        list->topLevelItem(row)->text(1);
        }
        return rows;
    }

    static void Select(ListDialog &dialog, std::initializer_list<int> rows)
    {
        dialog.FileList()->clearSelection();
        for (int row : rows) {
            dialog.FileList()->topLevelItem(row)->setSelected(true);
        }
    }

    static QString InputDir()
    {
        return ReadProfileString(kProfileSection, QStringLiteral("InputDir"),
                                 QStringLiteral("<none>"));
    }

    QTemporaryDir config;
    QByteArray savedConfig;
    std::vector<Message> messages;
};

TEST_F(FileListTest, StartsWithTwoColumnsOfHalfTheWidthAndButtonsOff)
{
    ListDialog dialog(false);
    const QTreeWidget *list = dialog.FileList();
    EXPECT_EQ(list->columnCount(), 2);
    EXPECT_EQ(list->headerItem()->text(0), QStringLiteral("PDF File"));
    EXPECT_EQ(list->headerItem()->text(1), QStringLiteral("Page Count"));
    EXPECT_EQ(list->columnWidth(0), list->width() / 2);
    EXPECT_EQ(list->columnWidth(1), list->width() / 2);
    EXPECT_EQ(list->selectionMode(), QAbstractItemView::ExtendedSelection);
    EXPECT_EQ(Buttons(dialog), QStringLiteral("000"));
}

TEST_F(FileListTest, AddAppendsRowsWithPageCountsKeepingDuplicates)
{
    ListDialog dialog(false);
    dialog.fake->pages = {{QStringLiteral("/d/a.pdf"), 3}, {QStringLiteral("/d/b.pdf"), 12}};
    dialog.AddFilesToList({"/d/a.pdf", "/d/b.pdf", "/d/a.pdf", "/d/folder"});
    EXPECT_EQ(Rows(dialog),
              (QStringList{"/d/a.pdf|3", "/d/b.pdf|12", "/d/a.pdf|3", "/d/folder|0"}));
    // Each file is opened, counted and closed, in that order.
    EXPECT_EQ(dialog.fake->calls.mid(0, 3),
              (QStringList{"Open /d/a.pdf [] [] 100", "Count", "Close"}));
    EXPECT_EQ(dialog.fake->calls.size(), 12);
    EXPECT_EQ(Buttons(dialog), QStringLiteral("011"));
    EXPECT_TRUE(dialog.LastPreviewedPath().isEmpty());
    EXPECT_EQ(dialog.GetRowCount(), 4);
    EXPECT_EQ(dialog.GetRowPath(1), std::optional<std::string>("/d/b.pdf"));
    EXPECT_EQ(dialog.GetRowPath(4), std::nullopt);
    EXPECT_EQ(dialog.GetRowPath(-1), std::nullopt);
}

TEST_F(FileListTest, EmptyAddChangesNothing)
{
    ListDialog dialog(false);
    dialog.AddFilesToList({});
    EXPECT_EQ(dialog.GetRowCount(), 0);
    EXPECT_EQ(Buttons(dialog), QStringLiteral("000"));
    EXPECT_TRUE(dialog.fake->calls.isEmpty());
}

struct DialogCase {
    const char *name;
    std::optional<FileSelection> answer;
    QStringList rows;
    QString inputDir;
};

class AddDialogTest : public FileListTest, public ::testing::WithParamInterface<DialogCase> {};

TEST_P(AddDialogTest, AddsWhatTheDialogAnswersAndRemembersTheFolder)
{
    WriteProfileString(kProfileSection, QStringLiteral("InputDir"), QStringLiteral("/start"));
    ListDialog dialog(false);
    OpenFileRequest request;
    dialog.SetOpenFileDialog([&](const OpenFileRequest &asked) {
        request = asked;
        return GetParam().answer;
    });
    dialog.OnAdd();
    EXPECT_EQ(request.owner, &dialog);
    EXPECT_EQ(request.title, QStringLiteral("Quenlix"));
    EXPECT_EQ(request.filters, (QStringList{"PDF File(*.pdf)", "ALL File(*.*)"}));
    EXPECT_EQ(request.initialDir, QStringLiteral("/start"));
    EXPECT_EQ(request.defaultSuffix, QStringLiteral("PDF"));
    EXPECT_EQ(Rows(dialog), GetParam().rows);
    EXPECT_EQ(InputDir(), GetParam().inputDir);
    EXPECT_EQ(Buttons(dialog),
              GetParam().rows.isEmpty() ? QStringLiteral("000") : QStringLiteral("011"));
}

INSTANTIATE_TEST_SUITE_P(
    Answers, AddDialogTest,
    ::testing::Values(DialogCase{"Cancelled", std::nullopt, {}, "/start"},
                      DialogCase{
                          "OneFile", FileSelection{"/docs/a.pdf", {}}, {"/docs/a.pdf|0"}, "/docs/"},
                      DialogCase{"OneFileInRoot", FileSelection{"/a.pdf", {}}, {"/a.pdf|0"}, "/"},
                      DialogCase{"TwoFiles",
                                 FileSelection{"/docs", {"b.pdf", "a.pdf"}},
                                 {"/docs/b.pdf|0", "/docs/a.pdf|0"},
                                 "/docs"},
                      DialogCase{"TwoFilesInRoot",
                                 FileSelection{"/", {"a.pdf", "b.pdf"}},
                                 {"/a.pdf|0", "/b.pdf|0"},
                                 "/"}),
    [](const ::testing::TestParamInfo<DialogCase> &info) { return std::string(info.param.name); });

TEST_F(FileListTest, RowClickPreviewsOnceAndSetsRemove)
{
    ListDialog dialog(false);
    dialog.AddFilesToList({"/d/a.pdf", "/d/b.pdf"});
    FakeViewer &viewer = *dialog.fake;

    // A click below the rows: no viewer call, Remove stays as it was.
    viewer.calls.clear();
    dialog.OnClickFileList(-1);
    EXPECT_TRUE(viewer.calls.isEmpty());
    EXPECT_EQ(Buttons(dialog), QStringLiteral("011"));

    Select(dialog, {1});
    dialog.OnClickFileList(1);
    EXPECT_EQ(viewer.calls,
              (QStringList{"Close", "Open /d/b.pdf [] [] 100", "Preview 1", "Display 3"}));
    EXPECT_EQ(dialog.LastPreviewedPath(), QStringLiteral("/d/b.pdf"));
    EXPECT_EQ(Buttons(dialog), QStringLiteral("111"));

    // The same path again makes no call.
    viewer.calls.clear();
    dialog.OnClickFileList(1);
    EXPECT_TRUE(viewer.calls.isEmpty());

    // Another file with nothing selected loads it and disables Remove.
    Select(dialog, {});
    dialog.OnClickFileList(0);
    EXPECT_EQ(viewer.calls.size(), 4);
    EXPECT_EQ(Buttons(dialog), QStringLiteral("011"));
    EXPECT_EQ(dialog.LastPreviewedPath(), QStringLiteral("/d/a.pdf"));
}

TEST_F(FileListTest, AnAddClosesThePreviewSoTheNextClickOnThatRowShowsItAgain)
{
    ListDialog dialog(false);
    dialog.AddFilesToList({"/d/a.pdf", "/d/b.pdf"});
    FakeViewer &viewer = *dialog.fake;
    Select(dialog, {1});
    dialog.OnClickFileList(1);
    ASSERT_EQ(dialog.LastPreviewedPath(), QStringLiteral("/d/b.pdf"));

    // Counting the added file replaces the document on show.
    dialog.AddFilesToList({"/d/c.pdf"});
    EXPECT_EQ(viewer.calls.back(), QStringLiteral("Close"));
    EXPECT_TRUE(dialog.LastPreviewedPath().isEmpty());
    viewer.calls.clear();
    dialog.OnClickFileList(1);
    EXPECT_EQ(viewer.calls,
              (QStringList{"Close", "Open /d/b.pdf [] [] 100", "Preview 1", "Display 3"}));
    EXPECT_EQ(dialog.LastPreviewedPath(), QStringLiteral("/d/b.pdf"));

    // Removed and added again, the row previews again as well.
    Select(dialog, {1});
    dialog.OnRemove();
    dialog.AddFilesToList({"/d/b.pdf"});
    viewer.calls.clear();
    dialog.OnClickFileList(dialog.GetRowCount() - 1);
    EXPECT_EQ(viewer.calls.size(), 4);

    // An empty add opens nothing, so the preview stays remembered.
    dialog.AddFilesToList({});
    viewer.calls.clear();
    dialog.OnClickFileList(dialog.GetRowCount() - 1);
    EXPECT_TRUE(viewer.calls.isEmpty());
}

TEST_F(FileListTest, RealClickOnARowSelectsThenPreviews)
{
    ListDialog dialog(false);
    QObject::connect(dialog.FileList(), &QTreeWidget::clicked, &dialog,
                     [&](const QModelIndex &index) { dialog.OnClickFileList(index.row()); });
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    dialog.AddFilesToList({"/d/a.pdf", "/d/b.pdf"});
    QTreeWidget *list = dialog.FileList();
    // Clicking the page-count cell names the row as well.
    const QRect cell = list->visualRect(list->model()->index(1, 1));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, cell.center());
    EXPECT_EQ(dialog.LastPreviewedPath(), QStringLiteral("/d/b.pdf"));
    EXPECT_EQ(Buttons(dialog), QStringLiteral("111"));

    // Empty space below the rows clears the selection but changes nothing else.
    dialog.fake->calls.clear();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier,
                      QPoint(5, list->viewport()->height() - 3));
    EXPECT_TRUE(dialog.fake->calls.isEmpty());
    EXPECT_EQ(Buttons(dialog), QStringLiteral("111"));
}

struct KeyRow {
    const char *name;
    std::vector<Qt::Key> keys;
    Qt::KeyboardModifiers modifiers;
    const char *previewed; // after the keys; empty for none
    const char *buttons;   // "Remove/RemoveAll/Convert"
};

class KeyboardSelectionTest : public FileListTest, public ::testing::WithParamInterface<KeyRow> {};

// A row chosen with the keys is previewed and can be removed, as a clicked one.
TEST_P(KeyboardSelectionTest, KeysThatSelectOneRowActAsAClickOnIt)
{
    const KeyRow row = GetParam();
    ListDialog dialog(false);
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    dialog.AddFilesToList({"/d/a.pdf", "/d/b.pdf", "/d/c.pdf"});
    QTreeWidget *list = dialog.FileList();
    list->setFocus();
    for (Qt::Key key : row.keys)
        QTest::keyClick(list, key, row.modifiers);
    EXPECT_EQ(dialog.LastPreviewedPath(), QString::fromUtf8(row.previewed));
    EXPECT_EQ(Buttons(dialog), QString::fromUtf8(row.buttons));
}

INSTANTIATE_TEST_SUITE_P(
    Keys, KeyboardSelectionTest,
    ::testing::Values(
        KeyRow{"FirstDown", {Qt::Key_Down}, Qt::NoModifier, "/d/a.pdf", "111"},
        KeyRow{"DownDown", {Qt::Key_Down, Qt::Key_Down}, Qt::NoModifier, "/d/b.pdf", "111"},
        KeyRow{
            "DownUp", {Qt::Key_Down, Qt::Key_Down, Qt::Key_Up}, Qt::NoModifier, "/d/a.pdf", "111"},
        // Moving the current row without selecting changes nothing.
        KeyRow{"CtrlDown", {Qt::Key_Down}, Qt::ControlModifier, "", "011"}),
    [](const ::testing::TestParamInfo<KeyRow> &info) { return info.param.name; });

TEST_F(FileListTest, KeysSelectingSeveralRowsEnableRemoveAndKeepThePreview)
{
    ListDialog dialog(false);
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    dialog.AddFilesToList({"/d/a.pdf", "/d/b.pdf"});
    QTreeWidget *list = dialog.FileList();
    list->setFocus();
    QTest::keyClick(list, Qt::Key_Down);
    dialog.fake->calls.clear();
    QTest::keyClick(list, Qt::Key_Down, Qt::ShiftModifier);
    EXPECT_EQ(list->selectedItems().size(), 2);
    EXPECT_TRUE(dialog.fake->calls.isEmpty());
    EXPECT_EQ(dialog.LastPreviewedPath(), QStringLiteral("/d/a.pdf"));
    EXPECT_EQ(Buttons(dialog), QStringLiteral("111"));
}

TEST_F(FileListTest, SelectionsMadeByTheProgramPreviewNothing)
{
    ListDialog dialog(false);
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    dialog.AddFilesToList({"/d/a.pdf", "/d/b.pdf"});
    QTreeWidget *list = dialog.FileList();
    list->setFocus();
    // A key that selects nothing, then a selection the program makes.
    QTest::keyClick(list, Qt::Key_Shift);
    dialog.fake->calls.clear();
    list->setCurrentItem(list->topLevelItem(1));
    Select(dialog, {0});
    EXPECT_TRUE(dialog.fake->calls.isEmpty());
    EXPECT_TRUE(dialog.LastPreviewedPath().isEmpty());
    EXPECT_EQ(Buttons(dialog), QStringLiteral("011"));
}

TEST_F(FileListTest, RemoveFollowsTheEnablingTable)
{
    ListDialog dialog(false);
    dialog.AddFilesToList({"/d/a.pdf", "/d/b.pdf", "/d/c.pdf", "/d/d.pdf"});
    Select(dialog, {1});
    dialog.OnClickFileList(1);
    ASSERT_EQ(Buttons(dialog), QStringLiteral("111"));
    dialog.fake->calls.clear();

    // Nothing selected: nothing removed, Remove disabled.
    Select(dialog, {});
    dialog.OnRemove();
    EXPECT_EQ(dialog.GetRowCount(), 4);
    EXPECT_EQ(Buttons(dialog), QStringLiteral("011"));

    // Some rows, not adjacent: the others keep their order; Remove all and Convert stay on.
    Select(dialog, {0, 2});
    dialog.OnRemove();
    EXPECT_EQ(Rows(dialog), (QStringList{"/d/b.pdf|0", "/d/d.pdf|0"}));
    EXPECT_EQ(Buttons(dialog), QStringLiteral("011"));

    Select(dialog, {0, 1});
    dialog.OnRemove();
    EXPECT_EQ(dialog.GetRowCount(), 0);
    EXPECT_EQ(Buttons(dialog), QStringLiteral("000"));
    EXPECT_TRUE(dialog.fake->calls.isEmpty());
    EXPECT_EQ(dialog.LastPreviewedPath(), QStringLiteral("/d/b.pdf"));
}

TEST_F(FileListTest, RemoveAllClearsAndDisablesWithoutTouchingTheViewer)
{
    ListDialog dialog(false);
    dialog.AddFilesToList({"/d/a.pdf", "/d/b.pdf"});
    Select(dialog, {0});
    dialog.OnClickFileList(0);
    dialog.fake->calls.clear();
    dialog.OnRemoveAll();
    EXPECT_EQ(dialog.GetRowCount(), 0);
    EXPECT_EQ(Buttons(dialog), QStringLiteral("000"));
    EXPECT_TRUE(dialog.fake->calls.isEmpty());
    EXPECT_EQ(dialog.LastPreviewedPath(), QStringLiteral("/d/a.pdf"));
}

TEST_F(FileListTest, DropAddsLocalFilesInOrderWithoutChangingInputDir)
{
    WriteProfileString(kProfileSection, QStringLiteral("InputDir"), QStringLiteral("/kept"));
    ListDialog dialog(false);
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(QStringLiteral("/d/z.pdf")),
                  QUrl(QStringLiteral("https://example.org/x.pdf")),
                  QUrl::fromLocalFile(QStringLiteral("/d/a.pdf")),
                  QUrl::fromLocalFile(QStringLiteral("/d/m.txt"))});
    const QPoint at(10, 10);
    QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&dialog, &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&dialog, &drop);
    EXPECT_TRUE(drop.isAccepted());
    ASSERT_TRUE(QTest::qWaitFor([&] { return dialog.GetRowCount() == 3; }));
    EXPECT_EQ(Rows(dialog), (QStringList{"/d/z.pdf|0", "/d/a.pdf|0", "/d/m.txt|0"}));
    EXPECT_EQ(InputDir(), QStringLiteral("/kept"));
    EXPECT_EQ(Buttons(dialog), QStringLiteral("011"));

    // A drag of web links only is refused.
    QMimeData web;
    web.setUrls({QUrl(QStringLiteral("https://example.org/x.pdf"))});
    QDragEnterEvent refused(at, Qt::CopyAction, &web, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&dialog, &refused);
    EXPECT_FALSE(refused.isAccepted());
}

struct DropActionCase {
    const char *name;
    Qt::DropActions offered;
    Qt::KeyboardModifiers modifiers;
    Qt::DropAction proposed; // what the source proposes with these keys held
    Qt::DropAction answered; // Qt::IgnoreAction: the drop is refused
};

void PrintTo(const DropActionCase &c, std::ostream *os)
{
    *os << c.name;
}

class DropActionTest : public FileListTest, public ::testing::WithParamInterface<DropActionCase> {};

// A file manager proposes a move while Shift is held, and deletes the files it moved once the
// target answers the drop as a move.
TEST_P(DropActionTest, DropsAreAnsweredAsACopyOrLinkWhateverTheSourceProposes)
{
    const DropActionCase &c = GetParam();
    ListDialog dialog(false);
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(QStringLiteral("/d/a.pdf"))});
    const QPoint at(10, 10);
    const bool accepted = c.answered != Qt::IgnoreAction;

    QDragEnterEvent enter(at, c.offered, &data, Qt::LeftButton, c.modifiers);
    ASSERT_EQ(enter.proposedAction(), c.proposed);
    QApplication::sendEvent(&dialog, &enter);
    EXPECT_EQ(enter.isAccepted(), accepted);
    if (accepted) {
        EXPECT_EQ(enter.dropAction(), c.answered);
    }
    QDragMoveEvent move(at, c.offered, &data, Qt::LeftButton, c.modifiers);
    QApplication::sendEvent(&dialog, &move);
    EXPECT_EQ(move.isAccepted(), accepted);
    if (accepted) {
        EXPECT_EQ(move.dropAction(), c.answered);
    }
    QDropEvent drop(at, c.offered, &data, Qt::LeftButton, c.modifiers);
    QApplication::sendEvent(&dialog, &drop);
    EXPECT_EQ(drop.isAccepted(), accepted);
    if (accepted) {
        EXPECT_EQ(drop.dropAction(), c.answered);
        EXPECT_TRUE(QTest::qWaitFor([&] { return dialog.GetRowCount() == 1; }));
    } else {
        QTest::qWait(20);
        EXPECT_EQ(dialog.GetRowCount(), 0);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Sources, DropActionTest,
    ::testing::Values(DropActionCase{"ShiftProposesMove",
                                     Qt::CopyAction | Qt::MoveAction | Qt::LinkAction,
                                     Qt::ShiftModifier, Qt::MoveAction, Qt::CopyAction},
                      DropActionCase{"MoveOrLinkOnly", Qt::MoveAction | Qt::LinkAction,
                                     Qt::ShiftModifier, Qt::MoveAction, Qt::LinkAction},
                      DropActionCase{"MoveOnly", Qt::MoveAction, Qt::NoModifier, Qt::MoveAction,
                                     Qt::IgnoreAction},
                      DropActionCase{"PlainCopy", Qt::CopyAction | Qt::MoveAction,
                                     Qt::ControlModifier, Qt::CopyAction, Qt::CopyAction}),
    [](const ::testing::TestParamInfo<DropActionCase> &info) {
        return std::string(info.param.name);
    });

TEST_F(FileListTest, FilesDroppedOnAnEditBecomeRowsWhileTextStillLandsInIt)
{
    ListDialog dialog(false);
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    auto *edit = dialog.Item<QLineEdit>(kDestinationEdit);
    ASSERT_NE(edit, nullptr);
    ASSERT_TRUE(edit->acceptDrops());
    const QPoint at = edit->rect().center();

    // File managers offer the files' addresses as text too; the edit would take that text.
    QMimeData files;
    files.setUrls({QUrl::fromLocalFile(QStringLiteral("/d/a.pdf")),
                   QUrl::fromLocalFile(QStringLiteral("/d/b.pdf"))});
    files.setText(QStringLiteral("file:///d/a.pdf\r\nfile:///d/b.pdf\r\n"));
    QDragEnterEvent enter(at, Qt::CopyAction, &files, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(edit, &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(at, Qt::CopyAction, &files, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(edit, &drop);
    EXPECT_TRUE(drop.isAccepted());
    ASSERT_TRUE(QTest::qWaitFor([&] { return dialog.GetRowCount() == 2; }));
    EXPECT_EQ(Rows(dialog), (QStringList{"/d/a.pdf|0", "/d/b.pdf|0"}));
    EXPECT_EQ(edit->text(), QString());

    // Plain text is the edit's own business.
    QMimeData text;
    text.setText(QStringLiteral("/out"));
    QDragEnterEvent textEnter(at, Qt::CopyAction, &text, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(edit, &textEnter);
    EXPECT_TRUE(textEnter.isAccepted());
    QDropEvent textDrop(at, Qt::CopyAction, &text, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(edit, &textDrop);
    EXPECT_EQ(edit->text(), QStringLiteral("/out"));
    QTest::qWait(20);
    EXPECT_EQ(dialog.GetRowCount(), 2);
}

TEST_F(FileListTest, ViewerFailureIsReportedAndEndsTheAdd)
{
    ListDialog dialog(false);
    dialog.fake->pages = {{QStringLiteral("/d/a.pdf"), 2}};
    dialog.fake->failOn = QStringLiteral("Count");
    dialog.fake->failure = QStringLiteral("The viewer broke.");
    dialog.SetOpenFileDialog([](const OpenFileRequest &) {
        return std::optional<FileSelection>(FileSelection{"/d", {"a.pdf", "b.pdf"}});
    });
    dialog.OnAdd();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, QStringLiteral("The viewer broke."));
    EXPECT_EQ(messages[0].icon, QMessageBox::Critical);
    // The row being counted keeps its path with no count; the second path is not added.
    EXPECT_EQ(Rows(dialog), (QStringList{"/d/a.pdf|"}));
    EXPECT_EQ(Buttons(dialog), QStringLiteral("000"));
    EXPECT_EQ(InputDir(), QStringLiteral("/d"));
}

TEST_F(FileListTest, FailureWithoutDescriptionGetsTheGenericText)
{
    ListDialog dialog(false);
    dialog.AddFilesToList({"/d/a.pdf"});
    dialog.fake->failOn = QStringLiteral("Preview");
    Select(dialog, {0});
    dialog.OnClickFileList(0);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, QStringLiteral("Internal application error."));
    EXPECT_EQ(messages[0].icon, QMessageBox::Critical);
    // Remove and the previewed path stay as they were.
    EXPECT_EQ(Buttons(dialog), QStringLiteral("011"));
    EXPECT_TRUE(dialog.LastPreviewedPath().isEmpty());

    // A failing drop is reported the same way.
    dialog.fake->failOn = QStringLiteral("Open");
    dialog.OnDropFiles({"/d/b.pdf"});
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_EQ(messages[1].text, QStringLiteral("Internal application error."));
}

TEST_F(FileListTest, HeaderDragLeavesThePathInColumnZero)
{
    ListDialog dialog(false);
    dialog.fake->pages = {{QStringLiteral("/d/a.pdf"), 7}};
    dialog.AddFilesToList({"/d/a.pdf"});
    QHeaderView *header = dialog.FileList()->header();
    ASSERT_TRUE(header->sectionsMovable());
    header->moveSection(1, 0);
    EXPECT_EQ(header->logicalIndex(0), 1);
    EXPECT_EQ(dialog.GetRowPath(0), std::optional<std::string>("/d/a.pdf"));
    EXPECT_EQ(Rows(dialog), (QStringList{"/d/a.pdf|7"}));
}

// The batch run as the main window hosts it, reduced to the file list.
class ListHost : public BatchHost {
public:
    explicit ListHost(ListDialog &dialog) : dialog(dialog) {}
    bool ReadSettings() override { return true; }
    void EnableConvert(bool) override {}
    void BeginWaitCursor() override {}
    void EndWaitCursor() override {}
    int32_t GetRowCount() override { return dialog.GetRowCount(); }
    std::optional<std::string> GetRowPath(int32_t row) override { return dialog.GetRowPath(row); }
    std::string GetDestinationText() override { return {}; }
    std::string GetFileTypeText() override { return "PNG"; }
    void SetStatusText(const std::string &text) override { status = text; }
    void SetProgressPos(int32_t) override {}
    void DispatchPendingMessages() override { QApplication::processEvents(); }

    ListDialog &dialog;
    std::string status;
};

TEST_F(FileListTest, RowsRemovedDuringARunEndItAtTheFirstMissingRow)
{
    ListDialog dialog(false);
    dialog.AddFilesToList({"/d/a.pdf", "/d/b.pdf", "/d/c.pdf", "/d/d.pdf"});
    ListHost host(dialog);
    std::vector<std::string> inputs;
    const ProcessRunner runner = [&](const EngineCommand *command, const std::function<void()> &) {
        inputs.push_back(command->arguments.at(2));
        if (inputs.size() == 1) {
            // While the first engine runs the user removes the last two rows.
            Select(dialog, {2, 3});
            dialog.OnRemove();
        }
        return 0;
    };
    RunBatch(host, ConversionSettings(), "/opt/pagemint/pagemint", runner);
    EXPECT_EQ(inputs, (std::vector<std::string>{"/d/a.pdf", "/d/b.pdf"}));
    EXPECT_EQ(host.status, "Done.");
}

TEST(DroppedPathsTest, KeepTheExactBytesOfEveryLocalFileInOrder)
{
    QMimeData data;
    data.setData(QStringLiteral("text/uri-list"), "# from a file manager\r\n"
                                                  "file:///tmp/latin1-%E9.pdf\r\n"
                                                  "https://example.org/x.pdf\r\n"
                                                  "file://localhost/a%20b.pdf\r\n"
                                                  "FILE:/c.pdf\r\n"
                                                  "file://elsewhere.example/d.pdf\r\n"
                                                  "file:///nul%00.pdf\r\n"
                                                  "file:///utf8-%C3%A9.pdf");
    EXPECT_EQ(DroppedPaths(data),
              (PathList{"/tmp/latin1-\xE9.pdf", "/a b.pdf", "/c.pdf", "/utf8-\xC3\xA9.pdf"}));

    // URLs handed over as objects keep their escapes as well.
    QMimeData urls;
    urls.setUrls({QUrl::fromEncoded("file:///tmp/latin1-%E9.pdf"),
                  QUrl::fromLocalFile(QStringLiteral("/tmp/space and ü.pdf"))});
    EXPECT_EQ(DroppedPaths(urls),
              (PathList{"/tmp/latin1-\xE9.pdf", "/tmp/space and \xC3\xBC.pdf"}));
}

QString Shown(const std::string &bytes)
{
    return QFile::decodeName(QByteArray::fromStdString(bytes));
}

// Writes a one-page PDF under a name given as bytes, which need not be valid text.
std::string WritePdfNamed(const QTemporaryDir &dir, const std::string &name, int pages = 1)
{
    const QString staging = dir.filePath(QStringLiteral("staging.pdf"));
    const std::string path = QFile::encodeName(dir.path()).toStdString() + '/' + name;
    if (!WriteTestPdf(staging, pages) ||
        std::rename(QFile::encodeName(staging).constData(), path.c_str()) != 0) {
        ADD_FAILURE() << "cannot write " << path;
    }
    return path;
}

TEST_F(FileListTest, AFileNameThatIsNotTextKeepsItsBytesAndIsCountedAndPreviewed)
{
    QTemporaryDir dir;
    const std::string latin1 = WritePdfNamed(dir, "latin1-\xE9.pdf", 2);
    ListDialog dialog(true);
    dialog.AddFilesToList({latin1});
    ASSERT_EQ(dialog.GetRowCount(), 1);
    EXPECT_EQ(dialog.GetRowPath(0), latin1);
    const QTreeWidgetItem *row = dialog.FileList()->topLevelItem(0);
    EXPECT_EQ(row->text(0), dir.path() + QStringLiteral("/latin1-\uFFFD.pdf"));
    EXPECT_EQ(row->text(1), QStringLiteral("2"));
    EXPECT_TRUE(messages.empty());

    Select(dialog, {0});
    dialog.OnClickFileList(0);
    EXPECT_EQ(dialog.Item<DocViewerControl>(kViewer)->GetPageCount(), 2);
}

TEST_F(FileListTest, ANameThatLostItsBytesIsFoundAgainOrRefusedWithAMessage)
{
    QTemporaryDir dir;
    const std::string latin1 = WritePdfNamed(dir, "latin1-\xE9.pdf");
    const std::string folder = QFile::encodeName(dir.path()).toStdString();
    // What a dialog that hands out text gives for that file.
    const std::string asText = folder + "/latin1-\xEF\xBF\xBD.pdf";
    ListDialog dialog(true);
    dialog.AddFilesToList({asText});
    ASSERT_EQ(dialog.GetRowCount(), 1);
    EXPECT_EQ(dialog.GetRowPath(0), latin1);
    EXPECT_EQ(dialog.FileList()->topLevelItem(0)->text(1), QStringLiteral("1"));
    EXPECT_TRUE(messages.empty());

    // Two names shown alike: which one was meant cannot be known, so neither is added.
    WritePdfNamed(dir, "latin1-\xE8.pdf");
    dialog.AddFilesToList({asText, folder + "/missing.pdf"});
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_TRUE(messages[0].text.contains(Shown(asText))) << messages[0].text.toStdString();
    // A missing file with a name that is plain text is listed as ever, with no pages.
    EXPECT_EQ(Rows(dialog), (QStringList{Shown(latin1) + "|1", Shown(folder) + "/missing.pdf|0"}));
}

TEST_F(FileListTest, RealViewerCountsPagesOfRealFiles)
{
    QTemporaryDir dir;
    ASSERT_TRUE(WriteTestPdf(dir.filePath(QStringLiteral("three.pdf")), 3));
    ASSERT_TRUE(WriteTestPdf(dir.filePath(QStringLiteral("one.pdf")), 1));
    ASSERT_TRUE(WriteBytes(dir.filePath(QStringLiteral("notes.txt")), "text"));
    ListDialog dialog(true);
    const auto path = [&](const char *name) {
        return QFile::encodeName(dir.filePath(QString::fromUtf8(name))).toStdString();
    };
    dialog.AddFilesToList(
        {path("three.pdf"), path("one.pdf"), path("notes.txt"), dir.path().toStdString()});
    const QTreeWidget *list = dialog.FileList();
    ASSERT_EQ(list->topLevelItemCount(), 4);
    EXPECT_EQ(list->topLevelItem(0)->text(1), QStringLiteral("3"));
    EXPECT_EQ(list->topLevelItem(1)->text(1), QStringLiteral("1"));
    EXPECT_EQ(list->topLevelItem(2)->text(1), QStringLiteral("0"));
    EXPECT_EQ(list->topLevelItem(3)->text(1), QStringLiteral("0"));
    EXPECT_FALSE(list->topLevelItem(0)->icon(0).isNull());
    EXPECT_TRUE(messages.empty());

    // A click shows the file in the viewer.
    Select(dialog, {0});
    dialog.OnClickFileList(0);
    auto *viewer = dialog.Item<DocViewerControl>(kViewer);
    ASSERT_NE(viewer, nullptr);
    EXPECT_EQ(viewer->GetPageCount(), 3);
    EXPECT_EQ(viewer->navigationText(), QStringLiteral("Page 1 of 3"));
}

} // namespace
