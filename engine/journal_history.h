// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "journal.h"

#include <string>

namespace kronvik {

// One line of the history for a pass: its number, start, front end, source folders, time
// adjustment (or the pass an undo took back), counts, how it ended, and when it was undone with
// how many pictures that undo left as they are:
// "   7  2026-05-04 10:11:12  cli     /pics  +2 hours  40 dated, 1 refused  finished"
std::string PassHistoryLine(Journal &journal, const JournaledPass &pass);

// One line for a change, numbered from 1 within its pass:
// "    1  done        rename  /pics/IMG_0001.JPG -> /pics/2005-07-14 09.03.27.JPG"
std::string ChangeHistoryLine(const ChangeRecord &record, int position);

} // namespace kronvik
