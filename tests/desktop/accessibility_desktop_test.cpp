// SPDX-License-Identifier: AGPL-3.0-or-later
// The front-end as a screen reader reads it, from outside its process over the accessibility
// bus, and as a user without a mouse drives it, with real X key presses.
#include "desktop_session.h"

#include "ui/main_dialog_template.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTest>
#include <gtest/gtest.h>

namespace {

using namespace desktop;

// Each look at the tree reads every object over the bus, which takes seconds on a busy machine.
constexpr int kWait = 45000;
const QString kReader = QStringLiteral(PAGEMINT_DESKTOP_SOURCE_DIR "/accessible_tree.py");

QString Python()
{
    // The system's interpreter, which has the accessibility bindings.
    return QStringLiteral("/usr/bin/python3");
}

std::vector<QJsonObject> JsonLines(const QString &text)
{
    std::vector<QJsonObject> objects;
    for (const QString &line : text.split('\n', Qt::SkipEmptyParts))
        objects.push_back(QJsonDocument::fromJson(line.toUtf8()).object());
    return objects;
}

class AccessibilityDesktopTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        qputenv("QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "1");
        ASSERT_TRUE(session.IsValid());
        ASSERT_TRUE(QDir().mkpath(session.Path("out")));
    }

    std::vector<QJsonObject> Tree()
    {
        return JsonLines(desktop::Run(
            Python(), {kReader, QStringLiteral("tree"), QString::number(session.Pid())}));
    }

    // The first object with this role and name, or an empty object.
    QJsonObject Find(const QString &role, const QString &name)
    {
        for (const QJsonObject &node : Tree()) {
            if (node["role"].toString() == role && node["name"].toString() == name)
                return node;
        }
        return {};
    }

    bool Act(const QString &role, const QString &name, const QString &action)
    {
        return desktop::Run(Python(), {kReader, QStringLiteral("act"),
                                       QString::number(session.Pid()), role, name, action})
                   .trimmed() == "done";
    }

    static double Value(const QJsonObject &node) { return node["value"]["current"].toDouble(-1); }

    Session session;
};

struct Expected {
    const char *role;
    const char *name;
    const char *parent; // the name of the group or window around it
    double value;       // -1 for a control without a value
};

TEST_F(AccessibilityDesktopTest, EveryControlHasItsRoleNameGroupAndValue)
{
    ASSERT_TRUE(session.Start());
    const std::vector<QJsonObject> tree = Tree();
    ASSERT_FALSE(tree.empty());
    const Expected expected[] = {
        {"tree", "PDF files", "Batch process", -1},
        {"combo box", "File type", "Batch process", -1},
        {"text", "Destination folder", "Batch process", -1},
        {"text", "X Resolution", "PDF", -1},
        {"spin button", "X Resolution", "PDF", 101},
        {"text", "Y Resolution", "PDF", -1},
        {"spin button", "Y Resolution", "PDF", 101},
        {"text", "From", "PDF", -1},
        {"spin button", "From", "PDF", 1},
        {"text", "To", "PDF", -1},
        {"spin button", "To", "PDF", 1},
        {"text", "Quality", "JPEG", -1},
        {"spin button", "Quality", "JPEG", 75},
        {"radio button", "None", "Compression", -1},
        {"radio button", "Packbits", "Compression", -1},
        {"radio button", "CCITT group 3", "Compression", -1},
        {"radio button", "CCITT group 4", "Compression", -1},
        {"radio button", "LZW", "Compression", -1},
        {"radio button", "JPEG", "Compression", -1},
        {"radio button", "ClassF Fax File", "Compression", -1},
        {"check box", "Multiple page", "TIFF", -1},
        {"combo box", "Image bitcount", "Image bitcount", -1},
        {"progress bar", "Progress", "Tessary - Pagemint v2.1", 0},
        {"status bar", "Ready", "Tessary - Pagemint v2.1", -1},
        {"filler", "Preview", "Tessary - Pagemint v2.1", -1},
        {"push button", "Previous page", "Page navigation", -1},
        {"push button", "Next page", "Page navigation", -1},
        {"text", "Page", "Page navigation", -1},
    };
    for (const Expected &want : expected) {
        SCOPED_TRACE(std::string(want.role) + " " + want.name);
        const auto found = std::find_if(tree.begin(), tree.end(), [&](const QJsonObject &node) {
            return node["role"].toString() == want.role && node["name"].toString() == want.name &&
                   node["parent"].toString() == want.parent;
        });
        ASSERT_NE(found, tree.end());
        EXPECT_EQ(Value(*found), want.value);
    }
    // Spin buttons step through their actions; the edit shows the new number.
    ASSERT_TRUE(Act("spin button", "Quality", "Increase"));
    EXPECT_TRUE(WaitFor([&] { return Value(Find("spin button", "Quality")) == 76; }, kWait));
    // A radio button checked through its action is reported checked.
    ASSERT_TRUE(Act("radio button", "LZW", "Press"));
    EXPECT_TRUE(WaitFor([&] { return Find("radio button", "LZW")["checked"].toBool(); }, kWait));
    EXPECT_FALSE(Find("radio button", "Packbits")["checked"].toBool());
}

TEST_F(AccessibilityDesktopTest, ARunIsHeardInTheProgressBarAndTheStatusLine)
{
    QStringList files;
    for (const char *name : {"a.pdf", "b.pdf"})
        files << session.MakePdf(QStringLiteral("in/") + name);
    ASSERT_TRUE(session.Start());
    ASSERT_EQ(session.DropFromOtherProcess(files), "copy");
    ASSERT_TRUE(WaitFor([&] { return Find("push button", "Convert")["enabled"].toBool(); }, kWait));

    QProcess listener;
    listener.start(Python(), {kReader, QStringLiteral("events"), QString::number(session.Pid()),
                              QStringLiteral("90")});
    ASSERT_TRUE(listener.waitForReadyRead(kWait));
    session.SetEngineDelay(1.5);
    // The button's action is answered once the run it starts has ended.
    ASSERT_TRUE(Act("push button", "Convert", "Press"));
    ASSERT_TRUE(session.WaitForEngineCalls(2, kWait));
    ASSERT_TRUE(listener.waitForFinished(120000));
    const QString heard = QString::fromUtf8(listener.readAllStandardOutput());
    SCOPED_TRACE(heard.toStdString());
    QStringList statuses;
    std::vector<double> progress;
    for (const QJsonObject &event : JsonLines(heard)) {
        if (event["role"].toString() == "status bar" &&
            event["type"].toString().endsWith("accessible-name"))
            statuses << event["name"].toString();
        if (event["role"].toString() == "progress bar" &&
            event["type"].toString().endsWith("accessible-value"))
            progress.push_back(event["value"].toObject()["current"].toDouble());
    }
    // Each change is told once; the bar's first step of two is 49.
    EXPECT_EQ(statuses,
              (QStringList{"Converting 'a.pdf'......", "Converting 'b.pdf'......", "Done."}));
    EXPECT_EQ(progress, (std::vector<double>{49, 99, 0}));
}

TEST_F(AccessibilityDesktopTest, AFailedRowSaysWhyInItsDescription)
{
    const QString good = session.MakePdf(QStringLiteral("in/good.pdf"));
    const QString bad = session.Path("in/bad.pdf");
    QFile file(bad);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("this is no PDF");
    file.close();
    ASSERT_TRUE(session.Start());
    ASSERT_EQ(session.DropFromOtherProcess({good, bad}), "copy");
    bool described = false;
    bool goodPlain = false;
    WaitFor(
        [&] {
            for (const QJsonObject &node : Tree()) {
                if (node["role"].toString() != "table cell")
                    continue;
                if (node["name"].toString() == bad)
                    described = node["description"].toString().startsWith("Could not be read: ");
                if (node["name"].toString() == good)
                    goodPlain = node["description"].toString().isEmpty();
            }
            return described && goodPlain;
        },
        kWait);
    EXPECT_TRUE(described);
    EXPECT_TRUE(goodPlain);
}

TEST_F(AccessibilityDesktopTest, TheAboutBoxLinksAreLinksWhoseActionOpensThem)
{
    session.InstallOpener(0);
    ASSERT_TRUE(session.Start());
    ASSERT_TRUE(Act("push button", "About", "Press"));
    ASSERT_TRUE(
        WaitFor([&] { return !Find("link", "www.example.com/pagemint").isEmpty(); }, kWait));
    for (const char *name : {"www.example.com/pagemint", "Email:pagemint@example.com"}) {
        SCOPED_TRACE(name);
        EXPECT_TRUE(WaitFor(
            [&] {
                const QJsonObject link = Find("link", name);
                return link["focusable"].toBool() && link["actions"].toArray().contains("Press");
            },
            kWait));
    }
    ASSERT_TRUE(WaitFor([&] { return Act("link", "www.example.com/pagemint", "Press"); }, kWait));
    QString opened;
    WaitFor(
        [&] {
            QFile log(session.Path("bin/opened.log"));
            opened = log.open(QIODevice::ReadOnly) ? QString::fromUtf8(log.readAll()) : QString();
            return !opened.isEmpty();
        },
        kWait);
    EXPECT_EQ(opened.trimmed(), "https://www.example.com/pagemint");
}

// The whole task with the keyboard alone: add two files through the file dialog, move between
// the rows and preview them, pick LZW, convert, open About and follow a link.
TEST_F(AccessibilityDesktopTest, TheWholeTaskWithTheKeyboardAlone)
{
    session.InstallOpener(0);
    const QString first = session.MakePdf(QStringLiteral("in/first.pdf"));
    const QString second = session.MakePdf(QStringLiteral("in/second.pdf"));
    ASSERT_TRUE(session.Start());
    const auto focused = [&](const char *role, const char *name) {
        return WaitFor([&] { return Find(role, name)["focused"].toBool(); }, kWait);
    };
    const auto dialogShown = [&] { return !VisibleWindows(session.Pid(), "Quenlix").isEmpty(); };
    // At start the focus is on the list; Tab goes to Add, Space opens the file dialog.
    ASSERT_TRUE(focused("tree", "PDF files"));
    ASSERT_TRUE(WaitForActiveWindow(session.MainWindow(), kWait));
    QTest::qWait(500);
    for (const QString &file : {first, second}) {
        Key(QStringLiteral("Tab"));
        ASSERT_TRUE(focused("push button", "Add"));
        Key(QStringLiteral("space"));
        ASSERT_TRUE(WaitFor(dialogShown, kWait));
        QTest::qWait(500);
        Type(file);
        // The first Return may only take the name the completer offers; a second one is sent
        // only when the dialog has long stayed, lest it reach the window and open another.
        QTest::qWait(1000);
        for (int tries = 0; tries < 2 && dialogShown(); ++tries) {
            Key(QStringLiteral("Return"));
            WaitFor([&] { return !dialogShown(); }, kWait);
        }
        ASSERT_FALSE(dialogShown());
        ASSERT_TRUE(WaitForActiveWindow(session.MainWindow(), kWait));
        ASSERT_TRUE(focused("push button", "Add"));
        // Back from Add to the list.
        Key(QStringLiteral("shift+Tab"));
        ASSERT_TRUE(focused("tree", "PDF files"));
    }
    ASSERT_TRUE(WaitFor([&] { return Find("push button", "Convert")["enabled"].toBool(); }, kWait));
    EXPECT_FALSE(Find("push button", "Remove")["enabled"].toBool());

    // Down selects and previews the first row, as a click would; Down again the second.
    Key(QStringLiteral("Down"));
    EXPECT_TRUE(WaitFor([&] { return Find("push button", "Remove")["enabled"].toBool(); }, kWait));
    Key(QStringLiteral("Down"));
    EXPECT_TRUE(WaitFor([&] { return Find("label", "of 1")["showing"].toBool(); }, kWait));

    // Tab to the destination, type it; Tab on to the compression buttons and Down to LZW.
    Key(QStringLiteral("Tab Tab Tab Tab Tab"));
    Type(session.Path("out"));
    Key(QStringLiteral("Tab Tab Tab Tab Tab"));
    Key(QStringLiteral("Down Down Down"));
    EXPECT_TRUE(WaitFor([&] { return Find("radio button", "LZW")["checked"].toBool(); }, kWait));
    EXPECT_TRUE(WaitFor([&] { return Find("radio button", "LZW")["focused"].toBool(); }, kWait));

    // On to Convert: Multiple page, Quality, Image bitcount, Convert.
    Key(QStringLiteral("Tab Tab Tab Tab"));
    ASSERT_TRUE(WaitFor([&] { return Find("push button", "Convert")["focused"].toBool(); }, kWait));
    Key(QStringLiteral("space"));
    ASSERT_TRUE(session.WaitForEngineCalls(2, kWait));
    for (const QStringList &call : session.EngineCalls()) {
        EXPECT_EQ(call[call.indexOf("-c") + 1], "lzw");
        EXPECT_TRUE(call[call.indexOf("-o") + 1].startsWith(session.Path("out")));
    }
    // The run ends with the focus back on Convert; Tab goes on to About.
    EXPECT_TRUE(WaitFor([&] { return Find("push button", "Convert")["focused"].toBool(); }, kWait));
    Key(QStringLiteral("Tab space"));
    ASSERT_TRUE(
        WaitFor([&] { return !Find("link", "www.example.com/pagemint").isEmpty(); }, kWait));
    // OK has the focus; Tab reaches the first link, Enter follows it.
    Key(QStringLiteral("Tab"));
    EXPECT_TRUE(WaitFor(
        [&] { return Find("link", "www.example.com/pagemint")["focused"].toBool(); }, kWait));
    Key(QStringLiteral("Return"));
    EXPECT_TRUE(WaitFor([&] { return QFile::exists(session.Path("bin/opened.log")); }, kWait));
    Key(QStringLiteral("Escape"));
    EXPECT_TRUE(WaitFor([&] { return Find("link", "www.example.com/pagemint").isEmpty(); }, kWait));
    EXPECT_TRUE(session.IsRunning());
}

} // namespace
