// SPDX-License-Identifier: AGPL-3.0-or-later
#include "controls/hyper_link_label.h"
#include "platform/message_box.h"
#include "platform/shell_open.h"

#include <QAccessible>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QTemporaryDir>
#include <QTest>
#include <QWidget>
#include <gtest/gtest.h>

namespace {

struct MessageRow {
    int code;
    const char *reason;
};

class OpenErrorMessageTest : public ::testing::TestWithParam<MessageRow> {};

TEST_P(OpenErrorMessageTest, EveryCodeHasItsTextAfterThePrefix)
{
    const MessageRow row = GetParam();
    EXPECT_EQ(HyperLinkLabel::OpenErrorMessage(row.code).toStdString(),
              std::string("Unable to open hyperlink:\n\n") + row.reason);
}

INSTANTIATE_TEST_SUITE_P(
    Codes, OpenErrorMessageTest,
    ::testing::Values(
        MessageRow{0, "The operating system is out\nof memory or resources."},
        MessageRow{2, "The specified file was not found."},
        MessageRow{3, "The specified path was not found."},
        MessageRow{5, "The operating system denied\naccess to the specified file."},
        MessageRow{8, "There was not enough memory to complete the operation."},
        MessageRow{11, "The .EXE file is invalid\n(non-Win32 .EXE or error in .EXE image)."},
        MessageRow{26, "A sharing violation occurred. "},
        MessageRow{27, "The filename association is\nincomplete or invalid."},
        MessageRow{28,
                   "The DDE transaction could not\nbe completed because the request timed out."},
        MessageRow{29, "The DDE transaction failed."},
        MessageRow{30, "The DDE transaction could not\nbe completed because other DDE "
                       "transactions\nwere being processed."},
        MessageRow{31, "There is no application associated\nwith the given filename extension."},
        MessageRow{32, "The specified dynamic-link library was not found."},
        MessageRow{1, "Unknown Error (1) occurred."}, MessageRow{4, "Unknown Error (4) occurred."},
        MessageRow{33, "Unknown Error (33) occurred."},
        MessageRow{-7, "Unknown Error (-7) occurred."}));

// A parent window with one text control at a known place, and a label to attach to it.
class LabelFixture {
public:
    LabelFixture(const QString &text, uint32_t style, int width = 200, int height = 30)
        : control(new QLabel(text, &parent))
    {
        parent.resize(400, 200);
        control->setGeometry(10, 20, width, height);
        parent.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&parent));
        style_ = style;
    }
    void Attach() { label.SubclassWindow(control, style_); }
    QSize TextSize() const
    {
        const QFontMetrics metrics(control->font());
        return {metrics.horizontalAdvance(control->text()), metrics.height()};
    }

    QWidget parent;
    QLabel *control;
    HyperLinkLabel label;
    uint32_t style_;
};

struct FitRow {
    const char *name;
    uint32_t style;
    int widthOverText; // the control's width minus the text's
    int heightOverText;
    int expectedLeftShift;
    int expectedWidthOverText;
    int expectedTopShift;
    int expectedHeightOverText;
};

class FitToTextTest : public ::testing::TestWithParam<FitRow> {};

TEST_P(FitToTextTest, FollowsAlignmentWithTruncatedHalves)
{
    const FitRow row = GetParam();
    LabelFixture probe(QStringLiteral("www.example.com/pagemint"), 0);
    QFont underlined = probe.control->font();
    underlined.setUnderline(true);
    const QFontMetrics metrics(underlined);
    const int cx = metrics.horizontalAdvance(probe.control->text());
    const int cy = metrics.height();

    LabelFixture fixture(QStringLiteral("www.example.com/pagemint"), row.style,
                         cx + row.widthOverText, cy + row.heightOverText);
    fixture.Attach();
    const QRect after = fixture.control->geometry();
    EXPECT_EQ(after.left(), 10 + row.expectedLeftShift);
    EXPECT_EQ(after.width(), cx + row.expectedWidthOverText);
    EXPECT_EQ(after.top(), 20 + row.expectedTopShift);
    EXPECT_EQ(after.height(), cy + row.expectedHeightOverText);
}

INSTANTIATE_TEST_SUITE_P(
    Alignments, FitToTextTest,
    ::testing::Values(
        // Left keeps its left edge; without vertical centring the top stays.
        FitRow{"LeftLarger", 0, 40, 9, 0, 0, 0, 0}, FitRow{"LeftSmaller", 0, -12, -3, 0, 0, 0, 0},
        // Right keeps its right edge.
        FitRow{"RightOdd", StaticStyle::Right, 7, 0, 7, 0, 0, 0},
        FitRow{"RightSmaller", StaticStyle::Right, -5, 0, -5, 0, 0, 0},
        // Centred: the same d on both sides, truncated toward zero.
        FitRow{"CentredEven", StaticStyle::Center, 10, 0, 5, 0, 0, 0},
        FitRow{"CentredOddLarger", StaticStyle::Center, 7, 0, 3, 1, 0, 0},
        FitRow{"CentredOddSmaller", StaticStyle::Center, -7, 0, -3, -1, 0, 0},
        // Vertically centred, as the About box's links are.
        FitRow{"CentreImageOddLarger", StaticStyle::CenterImage, 20, 5, 0, 0, 2, 1},
        FitRow{"CentreImageEven", StaticStyle::CenterImage, 20, 4, 0, 0, 2, 0},
        FitRow{"CentreImageOddSmaller", StaticStyle::CenterImage, 20, -3, 0, 0, -1, -1}),
    [](const ::testing::TestParamInfo<FitRow> &info) { return info.param.name; });

TEST(HyperLinkLabelTest, AttachingFillsTextAndTargetFromEachOther)
{
    LabelFixture textOnly(QStringLiteral("https://www.example.com/"), 0);
    textOnly.Attach();
    EXPECT_EQ(textOnly.label.LinkTarget(), "https://www.example.com/");
    EXPECT_EQ(textOnly.control->toolTip(), "https://www.example.com/");
    EXPECT_TRUE(textOnly.control->font().underline());
    EXPECT_EQ(textOnly.control->cursor().shape(), Qt::PointingHandCursor);
    EXPECT_TRUE(textOnly.label.Style() & StaticStyle::Notify);

    LabelFixture targetOnly(QString(), 0);
    targetOnly.label.SetLinkTarget(QStringLiteral("mailto:a@example.com"));
    targetOnly.Attach();
    EXPECT_EQ(targetOnly.control->text(), "mailto:a@example.com");
    EXPECT_EQ(targetOnly.control->width(), targetOnly.TextSize().width());
}

TEST(HyperLinkLabelTest, NewTargetChangesTooltipButNotTextOrSize)
{
    LabelFixture fixture(QStringLiteral("Email:a@example.com"), StaticStyle::CenterImage);
    fixture.Attach();
    const QRect before = fixture.control->geometry();
    fixture.label.SetLinkTarget(QStringLiteral("mailto:a@example.com"));
    fixture.label.SetUnderlined(false);
    EXPECT_EQ(fixture.control->text(), "Email:a@example.com");
    EXPECT_EQ(fixture.control->toolTip(), "mailto:a@example.com");
    EXPECT_FALSE(fixture.control->font().underline());
    EXPECT_EQ(fixture.control->geometry().left(), before.left());
    EXPECT_EQ(fixture.control->geometry().top(), before.top());
}

void Send(QWidget *widget, QEvent::Type type, QPoint point, Qt::MouseButton button = Qt::NoButton)
{
    QMouseEvent event(type, QPointF(point), QPointF(widget->mapToGlobal(point)), button,
                      type == QEvent::MouseButtonPress ? button : Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(widget, &event);
}

void SendEnter(QWidget *widget, QPoint point)
{
    const QPointF local(point);
    QEnterEvent event(local, local, QPointF(widget->mapToGlobal(point)));
    QApplication::sendEvent(widget, &event);
}

void SendLeave(QWidget *widget)
{
    QEvent event(QEvent::Leave);
    QApplication::sendEvent(widget, &event);
}

// Some platforms refuse to let a window hold the mouse outside popups: the hover follows the
// label's own enter and leave and never holds it.
TEST(HyperLinkLabelTest, HoverFollowsEnterAndLeaveWithoutHoldingTheMouse)
{
    LabelFixture fixture(QStringLiteral("link"), 0);
    fixture.Attach();
    fixture.label.hoverColour = QColor(1, 2, 3);
    EXPECT_EQ(fixture.label.TextColour(), fixture.label.linkColour);

    SendEnter(fixture.control, {2, 2});
    EXPECT_TRUE(fixture.label.IsOverControl());
    EXPECT_EQ(QWidget::mouseGrabber(), nullptr);
    EXPECT_EQ(fixture.control->palette().color(QPalette::WindowText), QColor(1, 2, 3));

    Send(fixture.control, QEvent::MouseMove, {3, 3});
    EXPECT_TRUE(fixture.label.IsOverControl());

    // Leaving the window straight from the link puts the link colour back.
    fixture.label.MarkVisited(true);
    SendLeave(fixture.control);
    EXPECT_FALSE(fixture.label.IsOverControl());
    EXPECT_EQ(fixture.control->palette().color(QPalette::WindowText), fixture.label.visitedColour);

    // A move seen inside without an enter (the pointer was there when the label appeared).
    Send(fixture.control, QEvent::MouseMove, {1, 1});
    EXPECT_TRUE(fixture.label.IsOverControl());
    EXPECT_EQ(QWidget::mouseGrabber(), nullptr);
    fixture.control->hide();
    EXPECT_FALSE(fixture.label.IsOverControl());
}

struct ColourRow {
    const char *name;
    bool over;
    bool visited;
    QColor expected;
};

class LabelColourTest : public ::testing::TestWithParam<ColourRow> {};

TEST_P(LabelColourTest, HoverBeatsVisitedBeatsLink)
{
    const ColourRow row = GetParam();
    LabelFixture fixture(QStringLiteral("link"), 0);
    fixture.Attach();
    fixture.label.linkColour = QColor(1, 1, 1);
    fixture.label.visitedColour = QColor(2, 2, 2);
    fixture.label.hoverColour = QColor(3, 3, 3);
    fixture.label.MarkVisited(row.visited);
    if (row.over)
        Send(fixture.control, QEvent::MouseMove, {2, 2});
    ASSERT_EQ(fixture.label.IsOverControl(), row.over);
    EXPECT_EQ(fixture.label.TextColour(), row.expected);
    // The colour chosen is the one the text is painted with.
    fixture.control->repaint();
    EXPECT_EQ(fixture.control->palette().color(QPalette::WindowText), row.expected);
}

INSTANTIATE_TEST_SUITE_P(
    States, LabelColourTest,
    ::testing::Values(ColourRow{"Link", false, false, QColor(1, 1, 1)},
                      ColourRow{"Visited", false, true, QColor(2, 2, 2)},
                      ColourRow{"Hover", true, false, QColor(3, 3, 3)},
                      ColourRow{"HoverOverVisited", true, true, QColor(3, 3, 3)}),
    [](const ::testing::TestParamInfo<ColourRow> &info) { return info.param.name; });

class LinkClickTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        SetMessageBoxHandlerForTesting(
            [this](QWidget *, const QString &text, QMessageBox::Icon icon) {
                messages << text;
                EXPECT_EQ(icon, QMessageBox::Warning);
                // The box must be able to take the pointer.
                EXPECT_EQ(QWidget::mouseGrabber(), nullptr);
                return int(QMessageBox::Ok);
            });
        fixture.Attach();
        fixture.label.SetLaunchers({[this](const QString &target) {
                                        shellTargets << target;
                                        return shellCode;
                                    },
                                    [this] { return browserCommand; },
                                    [this](const QStringList &argv) {
                                        started << argv;
                                        return startCode;
                                    }});
    }
    void TearDown() override { SetMessageBoxHandlerForTesting({}); }

    void Click()
    {
        Send(fixture.control, QEvent::MouseMove, {1, 1});
        Send(fixture.control, QEvent::MouseButtonPress, {1, 1}, Qt::LeftButton);
        Send(fixture.control, QEvent::MouseButtonRelease, {1, 1}, Qt::LeftButton);
    }

    LabelFixture fixture{QStringLiteral("https://www.example.com/pagemint"), 0};
    int shellCode = LaunchCode::NoAssociation;
    std::optional<QString> browserCommand;
    int startCode = LaunchCode::Success;
    QStringList shellTargets;
    QList<QStringList> started;
    QStringList messages;
};

TEST_F(LinkClickTest, FailedClickReportsAndClearsVisited)
{
    fixture.label.MarkVisited(true);
    Click();
    EXPECT_EQ(shellTargets, QStringList{"https://www.example.com/pagemint"});
    EXPECT_TRUE(started.isEmpty());
    EXPECT_FALSE(fixture.label.IsVisited());
    EXPECT_EQ(messages, QStringList{"Unable to open hyperlink:\n\nThere is no application "
                                    "associated\nwith the given filename extension."});
}

TEST_F(LinkClickTest, AClickLandingFromOutsideWithoutAMoveOpensTheLink)
{
    shellCode = 42;
    Send(fixture.control, QEvent::MouseButtonPress, {1, 1}, Qt::LeftButton);
    Send(fixture.control, QEvent::MouseButtonRelease, {1, 1}, Qt::LeftButton);
    EXPECT_EQ(shellTargets, QStringList{"https://www.example.com/pagemint"});
}

struct KeyRow {
    const char *name;
    Qt::Key key;
    Qt::KeyboardModifiers modifiers;
    bool autoRepeat;
    bool opens;
};

class LinkKeyTest : public LinkClickTest, public ::testing::WithParamInterface<KeyRow> {};

TEST_P(LinkKeyTest, EnterAndSpaceFollowTheFocusedLinkOnce)
{
    const KeyRow row = GetParam();
    shellCode = 42;
    EXPECT_EQ(fixture.control->focusPolicy(), Qt::StrongFocus);
    QKeyEvent press(QEvent::KeyPress, row.key, row.modifiers, QString(), row.autoRepeat);
    QApplication::sendEvent(fixture.control, &press);
    EXPECT_EQ(shellTargets.size(), row.opens ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(
    Keys, LinkKeyTest,
    ::testing::Values(KeyRow{"Return", Qt::Key_Return, Qt::NoModifier, false, true},
                      KeyRow{"KeypadEnter", Qt::Key_Enter, Qt::KeypadModifier, false, true},
                      KeyRow{"Space", Qt::Key_Space, Qt::NoModifier, false, true},
                      KeyRow{"HeldSpaceRepeats", Qt::Key_Space, Qt::NoModifier, true, false},
                      KeyRow{"CtrlReturn", Qt::Key_Return, Qt::ControlModifier, false, false},
                      KeyRow{"Letter", Qt::Key_A, Qt::NoModifier, false, false}),
    [](const ::testing::TestParamInfo<KeyRow> &info) { return info.param.name; });

TEST_F(LinkClickTest, ScreenReadersSeeALinkWhosePressActionOpensIt)
{
    shellCode = 42;
    QAccessibleInterface *link = QAccessible::queryAccessibleInterface(fixture.control);
    ASSERT_NE(link, nullptr);
    EXPECT_EQ(link->role(), QAccessible::Link);
    EXPECT_EQ(link->text(QAccessible::Name), "https://www.example.com/pagemint");
    EXPECT_TRUE(link->state().focusable);
    EXPECT_TRUE(link->state().linked);
    EXPECT_FALSE(link->state().traversed);
    QAccessibleActionInterface *actions = link->actionInterface();
    ASSERT_NE(actions, nullptr);
    ASSERT_TRUE(actions->actionNames().contains(QAccessibleActionInterface::pressAction()));
    actions->doAction(QAccessibleActionInterface::pressAction());
    EXPECT_EQ(shellTargets, QStringList{"https://www.example.com/pagemint"});
    EXPECT_TRUE(link->state().traversed);
}

TEST(HyperLinkLabelTest, ALabelLeftByItsLinkIsAPlainLabelAgain)
{
    QWidget parent;
    auto *control = new QLabel(QStringLiteral("text"), &parent);
    {
        HyperLinkLabel label;
        label.SubclassWindow(control, 0);
        EXPECT_EQ(QAccessible::queryAccessibleInterface(control)->role(), QAccessible::Link);
    }
    EXPECT_NE(QAccessible::queryAccessibleInterface(control)->role(), QAccessible::Link);
}

TEST_F(LinkClickTest, SuccessfulShellOpenMarksVisited)
{
    shellCode = 42;
    browserCommand = QStringLiteral("never-used %u");
    Click();
    EXPECT_TRUE(fixture.label.IsVisited());
    EXPECT_TRUE(started.isEmpty());
    EXPECT_TRUE(messages.isEmpty());
    EXPECT_EQ(fixture.label.TextColour(), fixture.label.visitedColour);
}

TEST_F(LinkClickTest, BrowserFallbackGetsTheTargetAsItsOwnArgument)
{
    browserCommand = QStringLiteral("\"/opt/web view/run\" --new \"%u\" --tail");
    fixture.label.SetLinkTarget(QStringLiteral("https://www.example.com/a b"));
    Click();
    ASSERT_EQ(started.size(), 1);
    EXPECT_EQ(started[0],
              QStringList({"/opt/web view/run", "--new", "https://www.example.com/a b"}));
    EXPECT_TRUE(fixture.label.IsVisited());

    startCode = LaunchCode::FileNotFound;
    Click();
    EXPECT_FALSE(fixture.label.IsVisited());
    EXPECT_EQ(messages,
              QStringList{"Unable to open hyperlink:\n\nThe specified file was not found."});
}

TEST_F(LinkClickTest, CommandLineMustFitTheFallbackBuffer)
{
    browserCommand = QStringLiteral("web \"%u\"");
    // "web " + blank + target: 5 characters before the target, 519 with the target fits.
    const QString fits = QStringLiteral("https://x/") + QString(519 - 5 - 10, 'a');
    EXPECT_GT(fixture.label.OpenTarget(fits), 32);
    ASSERT_EQ(started.size(), 1);
    EXPECT_EQ(started[0].last(), fits);

    EXPECT_EQ(fixture.label.OpenTarget(fits + 'a'), LaunchCode::OutOfResources);
    EXPECT_EQ(started.size(), 1);
}

TEST_F(LinkClickTest, UnusableBrowserCommandIsAnIncompleteAssociation)
{
    browserCommand = QStringLiteral("\"unclosed %u");
    EXPECT_EQ(fixture.label.OpenTarget(QStringLiteral("https://x/")),
              LaunchCode::AssociationIncomplete);
    browserCommand = QStringLiteral("%u");
    EXPECT_EQ(fixture.label.OpenTarget(QStringLiteral("https://x/")),
              LaunchCode::AssociationIncomplete);
    EXPECT_TRUE(started.isEmpty());
}

// The label with the desktop's own launchers: a failing opener on PATH and the desktop's
// association lists in a folder of the test's own.
class DesktopLinkTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(root.isValid());
        for (const char *name : {"PATH", "XDG_CONFIG_HOME", "XDG_CONFIG_DIRS", "XDG_DATA_HOME",
                                 "XDG_DATA_DIRS", "XDG_CURRENT_DESKTOP"})
            saved.append({name, qgetenv(name)});
        qputenv("PATH", QFile::encodeName(root.filePath("bin")) + ":/usr/bin:/bin");
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(root.filePath("config")));
        qputenv("XDG_CONFIG_DIRS", QFile::encodeName(root.filePath("etc")));
        qputenv("XDG_DATA_HOME", QFile::encodeName(root.filePath("data")));
        qputenv("XDG_DATA_DIRS", QFile::encodeName(root.filePath("share")));
        qunsetenv("XDG_CURRENT_DESKTOP");
        // The opener finds no handler for any URL, as on a desktop without a mail program.
        WriteExecutable("bin/xdg-open", "#!/bin/sh\necho \"no method for $1\" >&2\nexit 3\n");
        SetMessageBoxHandlerForTesting([this](QWidget *, const QString &text, QMessageBox::Icon) {
            messages << text;
            return int(QMessageBox::Ok);
        });
    }
    void TearDown() override
    {
        SetMessageBoxHandlerForTesting({});
        for (const auto &[name, value] : saved)
            qputenv(name, value);
    }

    void Write(const QString &relative, const QByteArray &content)
    {
        const QString path = root.filePath(relative);
        ASSERT_TRUE(QDir().mkpath(QFileInfo(path).absolutePath()));
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(content);
    }
    void WriteExecutable(const QString &relative, const QByteArray &content)
    {
        Write(relative, content);
        ASSERT_TRUE(QFile::setPermissions(root.filePath(relative),
                                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    }
    void Click()
    {
        Send(fixture.control, QEvent::MouseMove, {1, 1});
        Send(fixture.control, QEvent::MouseButtonPress, {1, 1}, Qt::LeftButton);
        Send(fixture.control, QEvent::MouseButtonRelease, {1, 1}, Qt::LeftButton);
    }

    QTemporaryDir root;
    QList<std::pair<const char *, QByteArray>> saved;
    LabelFixture fixture{QStringLiteral("Email:pagemint@example.com"), 0};
    QStringList messages;
};

TEST_F(DesktopLinkTest, FailingOpenerWithoutBrowserBeepsAndExplains)
{
    fixture.Attach();
    fixture.label.SetLinkTarget(QStringLiteral("mailto:pagemint@example.com"));
    Click();
    EXPECT_FALSE(fixture.label.IsVisited());
    EXPECT_EQ(messages, QStringList{"Unable to open hyperlink:\n\nThere is no application "
                                    "associated\nwith the given filename extension."});
}

TEST_F(DesktopLinkTest, FailingOpenerFallsBackToTheDefaultBrowser)
{
    const QString seen = root.filePath("seen");
    WriteExecutable("bin/web-view", "#!/bin/sh\nprintf '%s' \"$1\" > \"" + QFile::encodeName(seen) +
                                        ".tmp\"\nmv \"" + QFile::encodeName(seen) + ".tmp\" \"" +
                                        QFile::encodeName(seen) + "\"\n");
    Write("share/applications/web-view.desktop",
          "[Desktop Entry]\nType=Application\nName=Web\nExec=web-view \"%u\"\n");
    Write("config/mimeapps.list", "[Default Applications]\ntext/html=web-view.desktop\n");
    fixture.Attach();
    fixture.label.SetLinkTarget(QStringLiteral("mailto:pagemint@example.com"));
    Click();
    EXPECT_TRUE(fixture.label.IsVisited());
    EXPECT_TRUE(messages.isEmpty());
    EXPECT_TRUE(QTest::qWaitFor([&] { return QFileInfo::exists(seen); }, 10000));
    QFile result(seen);
    ASSERT_TRUE(result.open(QIODevice::ReadOnly));
    EXPECT_EQ(result.readAll(), "mailto:pagemint@example.com");
}

} // namespace
