// SPDX-License-Identifier: AGPL-3.0-or-later
#include "files/open_file_dialog.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <cstdio>

namespace {

struct TypedNameCase {
    const char *name;
    std::vector<std::string> files;  // in the dialog's folder
    const char *typed;               // into the name field, then Enter
    std::vector<std::string> chosen; // names answered; empty when the dialog refuses
};

// Types into the open dialog's name field and presses Enter, as a user does. A message the
// dialog shows is recorded and closed, and a dialog still open afterwards is cancelled.
void PrintTo(const TypedNameCase &c, std::ostream *os)
{
    *os << c.name;
}

class TypedNameTest : public ::testing::TestWithParam<TypedNameCase> {
protected:
    std::optional<FileSelection> TypeAndAccept(const QString &folder, const QString &typed)
    {
        OpenFileRequest request;
        request.title = QStringLiteral("Quenlix");
        request.filters = {QStringLiteral("PDF File(*.pdf)"), QStringLiteral("ALL File(*.*)")};
        request.initialDir = folder;
        request.defaultSuffix = QStringLiteral("PDF");
        bool typedIn = false;
        int ticks = 0;
        QTimer driver;
        driver.setInterval(20);
        QObject::connect(&driver, &QTimer::timeout, [&] {
            QWidget *modal = QApplication::activeModalWidget();
            ++ticks;
            if (auto *box = qobject_cast<QMessageBox *>(modal)) {
                messages << box->text();
                box->close();
                return;
            }
            auto *dialog = qobject_cast<QFileDialog *>(modal);
            if (dialog == nullptr) {
                return;
            }
            if (!typedIn) {
                auto *edit = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
                ASSERT_NE(edit, nullptr);
                edit->setText(typed);
                typedIn = true;
                // Not from inside this tick: a message the dialog shows then runs a loop of its
                // own, and a timer does not fire again while its tick is still running.
                QTimer::singleShot(0, edit, [edit] { QTest::keyClick(edit, Qt::Key_Return); });
            } else if (ticks > 10) {
                dialog->reject();
            }
        });
        driver.start();
        return ShowOpenFileDialog(request);
    }

    QStringList messages;
};

TEST_P(TypedNameTest, ANameWithoutExtensionFindsTheFileWhateverTheCaseOfItsExtension)
{
    const TypedNameCase &c = GetParam();
    QTemporaryDir dir;
    const std::string folder = QFile::encodeName(dir.path()).toStdString();
    for (const std::string &file : c.files) {
        // Names as bytes: some are not valid text.
        std::FILE *out = std::fopen((folder + '/' + file).c_str(), "wb");
        ASSERT_NE(out, nullptr);
        std::fputs("%PDF-1.4\n", out);
        std::fclose(out);
    }
    const std::optional<FileSelection> selection =
        TypeAndAccept(dir.path(), QString::fromUtf8(c.typed));
    if (c.chosen.empty()) {
        EXPECT_FALSE(selection.has_value());
        EXPECT_EQ(messages.size(), 1) << messages.join('\n').toStdString();
        return;
    }
    ASSERT_TRUE(selection.has_value()) << messages.join('\n').toStdString();
    EXPECT_TRUE(messages.isEmpty()) << messages.join('\n').toStdString();
    if (c.chosen.size() == 1) {
        EXPECT_EQ(selection->first, folder + '/' + c.chosen[0]);
        EXPECT_TRUE(selection->names.empty());
    } else {
        EXPECT_EQ(selection->first, folder);
        EXPECT_EQ(selection->names, c.chosen);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Names, TypedNameTest,
    ::testing::Values(
        TypedNameCase{"LowerCase", {"good.pdf", "other.pdf"}, "good", {"good.pdf"}},
        TypedNameCase{"UpperCase", {"scan.PDF"}, "scan", {"scan.PDF"}},
        TypedNameCase{"MixedCase", {"mixed.Pdf"}, "mixed", {"mixed.Pdf"}},
        TypedNameCase{"TheDefaultSpellingWins", {"both.pdf", "both.PDF"}, "both", {"both.PDF"}},
        TypedNameCase{"WithItsExtension", {"full.pdf"}, "full.pdf", {"full.pdf"}},
        TypedNameCase{"Several", {"a.pdf", "b.PDF"}, "\"b\" \"a\"", {"b.PDF", "a.pdf"}},
        TypedNameCase{"OnlyTheExtensionIsLoose", {"Good.pdf"}, "good", {}},
        TypedNameCase{"Missing", {"good.pdf"}, "nothing", {}},
        // The dialog shows a name that is not valid text with a replacement character; the
        // file it stands for is found again by that name.
        TypedNameCase{"NotText", {"latin1-\xE9.pdf"}, "latin1-\uFFFD.pdf", {"latin1-\xE9.pdf"}},
        TypedNameCase{
            "NotTextTwoAlike", {"latin1-\xE9.pdf", "latin1-\xE8.pdf"}, "latin1-\uFFFD.pdf", {}}),
    [](const ::testing::TestParamInfo<TypedNameCase> &info) {
        return std::string(info.param.name);
    });

} // namespace
