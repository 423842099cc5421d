// SPDX-License-Identifier: AGPL-3.0-or-later
// The main window with the real engine beside it: a scratch folder, a configuration folder of
// the test's own, and message boxes recorded instead of shown.
#pragma once

#include "platform/message_box.h"

#include <QApplication>
#include <QDropEvent>
#include <QFile>
#include <QMimeData>
#include <QStringList>
#include <QTemporaryDir>
#include <gtest/gtest.h>

class RealEngineTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(work.isValid());
        savedConfig = qgetenv("XDG_CONFIG_HOME");
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(work.filePath(QStringLiteral("config"))));
        SetMessageBoxHandlerForTesting([this](QWidget *, const QString &text, QMessageBox::Icon) {
            messages << text;
            return int(QMessageBox::Ok);
        });
    }

    void TearDown() override
    {
        SetMessageBoxHandlerForTesting(nullptr);
        qputenv("XDG_CONFIG_HOME", savedConfig);
    }

    // Drops data on the window as a file manager's copy would; the enter must be accepted.
    static void Drop(QWidget &window, const QMimeData &data)
    {
        const QPoint at(20, 20);
        QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&window, &enter);
        ASSERT_TRUE(enter.isAccepted());
        QDropEvent drop(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&window, &drop);
    }

    QTemporaryDir work;
    QByteArray savedConfig;
    QStringList messages;
};
