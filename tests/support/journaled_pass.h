// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "exif_time_shift.h"
#include "file_services.h"
#include "file_state.h"
#include "journal.h"
#include "temp_dir.h"

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

namespace kronvik::test {

// The changes a dating pass makes to one picture, worked out from the file as it is: the shift
// of its date pair by `hours` (when not 0), the rename after its (shifted) date, and the
// modification time of that date.
inline PlannedPicture PlanDating(const std::string &path, int hours)
{
    FileState state;
    ReadFileState(path, state);
    const std::string head = ReadBytes(path).substr(0, kShiftReadBytes);
    PlannedPicture plan;
    const std::optional<std::size_t> at = FindDatePair(head, hours);
    if (!at)
        return plan;
    std::string date = head.substr(*at, kDateStringBytes - 1);
    if (hours != 0) {
        date = *ShiftDateString(date, hours);
        const std::string pair = date + '\0' + date + '\0';
        plan.changes.push_back(JournalChange::Shift(path, state.size, *at,
                                                    head.substr(*at, kShiftedPairBytes), pair,
                                                    hours, state.modified, state.identity));
    }
    std::tm local{};
    std::sscanf(date.c_str(), "%d:%d:%d %d:%d:%d", &local.tm_year, &local.tm_mon, &local.tm_mday,
                &local.tm_hour, &local.tm_min, &local.tm_sec);
    char name[64];
    std::snprintf(name, sizeof name, "%04d-%02d-%02d %02d.%02d.%02d.JPG", local.tm_year,
                  local.tm_mon, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
    local.tm_year -= 1900;
    local.tm_mon -= 1;
    local.tm_isdst = -1;
    const std::int64_t taken = static_cast<std::int64_t>(std::mktime(&local)) * 1000000000;
    const std::string newPath = path.substr(0, path.rfind('/') + 1) + name;
    plan.changes.push_back(JournalChange::Rename(path, newPath, state.size, state.identity));
    plan.changes.push_back(
            JournalChange::Time(newPath, state.size, state.modified, taken, state.identity));
    return plan;
}

// Makes one planned change through the program's own operations: the time shift, the rename
// that never replaces, the modification time. Returns 0 or an errno value.
inline int MakeChange(const JournalChange &change)
{
    switch (change.kind) {
    case ChangeKind::Shift:
        ShiftExifTime(change.path, change.hours);
        return 0;
    case ChangeKind::Rename:
        return RenameNoReplace(change.path, change.newPath);
    case ChangeKind::Time:
        return SetModificationTime(change.path, change.timeAfter);
    }
    return EINVAL;
}

// Dates `pictures` as a journaled pass over `sources` would: every picture planned in one batch
// (committed before any change), each change made and marked done, or abandoned with the rest of
// its picture once one is refused; then the pass's end with its counters. Returns the pass.
inline PassId DateJournaled(Journal &journal, const std::string &sources,
                            const std::vector<std::string> &pictures, int hours)
{
    const PassId pass = journal.BeginPass({JournalFrontEnd::Cli, sources, hours, true, 0});
    std::vector<PlannedPicture> plans;
    for (const std::string &picture : pictures)
        plans.push_back(PlanDating(picture, hours));
    const std::vector<ChangeId> ids = journal.PlanBatch(plans);
    std::size_t next = 0;
    PassEnd end;
    for (const PlannedPicture &plan : plans) {
        bool refused = false;
        for (const JournalChange &change : plan.changes) {
            const ChangeId id = ids[next++];
            refused = refused || MakeChange(change) != 0;
            journal.Mark(id, refused ? ChangeState::Abandoned : ChangeState::Done);
        }
        if (!plan.changes.empty())
            ++(refused ? end.datedUnsuccessfully : end.datedSuccessfully);
    }
    journal.EndPass(end);
    return pass;
}

} // namespace kronvik::test
