// SPDX-License-Identifier: AGPL-3.0-or-later
#pragma once

#include <QStyledItemDelegate>

class QAbstractItemView;

// Draws the path column of the file list. The item keeps the full path as its text (the batch
// reads it there), but a path too long for the column loses its start rather than its end, so
// the file name, the part that tells the rows apart, stays in view. The cell's tooltip is the
// item's own when one is set (a row that failed says why), and the whole path otherwise.
class PathColumnDelegate : public QStyledItemDelegate {
public:
    // Puts the delegate on `column` of `view`, drawing through the view's delegate for all
    // columns as it is now (its grid lines stay).
    static void Install(QAbstractItemView *view, int column);

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    bool helpEvent(QHelpEvent *event, QAbstractItemView *view, const QStyleOptionViewItem &option,
                   const QModelIndex &index) override;

    // What the cell's tooltip says.
    static QString ToolTip(const QModelIndex &index);

private:
    PathColumnDelegate(QAbstractItemDelegate *base, QObject *parent);

    QAbstractItemDelegate *base_;
};
