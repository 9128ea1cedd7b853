// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <vector>

namespace kronvik::test {

// Closes every message box the code under test opens while it lives, with its OK button, and
// remembers what each one said. The boxes run their own modal loop, in which this polls.
class MessageBoxCatcher : public QObject
{
public:
    struct Box
    {
        QString title;
        QString text;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        QWidget *owner = nullptr;
    };

    MessageBoxCatcher()
    {
        connect(&m_timer, &QTimer::timeout, this, &MessageBoxCatcher::Poll);
        m_timer.start(5);
    }

    const std::vector<Box> &Boxes() const { return m_boxes; }

private:
    void Poll()
    {
        for (QWidget *widget : QApplication::topLevelWidgets()) {
            auto *box = qobject_cast<QMessageBox *>(widget);
            if (!box || !box->isVisible())
                continue;
            m_boxes.push_back({box->windowTitle(), box->text(), box->icon(), box->parentWidget()});
            box->button(QMessageBox::Ok)->click();
        }
    }

    QTimer m_timer;
    std::vector<Box> m_boxes;
};

} // namespace kronvik::test
