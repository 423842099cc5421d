// SPDX-License-Identifier: AGPL-3.0-or-later
#include "controls/status_line.h"

#include <QAccessible>
#include <QAccessibleWidget>

namespace {

class StatusLineAccessible : public QAccessibleWidget {
public:
    explicit StatusLineAccessible(StatusLine *line)
        : QAccessibleWidget(line, QAccessible::StatusBar)
    {
    }

    QString text(QAccessible::Text type) const override
    {
        if ((type == QAccessible::Name && widget()->accessibleName().isEmpty()) ||
            type == QAccessible::Value)
            return static_cast<const QLabel *>(widget())->text();
        return QAccessibleWidget::text(type);
    }
};

QAccessibleInterface *StatusLineFactory(const QString &key, QObject *object)
{
    if (key == QLatin1String("StatusLine"))
        return new StatusLineAccessible(static_cast<StatusLine *>(object));
    return nullptr;
}

} // namespace

StatusLine::StatusLine(const QString &text, QWidget *parent) : QLabel(parent)
{
    QAccessible::installFactory(StatusLineFactory);
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
    // Set only now that the object is a status line: what is said about it while it is still
    // a plain label would describe it as one.
    setText(text);
}

void StatusLine::SetStatus(const QString &text)
{
    // The label tells screen readers of the new name itself.
    if (text != this->text())
        setText(text);
}
