// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

class QWidget;

namespace kronvik {

// Alt with a letter is a dialog's mnemonic: when no enabled control takes it (Alt+D before there
// is a list to date), a text box would type the letter into its text, where it stays, is saved
// with the settings and, in the source list, names a folder the user never typed. The dialog's
// own keys do nothing instead. Ctrl with Alt (AltGr on some keyboards) still types.
void KeepMnemonicKeysOutOf(QWidget *edit);

} // namespace kronvik
