// SPDX-License-Identifier: AGPL-3.0-or-later
// The main window against its layout table, written out here on its own so that a control
// moved, renamed, taken out of the tab order or put elsewhere in it shows up.
#include "ui/main_dialog_test_support.h"

#include "platform/spin_button.h"

#include <QAbstractButton>
#include <QGroupBox>
#include <QLabel>
#include <QRadioButton>
#include <gtest/gtest.h>

#include <map>
#include <tuple>

namespace {

using K = ControlKind;

struct Expected {
    int id;
    ControlKind kind;
    uint32_t style;
    int x, y, cx, cy;
    const char *text;
};

// In tab order.
const Expected kExpected[] = {
    {1030, K::ListView, 0x50810001, 248, 24, 259, 119, nullptr},
    {1031, K::PushButton, 0x50010000, 252, 148, 47, 14, "Add"},
    {1032, K::PushButton, 0x58010000, 302, 148, 47, 14, "Remove"},
    {1037, K::PushButton, 0x58010000, 351, 148, 47, 14, "Remove all"},
    {1035, K::DropDownList, 0x50210003, 453, 148, 48, 149, nullptr},
    {1040, K::Edit, 0x50810080, 328, 170, 134, 12, nullptr},
    {1041, K::PushButton, 0x50010000, 465, 170, 35, 14, "Browse"},
    {1023, K::Edit, 0x50810080, 258, 226, 41, 14, nullptr},
    {1024, K::SpinButton, 0x50000026, 307, 210, 11, 14, nullptr},
    {1042, K::Edit, 0x50810080, 258, 257, 41, 14, nullptr},
    {1044, K::SpinButton, 0x50000026, 308, 241, 11, 14, nullptr},
    {1043, K::CheckBox, 0x50010003, 258, 281, 56, 10, "Page range"},
    {1025, K::Edit, 0x50810080, 279, 297, 35, 14, nullptr},
    {1028, K::Edit, 0x50810080, 279, 312, 35, 14, nullptr},
    {1029, K::SpinButton, 0x50000026, 278, 327, 11, 14, nullptr},
    {1027, K::SpinButton, 0x50000026, 292, 327, 11, 14, nullptr},
    {1026, K::RadioButton, 0x50020009, 334, 224, 68, 8, "None"},
    {1014, K::RadioButton, 0x50020009, 334, 237, 68, 8, "Packbits"},
    {1033, K::RadioButton, 0x50020009, 334, 250, 68, 8, "CCITT group 3"},
    {1015, K::RadioButton, 0x50020009, 334, 263, 68, 8, "CCITT group 4"},
    {1016, K::RadioButton, 0x50020009, 334, 276, 68, 8, "LZW"},
    {1017, K::RadioButton, 0x50020009, 334, 289, 68, 8, "JPEG"},
    {1039, K::RadioButton, 0x50020009, 334, 302, 76, 10, "ClassF Fax File"},
    {1018, K::CheckBox, 0x50010003, 334, 317, 68, 10, "Multiple page"},
    {1019, K::Edit, 0x50810080, 454, 225, 40, 14, nullptr},
    {1020, K::SpinButton, 0x50000026, 489, 240, 11, 14, nullptr},
    {1021, K::DropDownList, 0x50210003, 426, 284, 56, 68, nullptr},
    {1051, K::CheckBox, 0x50010003, 426, 305, 56, 12, "Grayscale"},
    {1034, K::PushButton, 0x58010000, 364, 338, 44, 14, "Convert"},
    {1047, K::PushButton, 0x50010000, 413, 338, 44, 14, "About"},
    {1022, K::PushButton, 0x50010000, 461, 338, 44, 14, "Exit"},
    {-1, K::GroupBox, 0x50000007, 245, 13, 265, 174, "Batch process"},
    {-1, K::GroupBox, 0x50000007, 245, 193, 265, 143, "Option"},
    {-1, K::GroupBox, 0x50000007, 325, 202, 88, 130, "TIFF"},
    {-1, K::GroupBox, 0x50000007, 418, 202, 85, 56, "JPEG"},
    {-1, K::StaticText, 0x50020000, 421, 224, 29, 8, "Quality"},
    {-1, K::StaticText, 0x50020000, 421, 232, 29, 8, "(0-100)"},
    {-1, K::GroupBox, 0x50000007, 329, 211, 80, 102, "Compression"},
    {-1, K::GroupBox, 0x50000007, 419, 266, 83, 66, "Image bitcount"},
    {-1, K::GroupBox, 0x50000007, 251, 202, 69, 130, "PDF"},
    {1046, K::StaticText, 0x50020000, 258, 212, 49, 8, "X Resolution"},
    {1048, K::StaticText, 0x50020000, 258, 300, 21, 8, "From:"},
    {1049, K::StaticText, 0x50020000, 258, 316, 13, 8, "To:"},
    {-1, K::StaticText, 0x50020000, 302, 229, 13, 8, "DPI"},
    {-1, K::StaticText, 0x50020000, 409, 150, 41, 8, "File type:"},
    {1036, K::Custom, 0x50010000, 7, 7, 232, 329, nullptr},
    {-1, K::StaticText, 0x50020000, 252, 171, 73, 8, "Destination folder"},
    {1038, K::StaticText, 0x50020000, 7, 338, 232, 11, "Ready"},
    {1050, K::ProgressBar, 0x50800000, 245, 340, 111, 11, nullptr},
    {1052, K::StaticText, 0x50020000, 258, 244, 49, 8, "Y Resolution"},
    {-1, K::StaticText, 0x50020000, 302, 260, 13, 8, "DPI"},
};

// Spin buttons and the edits they sit in.
const std::map<int, int> kBuddyOfSpin = {
    {1024, 1023}, {1044, 1042}, {1027, 1025}, {1029, 1028}, {1020, 1019}};

std::string Text(const char *text)
{
    return text ? text : "";
}

QString ShownText(const QWidget *widget)
{
    if (const auto *button = qobject_cast<const QAbstractButton *>(widget))
        return button->text();
    if (const auto *label = qobject_cast<const QLabel *>(widget))
        return label->text();
    if (const auto *group = qobject_cast<const QGroupBox *>(widget))
        return group->title();
    return QString();
}

TEST(MainDialogTemplateTest, TheTableHoldsEveryControlInTabOrderWithItsPlaceStyleAndText)
{
    const DialogTemplate &dialog = MainDialogTemplate();
    EXPECT_EQ(dialog.id, 102);
    EXPECT_EQ(dialog.style, 0x90CA00C0u);
    EXPECT_EQ(dialog.cx, 517);
    EXPECT_EQ(dialog.cy, 359);
    EXPECT_STREQ(dialog.caption, "Tessary - Pagemint v2.1");
    ASSERT_EQ(dialog.controls.size(), std::size(kExpected));
    for (size_t i = 0; i < dialog.controls.size(); ++i) {
        const ControlTemplate &got = dialog.controls[i];
        const Expected &want = kExpected[i];
        SCOPED_TRACE("row " + std::to_string(i + 1) + ", id " + std::to_string(want.id));
        EXPECT_EQ(got.id, want.id);
        EXPECT_EQ(got.kind, want.kind);
        EXPECT_EQ(got.style, want.style);
        EXPECT_EQ(std::tie(got.x, got.y, got.cx, got.cy),
                  std::tie(want.x, want.y, want.cx, want.cy));
        EXPECT_EQ(Text(got.text), Text(want.text));
    }
}

TEST(MainDialogTemplateTest, TheListsHoldTheOutputTypesAndBitCountsInOrder)
{
    const DialogTemplate &dialog = MainDialogTemplate();
    ASSERT_EQ(dialog.listData.size(), 2u);
    const auto entries = [](const ListInitData &list) {
        return std::vector<std::string>(list.entries.begin(), list.entries.end());
    };
    EXPECT_EQ(dialog.listData[0].id, 1035);
    EXPECT_EQ(entries(dialog.listData[0]),
              (std::vector<std::string>{"BMP", "EMF", "GIF", "JPG", "PCX", "PNG", "RAS", "TIF",
                                        "TGA", "WMF"}));
    EXPECT_EQ(dialog.listData[1].id, 1021);
    EXPECT_EQ(entries(dialog.listData[1]), (std::vector<std::string>{"Auto", "1", "4", "8", "24"}));
}

class BuiltMainDialogTest : public MainDialogFixture {
protected:
    QRect Place(const Expected &control) const
    {
        return dialog->MapDialogRect(QRect(control.x, control.y, control.cx, control.cy));
    }
    int SpinWidth() const { return dialog->MapDialogRect(QRect(0, 0, 11, 14)).width(); }
};

TEST_F(BuiltMainDialogTest, EachControlSitsWhereTheTableSaysWithItsText)
{
    EXPECT_EQ(dialog->size(), dialog->MapDialogRect(QRect(0, 0, 517, 359)).size());
    std::multiset<std::tuple<int, int, int, int, QString>> unnamedWanted;
    for (const Expected &control : kExpected) {
        SCOPED_TRACE("id " + std::to_string(control.id) + " " + Text(control.text));
        QRect want = Place(control);
        if (control.id == -1) {
            unnamedWanted.insert(
                {want.x(), want.y(), want.width(), want.height(), QString::fromUtf8(control.text)});
            continue;
        }
        const QWidget *widget = dialog->GetDlgItem(control.id);
        ASSERT_NE(widget, nullptr);
        if (control.kind == K::DropDownList) {
            want.setHeight(dialog->MapDialogRect(QRect(0, 0, 1, 14)).height());
        } else if (control.kind == K::SpinButton) {
            // A spin button places itself against its edit's right edge, whatever the table
            // gives as its own place.
            const Expected &buddy =
                *std::find_if(std::begin(kExpected), std::end(kExpected), [&](const Expected &e) {
                    return e.id == kBuddyOfSpin.at(control.id);
                });
            const QRect edit = Place(buddy);
            want = QRect(edit.right() + 1 - SpinWidth(), edit.y(), SpinWidth(), edit.height());
        } else if (control.kind == K::Edit &&
                   std::any_of(kBuddyOfSpin.begin(), kBuddyOfSpin.end(),
                               [&](const auto &pair) { return pair.second == control.id; })) {
            want.setWidth(want.width() - SpinWidth());
        }
        EXPECT_EQ(RectInWindow(widget), want);
        if (control.text != nullptr) {
            EXPECT_EQ(ShownText(widget), QString::fromUtf8(control.text));
        }
        // The compression buttons are one tab stop, the checked one, which the template's
        // styles cannot say.
        const bool compression = std::any_of(
            kCompressionTable.begin(), kCompressionTable.end(),
            [&](const CompressionEntry &entry) { return entry.controlId == control.id; });
        const bool tabStop = compression ? static_cast<const QAbstractButton *>(widget)->isChecked()
                                         : bool(control.style & 0x00010000);
        EXPECT_EQ(bool(widget->focusPolicy() & Qt::TabFocus), tabStop);
    }

    std::multiset<std::tuple<int, int, int, int, QString>> unnamedBuilt;
    for (const QWidget *widget : dialog->findChildren<QWidget *>()) {
        if (widget->property("dlgId").isValid() && widget->property("dlgId").toInt() == -1) {
            const QRect r = RectInWindow(widget);
            unnamedBuilt.insert({r.x(), r.y(), r.width(), r.height(), ShownText(widget)});
        }
    }
    EXPECT_EQ(unnamedBuilt, unnamedWanted);
}

TEST_F(BuiltMainDialogTest, TabVisitsTheTabStopsInTableOrderAndWrapsAround)
{
    // The checked compression button is a stop where the seven stand.
    std::vector<QWidget *> stops;
    for (const Expected &control : kExpected) {
        const auto *radio = qobject_cast<QRadioButton *>(dialog->GetDlgItem(control.id));
        if (control.style & 0x00010000 || (radio && radio->isChecked()))
            stops.push_back(dialog->GetDlgItem(control.id));
    }
    ASSERT_EQ(stops.size(), 21u);
    // Every control is enabled for the walk, as Tab passes over disabled ones.
    for (QWidget *stop : stops)
        stop->setEnabled(true);
    stops.front()->setFocus(Qt::TabFocusReason);
    for (size_t i = 1; i <= stops.size(); ++i) {
        QTest::keyClick(dialog->focusWidget(), Qt::Key_Tab);
        QWidget *expected = stops[i % stops.size()];
        QWidget *focused = dialog->focusWidget();
        // A compound control takes the focus through its inner widget.
        while (focused && focused != expected && focused->property("dlgId").isNull())
            focused = focused->parentWidget();
        EXPECT_EQ(focused, expected)
            << "after tab " << i << " expected id " << expected->property("dlgId").toInt()
            << ", got " << (focused ? focused->property("dlgId").toInt() : 0);
    }
}

} // namespace
