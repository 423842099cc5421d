// SPDX-License-Identifier: AGPL-3.0-or-later
#include "platform/message_box.h"

#include <QAbstractButton>
#include <QApplication>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

TEST(MessageBox, TitleIsTheExecutableNameWithoutFolder)
{
    EXPECT_EQ(ApplicationTitle(), "platform_tests");
}

TEST(MessageBox, RealBoxCarriesTitleTextIconAndButtonsUntilAHandlerTakesOver)
{
    QString title, text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QTimer::singleShot(0, [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        title = box->windowTitle();
        text = box->text();
        icon = box->icon();
        box->button(QMessageBox::Ok)->click();
    });
    EXPECT_EQ(ShowAppMessage(nullptr, "Hello"), QMessageBox::Ok);
    EXPECT_EQ(title, "platform_tests");
    EXPECT_EQ(text, "Hello");
    EXPECT_EQ(icon, QMessageBox::Warning);

    QStringList seen;
    SetMessageBoxHandlerForTesting([&](QWidget *, const QString &message, QMessageBox::Icon) {
        seen << message;
        return int(QMessageBox::Cancel);
    });
    EXPECT_EQ(ShowAppMessage(nullptr, "Routed"), QMessageBox::Cancel);
    SetMessageBoxHandlerForTesting({});
    EXPECT_EQ(seen, QStringList{"Routed"});
}

} // namespace
