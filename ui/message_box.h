// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <QMessageBox>

namespace kronvik {

// Shows the program's kind of message box, owned by `owner`, with one OK button, and waits for it
// to close. The button shows its caption only: a desktop theme that asks for icons on dialog
// buttons would otherwise give it the style's fallback icon.
void ShowMessageBox(QWidget *owner, QMessageBox::Icon icon, const QString &title,
                    const QString &text);

} // namespace kronvik
