// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "mnemonic_keys.h"

#include <QAbstractButton>
#include <QEvent>
#include <QKeyEvent>
#include <QObject>
#include <QShortcutEvent>
#include <QWidget>

namespace kronvik {

namespace {

class MnemonicKeyFilter : public QObject
{
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::KeyPress) {
            const auto *key = static_cast<const QKeyEvent *>(event);
            const Qt::KeyboardModifiers modifiers = key->modifiers();
            if ((modifiers & Qt::AltModifier) && !(modifiers & Qt::ControlModifier)
                && !key->text().isEmpty() && key->text().at(0).isPrint())
                return true;
        }
        return QObject::eventFilter(watched, event);
    }
};

class ImmediateMnemonic : public QObject
{
public:
    explicit ImmediateMnemonic(QAbstractButton *box)
        : QObject(box)
        , m_box(box)
    {
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        // Two controls that share a letter take turns at the focus, as Qt does it.
        if (event->type() == QEvent::Shortcut
            && !static_cast<const QShortcutEvent *>(event)->isAmbiguous()) {
            m_box->setFocus(Qt::ShortcutFocusReason);
            m_box->click();
            return true;
        }
        return QObject::eventFilter(watched, event);
    }

private:
    QAbstractButton *m_box;
};

} // namespace

void KeepMnemonicKeysOutOf(QWidget *edit)
{
    edit->installEventFilter(new MnemonicKeyFilter(edit));
}

void TickAtOnceOnMnemonic(QAbstractButton *box)
{
    box->installEventFilter(new ImmediateMnemonic(box));
}

} // namespace kronvik
