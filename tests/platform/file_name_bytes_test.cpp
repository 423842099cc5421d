// SPDX-License-Identifier: AGPL-3.0-or-later
#include "platform/file_name_bytes.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cstdio>
#include <sys/stat.h>

namespace {

// A folder whose entries are named by bytes, some of them not valid text.
class FileNameBytesTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir.isValid()); }

    std::string Make(const std::string &name, const char *content = "%PDF-1.4\n")
    {
        const std::string path = folder + '/' + name;
        std::FILE *file = std::fopen(path.c_str(), "wb");
        EXPECT_NE(file, nullptr) << path;
        if (file) {
            std::fputs(content, file);
            std::fclose(file);
        }
        return path;
    }
    std::string MakeFolder(const std::string &name)
    {
        const std::string path = folder + '/' + name;
        EXPECT_EQ(mkdir(path.c_str(), 0700), 0) << path;
        return path;
    }

    QTemporaryDir dir;
    const std::string folder = QFile::encodeName(dir.path()).toStdString();
    // U+FFFD, as text decoded from a name that is not valid UTF-8 holds it.
    const std::string lost = "\xEF\xBF\xBD";
};

TEST_F(FileNameBytesTest, ShownTextIsExactOnlyForValidUtf8)
{
    EXPECT_EQ(DisplayName("/d/latin1-\xE9.pdf"), QStringLiteral("/d/latin1-\uFFFD.pdf"));
    EXPECT_EQ(DisplayName("/d/utf8-\xC3\xA9.pdf"), QStringLiteral("/d/utf8-\u00E9.pdf"));
    EXPECT_FALSE(IsTextExact("/d/latin1-\xE9.pdf"));
    EXPECT_FALSE(IsTextExact("/d/cut-\xC3"));
    EXPECT_TRUE(IsTextExact("/d/utf8-\xC3\xA9.pdf"));
    EXPECT_TRUE(IsTextExact("/d/plain name.pdf"));
    // A real name may hold the replacement character itself.
    EXPECT_TRUE(IsTextExact("/d/" + lost + ".pdf"));
}

TEST_F(FileNameBytesTest, RecoversTheOneEntryShownThatWayAlsoInFolderNames)
{
    const std::string latin1 = Make("latin1-\xE9.pdf");
    EXPECT_EQ(RecoverPathBytes(folder + "/latin1-" + lost + ".pdf"), latin1);
    // Exact bytes and names that are plain text come back unchanged, existing or not.
    EXPECT_EQ(RecoverPathBytes(latin1), latin1);
    EXPECT_EQ(RecoverPathBytes(folder + "/missing.pdf"), folder + "/missing.pdf");

    const std::string sub = MakeFolder("caf\xE9");
    const std::string inner = sub + "/r\xE9sum\xE9.pdf";
    std::FILE *file = std::fopen(inner.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    std::fclose(file);
    EXPECT_EQ(RecoverPathBytes(folder + "/caf" + lost + "/r" + lost + "sum" + lost + ".pdf"),
              inner);
    // A real name holding the replacement character is taken as it is.
    const std::string real = Make("real-" + lost + ".pdf");
    EXPECT_EQ(RecoverPathBytes(real), real);
}

TEST_F(FileNameBytesTest, RefusesANameShownLikeNoEntryOrLikeSeveral)
{
    Make("latin1-\xE9.pdf");
    EXPECT_EQ(RecoverPathBytes(folder + "/other-" + lost + ".pdf"), std::nullopt);
    EXPECT_EQ(RecoverPathBytes(folder + "/gone" + lost + "/latin1-" + lost + ".pdf"), std::nullopt);
    Make("latin1-\xE8.pdf");
    EXPECT_EQ(RecoverPathBytes(folder + "/latin1-" + lost + ".pdf"), std::nullopt);
}

struct ExtensionCase {
    const char *name;
    std::vector<std::string> entries;
    std::string typed;
    std::optional<std::string> found;
};

void PrintTo(const ExtensionCase &c, std::ostream *os)
{
    *os << c.name;
}

class FindWithExtensionTest : public FileNameBytesTest,
                              public ::testing::WithParamInterface<ExtensionCase> {};

TEST_P(FindWithExtensionTest, MatchesTheExtensionWhateverItsCaseAndNothingElseLoosely)
{
    for (const std::string &entry : GetParam().entries)
        Make(entry);
    const std::optional<std::string> found =
        FindWithExtension(folder + '/' + GetParam().typed, "PDF");
    if (GetParam().found)
        EXPECT_EQ(found, folder + '/' + *GetParam().found);
    else
        EXPECT_EQ(found, std::nullopt);
}

INSTANTIATE_TEST_SUITE_P(
    Folders, FindWithExtensionTest,
    ::testing::Values(
        ExtensionCase{"Lower", {"good.pdf"}, "good", "good.pdf"},
        ExtensionCase{"Mixed", {"good.pDf"}, "good", "good.pDf"},
        ExtensionCase{
            "GivenSpellingWins", {"good.pdf", "good.PDF", "good.Pdf"}, "good", "good.PDF"},
        ExtensionCase{"ThenLowestBytes", {"good.pdf", "good.Pdf"}, "good", "good.Pdf"},
        ExtensionCase{"NameCaseCounts", {"Good.pdf"}, "good", std::nullopt},
        ExtensionCase{"OtherExtension", {"good.pdfx", "good.txt", "good"}, "good", std::nullopt},
        ExtensionCase{"NameNotText", {"latin1-\xE9.pdf"}, "latin1-\xE9", "latin1-\xE9.pdf"}),
    [](const ::testing::TestParamInfo<ExtensionCase> &info) {
        return std::string(info.param.name);
    });

TEST_F(FileNameBytesTest, AnAliasOpensTheFileWhoseNameIsNotTextForAsLongAsItLives)
{
    const std::string latin1 = Make("latin1-\xE9.pdf", "latin-one content");
    QString aliasPath;
    {
        const TextPathAlias alias(latin1);
        aliasPath = alias.Path();
        EXPECT_NE(aliasPath, DisplayName(latin1));
        QFile file(aliasPath);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << aliasPath.toStdString();
        EXPECT_EQ(file.readAll(), QByteArray("latin-one content"));
        EXPECT_TRUE(QFileInfo(aliasPath).isFile());
    }
    // The descriptor is closed with the alias.
    EXPECT_FALSE(QFileInfo::exists(aliasPath));

    // A name that is text needs no alias; a missing file is passed on by its text.
    const std::string plain = Make("plain.pdf");
    EXPECT_EQ(TextPathAlias(plain).Path(), DisplayName(plain));
    EXPECT_EQ(TextPathAlias(folder + "/gone-\xE9.pdf").Path(),
              DisplayName(folder + "/gone-\xE9.pdf"));
}

} // namespace
