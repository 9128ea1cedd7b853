// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "tree_lines_style.h"

#include <QPainter>
#include <QStyleOption>
#include <QTreeView>

namespace kronvik {

namespace {

// Whether the branch cell is that of the tree's first top-level item, whose line starts at it.
bool IsFirstTopLevelItem(const QRect &cell, const QWidget *widget)
{
    const auto *view = qobject_cast<const QTreeView *>(widget);
    if (!view)
        return false;
    const QModelIndex index = view->indexAt(cell.center());
    return index.isValid() && !index.parent().isValid() && index.row() == 0;
}

// Half the side of the square around an expand arrow that the lines keep clear of.
constexpr int kArrowClearance = 5;

} // namespace

void TreeLinesStyle::drawPrimitive(PrimitiveElement element, const QStyleOption *option,
                                   QPainter *painter, const QWidget *widget) const
{
    if (element == PE_IndicatorBranch) {
        // A branch cell stands left of an item (State_Item) or of a descendant of an item whose
        // later siblings the line passes on to (State_Sibling alone).
        const QRect cell = option->rect;
        const QPoint middle = cell.center();
        const bool item = option->state & State_Item;
        const bool sibling = option->state & State_Sibling;
        const int clearance = (option->state & State_Children) ? kArrowClearance : 0;
        const QBrush dots(option->palette.color(QPalette::Dark), Qt::Dense4Pattern);
        const auto vertical = [&](int top, int bottom) {
            if (bottom >= top)
                painter->fillRect(QRect(middle.x(), top, 1, bottom - top + 1), dots);
        };
        // Every line comes down from above but the first place's, which starts at it.
        if (item ? !IsFirstTopLevelItem(cell, widget) : sibling)
            vertical(cell.top(), middle.y() - clearance);
        if (sibling)
            vertical(middle.y() + clearance, cell.bottom());
        if (item) {
            const bool rightToLeft = option->direction == Qt::RightToLeft;
            const int from = rightToLeft ? cell.left() : middle.x() + clearance;
            const int to = rightToLeft ? middle.x() - clearance : cell.right();
            if (to >= from)
                painter->fillRect(QRect(from, middle.y(), to - from + 1, 1), dots);
        }
    }
    QProxyStyle::drawPrimitive(element, option, painter, widget);
}

} // namespace kronvik
