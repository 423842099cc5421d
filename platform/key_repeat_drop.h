// SPDX-License-Identifier: AGPL-3.0-or-later
#pragma once

#include <QObject>

// While it lives, the key repeats the application receives are dropped. A key held while the
// program waits without reading input sends repeats that pile up; handed over all at once
// afterwards they would act many times for what the user saw as one press. The first press of
// a key is not a repeat and still arrives.
class KeyRepeatDrop : public QObject {
public:
    KeyRepeatDrop();
    ~KeyRepeatDrop() override;
    KeyRepeatDrop(const KeyRepeatDrop &) = delete;
    KeyRepeatDrop &operator=(const KeyRepeatDrop &) = delete;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
};
