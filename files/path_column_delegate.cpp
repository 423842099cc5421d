// SPDX-License-Identifier: AGPL-3.0-or-later
#include "files/path_column_delegate.h"

#include <QAbstractItemView>
#include <QHelpEvent>
#include <QToolTip>

PathColumnDelegate::PathColumnDelegate(QAbstractItemDelegate *base, QObject *parent)
    : QStyledItemDelegate(parent), base_(base)
{
}

void PathColumnDelegate::Install(QAbstractItemView *view, int column)
{
    QAbstractItemDelegate *base = view->itemDelegate();
    auto *delegate = new PathColumnDelegate(base, view);
    if (base == nullptr) {
        delegate->base_ = new QStyledItemDelegate(delegate);
    }
    view->setItemDelegateForColumn(column, delegate);
}

void PathColumnDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option,
                               const QModelIndex &index) const
{
    QStyleOptionViewItem leftElided(option);
    leftElided.textElideMode = Qt::ElideLeft;
    base_->paint(painter, leftElided, index);
}

QSize PathColumnDelegate::sizeHint(const QStyleOptionViewItem &option,
                                   const QModelIndex &index) const
{
    return base_->sizeHint(option, index);
}

QString PathColumnDelegate::ToolTip(const QModelIndex &index)
{
    const QString own = index.data(Qt::ToolTipRole).toString();
    return own.isEmpty() ? index.data(Qt::DisplayRole).toString() : own;
}

bool PathColumnDelegate::helpEvent(QHelpEvent *event, QAbstractItemView *view,
                                   const QStyleOptionViewItem &option, const QModelIndex &index)
{
    if (event == nullptr || event->type() != QEvent::ToolTip || !index.isValid()) {
        return base_->helpEvent(event, view, option, index);
    }
    const QString text = ToolTip(index);
    if (text.isEmpty()) {
        QToolTip::hideText();
        event->ignore();
        return false;
    }
    QToolTip::showText(event->globalPos(), text, view);
    return true;
}
