// SPDX-License-Identifier: AGPL-3.0-or-later
#include "platform/shell_open.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

class ShellOpenTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        previous = SetUrlOpener([this](const QUrl &url) {
            opened << url;
            return accept;
        });
    }
    void TearDown() override { SetUrlOpener(previous); }

    UrlOpener previous;
    QList<QUrl> opened;
    bool accept = true;
};

TEST_F(ShellOpenTest, UrlsGoToTheOpenerUnchanged)
{
    EXPECT_GT(ShellOpen(QStringLiteral("mailto:pagemint@example.com")), 32);
    EXPECT_GT(ShellOpen(QStringLiteral("https://www.example.com/pagemint?a=1")), 32);
    ASSERT_EQ(opened.size(), 2);
    EXPECT_EQ(opened[0].toString(), "mailto:pagemint@example.com");
    EXPECT_EQ(opened[1].toString(), "https://www.example.com/pagemint?a=1");
}

TEST_F(ShellOpenTest, OpenerRefusalIsNoAssociation)
{
    accept = false;
    EXPECT_EQ(ShellOpen(QStringLiteral("https://www.example.com/")), LaunchCode::NoAssociation);
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

} // namespace
