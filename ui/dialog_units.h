// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

class QDialog;
class QFont;
class QRect;
class QSize;

namespace kronvik {

// The forms in res/ keep every control's geometry in dialog units, as the dialog templates give
// them, so a form can be checked against its template number for number. A dialog unit is a
// quarter of the dialog font's average character width across and an eighth of its height down.
struct DialogBaseUnits
{
    int x = 0; // average character width in pixels
    int y = 0; // character height in pixels
};

// The base units of `font`: the average width of the 52 Latin letters (rounded half up, as the
// template's own platform measures it) and the font's line height.
DialogBaseUnits BaseUnitsOf(const QFont &font);

// A rectangle in dialog units as pixels. Each edge is converted on its own, so controls that
// touch in the template still touch on screen.
QRect DialogUnitsToPixels(const QRect &units, DialogBaseUnits base);

// Converts the geometry of the dialog's direct children from dialog units to pixels at the
// dialog font's base units, and fixes the dialog's size at `templateSize` dialog units. The
// horizontal unit is widened where a caption would not fit its control otherwise.
void LayOutInDialogUnits(QDialog &dialog, const QSize &templateSize);

} // namespace kronvik
