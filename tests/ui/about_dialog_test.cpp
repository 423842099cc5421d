// SPDX-License-Identifier: AGPL-3.0-or-later
#include "platform/message_box.h"
#include "ui/about_dialog.h"
#include "ui/main_dialog.h"
#include "ui/main_dialog_template.h"

#include <QApplication>
#include <QFontMetrics>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

// Runs action on the About box once its modal loop shows it.
void WhenAboutShown(std::function<void(AboutDialog *)> action)
{
    auto *timer = new QTimer;
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, action] {
        auto *box = qobject_cast<AboutDialog *>(QApplication::activeModalWidget());
        if (!box || !box->isVisible())
            return;
        timer->stop();
        timer->deleteLater();
        action(box);
    });
    timer->start();
}

QStringList LabelTexts(const AboutDialog &box)
{
    QStringList texts;
    for (const QLabel *label : box.findChildren<QLabel *>())
        texts << label->text();
    return texts;
}

void Click(QWidget *widget)
{
    const QPointF inside(2, 2);
    for (QEvent::Type type :
         {QEvent::MouseMove, QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
        const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
        QMouseEvent event(type, inside, widget->mapToGlobal(inside), button,
                          type == QEvent::MouseButtonPress ? button : Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(widget, &event);
    }
}

TEST(AboutDialogTest, ShowsProductVersionIconAndCopyright)
{
    AboutDialog box;
    box.Create();
    EXPECT_EQ(box.windowTitle(), "Pagemint");
    const QStringList texts = LabelTexts(box);
    EXPECT_TRUE(texts.contains("Pagemint v2.1"));
    EXPECT_TRUE(std::any_of(texts.begin(), texts.end(),
                            [](const QString &text) { return text.startsWith("Copyright"); }));
    const QLabel *icon = nullptr;
    for (const QLabel *label : box.findChildren<QLabel *>()) {
        if (!label->pixmap().isNull())
            icon = label;
    }
    ASSERT_NE(icon, nullptr);
    EXPECT_EQ(icon->pos(), box.MapDialogRect(QRect(11, 17, 20, 20)).topLeft());
    EXPECT_EQ(box.size(), box.MapDialogRect(QRect(0, 0, 265, 101)).size());
}

TEST(AboutDialogTest, LinksGetTheirTargetsAndFitTheirText)
{
    AboutDialog box;
    box.Create();
    HyperLinkLabel &web = box.WebLink();
    HyperLinkLabel &mail = box.MailLink();
    ASSERT_EQ(web.Window(), box.GetDlgItem(AboutControl::kWebLink));
    ASSERT_EQ(mail.Window(), box.GetDlgItem(AboutControl::kMailLink));

    EXPECT_EQ(web.Window()->text(), "www.example.com/pagemint");
    EXPECT_EQ(web.LinkTarget(), "https://www.example.com/pagemint");
    EXPECT_EQ(web.Window()->toolTip(), "https://www.example.com/pagemint");
    // The mail label shows "Email:" and the address but opens and shows the mailto: URL.
    EXPECT_EQ(mail.Window()->text(), "Email:pagemint@example.com");
    EXPECT_EQ(mail.LinkTarget(), "mailto:pagemint@example.com");
    EXPECT_EQ(mail.Window()->toolTip(), "mailto:pagemint@example.com");

    for (HyperLinkLabel *link : {&web, &mail}) {
        SCOPED_TRACE(link->Window()->text().toStdString());
        EXPECT_FALSE(link->IsUnderlined());
        EXPECT_FALSE(link->Window()->font().underline());
        EXPECT_FALSE(link->IsVisited());
        EXPECT_TRUE(link->Style() & StaticStyle::CenterImage);
        const QRect cell = box.MapDialogRect(QRect(37, link == &web ? 41 : 56, 193, 8));
        const QFontMetrics metrics(link->Window()->font());
        const QRect geometry = link->Window()->geometry();
        EXPECT_EQ(geometry.left(), cell.left());
        EXPECT_EQ(geometry.width(), metrics.horizontalAdvance(link->Window()->text()));
        EXPECT_LT(geometry.width(), cell.width());
        // Centred in its old height: whatever the halves, it stays inside the old cell.
        EXPECT_LE(std::abs((geometry.top() - cell.top()) - (cell.bottom() - geometry.bottom())), 1);
    }
}

TEST(AboutDialogTest, ClickOpensTheTargetAndVisitedIsForgottenOnReopening)
{
    QStringList opened;
    auto recordingLaunchers = [&opened] {
        return HyperLinkLabel::Launchers{[&opened](const QString &target) {
                                             opened << target;
                                             return 42;
                                         },
                                         [] { return std::optional<QString>(); },
                                         [](const QStringList &) { return 0; }};
    };
    {
        AboutDialog box;
        box.Create();
        box.show();
        box.MailLink().SetLaunchers(recordingLaunchers());
        box.WebLink().SetLaunchers(recordingLaunchers());
        Click(box.MailLink().Window());
        Click(box.WebLink().Window());
        EXPECT_TRUE(box.MailLink().IsVisited());
        EXPECT_TRUE(box.WebLink().IsVisited());
    }
    EXPECT_EQ(opened,
              QStringList({"mailto:pagemint@example.com", "https://www.example.com/pagemint"}));
    AboutDialog again;
    again.Create();
    EXPECT_FALSE(again.MailLink().IsVisited());
    EXPECT_FALSE(again.WebLink().IsVisited());
}

TEST(AboutDialogTest, OkAndEscapeEndTheBox)
{
    AboutDialog box;
    WhenAboutShown([](AboutDialog *shown) {
        auto *ok = shown->Item<QPushButton>(IDOK);
        ASSERT_NE(ok, nullptr);
        EXPECT_EQ(ok->text(), "OK");
        ok->click();
    });
    EXPECT_EQ(box.DoModal(), IDOK);

    AboutDialog other;
    WhenAboutShown([](AboutDialog *shown) { QTest::keyClick(shown, Qt::Key_Escape); });
    EXPECT_EQ(other.DoModal(), IDCANCEL);
}

TEST(AboutDialogTest, AboutButtonOfTheMainWindowOpensTheBox)
{
    MainDialog window;
    window.Create();
    bool opened = false;
    WhenAboutShown([&](AboutDialog *shown) {
        opened = true;
        EXPECT_EQ(shown->parentWidget(), &window);
        shown->Item<QPushButton>(IDOK)->click();
    });
    window.Item<QPushButton>(MainControl::kAbout)->click();
    EXPECT_TRUE(opened);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

} // namespace
