// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

class QAbstractButton;
class QWidget;

namespace kronvik {

// Alt with a letter is a dialog's mnemonic: when no enabled control takes it (Alt+D before there
// is a list to date), a text box would type the letter into its text, where it stays, is saved
// with the settings and, in the source list, names a folder the user never typed. The dialog's
// own keys do nothing instead. Ctrl with Alt (AltGr on some keyboards) still types.
void KeepMnemonicKeysOutOf(QWidget *edit);

// A check box ticks or clears at once when its mnemonic is pressed, as it does when clicked. Qt
// lets it go only a tenth of a second later, and Enter pressed within that time closed the dialog
// with the box as it was.
void TickAtOnceOnMnemonic(QAbstractButton *box);

} // namespace kronvik
