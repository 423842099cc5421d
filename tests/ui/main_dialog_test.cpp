// SPDX-License-Identifier: AGPL-3.0-or-later
#include "ui/main_dialog_test_support.h"

#include "controls/gradient_progress_ctrl.h"
#include "platform/spin_button.h"
#include "platform/system_menu.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <gtest/gtest.h>

#include <map>

namespace {

using namespace MainControl;

constexpr int kCompressionIds[] = {1026, 1014, 1033, 1015, 1016, 1017, 1039};
constexpr int kPageRangeIds[] = {kFromPage,     kToPage,    kToPageSpin,
                                 kFromPageSpin, kFromLabel, kToLabel};

class MainDialogTest : public MainDialogFixture {
protected:
    std::vector<int> CheckedCompressionButtons()
    {
        std::vector<int> checked;
        for (int id : kCompressionIds) {
            if (Item<QRadioButton>(id)->isChecked())
                checked.push_back(id);
        }
        return checked;
    }
    void ChooseBitCount(int index)
    {
        auto *list = Item<QComboBox>(kBitCount);
        list->setCurrentIndex(index);
        emit list->activated(index);
    }
    bool PageRangeControlsEnabled(bool expected)
    {
        for (int id : kPageRangeIds) {
            if (Enabled(id) != expected)
                return false;
        }
        return true;
    }
};

TEST_F(MainDialogTest, FreshStartShowsTheDefaults)
{
    for (int id : {kRemove, kRemoveAll, kConvert, kGrayscale})
        EXPECT_FALSE(Enabled(id)) << id;
    EXPECT_TRUE(PageRangeControlsEnabled(false));
    for (int id : {kAdd, kBrowse, kAbout, kExit, kFileType, kBitCount, kMultiPage, kPageRange})
        EXPECT_TRUE(Enabled(id)) << id;
    EXPECT_EQ(CheckedCompressionButtons(), std::vector<int>{1014});
    EXPECT_EQ(Item<QComboBox>(kFileType)->currentText(), "TIF");
    EXPECT_EQ(Item<QComboBox>(kBitCount)->currentText(), "Auto");
    EXPECT_EQ(Edit(kJpegQuality)->text(), "75");
    EXPECT_EQ(Edit(kXResolution)->text(), "101");
    EXPECT_EQ(Edit(kYResolution)->text(), "101");
    EXPECT_EQ(Edit(kFromPage)->text(), "1");
    EXPECT_EQ(Edit(kToPage)->text(), "1");
    for (int id : {kMultiPage, kPageRange, kGrayscale})
        EXPECT_FALSE(Item<QCheckBox>(id)->isChecked()) << id;
    EXPECT_EQ(Item<QLabel>(kStatus)->text(), "Ready");
    EXPECT_EQ(Edit(kDestination)->text(), "");
    EXPECT_EQ(dialog->focusWidget(), dialog->GetDlgItem(kFileList));
    EXPECT_EQ(dialog->windowTitle(), "Tessary - Pagemint v2.1");
    EXPECT_EQ(dialog->Progress()->Lower(), 0);
    EXPECT_EQ(dialog->Progress()->Upper(), 100);
    EXPECT_EQ(dialog->Progress()->Pos(), 0);
    EXPECT_TRUE(dialog->Progress()->showPercent);
    EXPECT_TRUE(recorder.messages.empty());
}

class CompressionClickTest : public MainDialogTest,
                             public ::testing::WithParamInterface<std::pair<int, int32_t>> {};

TEST_P(CompressionClickTest, SetsTheCodeAtOnceWithoutReadingAndLeavesOneButtonChecked)
{
    const auto [id, code] = GetParam();
    Edit(kJpegQuality)->setText("abc"); // a read would complain
    QTest::mouseClick(Item<QRadioButton>(id), Qt::LeftButton);
    EXPECT_EQ(dialog->Settings().compression, code);
    EXPECT_EQ(CheckedCompressionButtons(), std::vector<int>{id});
    QTest::mouseClick(Item<QRadioButton>(id), Qt::LeftButton);
    EXPECT_EQ(CheckedCompressionButtons(), std::vector<int>{id});
    EXPECT_TRUE(recorder.messages.empty());
    EXPECT_EQ(dialog->Settings().jpegQuality, 75u);
}

INSTANTIATE_TEST_SUITE_P(Buttons, CompressionClickTest,
                         ::testing::Values(std::pair{1026, 1}, std::pair{1014, 32773},
                                           std::pair{1033, 3}, std::pair{1015, 4},
                                           std::pair{1016, 5}, std::pair{1017, 7},
                                           std::pair{1039, 88888888}));

TEST_F(MainDialogTest, ACodeOfNoButtonClearsAllSeven)
{
    dialog->Settings().compression = 2;
    dialog->ShowCompression();
    EXPECT_TRUE(CheckedCompressionButtons().empty());
}

TEST_F(MainDialogTest, PageRangeEnablesItsSixControlsAndKeepsTheNumbersWhenUnticked)
{
    Edit(kFromPage)->setText("3");
    Edit(kToPage)->setText("9");
    QTest::mouseClick(Item<QCheckBox>(kPageRange), Qt::LeftButton);
    EXPECT_TRUE(PageRangeControlsEnabled(true));
    EXPECT_EQ(dialog->Settings().pageRange, 1);
    QTest::mouseClick(Item<QCheckBox>(kPageRange), Qt::LeftButton);
    EXPECT_TRUE(PageRangeControlsEnabled(false));
    EXPECT_EQ(Edit(kFromPage)->text(), "3");
    EXPECT_EQ(Edit(kToPage)->text(), "9");
    EXPECT_EQ(dialog->Settings().fromPage, 3u);
    EXPECT_EQ(dialog->Settings().toPage, 9u);
}

TEST_F(MainDialogTest, LettersInQualityStopTheReadBeforePageRangeSoItsControlsStayDisabled)
{
    Edit(kJpegQuality)->setText("abc");
    QTest::mouseClick(Item<QCheckBox>(kPageRange), Qt::LeftButton);
    ASSERT_EQ(recorder.messages.size(), 1u);
    EXPECT_EQ(recorder.messages[0].text, "Please enter a positive integer.");
    EXPECT_EQ(dialog->focusWidget(), Edit(kJpegQuality));
    EXPECT_EQ(Edit(kJpegQuality)->selectedText(), "abc");
    EXPECT_TRUE(Item<QCheckBox>(kPageRange)->isChecked());
    EXPECT_EQ(dialog->Settings().pageRange, 0);
    EXPECT_TRUE(PageRangeControlsEnabled(false));

    // A later read that gets past the box brings the controls into line.
    Edit(kJpegQuality)->setText("80");
    dialog->OnPageRangeClicked();
    EXPECT_TRUE(PageRangeControlsEnabled(true));
}

TEST_F(MainDialogTest, FiveInYResolutionFailsAfterPageRangeSoItsControlsAreEnabled)
{
    Edit(kYResolution)->setText("5");
    QTest::mouseClick(Item<QCheckBox>(kPageRange), Qt::LeftButton);
    ASSERT_EQ(recorder.messages.size(), 1u);
    EXPECT_EQ(recorder.messages[0].text, "Please enter an integer between 10 and 1200.");
    EXPECT_EQ(dialog->focusWidget(), Edit(kYResolution));
    EXPECT_EQ(dialog->Settings().yResolution, 5u);
    EXPECT_TRUE(PageRangeControlsEnabled(true));
}

TEST_F(MainDialogTest, EightBitsEnableGrayscaleAndTwentyFourKeepsItsTick)
{
    ChooseBitCount(3);
    EXPECT_TRUE(Enabled(kGrayscale));
    QTest::mouseClick(Item<QCheckBox>(kGrayscale), Qt::LeftButton);
    ChooseBitCount(4);
    EXPECT_FALSE(Enabled(kGrayscale));
    EXPECT_TRUE(Item<QCheckBox>(kGrayscale)->isChecked());
    ASSERT_TRUE(dialog->ReadSettings());
    EXPECT_EQ(dialog->Settings().grayscale, 1);
    EXPECT_EQ(dialog->Settings().bitCountIndex, 4);
}

TEST_F(MainDialogTest, AFailedReadKeepsNewValuesBeforeTheOutOfRangeValueAndOldOnesAfter)
{
    Edit(kJpegQuality)->setText("80");
    Edit(kXResolution)->setText("5");
    Item<QCheckBox>(kMultiPage)->setChecked(true);
    Edit(kFromPage)->setText("4");
    Item<QComboBox>(kFileType)->setCurrentIndex(5);
    Edit(kYResolution)->setText("300");
    EXPECT_FALSE(dialog->ReadSettings());
    const ConversionSettings &s = dialog->Settings();
    EXPECT_EQ(s.jpegQuality, 80u);
    EXPECT_EQ(s.xResolution, 5u);
    EXPECT_EQ(s.multiPage, 0);
    EXPECT_EQ(s.fromPage, 1u);
    EXPECT_EQ(s.fileTypeIndex, 7);
    EXPECT_EQ(s.yResolution, 101u);
    ASSERT_EQ(recorder.messages.size(), 1u);
    EXPECT_EQ(recorder.messages[0].text, "Please enter an integer between 10 and 1200.");
}

TEST_F(MainDialogTest, AFieldThatIsNoNumberKeepsItsPreviousValue)
{
    Edit(kJpegQuality)->setText("0");
    Edit(kXResolution)->setText("1,000");
    EXPECT_FALSE(dialog->ReadSettings());
    EXPECT_EQ(dialog->Settings().jpegQuality, 0u);
    EXPECT_EQ(dialog->Settings().xResolution, 101u);
    EXPECT_EQ(recorder.messages.at(0).text, "Please enter a positive integer.");
}

TEST_F(MainDialogTest, PageFieldWithLettersFailsEveryReadEvenWhenRangeIsOff)
{
    Edit(kToPage)->setText("x");
    EXPECT_FALSE(dialog->ReadSettings());
    EXPECT_EQ(recorder.messages.size(), 1u);
}

TEST_F(MainDialogTest, XResolutionSpinCrossesToFourDigitsAndBelowTenIsRefusedAtTheNextRead)
{
    auto *spin = Item<SpinButton>(kXResolutionSpin);
    Edit(kXResolution)->setText("999");
    QTest::mouseClick(spin, Qt::LeftButton, {}, QPoint(spin->width() / 2, 2));
    EXPECT_EQ(Edit(kXResolution)->text(), "1000");
    EXPECT_EQ(dialog->Settings().xResolution, 101u); // the spin never writes the record
    ASSERT_TRUE(dialog->ReadSettings());
    EXPECT_EQ(dialog->Settings().xResolution, 1000u);

    Edit(kXResolution)->setText("10");
    QTest::mouseClick(spin, Qt::LeftButton, {}, QPoint(spin->width() / 2, spin->height() - 2));
    EXPECT_EQ(Edit(kXResolution)->text(), "9");
    EXPECT_FALSE(dialog->ReadSettings());
    EXPECT_EQ(recorder.messages.at(0).text, "Please enter an integer between 10 and 1200.");
}

TEST_F(MainDialogTest, QualitySpinStopsAtOneAndAHundredWhileZeroCanBeTyped)
{
    auto *spin = Item<SpinButton>(kJpegQualitySpin);
    Edit(kJpegQuality)->setText("1");
    spin->Step(-1);
    EXPECT_EQ(Edit(kJpegQuality)->text(), "1");
    Edit(kJpegQuality)->setText("100");
    spin->Step(1);
    EXPECT_EQ(Edit(kJpegQuality)->text(), "100");
    Edit(kJpegQuality)->setText("0");
    EXPECT_TRUE(dialog->ReadSettings());
    EXPECT_EQ(dialog->Settings().jpegQuality, 0u);
}

struct SpinRangeCase {
    int spin;
    int buddy;
    int lower;
    int upper;
};

class SpinRangeTest : public MainDialogTest, public ::testing::WithParamInterface<SpinRangeCase> {};

TEST_P(SpinRangeTest, StepsUpToTheUpperBoundAndDownToTheLowerOneAndNoFurther)
{
    const SpinRangeCase &c = GetParam();
    auto *spin = Item<SpinButton>(c.spin);
    QLineEdit *edit = Edit(c.buddy);
    ASSERT_EQ(spin->property("dlgId").toInt(), c.spin);
    edit->setText(QString::number(c.upper - 1));
    spin->Step(1);
    EXPECT_EQ(edit->text(), QString::number(c.upper));
    spin->Step(1);
    EXPECT_EQ(edit->text(), QString::number(c.upper));
    edit->setText(QString::number(c.lower + 1));
    spin->Step(-1);
    EXPECT_EQ(edit->text(), QString::number(c.lower));
    spin->Step(-1);
    EXPECT_EQ(edit->text(), QString::number(c.lower));
}

INSTANTIATE_TEST_SUITE_P(Spins, SpinRangeTest,
                         ::testing::Values(SpinRangeCase{kXResolutionSpin, kXResolution, 1, 1200},
                                           SpinRangeCase{kYResolutionSpin, kYResolution, 1, 1200},
                                           SpinRangeCase{kFromPageSpin, kFromPage, 1, 32767},
                                           SpinRangeCase{kToPageSpin, kToPage, 1, 32767},
                                           SpinRangeCase{kJpegQualitySpin, kJpegQuality, 1, 100}));

TEST_F(MainDialogTest, ChoosingAnotherOutputTypeChangesNoEnabledState)
{
    // Also with "8" bits and "Page range" ticked, so that both enabling rules are in force.
    ChooseBitCount(3);
    QTest::mouseClick(Item<QCheckBox>(kPageRange), Qt::LeftButton);
    const auto enabledStates = [&] {
        std::map<int, bool> states;
        for (QWidget *child : dialog->findChildren<QWidget *>()) {
            const QVariant id = child->property("dlgId");
            if (id.isValid() && id.toInt() != -1)
                states[id.toInt()] = child->isEnabled();
        }
        return states;
    };
    const std::map<int, bool> before = enabledStates();
    auto *types = Item<QComboBox>(kFileType);
    types->setFocus();
    QTest::keyClick(types, Qt::Key_Home);
    for (int index = 0; index < types->count(); ++index) {
        if (index > 0)
            QTest::keyClick(types, Qt::Key_Down);
        ASSERT_EQ(types->currentIndex(), index);
        EXPECT_EQ(enabledStates(), before) << types->currentText().toStdString();
    }
    EXPECT_TRUE(recorder.messages.empty());
}

TEST_F(MainDialogTest, EnterClosesWhenValidAndShowsTheRangeOtherwise)
{
    Edit(kJpegQuality)->setText("101");
    Edit(kJpegQuality)->setFocus();
    QTest::keyClick(Edit(kJpegQuality), Qt::Key_Return);
    ASSERT_EQ(recorder.messages.size(), 1u);
    EXPECT_EQ(recorder.messages[0].text, "Please enter an integer between 0 and 100.");
    EXPECT_TRUE(dialog->isVisible());

    Edit(kJpegQuality)->setText("100");
    QTest::keyClick(Edit(kJpegQuality), Qt::Key_Return);
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(dialog->result(), IDOK);
}

class EndWithoutReadingTest
    : public MainDialogTest,
      public ::testing::WithParamInterface<std::function<void(MainDialog &)>> {};

TEST_P(EndWithoutReadingTest, EndsWithCancelAndNoMessage)
{
    Edit(kJpegQuality)->setText("abc");
    GetParam()(*dialog);
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(dialog->result(), IDCANCEL);
    EXPECT_TRUE(recorder.messages.empty());
    EXPECT_EQ(dialog->Settings().jpegQuality, 75u);
}

INSTANTIATE_TEST_SUITE_P(
    Ways, EndWithoutReadingTest,
    ::testing::Values([](MainDialog &d) { d.Item<QPushButton>(kExit)->click(); },
                      [](MainDialog &d) {
                          QTest::keyClick(d.GetDlgItem(kJpegQuality), Qt::Key_Escape);
                      },
                      [](MainDialog &d) { d.close(); },
                      [](MainDialog &d) { d.OnSysCommand(SysCommand::Close, 0); }));

TEST_F(MainDialogTest, WindowMenuEndsWithTheAboutItem)
{
    SystemMenu *menu = dialog->GetSystemMenu();
    ASSERT_NE(menu, nullptr);
    const std::vector<uint32_t> ids = menu->ItemIds();
    ASSERT_GE(ids.size(), 2u);
    EXPECT_EQ(ids[ids.size() - 2], 0u);
    EXPECT_EQ(ids.back(), IDM_ABOUTBOX);
    EXPECT_EQ(menu->Menu()->actions().back()->text(), "&About RastiqueW...");
}

TEST_F(MainDialogTest, CommandsTenToOneFOpenTheAboutBoxAndOthersDoNot)
{
    for (uint32_t id : {0x10u, 0x1Fu, 0x10010u}) {
        const QStringList opened =
            CloseModalWindowsDuring(dialog.get(), [&] { dialog->OnSysCommand(id, 0); });
        EXPECT_EQ(opened.size(), 1) << id;
        EXPECT_TRUE(dialog->isVisible());
    }
    const QStringList fromMenu = CloseModalWindowsDuring(
        dialog.get(), [&] { dialog->GetSystemMenu()->Trigger(IDM_ABOUTBOX); });
    EXPECT_EQ(fromMenu.size(), 1);
    const QStringList fromButton =
        CloseModalWindowsDuring(dialog.get(), [&] { Item<QPushButton>(kAbout)->click(); });
    EXPECT_EQ(fromButton.size(), 1);

    const QStringList none =
        CloseModalWindowsDuring(dialog.get(), [&] { dialog->OnSysCommand(0x20, 0); });
    EXPECT_TRUE(none.isEmpty());
    const QStringList closing =
        CloseModalWindowsDuring(dialog.get(), [&] { dialog->OnSysCommand(SysCommand::Close, 0); });
    EXPECT_TRUE(closing.isEmpty());
    EXPECT_FALSE(dialog->isVisible());
}

TEST_F(MainDialogTest, F1WithoutModifiersOpensTheHelpFileBesideTheExecutable)
{
    QStringList opened;
    dialog->SetFrontEndPath("/opt/pagemint/bin/pagemint");
    dialog->SetFileOpener([&](const QString &path) { opened << path; });
    for (Qt::KeyboardModifiers held :
         {Qt::KeyboardModifiers(Qt::ShiftModifier), Qt::KeyboardModifiers(Qt::ControlModifier),
          Qt::KeyboardModifiers(Qt::AltModifier), Qt::ShiftModifier | Qt::AltModifier,
          Qt::ControlModifier | Qt::AltModifier}) {
        QTest::keyClick(Edit(kJpegQuality), Qt::Key_F1, held);
        QTest::keyClick(dialog->GetDlgItem(kFileList), Qt::Key_F1, held);
    }
    EXPECT_TRUE(opened.isEmpty());
    QTest::keyClick(Edit(kJpegQuality), Qt::Key_F1);
    EXPECT_EQ(opened, QStringList{"/opt/pagemint/bin/help.htm"});
}

TEST(HelpFilePath, JoinsWithExactlyOneSeparator)
{
    EXPECT_EQ(HelpFilePath("/usr/bin/pagemint", "help.htm"), "/usr/bin/help.htm");
    EXPECT_EQ(HelpFilePath("/pagemint", "help.htm"), "/help.htm");
    EXPECT_EQ(HelpFilePath("/a b/ü/pagemint", "help.htm"), "/a b/ü/help.htm");
    EXPECT_EQ(HelpFilePath("pagemint", "help.htm"), "/help.htm");
}

TEST(MinimizedIconPosition, CentresWithHalvesTruncatedTowardZero)
{
    EXPECT_EQ(MinimizedIconPosition(QSize(36, 36), QSize(32, 32)), QPoint(2, 2));
    EXPECT_EQ(MinimizedIconPosition(QSize(35, 35), QSize(32, 32)), QPoint(2, 2));
    EXPECT_EQ(MinimizedIconPosition(QSize(0, 0), QSize(32, 32)), QPoint(-15, -15));
    EXPECT_EQ(MinimizedIconPosition(QSize(100, 40), QSize(16, 32)), QPoint(42, 4));
}

} // namespace
