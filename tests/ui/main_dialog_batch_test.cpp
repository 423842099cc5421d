// SPDX-License-Identifier: AGPL-3.0-or-later
#include "ui/main_dialog_test_support.h"

#include "controls/gradient_progress_ctrl.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
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

} // namespace
