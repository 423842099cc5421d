// SPDX-License-Identifier: AGPL-3.0-or-later
#pragma once

#include "platform/dialog_test_support.h"
#include "ui/main_dialog.h"
#include "ui/main_dialog_template.h"

#include <QApplication>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <functional>
#include <gtest/gtest.h>
#include <memory>

// Runs `action` and closes every modal window other than `owner` that it opens; returns the
// titles of those windows in order.
inline QStringList CloseModalWindowsDuring(QWidget *owner, const std::function<void()> &action)
{
    QStringList titles;
    QTimer closer;
    closer.setInterval(5);
    QObject::connect(&closer, &QTimer::timeout, [&] {
        QWidget *modal = QApplication::activeModalWidget();
        if (modal && modal != owner) {
            titles << modal->windowTitle();
            modal->close();
        }
    });
    closer.start();
    action();
    closer.stop();
    return titles;
}

// A main window with a private profile folder and every message box recorded.
class MainDialogFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        previousConfig = qgetenv("XDG_CONFIG_HOME");
        qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
        dialog = std::make_unique<MainDialog>();
        dialog->Create();
        dialog->show();
        dialog->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(dialog.get()));
    }
    void TearDown() override
    {
        dialog.reset();
        qputenv("XDG_CONFIG_HOME", previousConfig);
    }

    QLineEdit *Edit(int id) { return dialog->Item<QLineEdit>(id); }
    template <class T> T *Item(int id) { return dialog->Item<T>(id); }
    bool Enabled(int id) { return dialog->GetDlgItem(id)->isEnabled(); }
    void AddRow(const QString &path)
    {
        dialog->AddFilesToList({QFile::encodeName(path).toStdString()});
    }

    QTemporaryDir config;
    QByteArray previousConfig;
    MessageRecorder recorder;
    std::unique_ptr<MainDialog> dialog;
};
