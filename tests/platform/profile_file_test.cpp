// SPDX-License-Identifier: AGPL-3.0-or-later
#include "platform/profile_file.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

class ProfileFileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(config.isValid());
        previous = qgetenv("XDG_CONFIG_HOME");
        qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    }
    void TearDown() override { qputenv("XDG_CONFIG_HOME", previous); }

    QTemporaryDir config;
    QByteArray previous;
};

TEST_F(ProfileFileTest, LivesInTheConfigurationFolderGivenByTheEnvironment)
{
    EXPECT_EQ(ProfileFilePath(), config.path() + "/pagemint/pagemint.ini");
    WriteProfileString(kProfileSection, "InputDir", "/home/u/pdf");
    QFile file(ProfileFilePath());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray text = file.readAll();
    EXPECT_TRUE(text.contains("[Paramter]")) << text.constData();
    EXPECT_TRUE(text.contains("InputDir=")) << text.constData();
}

TEST_F(ProfileFileTest, MissingFileSectionOrKeyGivesTheDefault)
{
    EXPECT_EQ(ReadProfileString(kProfileSection, "InputDir"), QString());
    EXPECT_EQ(ReadProfileString(kProfileSection, "InputDir", "fallback"), "fallback");
    WriteProfileString(kProfileSection, "InputDir", "/a");
    EXPECT_EQ(ReadProfileString(kProfileSection, "InitialDir", "x"), "x");
    EXPECT_EQ(ReadProfileString("Other", "InputDir", "y"), "y");
}

TEST_F(ProfileFileTest, ValuesComeBackExactlyAndTheLastWriteWins)
{
    // Characters that an INI file gives a meaning of its own, spaces at the ends, non-ASCII.
    const QStringList values = {"/tmp/a b/",  "  padded  ",   "C:\\Docs\\x", "a=b;c#d",
                                "\"quoted\"", "Ünïcødé/文件", QString(),     "[Paramter]"};
    for (const QString &value : values) {
        WriteProfileString(kProfileSection, "InitialDir", value);
        EXPECT_EQ(ReadProfileString(kProfileSection, "InitialDir", "default"), value);
    }
    WriteProfileString(kProfileSection, "InputDir", "/first");
    WriteProfileString(kProfileSection, "InputDir", "/second");
    EXPECT_EQ(ReadProfileString(kProfileSection, "InputDir"), "/second");
    EXPECT_EQ(ReadProfileString(kProfileSection, "InitialDir"), "[Paramter]");
}

} // namespace
