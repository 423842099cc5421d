// SPDX-License-Identifier: AGPL-3.0-or-later
#include "platform/registered_browser.h"
#include "platform/shell_open.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

namespace {

struct AssembleRow {
    const char *command;
    const char *assembled;
};

class AssembleBrowserCommandTest : public ::testing::TestWithParam<AssembleRow> {};

TEST_P(AssembleBrowserCommandTest, CutsPlaceholderAndAppendsOneBlankAndTarget)
{
    const AssembleRow row = GetParam();
    EXPECT_EQ(AssembleBrowserCommand(QString::fromUtf8(row.command),
                                     QStringLiteral("https://www.example.com/a b"))
                  .toStdString(),
              row.assembled);
}

INSTANTIATE_TEST_SUITE_P(
    Placeholders, AssembleBrowserCommandTest,
    ::testing::Values(
        // Quoted placeholder after a blank: the quote goes, the blank stays, one more follows.
        AssembleRow{"/usr/bin/web-view \"%u\"", "/usr/bin/web-view  https://www.example.com/a b"},
        AssembleRow{"web-view %U", "web-view  https://www.example.com/a b"},
        AssembleRow{"web-view", "web-view https://www.example.com/a b"},
        // Everything after the placeholder is cut with it.
        AssembleRow{"web-view --new %f --private", "web-view --new  https://www.example.com/a b"},
        // The quoted form wins even when a bare one comes first.
        AssembleRow{"web-view %F --x \"%u\"", "web-view %F --x  https://www.example.com/a b"},
        // An escaped percent sign is no placeholder.
        AssembleRow{"web-view --tag=%%u %u", "web-view --tag=%%u  https://www.example.com/a b"},
        AssembleRow{"web-view\"%u\" --tail", "web-view https://www.example.com/a b"},
        // Other field codes are not the file placeholder.
        AssembleRow{"web-view %i %c", "web-view %i %c https://www.example.com/a b"}));

struct SplitRow {
    const char *command;
    std::vector<std::string> words;
    bool valid;
};

class SplitCommandWordsTest : public ::testing::TestWithParam<SplitRow> {};

TEST_P(SplitCommandWordsTest, FollowsDesktopEntryQuoting)
{
    const SplitRow row = GetParam();
    const std::optional<QStringList> words = SplitCommandWords(QString::fromUtf8(row.command));
    ASSERT_EQ(words.has_value(), row.valid);
    if (!words)
        return;
    std::vector<std::string> actual;
    for (const QString &word : *words)
        actual.push_back(word.toStdString());
    EXPECT_EQ(actual, row.words);
}

INSTANTIATE_TEST_SUITE_P(
    Quoting, SplitCommandWordsTest,
    ::testing::Values(
        SplitRow{"a  b\tc ", {"a", "b", "c"}, true},
        SplitRow{"\"/opt/my app/run\" --x", {"/opt/my app/run", "--x"}, true},
        SplitRow{"run \"say \\\"hi\\\" \\$HOME \\\\\"", {"run", "say \"hi\" $HOME \\"}, true},
        SplitRow{"run --a=\"x y\"z", {"run", "--a=x yz"}, true},
        SplitRow{"run %i --x %c", {"run", "--x"}, true},
        SplitRow{"run 100%% \"\"", {"run", "100%", ""}, true}, SplitRow{"run \"open", {}, false},
        SplitRow{"", {}, true}));

class DefaultHandlerCommandTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(root.isValid());
        dirs.configHome = root.filePath("config");
        dirs.configDirs = {root.filePath("etc")};
        dirs.dataHome = root.filePath("data");
        dirs.dataDirs = {root.filePath("share1"), root.filePath("share2")};
    }

    void Write(const QString &relative, const QByteArray &content)
    {
        const QString path = root.filePath(relative);
        ASSERT_TRUE(QDir().mkpath(QFileInfo(path).absolutePath()));
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(content);
    }

    void Entry(const QString &relative, const QByteArray &exec, const QByteArray &extra = {})
    {
        Write(relative, "[Desktop Action new]\nExec=wrong\n\n[Desktop Entry]\nType=Application\n"
                        "Name=Viewer\nExec=" +
                            exec + "\n" + extra);
    }

    QString Lookup() const
    {
        return DefaultHandlerCommand(QStringLiteral("text/html"), dirs).value_or("<none>");
    }

    QTemporaryDir root;
    XdgDirs dirs;
};

TEST_F(DefaultHandlerCommandTest, NothingRegisteredGivesNothing)
{
    Entry("share1/applications/a.desktop", "a %u");
    Write("config/mimeapps.list", "[Default Applications]\nimage/png=a.desktop\n");
    EXPECT_EQ(Lookup(), "<none>");
}

TEST_F(DefaultHandlerCommandTest, UserListBeatsSystemListsAndSkipsMissingEntries)
{
    Entry("share1/applications/a.desktop", "a %u");
    Entry("share2/applications/b.desktop", "b \"%u\"");
    Write("share1/applications/mimeapps.list", "[Default Applications]\ntext/html=a.desktop\n");
    Write("config/mimeapps.list", "# mine\n[Added Associations]\ntext/html=a.desktop\n"
                                  "[Default Applications]\ntext/html=gone.desktop;b.desktop;\n");
    EXPECT_EQ(Lookup(), "b \"%u\"");
}

TEST_F(DefaultHandlerCommandTest, DesktopSpecificListComesFirstThenDataHomeOverridesDataDirs)
{
    Entry("data/applications/a.desktop", "home-a");
    Entry("share1/applications/a.desktop", "system-a");
    Entry("share1/applications/b.desktop", "b");
    Write("etc/mimeapps.list", "[Default Applications]\ntext/html=b.desktop\n");
    Write("etc/xfce-mimeapps.list", "[Default Applications]\ntext/html=a.desktop\n");
    dirs.currentDesktops = {"xfce"};
    EXPECT_EQ(Lookup(), "home-a");
    dirs.currentDesktops.clear();
    EXPECT_EQ(Lookup(), "b");
}

TEST_F(DefaultHandlerCommandTest, OlderDefaultsListAndVendorFolderAndEscapes)
{
    Entry("share2/applications/vendor/viewer.desktop", "/opt/v\\sw/run\\\\ \"%u\"");
    Write("share2/applications/defaults.list",
          "[Default Applications]\ntext/html=vendor-viewer.desktop\n");
    EXPECT_EQ(Lookup(), "/opt/v w/run\\ \"%u\"");
}

TEST_F(DefaultHandlerCommandTest, HiddenOrExeclessEntriesAreNotHandlers)
{
    Entry("share1/applications/a.desktop", "a", "Hidden=true\n");
    Write("share1/applications/b.desktop", "[Desktop Entry]\nName=b\n");
    Write("config/mimeapps.list", "[Default Applications]\ntext/html=a.desktop;b.desktop\n");
    EXPECT_EQ(Lookup(), "<none>");
    Write("config/mimeapps.list", "[Default Applications]\ntext/html=../a.desktop\n");
    EXPECT_EQ(Lookup(), "<none>");
}

TEST(StartDetachedProcessTest, FailuresMapToLaunchCodes)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString plain = dir.filePath("plain");
    QFile file(plain);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();

    EXPECT_EQ(StartDetachedProcess({}), LaunchCode::FileNotFound);
    EXPECT_EQ(StartDetachedProcess({dir.filePath("missing")}), LaunchCode::FileNotFound);
    EXPECT_EQ(StartDetachedProcess({QStringLiteral("no-such-program-anywhere")}),
              LaunchCode::FileNotFound);
    EXPECT_EQ(StartDetachedProcess({plain}), LaunchCode::AccessDenied);
    EXPECT_EQ(StartDetachedProcess({plain + "/below"}), LaunchCode::PathNotFound);
}

TEST(StartDetachedProcessTest, ArgumentsArriveUnparsed)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString out = dir.filePath("out");
    const QString target = QStringLiteral("https://x.example/?a=1&b='2' $(id) \"q\"");
    // The program named by a bare word is searched along PATH.
    const int code = StartDetachedProcess({QStringLiteral("sh"), QStringLiteral("-c"),
                                           QStringLiteral("printf %s \"$1\" > \"$2.tmp\" && "
                                                          "mv \"$2.tmp\" \"$2\""),
                                           QStringLiteral("sh"), target, out});
    ASSERT_GT(code, 32);
    for (int waited = 0; !QFileInfo::exists(out) && waited < 10000; waited += 20)
        QTest::qWait(20);
    QFile result(out);
    ASSERT_TRUE(result.open(QIODevice::ReadOnly));
    EXPECT_EQ(QString::fromUtf8(result.readAll()), target);
}

} // namespace
