// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

namespace kronvik {

// Lowers the calling thread's scheduling priority by `steps` nice levels (Linux keeps one for each
// thread), for work that may wait while the program's other threads run. Nothing happens where
// the system refuses.
void LowerThreadPriority(int steps);

} // namespace kronvik
