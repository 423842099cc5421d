// SPDX-License-Identifier: AGPL-3.0-or-later
#include "ui/main_dialog_test_support.h"

#include "controls/gradient_progress_ctrl.h"

#include "platform/spin_button.h"

#include <QComboBox>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QLabel>
#include <QMimeData>
#include <QPushButton>
#include <QThread>
#include <QUrl>
#include <gtest/gtest.h>

namespace {

using namespace MainControl;

// What the window showed each time the engine was started.
struct EngineStart {
    std::vector<std::string> arguments;
    QString status;
    int32_t progress;
    bool convertEnabled;
    bool waitCursor;
};

class MainDialogBatchTest : public MainDialogFixture {
protected:
    void SetUp() override
    {
        MainDialogFixture::SetUp();
        dialog->SetFrontEndPath("/opt/pm/pagemint");
        dialog->SetProcessRunner(
            [this](const EngineCommand *command, const std::function<void()> &whileWaiting) {
                starts.push_back({command->arguments, Item<QLabel>(kStatus)->text(),
                                  dialog->Progress()->Pos(), Enabled(kConvert),
                                  QApplication::overrideCursor() != nullptr});
                if (whileWaiting)
                    whileWaiting();
                return exitCodes.empty() ? 0 : exitCodes[(starts.size() - 1) % exitCodes.size()];
            });
        dialog->EnableConvert(true);
    }
    void Convert() { Item<QPushButton>(kConvert)->click(); }
    static std::string ArgumentAfter(const std::vector<std::string> &arguments, const char *option)
    {
        for (size_t i = 0; i + 1 < arguments.size(); ++i) {
            if (arguments[i] == option)
                return arguments[i + 1];
        }
        return {};
    }

    std::vector<EngineStart> starts;
    std::vector<int32_t> exitCodes;
};

TEST_F(MainDialogBatchTest, ThreeRowsShowNameAndProgressAndEndWithDone)
{
    AddRow("/docs/report.pdf");
    AddRow("/docs/second.pdf");
    AddRow("/docs/noext");
    Edit(kDestination)->setText("/out");
    Convert();

    ASSERT_EQ(starts.size(), 3u);
    EXPECT_EQ(starts[0].arguments.at(0), "/opt/pm/rastool");
    EXPECT_EQ(ArgumentAfter(starts[0].arguments, "-i"), "/docs/report.pdf");
    EXPECT_EQ(ArgumentAfter(starts[0].arguments, "-o"), "/out/report.tif");
    EXPECT_EQ(ArgumentAfter(starts[2].arguments, "-o"), "/out/noext.tif");
    EXPECT_EQ(starts[0].status, "Converting 'report.pdf'......");
    EXPECT_EQ(starts[2].status, "Converting 'noext'......");
    EXPECT_EQ(starts[0].progress, 33);
    EXPECT_EQ(starts[1].progress, 66);
    EXPECT_EQ(starts[2].progress, 99);
    for (const EngineStart &start : starts) {
        EXPECT_FALSE(start.convertEnabled);
        EXPECT_TRUE(start.waitCursor);
    }
    EXPECT_EQ(Item<QLabel>(kStatus)->text(), "Done.");
    EXPECT_EQ(dialog->Progress()->Pos(), 0);
    EXPECT_TRUE(Enabled(kConvert));
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

TEST_F(MainDialogBatchTest, FailedEnginesAreCountedInTheFinalStatus)
{
    exitCodes = {0, 4, -1};
    for (const char *path : {"/a.pdf", "/b.pdf", "/c.pdf", "/d.pdf"})
        AddRow(path);
    Convert();
    EXPECT_EQ(starts.size(), 4u);
    EXPECT_EQ(Item<QLabel>(kStatus)->text(), "Done. 2 of 4 files could not be converted.");
}

TEST_F(MainDialogBatchTest, OptionsAndTypeOfTheWindowReachTheCommand)
{
    AddRow("/docs/a.pdf");
    Item<QComboBox>(kFileType)->setCurrentIndex(3);
    Edit(kJpegQuality)->setText(" 42 ");
    Convert();
    ASSERT_EQ(starts.size(), 1u);
    EXPECT_EQ(ArgumentAfter(starts[0].arguments, "-o"), "/docs/a.jpg");
    EXPECT_EQ(ArgumentAfter(starts[0].arguments, "-q"), "42");
    EXPECT_EQ(dialog->Settings().jpegQuality, 42u);
}

TEST_F(MainDialogBatchTest, RefusedOptionsStartNothingAndChangeNothing)
{
    AddRow("/docs/a.pdf");
    Edit(kXResolution)->setText("5");
    Convert();
    EXPECT_TRUE(starts.empty());
    EXPECT_EQ(recorder.messages.size(), 1u);
    EXPECT_EQ(Item<QLabel>(kStatus)->text(), "Ready");
    EXPECT_TRUE(Enabled(kConvert));
}

// Counts the paints a widget receives.
class PaintCounter : public QObject {
public:
    int paints = 0;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        paints += event->type() == QEvent::Paint;
        return false;
    }
};

TEST_F(MainDialogBatchTest, WhileTheEngineRunsTheWindowKeepsPainting)
{
    AddRow("/docs/a.pdf");
    PaintCounter counter;
    dialog->Progress()->installEventFilter(&counter);
    int paintsDuringWait = -1;
    dialog->SetProcessRunner([&](const EngineCommand *, const std::function<void()> &whileWaiting) {
        const int before = counter.paints;
        dialog->Progress()->SetPos(42);
        whileWaiting();
        paintsDuringWait = counter.paints - before;
        return 0;
    });
    Convert();
    EXPECT_GT(paintsDuringWait, 0);
}

TEST_F(MainDialogBatchTest, ConvertEnabledByAnAddDuringTheRunStartsNoSecondRun)
{
    AddRow("/docs/a.pdf");
    AddRow("/docs/b.pdf");
    AddRow("/docs/c.pdf");
    int runs = 0;
    dialog->SetProcessRunner([&](const EngineCommand *, const std::function<void()> &) {
        ++runs;
        if (runs == 1) {
            // An add handled between rows enables Convert, and the user clicks it at once.
            dialog->EnableConvert(true);
            QMetaObject::invokeMethod(Item<QPushButton>(kConvert), "click", Qt::QueuedConnection);
        }
        return 0;
    });
    Convert();
    EXPECT_EQ(runs, 3);
    EXPECT_EQ(Item<QLabel>(kStatus)->text(), "Done.");
    EXPECT_TRUE(Enabled(kConvert));
}

struct DialogKeyCase {
    const char *name;
    int focused;
};

void PrintTo(const DialogKeyCase &c, std::ostream *os)
{
    *os << c.name;
}

class DialogKeysDuringARunTest : public MainDialogBatchTest,
                                 public ::testing::WithParamInterface<DialogKeyCase> {
protected:
    // Queues a key as the window system delivers it: to the window, which hands it to the
    // control with the focus when it is handled.
    void QueueKey(Qt::Key key, const QString &text = QString())
    {
        for (QEvent::Type type : {QEvent::KeyPress, QEvent::KeyRelease}) {
            QCoreApplication::postEvent(dialog->windowHandle(),
                                        new QKeyEvent(type, key, Qt::NoModifier, text));
        }
    }
};

// Keys pressed while an engine runs are handled at the dispatch before the next engine start.
// There Enter, Esc and Tab are ordinary input of the focused control, not the dialog's keys:
// Enter and Esc ended the dialog halfway through the run, and Tab moved the focus.
TEST_P(DialogKeysDuringARunTest, AreOrdinaryInputOfTheFocusedControlAndActAgainWhenIdle)
{
    AddRow("/docs/a.pdf");
    AddRow("/docs/b.pdf");
    AddRow("/docs/c.pdf");
    QWidget *focused = dialog->GetDlgItem(GetParam().focused);
    focused->setFocus();
    ASSERT_EQ(dialog->focusWidget(), focused);
    Edit(kXResolution)->setText("10");
    Edit(kXResolution)->end(false);
    int openDialogs = 0;
    dialog->SetOpenFileDialog([&](const OpenFileRequest &) {
        ++openDialogs;
        return std::optional<FileSelection>();
    });

    std::vector<std::pair<bool, QWidget *>> seenAtStarts;
    dialog->SetProcessRunner([&](const EngineCommand *, const std::function<void()> &) {
        seenAtStarts.emplace_back(dialog->isVisible(), dialog->focusWidget());
        if (seenAtStarts.size() == 1) {
            QueueKey(Qt::Key_0, QStringLiteral("0"));
            QueueKey(Qt::Key_Return);
            QueueKey(Qt::Key_Enter);
            QueueKey(Qt::Key_Escape);
            QueueKey(Qt::Key_Tab);
            QueueKey(Qt::Key_Backtab);
            QueueKey(Qt::Key_5, QStringLiteral("5"));
        }
        return 0;
    });
    Convert();

    ASSERT_EQ(seenAtStarts.size(), 3u);
    for (const auto &[visible, focus] : seenAtStarts) {
        EXPECT_TRUE(visible);
        EXPECT_EQ(focus, focused);
    }
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(dialog->result(), 0);
    EXPECT_EQ(dialog->focusWidget(), focused);
    EXPECT_EQ(Item<QLabel>(kStatus)->text(), "Done.");
    if (focused == Edit(kXResolution)) {
        EXPECT_EQ(Edit(kXResolution)->text(), "1005");
    }
    EXPECT_TRUE(recorder.messages.empty());
    EXPECT_EQ(openDialogs, 0);

    // Idle again, Enter is the dialog's: a click of the focused push button, else OK.
    QueueKey(Qt::Key_Return);
    QCoreApplication::processEvents();
    if (qobject_cast<QPushButton *>(focused)) {
        EXPECT_EQ(openDialogs, 1);
        EXPECT_TRUE(dialog->isVisible());
    } else {
        EXPECT_FALSE(dialog->isVisible());
        EXPECT_EQ(dialog->result(), IDOK);
    }
}

INSTANTIATE_TEST_SUITE_P(Focus, DialogKeysDuringARunTest,
                         ::testing::Values(DialogKeyCase{"Edit", kXResolution},
                                           DialogKeyCase{"List", kFileList},
                                           DialogKeyCase{"Button", kAdd}),
                         [](const ::testing::TestParamInfo<DialogKeyCase> &info) {
                             return std::string(info.param.name);
                         });

// While an engine runs the window paints, but nothing else of it changes: a spin arrow held
// at the dispatch does not repeat, other timers wait, and files dropped then are added at the
// next dispatch.
TEST_F(MainDialogBatchTest, DuringTheEngineWaitNoTimerFiresAndNoDropIsAdded)
{
    AddRow("/docs/a.pdf");
    AddRow("/docs/b.pdf");
    auto *spin = Item<SpinButton>(kXResolutionSpin);
    int ownTicks = 0;
    QTimer own;
    own.setInterval(5);
    QObject::connect(&own, &QTimer::timeout, [&] { ++ownTicks; });
    QMimeData files;
    files.setUrls({QUrl::fromLocalFile(QStringLiteral("/docs/dropped.pdf"))});

    QString shownAfterWait;
    int rowsAfterWait = 0;
    int ticksAfterWait = -1;
    dialog->SetProcessRunner([&](const EngineCommand *, const std::function<void()> &whileWaiting) {
        if (!shownAfterWait.isEmpty())
            return 0;
        QTest::mousePress(spin, Qt::LeftButton, {}, QPoint(spin->width() / 2, 2));
        own.start();
        QDragEnterEvent enter(QPoint(20, 20), Qt::CopyAction, &files, Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(dialog.get(), &enter);
        QDropEvent drop(QPoint(20, 20), Qt::CopyAction, &files, Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(dialog.get(), &drop);
        EXPECT_TRUE(drop.isAccepted());
        // As the wait for the engine does: poll, and keep the window alive between polls.
        QElapsedTimer waited;
        waited.start();
        while (waited.elapsed() < 800) {
            whileWaiting();
            QThread::msleep(10);
        }
        shownAfterWait = Edit(kXResolution)->text();
        rowsAfterWait = dialog->GetRowCount();
        ticksAfterWait = ownTicks;
        QTest::mouseRelease(spin, Qt::LeftButton, {}, QPoint(spin->width() / 2, 2));
        own.stop();
        return 0;
    });
    Convert();
    EXPECT_EQ(shownAfterWait, "102");
    EXPECT_EQ(ticksAfterWait, 0);
    EXPECT_EQ(rowsAfterWait, 2);
    EXPECT_EQ(dialog->GetRowCount(), 3);
}

} // namespace
