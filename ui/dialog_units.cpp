#include "dialog_units.h"

#include <QDialog>
#include <QFontMetrics>
#include <QRect>
#include <QSize>
#include <QWidget>

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
    const DialogBaseUnits base = BaseUnitsOf(dialog.font());
    for (QWidget *control : dialog.findChildren<QWidget *>(Qt::FindDirectChildrenOnly))
        control->setGeometry(DialogUnitsToPixels(control->geometry(), base));
    const QRect client = DialogUnitsToPixels(QRect(QPoint(0, 0), templateSize), base);
    dialog.setFixedSize(client.size());
}

} // namespace kronvik
