// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "mnemonic_keys.h"

#include <QEvent>
#include <QKeyEvent>
#include <QObject>
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

} // namespace

void KeepMnemonicKeysOutOf(QWidget *edit)
{
    edit->installEventFilter(new MnemonicKeyFilter(edit));
}

} // namespace kronvik
