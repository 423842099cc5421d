// SPDX-License-Identifier: AGPL-3.0-or-later
#pragma once

#include <QWidget>
#include <cstdint>

class QLineEdit;
class QTimer;

// An up-down button bound to a buddy edit. A step reads the number the buddy shows, moves it
// by one within the range (no wrap-around) and writes it back as plain digits. The arrow keys
// in the buddy step too, and holding an arrow repeats and speeds up. Screen readers see a spin
// button named as its buddy, with its value and an action for each arrow.
class SpinButton : public QWidget {
    Q_OBJECT
public:
    explicit SpinButton(QWidget *parent = nullptr);

    void SetRange(int32_t lower, int32_t upper);
    // Places the button against the buddy's right edge; the buddy gives up the button's width.
    void SetBuddy(QLineEdit *buddy);

    // Moves the buddy's number by `delta`, clamped to the range.
    void Step(int32_t delta);
    // The number a step would start from: the buddy's, or the last position when it shows none.
    int32_t Value() const;
    int32_t Lower() const { return lower; }
    int32_t Upper() const { return upper; }
    QLineEdit *Buddy() const { return buddy; }

    // How far one repeat moves after the arrow has been held for `heldMs` milliseconds.
    static int32_t AccelerationStep(int64_t heldMs);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void Repeat();

    QLineEdit *buddy = nullptr;
    QTimer *repeatTimer;
    int32_t lower = 0;
    int32_t upper = 100;
    int32_t position = 0;
    int32_t heldDirection = 0;
    int64_t heldSince = 0;
};
