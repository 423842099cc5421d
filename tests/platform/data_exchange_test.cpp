// SPDX-License-Identifier: AGPL-3.0-or-later
#include "platform/dialog_test_support.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <gtest/gtest.h>

namespace {

class DataExchangeTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dialog.Create();
        dialog.show();
    }
    QLineEdit *First() { return dialog.Item<QLineEdit>(10); }
    QLineEdit *Second() { return dialog.Item<QLineEdit>(11); }

    MessageRecorder recorder;
    SmallDialog dialog;
};

TEST_F(DataExchangeTest, WritingShowsTheRecordWithoutCheckingIt)
{
    dialog.record = {4000000000u, 1, 2, 0};
    ASSERT_TRUE(dialog.UpdateData(false));
    EXPECT_EQ(First()->text(), "4000000000");
    EXPECT_TRUE(dialog.Item<QCheckBox>(12)->isChecked());
    EXPECT_EQ(dialog.Item<QComboBox>(13)->currentText(), "two");
    EXPECT_EQ(Second()->text(), "0");
    EXPECT_TRUE(recorder.messages.empty());
}

TEST_F(DataExchangeTest, AnIndexOutsideTheListLeavesNoSelectionAndReadsBackAsMinusOne)
{
    for (int32_t index : {-1, 3, 99}) {
        dialog.record.index = index;
        dialog.UpdateData(false);
        EXPECT_EQ(dialog.Item<QComboBox>(13)->currentIndex(), -1) << index;
        dialog.record.index = 0;
        ASSERT_TRUE(dialog.UpdateData(true));
        EXPECT_EQ(dialog.record.index, -1) << index;
    }
}

struct Accepted {
    const char *text;
    uint32_t value;
};

class AcceptedTextTest : public DataExchangeTest, public ::testing::WithParamInterface<Accepted> {};

TEST_P(AcceptedTextTest, IsStoredWithoutMessage)
{
    Second()->setText(GetParam().text);
    ASSERT_TRUE(dialog.UpdateData(true));
    EXPECT_EQ(dialog.record.second, GetParam().value);
    EXPECT_TRUE(recorder.messages.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Texts, AcceptedTextTest,
    ::testing::Values(Accepted{"75", 75}, Accepted{"  75  ", 75}, Accepted{"\t75\t", 75},
                      Accepted{"0", 0}, Accepted{"4294967295", 4294967295u},
                      // only the first 31 characters are read: the third digit falls off
                      Accepted{"                             123", 12}));

class RefusedTextTest : public DataExchangeTest,
                        public ::testing::WithParamInterface<const char *> {};

TEST_P(RefusedTextTest, ShowsTheMessageSelectsTheFieldAndKeepsThePreviousValue)
{
    Second()->setText(GetParam());
    dialog.record.second = 7;
    EXPECT_FALSE(dialog.UpdateData(true));
    ASSERT_EQ(recorder.messages.size(), 1u);
    EXPECT_EQ(recorder.messages[0].text, "Please enter a positive integer.");
    EXPECT_EQ(recorder.messages[0].icon, QMessageBox::Warning);
    EXPECT_EQ(dialog.record.second, 7u);
    EXPECT_EQ(dialog.focusWidget(), Second());
    EXPECT_EQ(Second()->selectedText(), Second()->text());
}

INSTANTIATE_TEST_SUITE_P(Texts, RefusedTextTest,
                         ::testing::Values("-1", "7.5", "1,000", "", "   ", "abc", "12abc", "+5",
                                           "4294967296", "0x10"));

TEST_F(DataExchangeTest, OutOfRangeValueIsStoredAndStopsThePass)
{
    First()->setText("25");
    dialog.Item<QCheckBox>(12)->setChecked(true);
    Second()->setText("99");
    EXPECT_FALSE(dialog.UpdateData(true));
    ASSERT_EQ(recorder.messages.size(), 1u);
    EXPECT_EQ(recorder.messages[0].text, "Please enter an integer between 10 and 20.");
    EXPECT_EQ(dialog.record.first, 25u);
    // The lines after the failing one are not read.
    EXPECT_EQ(dialog.record.check, 0);
    EXPECT_EQ(dialog.record.second, 7u);
    EXPECT_EQ(dialog.focusWidget(), First());
    EXPECT_EQ(First()->selectedText(), "25");
}

TEST_F(DataExchangeTest, RangeBoundsAreInclusive)
{
    for (const char *text : {"10", "20"}) {
        First()->setText(text);
        EXPECT_TRUE(dialog.UpdateData(true)) << text;
    }
    for (const char *text : {"9", "21"}) {
        First()->setText(text);
        EXPECT_FALSE(dialog.UpdateData(true)) << text;
    }
    EXPECT_EQ(recorder.messages.size(), 2u);
}

TEST_F(DataExchangeTest, AFailedTextSkipsItsRangeCheckAndOnlyOneMessageIsShown)
{
    dialog.record.first = 500; // out of range, but the text failed: no range message
    First()->setText("x");
    Second()->setText("y");
    EXPECT_FALSE(dialog.UpdateData(true));
    ASSERT_EQ(recorder.messages.size(), 1u);
    EXPECT_EQ(recorder.messages[0].text, "Please enter a positive integer.");
    EXPECT_EQ(dialog.record.first, 500u);
}

TEST_F(DataExchangeTest, FieldsBeforeTheFailureKeepTheirNewValues)
{
    First()->setText("12");
    dialog.Item<QCheckBox>(12)->setChecked(true);
    dialog.Item<QComboBox>(13)->setCurrentIndex(0);
    Second()->setText("bad");
    EXPECT_FALSE(dialog.UpdateData(true));
    EXPECT_EQ(dialog.record.first, 12u);
    EXPECT_EQ(dialog.record.check, 1);
    EXPECT_EQ(dialog.record.index, 0);
    EXPECT_EQ(dialog.record.second, 7u);
}

TEST_F(DataExchangeTest, DisabledControlsTakePartLikeTheOthers)
{
    Second()->setEnabled(false);
    Second()->setText("abc");
    EXPECT_FALSE(dialog.UpdateData(true));
    EXPECT_EQ(recorder.messages.size(), 1u);
}

} // namespace
