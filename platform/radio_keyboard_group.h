// SPDX-License-Identifier: AGPL-3.0-or-later
#pragma once

#include <QObject>
#include <vector>

class QAbstractButton;

// Radio buttons that the keyboard reaches as one group, as radio groups work everywhere: the
// checked button is the group's one tab stop (the first button while none is checked), and the
// arrow keys move the focus to the previous or next button, wrapping around, and click it, so
// that the check moves through the same handler as a click. The buttons keep whatever decides
// their check marks.
class RadioKeyboardGroup : public QObject {
    Q_OBJECT
public:
    // `buttons` in the order the arrows visit them.
    explicit RadioKeyboardGroup(std::vector<QAbstractButton *> buttons, QObject *parent = nullptr);

    // The button that Tab stops at now.
    QAbstractButton *TabStop() const;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void UpdateTabStop();

    std::vector<QAbstractButton *> buttons;
};
