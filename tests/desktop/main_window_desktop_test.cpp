// SPDX-License-Identifier: AGPL-3.0-or-later
// The front-end on a desktop of its own (Xvfb with openbox), driven with real X input.
#include "desktop_session.h"
#include "wayland_desktop.h"

#include "ui/about_dialog.h"
#include "ui/main_dialog_template.h"

#include <QColor>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QRegularExpression>
#include <QTest>
#include <gtest/gtest.h>

namespace {

using namespace desktop;
using namespace MainControl;

constexpr int kWindowWait = 10000;

class DesktopTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(session.IsValid());
        ASSERT_TRUE(QDir().mkpath(session.Path("out")));
    }

    // Starts the front-end and drops the documents on its list from another program.
    void StartWithRows(const QStringList &names)
    {
        QStringList files;
        for (const QString &name : names)
            files << session.MakePdf(QStringLiteral("in/") + name);
        ASSERT_TRUE(session.Start());
        const QString action = session.DropFromOtherProcess(files);
        ASSERT_TRUE(action == "copy" || action == "move") << action.toStdString();
        // Each dropped file is opened and counted before its row shows.
        QTest::qWait(500);
    }

    void TypeDestination(const QString &text)
    {
        Click(session.MainControlCentre(kDestination));
        Key(QStringLiteral("ctrl+a BackSpace"));
        Type(text);
    }

    static QString Argument(const QStringList &call, const QString &option)
    {
        const qsizetype at = call.indexOf(option);
        return at >= 0 && at + 1 < call.size() ? call[at + 1] : QString();
    }

    Session session;
};

TEST_F(DesktopTest, DropFromAnotherProgramIsACopyAndItsFileIsConverted)
{
    const QString pdf = session.MakePdf(QStringLiteral("in/report.pdf"));
    ASSERT_TRUE(session.Start());
    // The drag source proposes Move, as a file manager does while Shift is held; a move would
    // invite it to delete the user's document.
    EXPECT_EQ(session.DropFromOtherProcess({pdf}), "copy");
    QTest::qWait(500);
    Click(session.MainControlCentre(kConvert));
    ASSERT_TRUE(session.WaitForEngineCalls(1, kWindowWait));
    EXPECT_EQ(Argument(session.EngineCalls()[0], "-i"), pdf);
    EXPECT_TRUE(QFile::exists(pdf));
}

TEST_F(DesktopTest, DialogKeysDuringARunReachTheEditWithoutActingOnTheDialog)
{
    StartWithRows({"a.pdf", "b.pdf", "c.pdf"});
    TypeDestination(session.Path("out"));
    session.SetEngineDelay(2.5);
    Click(session.MainControlCentre(kConvert));
    ASSERT_TRUE(session.WaitForEngineCalls(1, kWindowWait));
    // Focus is in the destination field. These keys wait while the first engine runs and are
    // handled before the second starts; the third row is built after them.
    Click(session.MainControlCentre(kDestination));
    Key(QStringLiteral("End"));
    Type(QStringLiteral("Q"));
    Key(QStringLiteral("Tab"));
    Type(QStringLiteral("R"));
    Key(QStringLiteral("Return Escape KP_Enter"));
    ASSERT_TRUE(session.WaitForEngineCalls(3, kWindowWait));
    const auto calls = session.EngineCalls();
    EXPECT_TRUE(Argument(calls[2], "-o").startsWith(session.Path("outQR") + "/"))
        << Argument(calls[2], "-o").toStdString();

    // The run ends with its window still there.
    QTest::qWait(2500);
    EXPECT_TRUE(session.IsRunning());
    EXPECT_EQ(VisibleWindows(session.Pid(), QStringLiteral("Pagemint v")).size(), 1);

    // Idle, Esc ends the dialog and the program as before.
    Click(session.MainControlCentre(kDestination));
    Key(QStringLiteral("Escape"));
    EXPECT_TRUE(session.WaitForExit(kWindowWait));
}

TEST_F(DesktopTest, SpinArrowHeldAcrossAnEngineWaitStepsOnlyOnce)
{
    StartWithRows({"a.pdf", "b.pdf", "c.pdf"});
    TypeDestination(session.Path("out"));
    session.SetEngineDelay(2);
    Click(session.MainControlCentre(kConvert));
    ASSERT_TRUE(session.WaitForEngineCalls(1, kWindowWait));
    // Pressed while the first engine runs, so the press is handled just before the second
    // starts; released while the second runs.
    const QRect spin = MainControlRect(kXResolutionSpin);
    const QPoint origin = session.MainControlCentre(kXResolutionSpin) - spin.center();
    MouseDown(origin + QPoint(spin.center().x(), spin.top() + spin.height() / 4));
    ASSERT_TRUE(session.WaitForEngineCalls(2, kWindowWait));
    QTest::qWait(300);
    MouseUp();
    ASSERT_TRUE(session.WaitForEngineCalls(3, kWindowWait));
    QTest::qWait(2500);

    // The next run reads the resolution the spin left.
    session.SetEngineDelay(0);
    Click(session.MainControlCentre(kConvert));
    ASSERT_TRUE(session.WaitForEngineCalls(6, kWindowWait));
    const QString resolution = Argument(session.EngineCalls()[5], "-r");
    // The press steps once, from 101 to 102. The release is handled at the next dispatch, where
    // at most one repeat that fell due during the wait may still run, by at most the step of an
    // arrow held that long (5). Repeating through the wait would have gone on every 80 ms.
    const int x = resolution.section('x', 0, 0).toInt();
    EXPECT_GE(x, 102) << resolution.toStdString();
    EXPECT_LE(x, 107) << resolution.toStdString();
}

TEST_F(DesktopTest, CloseButtonDuringARunLetsTheRunFinishThenEnds)
{
    StartWithRows({"a.pdf", "b.pdf", "c.pdf"});
    TypeDestination(session.Path("out"));
    session.SetEngineDelay(1);
    Click(session.MainControlCentre(kConvert));
    ASSERT_TRUE(session.WaitForEngineCalls(1, kWindowWait));
    RequestClose(session.MainWindow());
    EXPECT_TRUE(session.WaitForExit(kWindowWait));
    const auto calls = session.EngineCalls();
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_TRUE(Argument(calls[2], "-i").endsWith("/c.pdf"));
}

// Pixels of the red square on the test documents' page.
int RedPixels(const QImage &image)
{
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QColor pixel = image.pixelColor(x, y);
            count += pixel.red() > 150 && pixel.green() < 90 && pixel.blue() < 90;
        }
    return count;
}

TEST_F(DesktopTest, ClickedRowIsPreviewedAndTheEngineConvertsIt)
{
    ASSERT_TRUE(session.UseRealEngine());
    StartWithRows({"report.pdf"});
    const QRect viewer(session.MainControlCentre(kViewer) - MainControlRect(kViewer).center() +
                           MainControlRect(kViewer).topLeft(),
                       MainControlRect(kViewer).size());
    ASSERT_EQ(RedPixels(Screenshot(viewer)), 0);

    // The first row lies just below the list's header.
    const QRect list = MainControlRect(kFileList);
    const QPoint listOrigin = session.MainControlCentre(kFileList) - list.center();
    Click(listOrigin + list.topLeft() + QPoint(40, 34));
    EXPECT_TRUE(WaitFor([&] { return RedPixels(Screenshot(viewer)) > 200; }, kWindowWait));

    TypeDestination(session.Path("out"));
    Click(session.MainControlCentre(kConvert));
    const QDir out(session.Path("out"));
    EXPECT_TRUE(WaitFor(
        [&] {
            const QFileInfoList files = out.entryInfoList(QDir::Files);
            return files.size() == 1 && files.front().fileName().startsWith("report.") &&
                   files.front().size() > 0;
        },
        kWindowWait))
        << out.entryList(QDir::Files).join(' ').toStdString();
    EXPECT_TRUE(session.IsRunning());
}

TEST_F(DesktopTest, WindowIsTiedToItsDesktopEntry)
{
    QFile entry(QStringLiteral(PAGEMINT_SOURCE_DIR "/ui/io.github.pagemint.Pagemint.desktop"));
    ASSERT_TRUE(entry.open(QIODevice::ReadOnly | QIODevice::Text));
    const QRegularExpressionMatch wmClass =
        QRegularExpression(QStringLiteral("^StartupWMClass=(.*)$"),
                           QRegularExpression::MultilineOption)
            .match(QString::fromUtf8(entry.readAll()));
    ASSERT_TRUE(wmClass.hasMatch());
    ASSERT_TRUE(session.Start());
    // On Wayland the window names its entry itself, by the entry's file name.
    EXPECT_EQ(WindowClass(session.MainWindow()), wayland::Active()
                                                     ? QStringLiteral("io.github.pagemint.Pagemint")
                                                     : wmClass.captured(1));
}

class LinkDesktopTest : public DesktopTest {
protected:
    // Opens the About box and clicks one of its links; returns the About box's window.
    QString ClickLink(int link)
    {
        EXPECT_TRUE(session.Start());
        Click(session.MainControlCentre(kAbout));
        QString about;
        EXPECT_TRUE(WaitFor(
            [&] {
                const QStringList windows =
                    VisibleWindows(session.Pid(), QStringLiteral("^Pagemint$"));
                about = windows.isEmpty() ? QString() : windows.front();
                return !about.isEmpty();
            },
            kWindowWait));
        EXPECT_TRUE(WaitForActiveWindow(about, kWindowWait));
        QTest::qWait(300);
        const std::optional<WindowPlace> place = PlaceOf(about);
        if (!place)
            return about;
        // A link's left part: the label is shrunk to its text.
        const QRect label = AboutControlRect(link);
        Click(place->client.topLeft() + QPoint(label.left() + 4, label.center().y()));
        return about;
    }

    // The About box is titled "Pagemint" and the message box "pagemint"; window searches do
    // not tell the two apart, so the message box is the second window of that name.
    int WindowsNamedPagemint() const
    {
        return int(VisibleWindows(session.Pid(), QStringLiteral("^pagemint$")).size());
    }
    // Waits for the message box over the About box, and for it to have the focus.
    bool WaitForMessageBox(const QString &about)
    {
        if (!WaitFor([&] { return WindowsNamedPagemint() == 2; }, kWindowWait))
            return false;
        QStringList windows = VisibleWindows(session.Pid(), QStringLiteral("^pagemint$"));
        windows.removeAll(about);
        return windows.size() == 1 && WaitForActiveWindow(windows.front(), kWindowWait);
    }
};

TEST_F(LinkDesktopTest, FailingOpenerLeadsToTheMessage)
{
    session.InstallOpener(4);
    const QString about = ClickLink(AboutControl::kMailLink);
    ASSERT_TRUE(WaitForMessageBox(about));
    QFile opened(session.Path("bin/opened.log"));
    ASSERT_TRUE(opened.open(QIODevice::ReadOnly));
    EXPECT_EQ(opened.readAll(), "mailto:pagemint@example.com\n");
    // The box goes with Enter, and the About box stays.
    Key(QStringLiteral("Return"));
    EXPECT_TRUE(WaitFor([&] { return WindowsNamedPagemint() == 1; }, kWindowWait));
}

TEST_F(LinkDesktopTest, WithoutAnyOpenerTheMessageShowsAndStandardErrorStaysQuiet)
{
    const QString about = ClickLink(AboutControl::kWebLink);
    ASSERT_TRUE(WaitForMessageBox(about));
    Key(QStringLiteral("Return"));
    EXPECT_TRUE(WaitFor([&] { return WindowsNamedPagemint() == 1; }, kWindowWait));
    EXPECT_EQ(session.ErrorOutput(), "");
}

class FolderBrowserDesktopTest : public DesktopTest {
protected:
    // Clicks Browse and waits for the folder browser; returns its window.
    QString OpenBrowser()
    {
        Click(session.MainControlCentre(kBrowse));
        QString window;
        WaitFor(
            [&] {
                const QStringList windows =
                    VisibleWindows(session.Pid(), QStringLiteral("^Browse for Folder$"));
                window = windows.isEmpty() ? QString() : windows.front();
                return !window.isEmpty();
            },
            kWindowWait);
        EXPECT_TRUE(WaitForActiveWindow(window, kWindowWait));
        // The tree has the focus and reads the folders around the preselected one.
        QTest::qWait(500);
        return window;
    }
};

TEST_F(FolderBrowserDesktopTest, LongRememberedPathKeepsTheWindowOnTheScreen)
{
    // A 411-character folder path, remembered from last time.
    QString folder = session.Path("out");
    for (int i = 0; folder.size() < 411; ++i)
        folder += QStringLiteral("/level-%1-of-a-deep-tree-of-folders").arg(i, 2, 10, QChar('0'));
    folder = folder.left(411);
    while (folder.endsWith('/') || folder.endsWith('-'))
        folder.chop(1);
    ASSERT_TRUE(QDir().mkpath(folder));
    session.WriteProfile(QStringLiteral("InitialDir"), folder);
    ASSERT_TRUE(session.Start());

    const QString browser = OpenBrowser();
    ASSERT_FALSE(browser.isEmpty());
    const std::optional<WindowPlace> place = PlaceOf(browser);
    ASSERT_TRUE(place);
    const QRect screen(0, 0, 1280, 1024);
    EXPECT_TRUE(screen.contains(place->frame))
        << place->frame.x() << "," << place->frame.y() << " " << place->frame.width() << "x"
        << place->frame.height();
    // OK is reachable: Enter confirms the preselected folder.
    Key(QStringLiteral("Return"));
    EXPECT_TRUE(WaitFor(
        [&] {
            return VisibleWindows(session.Pid(), QStringLiteral("^Browse for Folder$")).isEmpty();
        },
        kWindowWait));
    EXPECT_EQ(session.ReadProfile(QStringLiteral("InitialDir")), folder);
}

TEST_F(FolderBrowserDesktopTest, HiddenFolderCanBeReachedInTheTree)
{
    // The remembered folder holds one folder, a hidden one. It is a folder of the test's own,
    // not its home, where the desktop's services make hidden folders of their own (.dbus).
    const QString parent = session.Path("picked");
    ASSERT_TRUE(QDir().mkpath(parent + "/.exports"));
    session.WriteProfile(QStringLiteral("InitialDir"), parent);
    ASSERT_TRUE(session.Start());
    // The tree reads folders in the background, more slowly while other tests load the
    // machine: a try whose keys outran it confirms the remembered folder itself, which leaves
    // everything as it was for the next try.
    for (int attempt = 0; attempt < 3; ++attempt) {
        ASSERT_FALSE(OpenBrowser().isEmpty());
        // Open the selected folder; hidden folders are not shown yet, so it seems empty.
        Key(QStringLiteral("Right"));
        QTest::qWait(1500);
        // From the tree to the switch that shows hidden folders, on, and back to the tree;
        // then down to the first folder inside, and confirm.
        Key(QStringLiteral("Tab space shift+Tab"));
        QTest::qWait(700);
        Key(QStringLiteral("Down"));
        QTest::qWait(300);
        Key(QStringLiteral("Return"));
        ASSERT_TRUE(WaitFor(
            [&] {
                return VisibleWindows(session.Pid(), QStringLiteral("^Browse for Folder$"))
                    .isEmpty();
            },
            kWindowWait));
        if (session.ReadProfile(QStringLiteral("InitialDir")) != parent)
            break;
    }
    EXPECT_EQ(session.ReadProfile(QStringLiteral("InitialDir")), parent + "/.exports");
}

} // namespace
