// SPDX-License-Identifier: AGPL-3.0-or-later
#include "platform/control_accessibility.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAccessible>
#include <QAccessibleWidget>
#include <QComboBox>
#include <QRadioButton>

namespace {

QString WithoutMnemonics(QString text)
{
    // "&&" stands for one ampersand; a single one marks the next letter.
    for (qsizetype at = text.indexOf(QLatin1Char('&')); at >= 0 && at < text.size();
         at = text.indexOf(QLatin1Char('&'), at + 1))
        text.remove(at, 1);
    return text;
}

// The template's radio buttons each start their own group, so Qt sees auto-exclusive off and
// would describe them as check boxes; they are radio buttons all the same.
class RadioButtonAccessible : public QAccessibleWidget {
public:
    explicit RadioButtonAccessible(QAbstractButton *button)
        : QAccessibleWidget(button, QAccessible::RadioButton)
    {
    }

    QString text(QAccessible::Text type) const override
    {
        if (type == QAccessible::Name && widget()->accessibleName().isEmpty())
            return WithoutMnemonics(Button()->text());
        return QAccessibleWidget::text(type);
    }

    QAccessible::State state() const override
    {
        QAccessible::State state = QAccessibleWidget::state();
        state.checkable = true;
        state.checked = Button()->isChecked();
        return state;
    }

    QStringList actionNames() const override
    {
        return QStringList(pressAction()) + QAccessibleWidget::actionNames();
    }

    void doAction(const QString &action) override
    {
        if (action == pressAction()) {
            if (Button()->isEnabled())
                Button()->click();
            return;
        }
        QAccessibleWidget::doAction(action);
    }

private:
    QAbstractButton *Button() const { return static_cast<QAbstractButton *>(widget()); }
};

// Qt names a drop-down list by its current entry on this platform, whatever name it was given;
// a list of the template is named by its caption and tells its entry as its value.
class DropDownListAccessible : public QAccessibleWidget {
public:
    explicit DropDownListAccessible(QComboBox *list)
        : QAccessibleWidget(list, QAccessible::ComboBox)
    {
    }

    int childCount() const override { return List()->view() ? 1 : 0; }
    QAccessibleInterface *child(int index) const override
    {
        return index == 0 && List()->view() ? QAccessible::queryAccessibleInterface(List()->view())
                                            : nullptr;
    }
    int indexOfChild(const QAccessibleInterface *child) const override
    {
        return child && List()->view() && child->object() == List()->view() ? 0 : -1;
    }

    QString text(QAccessible::Text type) const override
    {
        if (type == QAccessible::Value ||
            (type == QAccessible::Name && widget()->accessibleName().isEmpty()))
            return List()->currentText();
        return QAccessibleWidget::text(type);
    }

    QAccessible::State state() const override
    {
        QAccessible::State state = QAccessibleWidget::state();
        const bool open = List()->view() && List()->view()->isVisible();
        state.expandable = true;
        state.expanded = open;
        state.collapsed = !open;
        return state;
    }

    QStringList actionNames() const override
    {
        return QStringList{showMenuAction(), pressAction()} + QAccessibleWidget::actionNames();
    }

    void doAction(const QString &action) override
    {
        if (action == showMenuAction() || action == pressAction()) {
            if (List()->isEnabled())
                List()->showPopup();
            return;
        }
        QAccessibleWidget::doAction(action);
    }

private:
    QComboBox *List() const { return static_cast<QComboBox *>(widget()); }
};

QAccessibleInterface *ControlFactory(const QString &key, QObject *object)
{
    if (key == QLatin1String("QRadioButton")) {
        if (auto *radio = qobject_cast<QRadioButton *>(object))
            return new RadioButtonAccessible(radio);
    }
    // Only the template's lists; those of other windows keep Qt's description.
    if (key == QLatin1String("QComboBox") && object->property("dlgId").isValid()) {
        auto *list = qobject_cast<QComboBox *>(object);
        if (list && !list->isEditable())
            return new DropDownListAccessible(list);
    }
    return nullptr;
}

} // namespace

void InstallControlAccessibility()
{
    QAccessible::installFactory(ControlFactory);
}

QString CaptionName(const QString &caption)
{
    QString name = WithoutMnemonics(caption).trimmed();
    if (name.endsWith(QLatin1Char(':')))
        name.chop(1);
    return name.trimmed();
}

void RefreshAccessibleInterface(QObject *object)
{
    if (!object)
        return;
    if (QAccessibleInterface *known = QAccessible::queryAccessibleInterface(object))
        QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(known));
}
