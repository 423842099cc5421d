// SPDX-License-Identifier: AGPL-3.0-or-later
// The main window as screen readers and the keyboard meet it.
#include "ui/main_dialog_test_support.h"

#include "controls/gradient_progress_ctrl.h"
#include "platform/spin_button.h"

#include <QAccessible>
#include <QComboBox>
#include <QFocusFrame>
#include <QKeyEvent>
#include <QPushButton>
#include <QRadioButton>
#include <gtest/gtest.h>

namespace {

using namespace MainControl;

struct NameRow {
    int id;
    QAccessible::Role role;
    const char *name;
    const char *group; // the group box the control is in; empty for none
};

class MainDialogNamesTest : public MainDialogFixture,
                            public ::testing::WithParamInterface<NameRow> {};

TEST_P(MainDialogNamesTest, EveryControlHasItsRoleNameAndGroup)
{
    const NameRow row = GetParam();
    QAccessibleInterface *control =
        QAccessible::queryAccessibleInterface(dialog->GetDlgItem(row.id));
    ASSERT_NE(control, nullptr);
    EXPECT_EQ(control->role(), row.role);
    EXPECT_EQ(control->text(QAccessible::Name), row.name);
    QAccessibleInterface *parent = control->parent();
    ASSERT_NE(parent, nullptr);
    if (*row.group)
        EXPECT_EQ(parent->text(QAccessible::Name), row.group);
    else
        EXPECT_EQ(parent->object(), dialog.get());
}

INSTANTIATE_TEST_SUITE_P(
    Controls, MainDialogNamesTest,
    ::testing::Values(NameRow{kFileList, QAccessible::Tree, "PDF files", "Batch process"},
                      NameRow{kFileType, QAccessible::ComboBox, "File type", "Batch process"},
                      NameRow{kDestination, QAccessible::EditableText, "Destination folder",
                              "Batch process"},
                      NameRow{kXResolution, QAccessible::EditableText, "X Resolution", "PDF"},
                      NameRow{kXResolutionSpin, QAccessible::SpinBox, "X Resolution", "PDF"},
                      NameRow{kYResolution, QAccessible::EditableText, "Y Resolution", "PDF"},
                      NameRow{kYResolutionSpin, QAccessible::SpinBox, "Y Resolution", "PDF"},
                      NameRow{kFromPage, QAccessible::EditableText, "From", "PDF"},
                      NameRow{kFromPageSpin, QAccessible::SpinBox, "From", "PDF"},
                      NameRow{kToPage, QAccessible::EditableText, "To", "PDF"},
                      NameRow{kToPageSpin, QAccessible::SpinBox, "To", "PDF"},
                      NameRow{kJpegQuality, QAccessible::EditableText, "Quality", "JPEG"},
                      NameRow{kJpegQualitySpin, QAccessible::SpinBox, "Quality", "JPEG"},
                      NameRow{1016, QAccessible::RadioButton, "LZW", "Compression"},
                      NameRow{1039, QAccessible::RadioButton, "ClassF Fax File", "Compression"},
                      NameRow{kMultiPage, QAccessible::CheckBox, "Multiple page", "TIFF"},
                      NameRow{kBitCount, QAccessible::ComboBox, "Image bitcount", "Image bitcount"},
                      NameRow{kProgress, QAccessible::ProgressBar, "Progress", ""},
                      NameRow{kStatus, QAccessible::StatusBar, "Ready", ""},
                      NameRow{kViewer, QAccessible::Client, "Preview", ""},
                      NameRow{kConvert, QAccessible::Button, "Convert", ""}));

TEST_F(MainDialogFixture, TheDropDownListsTellTheirEntryAsValue)
{
    Item<QComboBox>(kFileType)->setCurrentIndex(7);
    QAccessibleInterface *list =
        QAccessible::queryAccessibleInterface(dialog->GetDlgItem(kFileType));
    EXPECT_EQ(list->text(QAccessible::Value), "TIF");
}

class MainDialogKeyboardTest : public MainDialogFixture {
protected:
    QWidget *GetDlgItem(int id) { return dialog->GetDlgItem(id); }
    void SetUp() override
    {
        MainDialogFixture::SetUp();
        dialog->SetProcessRunner(
            [this](const EngineCommand *, const std::function<void()> &whileWaiting) {
                focusDuringRun.push_back(QApplication::focusWidget());
                if (whileWaiting)
                    whileWaiting();
                return 0;
            });
    }
    std::vector<QWidget *> focusDuringRun;
};

TEST_F(MainDialogKeyboardTest, ARunStartedFromConvertLeavesAboutAloneAndEndsBackOnConvert)
{
    AddRow("/docs/a.pdf");
    AddRow("/docs/b.pdf");
    Edit(kDestination)->setText("/out");
    auto *convert = Item<QPushButton>(kConvert);
    convert->setFocus(Qt::TabFocusReason);
    QTest::keyClick(convert, Qt::Key_Space);
    ASSERT_EQ(focusDuringRun.size(), 2u);
    for (QWidget *focused : focusDuringRun)
        EXPECT_NE(focused, GetDlgItem(kAbout));
    EXPECT_EQ(QApplication::focusWidget(), convert);
}

TEST_F(MainDialogKeyboardTest, AFocusTheUserMovedDuringTheRunStaysWhereTheyPutIt)
{
    AddRow("/docs/a.pdf");
    AddRow("/docs/b.pdf");
    Edit(kDestination)->setText("/out");
    dialog->SetProcessRunner([this](const EngineCommand *, const std::function<void()> &) {
        Edit(kXResolution)->setFocus(Qt::MouseFocusReason);
        return 0;
    });
    auto *convert = Item<QPushButton>(kConvert);
    convert->setFocus(Qt::TabFocusReason);
    QTest::keyClick(convert, Qt::Key_Space);
    EXPECT_EQ(QApplication::focusWidget(), Edit(kXResolution));
}

TEST_F(MainDialogKeyboardTest, TheCompressionButtonsAreOneTabStopThatArrowsMove)
{
    auto *packbits = Item<QRadioButton>(1014);
    ASSERT_TRUE(packbits->isChecked());
    Edit(kToPage)->setEnabled(true);
    Edit(kToPage)->setFocus(Qt::TabFocusReason);
    QTest::keyClick(Edit(kToPage), Qt::Key_Tab);
    ASSERT_EQ(QApplication::focusWidget(), packbits);
    // Down three times: CCITT group 3, CCITT group 4, LZW, each through the click's handler.
    for (int i = 0; i < 3; ++i)
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Down);
    EXPECT_EQ(QApplication::focusWidget(), GetDlgItem(1016));
    EXPECT_EQ(dialog->Settings().compression, 5);
    EXPECT_TRUE(Item<QRadioButton>(1016)->isChecked());
    EXPECT_FALSE(packbits->isChecked());
    // One stop: Tab leaves the seven for Multiple page.
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), GetDlgItem(kMultiPage));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
    EXPECT_EQ(QApplication::focusWidget(), GetDlgItem(1016));
}

TEST_F(MainDialogKeyboardTest, TheEmptyListShowsAFocusFrameAtStart)
{
    ASSERT_EQ(QApplication::focusWidget(), GetDlgItem(kFileList));
    auto *frame = dialog->findChild<QFocusFrame *>();
    ASSERT_NE(frame, nullptr);
    EXPECT_TRUE(frame->isVisible());
    EXPECT_EQ(frame->widget(), GetDlgItem(kFileList));
    GetDlgItem(kViewer)->setFocus(Qt::TabFocusReason);
    frame = dialog->findChild<QFocusFrame *>();
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(frame->widget(), GetDlgItem(kViewer));
}

TEST_F(MainDialogKeyboardTest, KeyRepeatsThatPiledUpDuringAnEngineWaitCountNothing)
{
    QLineEdit *resolution = Edit(kXResolution);
    resolution->setText("100");
    resolution->setFocus();
    const auto post = [&](bool repeat) {
        QCoreApplication::postEvent(resolution, new QKeyEvent(QEvent::KeyPress, Qt::Key_Up,
                                                              Qt::NoModifier, QString(), repeat));
    };
    post(false);
    for (int i = 0; i < 30; ++i)
        post(true);
    dialog->DispatchPendingMessages();
    EXPECT_EQ(resolution->text(), "101");
}

} // namespace
