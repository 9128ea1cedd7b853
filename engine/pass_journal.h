// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "journal.h"

#include <cstddef>
#include <map>
#include <optional>
#include <utility>
#include <vector>

namespace kronvik {

struct PictureRead;
struct ShiftedBefore;

// The journal's part in one dating pass that changes its pictures:
//
//   PassJournal(start)        the pass's row
//   Plan(index, changes)      at a picture's turn, its changes, committed before any is made
//   Done / Abandon            each change once made, or once its plan no longer holds
//   End(counters, outcome)    the pass's end, with the last marks
//
// Marks ride in the next commit. Each picture's changes carry its index in the list, so the
// changes of a picture planned again after its shift stay one picture for an undo.
class PassJournal
{
public:
    // Throws JournalError.
    PassJournal(Journal &journal, const PassStart &start);

    // The ids of `changes`, committed. Throws JournalError.
    std::vector<ChangeId> Plan(std::size_t index, const std::vector<JournalChange> &changes);
    // The changes of several pictures, by their index, in one commit: the ids of each. Throws
    // JournalError.
    std::vector<std::vector<ChangeId>>
    PlanBatch(const std::vector<std::pair<std::size_t, std::vector<JournalChange>>> &pictures);
    void Done(ChangeId change) { m_journal.MarkDone(change); }
    void Abandon(ChangeId change) { m_journal.MarkAbandoned(change); }
    // Once only. Throws JournalError.
    void End(const PassEnd &end);

    // FindShiftedBefore for a picture of this pass. Whether any earlier pass shifted by the
    // read's hours is asked once: the pass's own shifts are on its record, and the locks on its
    // folders keep other passes from shifting its pictures meanwhile. Throws JournalError.
    std::optional<ShiftedBefore> EarlierShiftOf(const PictureRead &read);

private:
    Journal &m_journal;
    bool m_ended = false;
    std::map<int, bool> m_shiftsBy;
};

// A journaled shift, done and not taken back, that left the date pair `read` found exactly as it
// is, by the hours `read` was made for: the picture must not be shifted again. Nothing when there
// is none, or when the read was made for no shift. Throws JournalError.
std::optional<ShiftedBefore> FindShiftedBefore(Journal &journal, const PictureRead &read);

} // namespace kronvik
