// SPDX-License-Identifier: AGPL-3.0-or-later
#pragma once

#include <QLabel>

// A line of text that tells the state of the work. Screen readers see it as a status bar whose
// name is the text, and are told each time the text changes, so that they can announce it.
class StatusLine : public QLabel {
    Q_OBJECT
public:
    explicit StatusLine(const QString &text, QWidget *parent = nullptr);

    void SetStatus(const QString &text);
};
