// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <QProxyStyle>

namespace kronvik {

// The application's style, with dotted lines that join each item of a tree to its parent and to
// the siblings below it, the top-level items included: the folder browser's tree shows where each
// folder belongs, as file managers' trees do. Styles such as Fusion draw only the expand arrows.
class TreeLinesStyle : public QProxyStyle
{
public:
    using QProxyStyle::QProxyStyle;

    void drawPrimitive(PrimitiveElement element, const QStyleOption *option, QPainter *painter,
                       const QWidget *widget = nullptr) const override;
};

} // namespace kronvik
