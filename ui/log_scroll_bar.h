// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <QRect>
#include <QScrollBar>

namespace kronvik {

// The log list's scroll bar. During a pass the list grows after every picture, and a plain
// scroll bar repaints itself (with the frame and the window behind it, as it is not opaque) at
// every new range, though once the list is a few pages long its slider no longer moves or
// shrinks. This one repaints for a new range or step only when what it paints has changed.
class LogScrollBar : public QScrollBar
{
public:
    explicit LogScrollBar(Qt::Orientation orientation, QWidget *parent = nullptr);

protected:
    void sliderChange(SliderChange change) override;
    void paintEvent(QPaintEvent *event) override;

private:
    // What the style draws from the range: where the slider lies, and whether it can move
    // either way.
    struct Look
    {
        QRect slider;
        bool atMinimum = false;
        bool atMaximum = false;
        bool operator==(const Look &) const = default;
    };
    Look CurrentLook() const;

    Look m_painted;
    bool m_hasPainted = false;
};

} // namespace kronvik
