// SPDX-License-Identifier: AGPL-3.0-or-later
// The main window's batch run against a stand-in engine: a copy of the real front-end
// executable in a temporary folder with a script named rastool beside it, started for real.
#include "platform/message_box.h"
#include "ui/main_dialog.h"
#include "ui/main_dialog_template.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>
#include <gtest/gtest.h>

namespace {

using namespace MainControl;

// Appends each call's program path and arguments, NUL-separated, as one line to calls.log beside
// itself; exits with 7 for an input whose name contains "fail", else 0.
const char kFakeEngine[] = R"(#!/bin/sh
log="$(dirname "$0")/calls.log"
for a in "$0" "$@"; do printf '%s\0' "$a" >> "$log"; done
printf '\n' >> "$log"
case "$2" in *fail*) exit 7 ;; esac
exit 0
)";

class FrontendBatchTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(work.isValid());
        savedConfig = qgetenv("XDG_CONFIG_HOME");
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(work.filePath("config")));
        SetMessageBoxHandlerForTesting([this](QWidget *, const QString &text, QMessageBox::Icon) {
            messages << text;
            return int(QMessageBox::Ok);
        });

        frontEnd = work.filePath("pagemint");
        ASSERT_TRUE(QFile::copy(QStringLiteral(PAGEMINT_BIN_DIR "/pagemint"), frontEnd));
        QFile engine(work.filePath("rastool"));
        ASSERT_TRUE(engine.open(QIODevice::WriteOnly));
        engine.write(kFakeEngine);
        engine.close();
        const auto executable = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner;
        ASSERT_TRUE(engine.setPermissions(executable));
    }

    void TearDown() override
    {
        SetMessageBoxHandlerForTesting(nullptr);
        qputenv("XDG_CONFIG_HOME", savedConfig);
    }

    std::vector<std::vector<std::string>> RecordedCalls()
    {
        std::vector<std::vector<std::string>> calls;
        QFile log(work.filePath("calls.log"));
        if (!log.open(QIODevice::ReadOnly))
            return calls;
        for (const QByteArray &line : log.readAll().split('\n')) {
            if (line.isEmpty())
                continue;
            std::vector<std::string> arguments;
            for (const QByteArray &argument : line.chopped(1).split('\0'))
                arguments.push_back(argument.toStdString());
            calls.push_back(arguments);
        }
        return calls;
    }

    QTemporaryDir work;
    QByteArray savedConfig;
    QStringList messages;
    QString frontEnd;
};

TEST_F(FrontendBatchTest, EveryRowStartsTheEngineBesideTheFrontEndWithItsOwnArguments)
{
    MainDialog dialog;
    dialog.SetFrontEndPath(QFile::encodeName(frontEnd).toStdString());
    dialog.Create();
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));

    const QString in = work.filePath("in dir");
    const QStringList rows = {in + "/report.pdf", in + "/say \"hi\" -o x.pdf", in + "/fail.pdf"};
    auto *list = dialog.Item<QTreeWidget>(kFileList);
    for (const QString &row : rows)
        new QTreeWidgetItem(list, {row, "1"});
    dialog.Item<QLineEdit>(kDestination)->setText(work.filePath("out put"));
    dialog.Item<QLineEdit>(kXResolution)->setText("300");
    dialog.EnableConvert(true);
    dialog.Item<QAbstractButton>(kConvert)->click();

    const std::string engine = QFile::encodeName(work.filePath("rastool")).toStdString();
    const std::string out = QFile::encodeName(work.filePath("out put")).toStdString();
    const std::vector<std::vector<std::string>> calls = RecordedCalls();
    ASSERT_EQ(calls.size(), 3u);
    for (size_t i = 0; i < calls.size(); ++i) {
        ASSERT_GE(calls[i].size(), 4u);
        EXPECT_EQ(calls[i][0], engine) << i;
        EXPECT_EQ(calls[i][1], "-i");
        EXPECT_EQ(calls[i][2], QFile::encodeName(rows[int(i)]).toStdString());
    }
    // The quote and the option-like text stay inside the one input argument.
    const auto &second = calls[1];
    EXPECT_EQ(std::count(second.begin(), second.end(), std::string("-o")), 1);
    EXPECT_NE(std::find(second.begin(), second.end(), out + "/say \"hi\" -o x.tif"), second.end());
    EXPECT_NE(std::find(calls[0].begin(), calls[0].end(), "300x101"), calls[0].end());

    EXPECT_EQ(dialog.Item<QLabel>(kStatus)->text(), "Done. 1 of 3 files could not be converted.");
    EXPECT_TRUE(dialog.Item<QAbstractButton>(kConvert)->isEnabled());
    EXPECT_TRUE(messages.isEmpty());
}

TEST_F(FrontendBatchTest, TheCopiedFrontEndStartsAndStaysInItsWindowUntilEnded)
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    environment.insert("XDG_CONFIG_HOME", work.filePath("config"));
    process.setProcessEnvironment(environment);
    process.start(frontEnd, {});
    ASSERT_TRUE(process.waitForStarted());
    // A front-end that fails during start-up ends on its own; a running one waits in its
    // modal window for the user.
    EXPECT_FALSE(process.waitForFinished(1500)) << process.readAllStandardError().toStdString();
    process.terminate();
    EXPECT_TRUE(process.waitForFinished(10000));
}

} // namespace
