// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <QApplication>
#include <QMessageBox>
#include <QProxyStyle>
#include <QPushButton>
#include <QStyleFactory>
#include <QTextDocument>
#include <QTimer>

#include <algorithm>

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
        bool buttonIcons = false; // a button of the box shows an icon
        bool markup = false; // the text is read as markup, not shown as it is
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
            const auto buttons = box->buttons();
            const bool icons =
                    std::any_of(buttons.begin(), buttons.end(),
                                [](QAbstractButton *button) { return !button->icon().isNull(); });
            const bool markup =
                    box->textFormat() == Qt::RichText
                    || (box->textFormat() == Qt::AutoText && Qt::mightBeRichText(box->text()));
            m_boxes.push_back({box->windowTitle(), box->text(), box->icon(), box->parentWidget(),
                               icons, markup});
            box->button(QMessageBox::Ok)->click();
        }
    }

    QTimer m_timer;
    std::vector<Box> m_boxes;
};

// A desktop whose theme asks for icons on dialog buttons, as Qt's generic X11 theme does: while
// it lives, the application's style gives standard buttons their fallback icons (the offscreen
// platform's theme asks for none).
class DesktopWithButtonIcons
{
public:
    DesktopWithButtonIcons()
        : m_styleName(QApplication::style()->name())
    {
        QApplication::setStyle(new IconStyle(QStyleFactory::create(m_styleName)));
    }
    ~DesktopWithButtonIcons() { QApplication::setStyle(m_styleName); }

private:
    class IconStyle : public QProxyStyle
    {
    public:
        using QProxyStyle::QProxyStyle;
        int styleHint(StyleHint hint, const QStyleOption *option, const QWidget *widget,
                      QStyleHintReturn *answer) const override
        {
            if (hint == SH_DialogButtonBox_ButtonsHaveIcons)
                return 1;
            return QProxyStyle::styleHint(hint, option, widget, answer);
        }
    };

    QString m_styleName;
};

} // namespace kronvik::test
