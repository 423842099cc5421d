// SPDX-License-Identifier: AGPL-3.0-or-later
#include "platform/shell_open.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {

class ShellOpenTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        previous = SetUrlOpener([this](const QUrl &url) {
            opened << url;
            return code;
        });
    }
    void TearDown() override { SetUrlOpener(previous); }

    UrlOpener previous;
    QList<QUrl> opened;
    int code = LaunchCode::Success;
};

TEST_F(ShellOpenTest, UrlsGoToTheOpenerUnchanged)
{
    EXPECT_GT(ShellOpen(QStringLiteral("mailto:pagemint@example.com")), 32);
    EXPECT_GT(ShellOpen(QStringLiteral("https://www.example.com/pagemint?a=1")), 32);
    ASSERT_EQ(opened.size(), 2);
    EXPECT_EQ(opened[0].toString(), "mailto:pagemint@example.com");
    EXPECT_EQ(opened[1].toString(), "https://www.example.com/pagemint?a=1");
}

TEST_F(ShellOpenTest, TheOpenersFailureIsPassedOn)
{
    code = LaunchCode::AssociationIncomplete;
    EXPECT_EQ(ShellOpen(QStringLiteral("https://www.example.com/")),
              LaunchCode::AssociationIncomplete);
}

TEST_F(ShellOpenTest, LocalFilesAreCheckedBeforeOpening)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString help = dir.filePath("help.htm");
    QFile file(help);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();

    EXPECT_EQ(ShellOpen(QString()), LaunchCode::FileNotFound);
    EXPECT_EQ(ShellOpen(dir.filePath("missing.htm")), LaunchCode::FileNotFound);
    EXPECT_EQ(ShellOpen(dir.filePath("no/such/folder/help.htm")), LaunchCode::PathNotFound);
    EXPECT_EQ(ShellOpen(QUrl::fromLocalFile(dir.filePath("gone.htm")).toString()),
              LaunchCode::FileNotFound);
    EXPECT_TRUE(opened.isEmpty());

    EXPECT_GT(ShellOpen(help), 32);
    ASSERT_EQ(opened.size(), 1);
    EXPECT_EQ(opened[0], QUrl::fromLocalFile(help));
}

// A stand-in for the desktop's opener on PATH: records its arguments in args.log beside itself,
// says something on standard error, then sleeps or exits with the status its test chose.
class DesktopOpenerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(bin.isValid());
        savedPath = qgetenv("PATH");
        qputenv("PATH", QFile::encodeName(bin.path()) + ":/usr/bin:/bin");
    }
    void TearDown() override { qputenv("PATH", savedPath); }

    void InstallOpener(const QByteArray &ending)
    {
        QFile script(bin.filePath("xdg-open"));
        ASSERT_TRUE(script.open(QIODevice::WriteOnly));
        script.write("#!/bin/sh\n"
                     "printf '%s\\n' \"$@\" > \"$(dirname \"$0\")/args.log\"\n"
                     "echo 'xdg-open: no method available' >&2\n" +
                     ending + "\n");
        script.close();
        ASSERT_TRUE(script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    }

    QByteArray RecordedArguments() const
    {
        QFile log(bin.filePath("args.log"));
        return log.open(QIODevice::ReadOnly) ? log.readAll() : QByteArray();
    }

    QTemporaryDir bin;
    QByteArray savedPath;
};

struct OpenerExitRow {
    const char *name;
    const char *ending;
    int code;
};

class OpenerExitTest : public DesktopOpenerTest,
                       public ::testing::WithParamInterface<OpenerExitRow> {};

TEST_P(OpenerExitTest, ExitStatusBecomesTheLaunchCode)
{
    InstallOpener(GetParam().ending);
    EXPECT_EQ(RunDesktopOpener(QUrl(QStringLiteral("mailto:pagemint@example.com"))),
              GetParam().code);
    EXPECT_EQ(RecordedArguments(), "mailto:pagemint@example.com\n");
}

INSTANTIATE_TEST_SUITE_P(
    Statuses, OpenerExitTest,
    ::testing::Values(OpenerExitRow{"Opened", "exit 0", LaunchCode::Success},
                      OpenerExitRow{"FileMissing", "exit 2", LaunchCode::FileNotFound},
                      OpenerExitRow{"NoHandler", "exit 3", LaunchCode::NoAssociation},
                      OpenerExitRow{"HandlerFailed", "exit 4", LaunchCode::AssociationIncomplete},
                      OpenerExitRow{"BadInvocation", "exit 1", LaunchCode::AssociationIncomplete},
                      OpenerExitRow{"Killed", "kill -9 $$", LaunchCode::OutOfResources}),
    [](const ::testing::TestParamInfo<OpenerExitRow> &info) { return info.param.name; });

TEST_F(DesktopOpenerTest, AnOpenerStillRunningAfterTheWaitHasFoundItsHandler)
{
    InstallOpener("sleep 5; exit 4");
    EXPECT_EQ(RunDesktopOpener(QUrl(QStringLiteral("https://www.example.com/")),
                               std::chrono::milliseconds(300)),
              LaunchCode::Success);
}

TEST_F(DesktopOpenerTest, NoOpenerOnPathIsNoAssociation)
{
    qputenv("PATH", QFile::encodeName(bin.path()));
    EXPECT_EQ(RunDesktopOpener(QUrl(QStringLiteral("https://www.example.com/"))),
              LaunchCode::NoAssociation);
}

TEST_F(DesktopOpenerTest, ShellOpenReportsTheFailureAndWritesNothingOnStandardError)
{
    InstallOpener("exit 4");
    QTemporaryDir capture;
    ASSERT_TRUE(capture.isValid());
    const QByteArray errPath = QFile::encodeName(capture.filePath("stderr"));
    const int saved = dup(STDERR_FILENO);
    const int file = open(errPath.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(file, 0);
    dup2(file, STDERR_FILENO);
    close(file);
    const int https = ShellOpen(QStringLiteral("https://www.example.com/"));
    const int mail = ShellOpen(QStringLiteral("mailto:pagemint@example.com"));
    dup2(saved, STDERR_FILENO);
    close(saved);

    EXPECT_EQ(https, LaunchCode::AssociationIncomplete);
    EXPECT_EQ(mail, LaunchCode::AssociationIncomplete);
    EXPECT_EQ(RecordedArguments(), "mailto:pagemint@example.com\n");
    QFile err(capture.filePath("stderr"));
    ASSERT_TRUE(err.open(QIODevice::ReadOnly));
    EXPECT_EQ(err.readAll(), QByteArray());
}

} // namespace
