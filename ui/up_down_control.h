// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <QWidget>

class QLineEdit;
class QToolButton;

namespace kronvik {

// A pair of arrow buttons that steps a whole number shown in a buddy line edit, which itself
// accepts any text. The arrows and the Up and Down keys in the buddy move the number one step
// within the range and stop at its bounds; typing into the buddy is never limited.
class UpDownControl : public QWidget
{
    Q_OBJECT

public:
    explicit UpDownControl(QWidget *parent = nullptr);

    // Takes `buddy` as the edit box to step, moves this control against the buddy's right edge
    // and narrows the buddy by this control's width, so the pair keeps the buddy's old extent.
    void AttachToBuddy(QLineEdit *buddy);

    // `lower` is the value at the bottom arrow's end and `upper` at the top arrow's end.
    void SetRange(int lower, int upper);
    // Clamps `position` to the range and writes it into the buddy as a decimal integer.
    void SetPos(int position);
    int GetPos() const { return m_nPos; }

    QToolButton *UpButton() const { return m_btnUp; }
    QToolButton *DownButton() const { return m_btnDown; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void Step(int delta);
    void ReadBuddy();

    QLineEdit *m_editBuddy = nullptr;
    QToolButton *m_btnUp = nullptr;
    QToolButton *m_btnDown = nullptr;
    int m_nLower = 0;
    int m_nUpper = 100;
    int m_nPos = 0;
};

} // namespace kronvik
