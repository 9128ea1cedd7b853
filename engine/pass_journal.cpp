// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "pass_journal.h"

#include "file_state.h"
#include "journal_recovery.h"
#include "picture_plan.h"
#include "picture_reader.h"

namespace kronvik {

PassJournal::PassJournal(Journal &journal, const PassStart &start)
    : m_journal(journal)
{
    m_journal.BeginPass(start);
    if (start.timeAdjust == 0)
        return;
    // Asked here, on the journal's own connection: a pass by hours that no pass shifted by, the
    // most common, needs no second connection at all.
    const int hours = start.timeAdjust;
    const bool shiftsBy = m_journal.HasShiftsBy(hours);
    m_shiftsBy.emplace(hours, shiftsBy);
    if (shiftsBy)
        m_lookupsAhead = std::async(std::launch::async, [path = journal.Path(), hours] {
            auto lookups = std::make_unique<Journal>(path);
            lookups->KeepShiftsRead();
            lookups->ReadShiftsBy(hours);
            return lookups;
        });
}

std::vector<ChangeId> PassJournal::Plan(std::size_t index,
                                        const std::vector<JournalChange> &changes)
{
    if (changes.empty())
        return {};
    return Post([this, &changes, index] {
               return m_journal.PlanBatch({{changes, static_cast<std::int64_t>(index)}});
           })
            .get();
}

PassJournal::Batch
PassJournal::PlanBatch(std::vector<std::pair<std::size_t, std::vector<JournalChange>>> pictures)
{
    return Post([this, pictures = std::move(pictures)]() mutable {
        std::vector<PlannedPicture> planned;
        planned.reserve(pictures.size());
        for (auto &[index, changes] : pictures)
            if (!changes.empty())
                planned.push_back({std::move(changes), static_cast<std::int64_t>(index)});
        std::vector<PictureRows> rows(pictures.size());
        if (planned.empty())
            return rows;
        const std::vector<ChangeId> all = m_journal.PlanBatch(planned);
        std::size_t next = 0;
        auto back = planned.begin();
        for (std::size_t i = 0; i < pictures.size(); ++i) {
            if (back == planned.end()
                || back->picture != static_cast<std::int64_t>(pictures[i].first))
                continue;
            rows[i].changes = std::move(back->changes);
            ++back;
            for (std::size_t k = 0; k < rows[i].changes.size(); ++k)
                rows[i].ids.push_back(all[next++]);
        }
        return rows;
    });
}

void PassJournal::End(const PassEnd &end)
{
    if (m_ended)
        return;
    m_ended = true;
    Post([this, end] { m_journal.EndPass(end); }).get();
}

std::optional<ShiftedBefore> PassJournal::EarlierShiftOf(const PictureRead &read)
{
    if (read.shiftHours == 0)
        return std::nullopt;
    auto known = m_shiftsBy.find(read.shiftHours);
    if (known == m_shiftsBy.end()) {
        const int hours = read.shiftHours;
        known = m_shiftsBy
                        .emplace(hours,
                                 Post([this, hours] { return m_journal.HasShiftsBy(hours); }).get())
                        .first;
    }
    if (!known->second)
        return std::nullopt;
    if (m_lookupsAhead.valid())
        m_lookups = m_lookupsAhead.get();
    // Through the journal's thread, each picture would wait for the batch being committed there.
    // What earlier passes did is committed: a reader of its own sees it all.
    if (!m_lookups) {
        m_lookups = std::make_unique<Journal>(m_journal.Path());
        m_lookups->KeepShiftsRead();
    }
    return FindShiftedBefore(*m_lookups, read);
}

std::optional<ShiftedBefore> FindShiftedBefore(Journal &journal, const PictureRead &read)
{
    if (read.shiftHours == 0 || !read.pairOffset || read.stampError != 0
        || read.head.size() < *read.pairOffset + kShiftedPairBytes)
        return std::nullopt;
    const std::optional<EarlierShift> earlier = journal.FindEarlierShift(
            read.path, read.stamp.size, *read.pairOffset,
            read.head.substr(*read.pairOffset, kShiftedPairBytes), read.shiftHours,
            read.stamp.identity, FileSystemUuid(read.stamp.identity.device));
    if (!earlier)
        return std::nullopt;
    return ShiftedBefore{read.shiftHours, JournalTimeText(earlier->started)};
}

} // namespace kronvik
