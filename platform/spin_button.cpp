// SPDX-License-Identifier: AGPL-3.0-or-later
#include "platform/spin_button.h"

#include "core/conversion_settings.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QDateTime>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOption>
#include <QTimer>
#include <algorithm>

namespace {

// Delays of a held arrow: the first repeat after the initial delay, then at the repeat rate.
constexpr int kInitialDelayMs = 400;
constexpr int kRepeatMs = 80;

QRect UpHalf(const QRect &r)
{
    return QRect(r.left(), r.top(), r.width(), r.height() / 2);
}

QRect DownHalf(const QRect &r)
{
    return QRect(r.left(), r.top() + r.height() / 2, r.width(), r.height() - r.height() / 2);
}

class SpinButtonAccessible : public QAccessibleWidget, public QAccessibleValueInterface {
public:
    explicit SpinButtonAccessible(SpinButton *spin) : QAccessibleWidget(spin, QAccessible::SpinBox)
    {
    }

    void *interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::ValueInterface)
            return static_cast<QAccessibleValueInterface *>(this);
        return QAccessibleWidget::interface_cast(type);
    }

    // The button has no caption of its own: it is named as the field it steps.
    QString text(QAccessible::Text type) const override
    {
        if (type == QAccessible::Name && widget()->accessibleName().isEmpty() && Spin()->Buddy()) {
            if (QAccessibleInterface *buddy =
                    QAccessible::queryAccessibleInterface(Spin()->Buddy()))
                return buddy->text(QAccessible::Name);
        }
        if (type == QAccessible::Value)
            return QString::number(Spin()->Value());
        return QAccessibleWidget::text(type);
    }

    QStringList actionNames() const override
    {
        return QStringList{increaseAction(), decreaseAction()} + QAccessibleWidget::actionNames();
    }

    void doAction(const QString &action) override
    {
        if (!Spin()->isEnabled())
            return;
        if (action == increaseAction())
            Spin()->Step(1);
        else if (action == decreaseAction())
            Spin()->Step(-1);
        else
            QAccessibleWidget::doAction(action);
    }

    QStringList keyBindingsForAction(const QString &action) const override
    {
        if (action == increaseAction())
            return {QStringLiteral("Up")};
        if (action == decreaseAction())
            return {QStringLiteral("Down")};
        return QAccessibleWidget::keyBindingsForAction(action);
    }

    QVariant currentValue() const override { return Spin()->Value(); }
    void setCurrentValue(const QVariant &value) override
    {
        if (Spin()->isEnabled())
            Spin()->Step(value.toInt() - Spin()->Value());
    }
    QVariant maximumValue() const override { return Spin()->Upper(); }
    QVariant minimumValue() const override { return Spin()->Lower(); }
    QVariant minimumStepSize() const override { return 1; }

private:
    SpinButton *Spin() const { return static_cast<SpinButton *>(widget()); }
};

QAccessibleInterface *SpinButtonFactory(const QString &key, QObject *object)
{
    if (key == QLatin1String("SpinButton"))
        return new SpinButtonAccessible(static_cast<SpinButton *>(object));
    return nullptr;
}

} // namespace

SpinButton::SpinButton(QWidget *parent) : QWidget(parent), repeatTimer(new QTimer(this))
{
    QAccessible::installFactory(SpinButtonFactory);
    setFocusPolicy(Qt::NoFocus);
    connect(repeatTimer, &QTimer::timeout, this, &SpinButton::Repeat);
}

void SpinButton::SetRange(int32_t newLower, int32_t newUpper)
{
    lower = newLower;
    upper = newUpper;
}

void SpinButton::SetBuddy(QLineEdit *newBuddy)
{
    if (buddy)
        buddy->removeEventFilter(this);
    buddy = newBuddy;
    if (!buddy)
        return;
    buddy->installEventFilter(this);
    // The button belongs with its buddy, in whatever frame holds the buddy.
    if (parentWidget() != buddy->parentWidget()) {
        const bool shown = !isHidden();
        setParent(buddy->parentWidget());
        setVisible(shown);
    }
    const QRect edit = buddy->geometry();
    const int width = this->width();
    buddy->setGeometry(edit.x(), edit.y(), std::max(0, edit.width() - width), edit.height());
    setGeometry(edit.x() + edit.width() - width, edit.y(), width, edit.height());
}

int32_t SpinButton::Value() const
{
    if (buddy) {
        // A buddy that shows no number leaves the last position in force.
        const std::optional<uint32_t> shown = ParseUnsignedText(buddy->text().toStdString());
        if (shown)
            return static_cast<int32_t>(std::min<uint32_t>(*shown, INT32_MAX));
    }
    return position;
}

void SpinButton::Step(int32_t delta)
{
    const int64_t next = static_cast<int64_t>(Value()) + delta;
    position = static_cast<int32_t>(std::clamp<int64_t>(next, lower, upper));
    if (buddy)
        buddy->setText(QString::number(position));
    QAccessibleValueChangeEvent changed(this, position);
    QAccessible::updateAccessibility(&changed);
}

int32_t SpinButton::AccelerationStep(int64_t heldMs)
{
    if (heldMs >= 5000)
        return 20;
    if (heldMs >= 2000)
        return 5;
    return 1;
}

void SpinButton::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const QRect halves[] = {UpHalf(rect()), DownHalf(rect())};
    const QStyle::PrimitiveElement arrows[] = {QStyle::PE_IndicatorArrowUp,
                                               QStyle::PE_IndicatorArrowDown};
    for (int i = 0; i < 2; ++i) {
        QStyleOptionButton button;
        button.initFrom(this);
        button.rect = halves[i];
        if (heldDirection == (i == 0 ? 1 : -1))
            button.state |= QStyle::State_Sunken;
        else
            button.state |= QStyle::State_Raised;
        style()->drawControl(QStyle::CE_PushButtonBevel, &button, &painter, this);
        QStyleOption arrow;
        arrow.initFrom(this);
        arrow.rect = halves[i].adjusted(3, 2, -3, -2);
        style()->drawPrimitive(arrows[i], &arrow, &painter, this);
    }
}

void SpinButton::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton || !isEnabled()) {
        QWidget::mousePressEvent(event);
        return;
    }
    heldDirection = UpHalf(rect()).contains(event->position().toPoint()) ? 1 : -1;
    heldSince = QDateTime::currentMSecsSinceEpoch();
    Step(heldDirection);
    repeatTimer->start(kInitialDelayMs);
    update();
}

void SpinButton::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton) {
        repeatTimer->stop();
        heldDirection = 0;
        update();
    }
    QWidget::mouseReleaseEvent(event);
}

void SpinButton::Repeat()
{
    if (heldDirection == 0 || !isEnabled()) {
        repeatTimer->stop();
        return;
    }
    const int64_t held = QDateTime::currentMSecsSinceEpoch() - heldSince;
    Step(heldDirection * AccelerationStep(held));
    repeatTimer->start(kRepeatMs);
}

bool SpinButton::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == buddy && event->type() == QEvent::KeyPress && isEnabled()) {
        const auto *key = static_cast<QKeyEvent *>(event);
        if (key->key() == Qt::Key_Up || key->key() == Qt::Key_Down) {
            Step(key->key() == Qt::Key_Up ? 1 : -1);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}
