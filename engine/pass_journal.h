// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "journal.h"
#include "journal_thread.h"

#include <cstddef>
#include <cstdint>
#include <future>
#include <map>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace kronvik {

struct PictureRead;
struct ShiftedBefore;

// The journal's part in one dating pass that changes its pictures:
//
//   PassJournal(start)        the pass's row
//   PlanBatch / Plan          the changes of pictures, committed before any of them is made
//   Done / Abandon            each change once made, or once its plan no longer holds
//   End(counters, outcome)    the pass's end, with the last marks
//
// The journal is written on a thread of its own from the pass's row on: a batch planned ahead is
// committed while the pass dates the pictures before it. Marks ride in the next commit. Each
// picture's changes carry its index in the list, so the changes of a picture planned again after
// its shift stay one picture for an undo.
class PassJournal
{
public:
    // One picture's changes of a batch, given back with their ids once they are committed.
    struct PictureRows
    {
        std::vector<ChangeId> ids;
        std::vector<JournalChange> changes;
    };
    // A batch's rows, each picture's apart, once they are committed: get() waits for the commit
    // and throws its JournalError.
    using Batch = std::future<std::vector<PictureRows>>;

    // Throws JournalError.
    PassJournal(Journal &journal, const PassStart &start);

    // The ids of `changes`, committed. Throws JournalError.
    std::vector<ChangeId> Plan(std::size_t index, const std::vector<JournalChange> &changes);
    // The changes of several pictures, by their index, to be committed in one transaction. They
    // come back with the batch's ids: the batch is made on the journal's thread without a copy.
    Batch PlanBatch(std::vector<std::pair<std::size_t, std::vector<JournalChange>>> pictures);
    void Done(ChangeId change) { m_marks.push_back({change, ChangeState::Done}); }
    void Abandon(ChangeId change) { m_marks.push_back({change, ChangeState::Abandoned}); }
    // The pass's counters after a picture, written with that picture's marks.
    void Count(std::int32_t datedSuccessfully, std::int32_t datedUnsuccessfully)
    {
        m_counters = {datedSuccessfully, datedUnsuccessfully};
    }
    // Once only. Throws JournalError.
    void End(const PassEnd &end);

    // FindShiftedBefore for a picture of this pass. Whether any earlier pass shifted by the
    // read's hours is asked once, and their shifts read once: the pass's own shifts are on its
    // record, and the locks on its folders keep other passes from shifting its pictures
    // meanwhile. The pictures are looked up on a connection of the pass's own thread, which waits
    // for no commit. Throws JournalError.
    std::optional<ShiftedBefore> EarlierShiftOf(const PictureRead &read);

private:
    struct PendingMark
    {
        ChangeId change;
        ChangeState state;
    };

    // `work` on the journal's thread, after the marks made since the last work.
    template<typename Work>
    auto Post(Work work)
    {
        // The next batch marks about as many: room for them now, not a doubling at a time.
        std::vector<PendingMark> marks;
        marks.reserve(m_marks.size());
        std::swap(marks, m_marks);
        std::optional<std::pair<std::int32_t, std::int32_t>> counters;
        if (m_counters != m_countersPosted)
            counters = m_countersPosted = m_counters;
        return m_thread.Post(
                [this, marks = std::move(marks), counters, work = std::move(work)]() mutable {
                    for (const PendingMark &mark : marks) {
                        if (mark.state == ChangeState::Done)
                            m_journal.MarkDone(mark.change);
                        else
                            m_journal.MarkAbandoned(mark.change);
                    }
                    if (counters)
                        m_journal.NoteCounters(counters->first, counters->second);
                    return work();
                });
    }

    Journal &m_journal;
    bool m_ended = false;
    std::map<int, bool> m_shiftsBy;
    std::unique_ptr<Journal> m_lookups; // opened for the first picture looked up
    // A pass by hours that earlier passes shifted by has its connection opened, and their shifts
    // read, while it starts: the first read of a long journal takes a while.
    std::future<std::unique_ptr<Journal>> m_lookupsAhead;
    std::vector<PendingMark> m_marks;
    std::pair<std::int32_t, std::int32_t> m_counters{}, m_countersPosted{};
    JournalThread m_thread; // last: it stops, with its work done, before the rest goes
};

// A journaled shift, done and not taken back, that left the date pair `read` found exactly as it
// is, by the hours `read` was made for: the picture must not be shifted again. Nothing when there
// is none, or when the read was made for no shift. Throws JournalError.
std::optional<ShiftedBefore> FindShiftedBefore(Journal &journal, const PictureRead &read);

} // namespace kronvik
