// SPDX-License-Identifier: AGPL-3.0-or-later
#include "platform/dialog_test_support.h"
#include "platform/spin_button.h"
#include "platform/system_menu.h"

#include <QApplication>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

namespace {

class DialogTemplateTest : public ::testing::Test {
protected:
    void SetUp() override { dialog.Create(); }
    MessageRecorder recorder;
    SmallDialog dialog;
};

TEST_F(DialogTemplateTest, DialogUnitsFollowTheFont)
{
    const QFontMetrics metrics(dialog.font());
    const int letters = metrics.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    const QSize base = dialog.DialogBaseUnits();
    EXPECT_EQ(base.width(), (letters / 26 + 1) / 2);
    EXPECT_EQ(base.height(), metrics.height());

    // Four horizontal units are one average character, eight vertical units one line.
    EXPECT_EQ(dialog.MapDialogRect(QRect(4, 8, 8, 16)),
              QRect(base.width(), base.height(), 2 * base.width(), 2 * base.height()));
    EXPECT_EQ(dialog.size(), dialog.MapDialogRect(QRect(0, 0, 200, 120)).size());
    EXPECT_EQ(RectInWindow(dialog.GetDlgItem(14)), dialog.MapDialogRect(QRect(100, 10, 40, 14)));
}

TEST_F(DialogTemplateTest, ControlsCarryTheirIdsKindsAndStates)
{
    EXPECT_NE(dialog.Item<QLineEdit>(10), nullptr);
    EXPECT_NE(dialog.Item<QComboBox>(13), nullptr);
    EXPECT_NE(dialog.Item<SpinButton>(16), nullptr);
    EXPECT_NE(dialog.Item<QLabel>(18), nullptr);
    EXPECT_EQ(dialog.GetDlgItem(-1), nullptr);
    EXPECT_EQ(dialog.GetDlgItem(999), nullptr);
    EXPECT_EQ(dialog.GetDlgItem(14)->property("dlgId").toInt(), 14);
    EXPECT_TRUE(dialog.GetDlgItem(14)->isEnabled());
    EXPECT_FALSE(dialog.GetDlgItem(17)->isEnabled());
    EXPECT_EQ(dialog.windowTitle(), "Small");
    EXPECT_TRUE(dialog.Item<QPushButton>(14)->focusPolicy() & Qt::TabFocus);
    // No tab stop: reachable by click only.
    EXPECT_FALSE(dialog.Item<QRadioButton>(15)->focusPolicy() & Qt::TabFocus);
}

TEST_F(DialogTemplateTest, DropDownListsGetTheirEntriesInOrderWithNothingSelectedYet)
{
    auto *list = dialog.Item<QComboBox>(13);
    ASSERT_EQ(list->count(), 3);
    EXPECT_EQ(list->itemText(0), "zero");
    EXPECT_EQ(list->itemText(2), "two");
    // The template's height includes the dropped list; closed it is one button high.
    EXPECT_EQ(list->height(), dialog.MapDialogRect(QRect(0, 0, 1, 14)).height());
}

TEST_F(DialogTemplateTest, ARadioButtonStaysCheckedWhenClickedAgainAndClearsNoOther)
{
    auto *radio = dialog.Item<QRadioButton>(15);
    QTest::mouseClick(radio, Qt::LeftButton);
    EXPECT_TRUE(radio->isChecked());
    QTest::mouseClick(radio, Qt::LeftButton);
    EXPECT_TRUE(radio->isChecked());
    EXPECT_FALSE(radio->autoExclusive());
}

TEST_F(DialogTemplateTest, EnterIsOkUnlessAPushButtonHasTheFocus)
{
    dialog.show();
    QSignalSpy clicked(dialog.Item<QPushButton>(14), &QPushButton::clicked);

    dialog.Item<QLineEdit>(11)->setText("abc");
    dialog.Item<QLineEdit>(11)->setFocus();
    QTest::keyClick(dialog.Item<QLineEdit>(11), Qt::Key_Return);
    EXPECT_EQ(dialog.okCalls, 1);
    EXPECT_TRUE(dialog.isVisible()); // the read failed
    EXPECT_EQ(recorder.messages.size(), 1u);

    dialog.Item<QPushButton>(14)->setFocus();
    QTest::keyClick(dialog.Item<QPushButton>(14), Qt::Key_Return);
    EXPECT_EQ(clicked.count(), 1);
    EXPECT_EQ(dialog.okCalls, 1);

    dialog.Item<QLineEdit>(11)->setText("5");
    dialog.Item<QLineEdit>(10)->setFocus();
    QTest::keyClick(dialog.Item<QLineEdit>(10), Qt::Key_Enter, Qt::KeypadModifier);
    EXPECT_EQ(dialog.okCalls, 2);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.result(), IDOK);
}

TEST_F(DialogTemplateTest, SuspendedDialogKeysAreOnlyInputOfTheFocusedControlUntilResumed)
{
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
    QSignalSpy clicked(dialog.Item<QPushButton>(14), &QPushButton::clicked);
    auto *edit = dialog.Item<QLineEdit>(10);
    edit->setText("12");
    edit->setFocus();
    dialog.SuspendDialogKeys(true);
    dialog.SuspendDialogKeys(true); // nested: one resume is not enough
    dialog.SuspendDialogKeys(false);
    for (Qt::Key key :
         {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape, Qt::Key_Tab, Qt::Key_Backtab})
        QTest::keyClick(edit, key);
    QTest::keyClick(edit, Qt::Key_3, Qt::NoModifier);
    dialog.Item<QPushButton>(14)->setFocus();
    QTest::keyClick(dialog.Item<QPushButton>(14), Qt::Key_Return);
    EXPECT_EQ(dialog.okCalls, 0);
    EXPECT_EQ(dialog.cancelCalls, 0);
    EXPECT_EQ(clicked.count(), 0);
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(dialog.focusWidget(), dialog.Item<QPushButton>(14));
    EXPECT_EQ(edit->text(), "123");

    dialog.SuspendDialogKeys(false);
    EXPECT_FALSE(dialog.DialogKeysSuspended());
    QTest::keyClick(dialog.Item<QPushButton>(14), Qt::Key_Tab);
    EXPECT_NE(dialog.focusWidget(), dialog.Item<QPushButton>(14));
    edit->setFocus();
    QTest::keyClick(edit, Qt::Key_Escape);
    EXPECT_EQ(dialog.cancelCalls, 1);
    EXPECT_FALSE(dialog.isVisible());
}

TEST_F(DialogTemplateTest, EscAndCloseCancelWithoutReading)
{
    dialog.Item<QLineEdit>(10)->setText("not read");
    dialog.show();
    QTest::keyClick(dialog.Item<QLineEdit>(10), Qt::Key_Escape);
    EXPECT_EQ(dialog.cancelCalls, 1);
    EXPECT_EQ(dialog.result(), IDCANCEL);
    EXPECT_FALSE(dialog.isVisible());

    dialog.show();
    dialog.close();
    EXPECT_EQ(dialog.cancelCalls, 2);
    EXPECT_TRUE(recorder.messages.empty());
}

TEST_F(DialogTemplateTest, WindowMenuHoldsMinimizeCloseAndAppendedItemsAndRoutesChoices)
{
    SystemMenu *menu = dialog.GetSystemMenu();
    ASSERT_NE(menu, nullptr);
    menu->AppendSeparator();
    menu->AppendItem(0x10, "&About");
    EXPECT_EQ(menu->ItemIds(),
              (std::vector<uint32_t>{SysCommand::Minimize, SysCommand::Close, 0, 0x10}));
    EXPECT_EQ(menu->Menu()->actions().at(3)->text(), "&About");

    dialog.show();
    menu->Trigger(SysCommand::Close);
    EXPECT_EQ(dialog.cancelCalls, 1);
    EXPECT_FALSE(dialog.isVisible());
}

TEST_F(DialogTemplateTest, RightClickOnTheFreeAreaOpensTheWindowMenuButNotOnAControl)
{
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    QMenu *menu = dialog.GetSystemMenu()->Menu();
    auto rightClick = [&](const QPoint &at) {
        QContextMenuEvent event(QContextMenuEvent::Mouse, at, dialog.mapToGlobal(at));
        QApplication::sendEvent(&dialog, &event);
    };
    rightClick(RectInWindow(dialog.GetDlgItem(14)).center());
    EXPECT_FALSE(menu->isVisible());
    rightClick(QPoint(dialog.width() - 3, dialog.height() - 3));
    EXPECT_TRUE(menu->isVisible());
    menu->hide();
    // Inside a group box, away from the controls in it.
    rightClick(dialog.MapDialogRect(QRect(95, 70, 1, 1)).topLeft());
    EXPECT_TRUE(menu->isVisible());
    menu->hide();
}

TEST_F(DialogTemplateTest, AltSpaceOpensTheWindowMenu)
{
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
    QTest::keyClick(dialog.GetDlgItem(10), Qt::Key_Space, Qt::AltModifier);
    EXPECT_TRUE(dialog.GetSystemMenu()->Menu()->isVisible());
    dialog.GetSystemMenu()->Menu()->hide();
}

TEST(DialogTemplateWithoutSystemMenu, HasNoWindowMenu)
{
    DialogTemplate plain = SmallTemplate();
    plain.style &= ~WindowStyle::SysMenu;
    TemplateDialog dialog(plain);
    dialog.Create();
    EXPECT_EQ(dialog.GetSystemMenu(), nullptr);
}

class SpinButtonTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        parent.resize(300, 100);
        edit = new QLineEdit(&parent);
        edit->setGeometry(10, 10, 80, 24);
        spin = new SpinButton(&parent);
        spin->resize(18, 24);
        spin->SetRange(1, 1200);
        spin->SetBuddy(edit);
    }
    QWidget parent;
    QLineEdit *edit;
    SpinButton *spin;
};

TEST_F(SpinButtonTest, SitsAgainstTheBuddysRightEdgeWhichGivesUpItsWidth)
{
    EXPECT_EQ(edit->geometry(), QRect(10, 10, 62, 24));
    EXPECT_EQ(spin->geometry(), QRect(72, 10, 18, 24));
}

TEST_F(SpinButtonTest, StepsFromTheShownNumberAndWritesPlainDigits)
{
    edit->setText("999");
    spin->Step(1);
    EXPECT_EQ(edit->text(), "1000");
    edit->setText(" 41 ");
    spin->Step(-1);
    EXPECT_EQ(edit->text(), "40");
}

TEST_F(SpinButtonTest, StopsAtTheEndsWithoutWrapping)
{
    edit->setText("1200");
    spin->Step(1);
    EXPECT_EQ(edit->text(), "1200");
    edit->setText("1");
    spin->Step(-1);
    EXPECT_EQ(edit->text(), "1");
    edit->setText("5000");
    spin->Step(-20);
    EXPECT_EQ(edit->text(), "1200");
    edit->setText("4");
    spin->Step(-20);
    EXPECT_EQ(edit->text(), "1");
}

TEST_F(SpinButtonTest, TextThatIsNoNumberStepsFromTheLastPosition)
{
    edit->setText("50");
    spin->Step(1);
    edit->setText("abc");
    spin->Step(1);
    EXPECT_EQ(edit->text(), "52");
}

TEST_F(SpinButtonTest, ArrowKeysInTheBuddyStepAndClicksOnEachHalf)
{
    parent.show();
    edit->setText("10");
    QTest::keyClick(edit, Qt::Key_Up);
    EXPECT_EQ(edit->text(), "11");
    QTest::keyClick(edit, Qt::Key_Down);
    QTest::keyClick(edit, Qt::Key_Down);
    EXPECT_EQ(edit->text(), "9");
    QTest::mouseClick(spin, Qt::LeftButton, {}, QPoint(9, 3));
    EXPECT_EQ(edit->text(), "10");
    QTest::mouseClick(spin, Qt::LeftButton, {}, QPoint(9, 21));
    EXPECT_EQ(edit->text(), "9");

    spin->setEnabled(false);
    QTest::keyClick(edit, Qt::Key_Up);
    EXPECT_EQ(edit->text(), "9");
}

TEST_F(SpinButtonTest, HoldingAnArrowRepeats)
{
    parent.show();
    edit->setText("100");
    QTest::mousePress(spin, Qt::LeftButton, {}, QPoint(9, 3));
    EXPECT_TRUE(QTest::qWaitFor([&] { return edit->text().toInt() >= 103; }, 3000))
        << edit->text().toStdString();
    QTest::mouseRelease(spin, Qt::LeftButton, {}, QPoint(9, 3));
}

} // namespace
