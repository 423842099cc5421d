// SPDX-License-Identifier: AGPL-3.0-or-later
// What screen readers and the keyboard meet in a template dialog.
#include "platform/control_accessibility.h"
#include "platform/dialog_test_support.h"
#include "platform/focus_frame.h"
#include "platform/key_repeat_drop.h"
#include "platform/radio_keyboard_group.h"
#include "platform/spin_button.h"

#include <QAbstractItemView>
#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QFocusFrame>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <gtest/gtest.h>

namespace {

struct CaptionRow {
    const char *caption;
    const char *name;
};

class CaptionNameTest : public ::testing::TestWithParam<CaptionRow> {};

TEST_P(CaptionNameTest, DropsMnemonicMarksAndTheClosingColon)
{
    EXPECT_EQ(CaptionName(QString::fromUtf8(GetParam().caption)), GetParam().name);
}

INSTANTIATE_TEST_SUITE_P(
    Captions, CaptionNameTest,
    ::testing::Values(CaptionRow{"File type:", "File type"}, CaptionRow{"&Quality", "Quality"},
                      CaptionRow{"Fish && Chips", "Fish & Chips"}, CaptionRow{"To: ", "To"},
                      CaptionRow{"Ratio: 1:2", "Ratio: 1:2"}, CaptionRow{"(0-100)", "(0-100)"}));

class TemplateAccessibilityTest : public ::testing::Test {
protected:
    void SetUp() override { dialog.Create(); }
    static QAccessibleInterface *Of(QObject *object)
    {
        return QAccessible::queryAccessibleInterface(object);
    }
    SmallDialog dialog;
};

TEST_F(TemplateAccessibilityTest, GroupBoxesHoldTheControlsAroundWhoseCentreTheyAreDrawn)
{
    auto *group = dialog.findChild<QGroupBox *>();
    ASSERT_NE(group, nullptr);
    // Inside the frame: the push buttons and the radio button; outside: the edits and the list.
    for (int id : {14, 15, 17}) {
        SCOPED_TRACE(id);
        EXPECT_EQ(dialog.GetDlgItem(id)->parentWidget(), group);
        EXPECT_EQ(Of(dialog.GetDlgItem(id))->parent()->object(), group);
    }
    for (int id : {10, 11, 12, 13, 18}) {
        SCOPED_TRACE(id);
        EXPECT_EQ(dialog.GetDlgItem(id)->parentWidget(), &dialog);
    }
    EXPECT_EQ(Of(group)->text(QAccessible::Name), "Group");
    EXPECT_EQ(RectInWindow(dialog.GetDlgItem(15)), dialog.MapDialogRect(QRect(100, 30, 40, 8)));
}

TEST_F(TemplateAccessibilityTest, AClickInsideAGroupReachesTheControlThere)
{
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    int clicks = 0;
    QObject::connect(dialog.Item<QPushButton>(14), &QPushButton::clicked, [&] { ++clicks; });
    // Through the window, as a real click comes, so that the click finds its widget.
    QTest::mouseClick(dialog.windowHandle(), Qt::LeftButton, {},
                      RectInWindow(dialog.GetDlgItem(14)).center());
    EXPECT_EQ(clicks, 1);
}

TEST_F(TemplateAccessibilityTest, RadioButtonsAreRadioButtonsThatAPressChecks)
{
    auto *radio = dialog.Item<QRadioButton>(15);
    QAccessibleInterface *accessible = Of(radio);
    EXPECT_EQ(accessible->role(), QAccessible::RadioButton);
    EXPECT_EQ(accessible->text(QAccessible::Name), "Radio");
    EXPECT_TRUE(accessible->state().checkable);
    EXPECT_FALSE(accessible->state().checked);
    int clicks = 0;
    QObject::connect(radio, &QRadioButton::clicked, [&] { ++clicks; });
    accessible->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    EXPECT_EQ(clicks, 1);
    EXPECT_TRUE(accessible->state().checked);
}

TEST_F(TemplateAccessibilityTest, ACaptionNamesItsControlAndLabelsIt)
{
    dialog.NameControlByCaption(10, QStringLiteral("Label"));
    dialog.NameControlByCaption(13, QStringLiteral("Group"));
    auto *edit = dialog.GetDlgItem(10);
    EXPECT_EQ(Of(edit)->text(QAccessible::Name), "Label");
    EXPECT_EQ(dialog.Item<QLabel>(18)->buddy(), edit);
    bool labelled = false;
    for (const auto &relation : Of(edit)->relations(QAccessible::Label))
        labelled = labelled || relation.first->object() == dialog.GetDlgItem(18);
    EXPECT_TRUE(labelled);
    // A drop-down list says its caption as its name and its entry as its value, not the entry
    // as its name.
    auto *list = dialog.Item<QComboBox>(13);
    list->setCurrentIndex(2);
    EXPECT_EQ(Of(list)->role(), QAccessible::ComboBox);
    EXPECT_EQ(Of(list)->text(QAccessible::Name), "Group");
    EXPECT_EQ(Of(list)->text(QAccessible::Value), "two");
    ASSERT_EQ(Of(list)->childCount(), 1);
    EXPECT_EQ(Of(list)->child(0)->object(), list->view());
    EXPECT_EQ(Of(list)->indexOfChild(Of(list->view())), 0);
}

class SpinAccessibilityTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        edit = new QLineEdit(QStringLiteral("100"), &parent);
        edit->setAccessibleName(QStringLiteral("X Resolution"));
        spin = new SpinButton(&parent);
        spin->SetRange(1, 102);
        spin->SetBuddy(edit);
        accessible = QAccessible::queryAccessibleInterface(spin);
    }
    QWidget parent;
    QLineEdit *edit;
    SpinButton *spin;
    QAccessibleInterface *accessible;
};

TEST_F(SpinAccessibilityTest, IsASpinButtonNamedAsItsFieldWithItsValueAndRange)
{
    EXPECT_EQ(accessible->role(), QAccessible::SpinBox);
    EXPECT_EQ(accessible->text(QAccessible::Name), "X Resolution");
    QAccessibleValueInterface *value = accessible->valueInterface();
    ASSERT_NE(value, nullptr);
    EXPECT_EQ(value->currentValue().toInt(), 100);
    EXPECT_EQ(value->minimumValue().toInt(), 1);
    EXPECT_EQ(value->maximumValue().toInt(), 102);
    edit->setText(QStringLiteral("7"));
    EXPECT_EQ(value->currentValue().toInt(), 7);
}

TEST_F(SpinAccessibilityTest, ActionsStepWithinTheRange)
{
    QAccessibleActionInterface *actions = accessible->actionInterface();
    ASSERT_NE(actions, nullptr);
    const QString up = QAccessibleActionInterface::increaseAction();
    const QString down = QAccessibleActionInterface::decreaseAction();
    ASSERT_TRUE(actions->actionNames().contains(up));
    ASSERT_TRUE(actions->actionNames().contains(down));
    for (int i = 0; i < 3; ++i)
        actions->doAction(up);
    EXPECT_EQ(edit->text(), "102");
    actions->doAction(down);
    EXPECT_EQ(edit->text(), "101");
    accessible->valueInterface()->setCurrentValue(500);
    EXPECT_EQ(edit->text(), "102");
    spin->setEnabled(false);
    actions->doAction(down);
    EXPECT_EQ(edit->text(), "102");
}

class RadioKeyboardGroupTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (const char *text : {"a", "b", "c", "d"}) {
            auto *button = new QRadioButton(QString::fromUtf8(text), &window);
            button->setAutoExclusive(false);
            connect(button, text);
            buttons.push_back(button);
        }
        group = new RadioKeyboardGroup({buttons.begin(), buttons.end()}, &window);
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    }
    void connect(QRadioButton *button, const char *text)
    {
        // The check moves only by the handler, as in the window: it checks the clicked one and
        // clears the others.
        QObject::connect(button, &QRadioButton::clicked, [this, button, text] {
            clicked += text;
            for (QRadioButton *other : buttons)
                other->setChecked(other == button);
        });
    }
    void Press(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        QTest::keyClick(QApplication::focusWidget(), key, modifiers);
    }

    QWidget window;
    std::vector<QRadioButton *> buttons;
    RadioKeyboardGroup *group;
    std::string clicked;
};

TEST_F(RadioKeyboardGroupTest, TheCheckedButtonIsTheOnlyTabStop)
{
    EXPECT_EQ(group->TabStop(), buttons[0]);
    buttons[2]->setChecked(true);
    EXPECT_EQ(group->TabStop(), buttons[2]);
    for (size_t i = 0; i < buttons.size(); ++i)
        EXPECT_EQ(bool(buttons[i]->focusPolicy() & Qt::TabFocus), i == 2) << i;
}

TEST_F(RadioKeyboardGroupTest, ArrowsClickTheNextButtonWrappingAndPassingDisabledOnes)
{
    buttons[1]->setChecked(true);
    buttons[1]->setFocus();
    buttons[3]->setEnabled(false);
    Press(Qt::Key_Down);
    Press(Qt::Key_Right);
    Press(Qt::Key_Down);
    Press(Qt::Key_Up);
    Press(Qt::Key_Left);
    EXPECT_EQ(clicked, "cabac");
    EXPECT_EQ(QApplication::focusWidget(), buttons[2]);
    EXPECT_TRUE(buttons[2]->isChecked());
    EXPECT_FALSE(buttons[1]->isChecked());
    EXPECT_EQ(group->TabStop(), buttons[2]);
    // Arrows with a modifier are not the group's.
    Press(Qt::Key_Down, Qt::ShiftModifier);
    EXPECT_EQ(clicked, "cabac");
}

TEST(KeyRepeatDropTest, RepeatsArrivingMeanwhileAreDroppedAndTheFirstPressKept)
{
    QLineEdit edit;
    edit.show();
    const auto post = [&](bool repeat) {
        QCoreApplication::postEvent(&edit,
                                    new QKeyEvent(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier,
                                                  QStringLiteral("a"), repeat));
    };
    post(false);
    post(true);
    post(true);
    {
        const KeyRepeatDrop drop;
        QCoreApplication::processEvents();
    }
    EXPECT_EQ(edit.text(), "a");
    post(true);
    QCoreApplication::processEvents();
    EXPECT_EQ(edit.text(), "aa");
}

TEST(FocusFrameTest, AFrameSurroundsTheWidgetWhileTheFocusIsInIt)
{
    QWidget window;
    auto *panel = new QWidget(&window);
    panel->setGeometry(20, 20, 100, 100);
    auto *inner = new QLineEdit(panel);
    auto *elsewhere = new QLineEdit(&window);
    elsewhere->move(150, 20);
    ShowFocusFrameAround(panel);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    const auto frame = [&]() -> QFocusFrame * {
        QFocusFrame *found = window.findChild<QFocusFrame *>();
        return found && found->isVisible() ? found : nullptr;
    };
    elsewhere->setFocus();
    EXPECT_EQ(frame(), nullptr);
    inner->setFocus();
    ASSERT_NE(frame(), nullptr);
    EXPECT_EQ(frame()->widget(), panel);
    EXPECT_TRUE(frame()->geometry().contains(panel->geometry()));
    elsewhere->setFocus();
    EXPECT_EQ(frame(), nullptr);
}

struct RoomRow {
    const char *name;
    int widthOverNeed; // the room's width minus the template's width at the font
    int heightOverNeed;
    bool keepsFont;
};

class DialogFontFittingTest : public ::testing::TestWithParam<RoomRow> {};

TEST_P(DialogFontFittingTest, KeepsAFontThatFitsAndOtherwiseTakesTheLargestThatDoes)
{
    const RoomRow row = GetParam();
    QFont font = QApplication::font();
    font.setPointSizeF(12);
    const QSize units(517, 359);
    const auto need = [&](const QFont &at) {
        const QSize base = DialogBaseUnitsOf(at);
        return QSize((units.width() * base.width() + 2) / 4,
                     (units.height() * base.height() + 4) / 8);
    };
    const QSize room = need(font) + QSize(row.widthOverNeed, row.heightOverNeed);
    const QFont chosen = DialogFontFitting(font, units, room);
    EXPECT_EQ(chosen == font, row.keepsFont);
    EXPECT_LE(need(chosen).width(), room.width());
    EXPECT_LE(need(chosen).height(), room.height());
    if (!row.keepsFont) {
        EXPECT_LT(chosen.pointSizeF(), font.pointSizeF());
        QFont larger = chosen;
        larger.setPointSizeF(chosen.pointSizeF() + 0.5);
        const QSize tooLarge = need(larger);
        EXPECT_TRUE(tooLarge.width() > room.width() || tooLarge.height() > room.height());
    }
}

INSTANTIATE_TEST_SUITE_P(Rooms, DialogFontFittingTest,
                         ::testing::Values(RoomRow{"Ample", 300, 300, true},
                                           RoomRow{"Exact", 0, 0, true},
                                           RoomRow{"OnePixelShort", 0, -1, false},
                                           RoomRow{"NarrowOnly", -100, 50, false},
                                           RoomRow{"AQuarterShort", -200, -150, false}),
                         [](const ::testing::TestParamInfo<RoomRow> &info) {
                             return info.param.name;
                         });

TEST(DialogFontFittingTest, NeverGoesBelowAReadableSize)
{
    QFont font = QApplication::font();
    font.setPointSizeF(10);
    const QFont chosen = DialogFontFitting(font, QSize(517, 359), QSize(10, 10));
    EXPECT_GE(chosen.pointSizeF(), 6.0);
}

} // namespace
