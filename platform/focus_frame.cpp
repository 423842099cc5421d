// SPDX-License-Identifier: AGPL-3.0-or-later
#include "platform/focus_frame.h"

#include <QApplication>
#include <QFocusFrame>
#include <QPointer>

namespace {

class FocusFrameKeeper : public QObject {
public:
    explicit FocusFrameKeeper(QWidget *watched) : QObject(watched), watched(watched)
    {
        connect(qApp, &QApplication::focusChanged, this,
                [this](QWidget *, QWidget *now) { Follow(now); });
        Follow(QApplication::focusWidget());
    }

    ~FocusFrameKeeper() override { delete frame; }

private:
    void Follow(QWidget *focused)
    {
        const bool inside = focused && (focused == watched || watched->isAncestorOf(focused));
        if (inside && !frame) {
            frame = new QFocusFrame(watched->parentWidget());
            frame->setWidget(watched);
            frame->show();
        } else if (!inside && frame) {
            delete frame;
        }
    }

    QWidget *watched;
    QPointer<QFocusFrame> frame;
};

} // namespace

void ShowFocusFrameAround(QWidget *widget)
{
    if (widget)
        new FocusFrameKeeper(widget);
}
