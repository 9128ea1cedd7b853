// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "dialog_units.h"

#include <QAbstractButton>
#include <QDialog>
#include <QFontMetrics>
#include <QLabel>
#include <QRect>
#include <QSize>
#include <QWidget>

#include <algorithm>

namespace kronvik {

namespace {

int Scale(int units, int base, int divisor)
{
    // Rounded to the nearest pixel, halves away from zero, like a MulDiv.
    const int product = units * base;
    return product >= 0 ? (product + divisor / 2) / divisor : -((-product + divisor / 2) / divisor);
}

} // namespace

DialogBaseUnits BaseUnitsOf(const QFont &font)
{
    const QFontMetrics metrics(font);
    const int letters = metrics.horizontalAdvance(
            QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    return {(letters / 26 + 1) / 2, metrics.height()};
}

QRect DialogUnitsToPixels(const QRect &units, DialogBaseUnits base)
{
    const int left = Scale(units.x(), base.x, 4);
    const int top = Scale(units.y(), base.y, 8);
    const int right = Scale(units.x() + units.width(), base.x, 4);
    const int bottom = Scale(units.y() + units.height(), base.y, 8);
    return QRect(left, top, right - left, bottom - top);
}

void LayOutInDialogUnits(QDialog &dialog, const QSize &templateSize)
{
    DialogBaseUnits base = BaseUnitsOf(dialog.font());
    const QList<QWidget *> controls = dialog.findChildren<QWidget *>(Qt::FindDirectChildrenOnly);
    // The templates were drawn for a narrower font than today's dialog fonts, and a check box's
    // box takes more room here. So that no caption is cut, the horizontal unit grows until every
    // caption fits its control; the dialog keeps the template's proportions.
    for (QWidget *control : controls) {
        const int units = control->geometry().width();
        if (units <= 0
            || !(qobject_cast<QAbstractButton *>(control) || qobject_cast<QLabel *>(control)))
            continue;
        const int needed = control->sizeHint().width() + 1;
        base.x = std::max(base.x, (needed * 4 + units - 1) / units);
    }
    for (QWidget *control : controls)
        control->setGeometry(DialogUnitsToPixels(control->geometry(), base));
    const QRect client = DialogUnitsToPixels(QRect(QPoint(0, 0), templateSize), base);
    dialog.setFixedSize(client.size());
}

} // namespace kronvik
