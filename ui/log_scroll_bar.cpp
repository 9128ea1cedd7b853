// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "log_scroll_bar.h"

#include <QStyle>
#include <QStyleOptionSlider>

namespace kronvik {

LogScrollBar::LogScrollBar(Qt::Orientation orientation, QWidget *parent)
    : QScrollBar(orientation, parent)
{
}

LogScrollBar::Look LogScrollBar::CurrentLook() const
{
    QStyleOptionSlider option;
    initStyleOption(&option);
    return Look{style()->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarSlider,
                                        this),
                option.sliderPosition <= option.minimum, option.sliderPosition >= option.maximum};
}

void LogScrollBar::sliderChange(SliderChange change)
{
    const bool rangeOnly = change == SliderRangeChange || change == SliderStepsChange;
    // A repaint already asked for paints the new look anyway.
    if (rangeOnly && m_hasPainted && CurrentLook() == m_painted)
        return;
    QScrollBar::sliderChange(change);
}

void LogScrollBar::paintEvent(QPaintEvent *event)
{
    m_painted = CurrentLook();
    m_hasPainted = true;
    QScrollBar::paintEvent(event);
}

} // namespace kronvik
