// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "up_down_control.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QToolButton>

#include <algorithm>
#include <climits>

namespace kronvik {

UpDownControl::UpDownControl(QWidget *parent)
    : QWidget(parent)
    , m_btnUp(new QToolButton(this))
    , m_btnDown(new QToolButton(this))
{
    m_btnUp->setObjectName(QStringLiteral("buttonStepUp"));
    m_btnDown->setObjectName(QStringLiteral("buttonStepDown"));
    for (QToolButton *button : {m_btnUp, m_btnDown}) {
        // The buddy keeps the focus while the arrows are used, as with a spin box.
        button->setFocusPolicy(Qt::NoFocus);
        button->setAutoRepeat(true);
    }
    m_btnUp->setArrowType(Qt::UpArrow);
    m_btnDown->setArrowType(Qt::DownArrow);
    connect(m_btnUp, &QToolButton::clicked, this, [this] { Step(+1); });
    connect(m_btnDown, &QToolButton::clicked, this, [this] { Step(-1); });
}

void UpDownControl::AttachToBuddy(QLineEdit *buddy)
{
    m_editBuddy = buddy;
    const QRect area = buddy->geometry();
    const int arrowsWidth = width();
    buddy->setGeometry(area.x(), area.y(), area.width() - arrowsWidth, area.height());
    setGeometry(area.x() + area.width() - arrowsWidth, area.y(), arrowsWidth, area.height());
    buddy->installEventFilter(this);
}

void UpDownControl::SetRange(int lower, int upper)
{
    m_nLower = lower;
    m_nUpper = upper;
}

void UpDownControl::SetPos(int position)
{
    m_nPos = std::clamp(position, std::min(m_nLower, m_nUpper), std::max(m_nLower, m_nUpper));
    if (m_editBuddy)
        m_editBuddy->setText(QString::number(m_nPos));
}

bool UpDownControl::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_editBuddy && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        if (key == Qt::Key_Up || key == Qt::Key_Down) {
            Step(key == Qt::Key_Up ? +1 : -1);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void UpDownControl::resizeEvent(QResizeEvent *)
{
    const int upper = height() / 2;
    m_btnUp->setGeometry(0, 0, width(), upper);
    m_btnDown->setGeometry(0, upper, width(), height() - upper);
}

void UpDownControl::Step(int delta)
{
    ReadBuddy();
    const long long direction = m_nUpper >= m_nLower ? delta : -delta;
    const long long next = m_nPos + direction;
    SetPos(static_cast<int>(std::clamp<long long>(next, INT_MIN, INT_MAX)));
}

void UpDownControl::ReadBuddy()
{
    // A number typed into the buddy becomes the position the step starts from, but only when the
    // whole text is a number inside the range; anything else leaves the last position in force.
    if (!m_editBuddy)
        return;
    bool ok = false;
    const int typed = m_editBuddy->text().trimmed().toInt(&ok, 10);
    if (ok && typed >= std::min(m_nLower, m_nUpper) && typed <= std::max(m_nLower, m_nUpper))
        m_nPos = typed;
}

} // namespace kronvik
