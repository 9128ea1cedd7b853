// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "message_box.h"

#include <QAbstractButton>

namespace kronvik {

void ShowMessageBox(QWidget *owner, QMessageBox::Icon icon, const QString &title,
                    const QString &text)
{
    QMessageBox box(icon, title, text, QMessageBox::Ok, owner);
    // The messages name paths, which are shown as they are, never read as markup.
    box.setTextFormat(Qt::PlainText);
    for (QAbstractButton *button : box.buttons())
        button->setIcon(QIcon());
    box.exec();
}

} // namespace kronvik
