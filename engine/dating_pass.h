// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "dating_session.h"

#include <cstdint>

namespace kronvik {

// Dates every picture of the list in order, shows progress after each one, lets the front end
// drain its messages between two pictures, stops before the next picture once the cancel flag is
// set, and ends with the two summary lines. A FileError from a picture ends the pass at once,
// without the summary lines.
void DatePictures(DatingSession &session);

// The percentage done after picture `index` (0-based) of `count`, computed as the quotient first
// in double precision, times 100, truncated: 29 of 100 gives 28.
int ProgressPercent(std::uint32_t index, std::uint32_t count);

// Writes the progress bar, the percentage text and the picture number after picture `index`.
void ShowProgress(DatingSession &session, std::uint32_t index, std::uint32_t count);

} // namespace kronvik
