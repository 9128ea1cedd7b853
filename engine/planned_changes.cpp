// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "planned_changes.h"

#include "file_services.h"
#include "file_stamp.h"
#include "file_state.h"
#include "local_clock.h"

#include <algorithm>
#include <tuple>

namespace kronvik {

namespace {

constexpr std::int64_t kNanosecondsPerSecond = 1000000000;

auto Fields(const JournalChange &change)
{
    return std::tie(change.kind, change.path, change.newPath, change.size, change.offset,
                    change.bytesBefore, change.bytesAfter, change.hours, change.timeBefore,
                    change.timeAfter, change.identity, change.fileSystemUuid);
}

} // namespace

FileFacts FactsOf(const PictureRead &read)
{
    FileFacts facts;
    if (read.stampError != 0)
        return facts;
    facts.size = read.stamp.size;
    facts.modified =
            FileTimeNanoseconds(read.stamp.modifiedSeconds, read.stamp.modifiedNanoseconds);
    facts.identity = read.stamp.identity;
    facts.fileSystemUuid = FileSystemUuid(read.stamp.identity.device);
    return facts;
}

std::vector<JournalChange> JournalChangesOf(const PictureRead &read, const PicturePlan &plan,
                                            const FileFacts &facts)
{
    std::vector<JournalChange> changes;
    changes.reserve(3);
    if (plan.shift && plan.shift->offset && plan.outcome != PictureOutcome::PassEnds) {
        const std::size_t at = *plan.shift->offset;
        changes.push_back(JournalChange::Shift(
                plan.shift->path, facts.size, at,
                read.head.size() >= at ? read.head.substr(at, kShiftedPairBytes) : std::string(),
                plan.shift->pair, plan.shift->hours, facts.modified, facts.identity));
    }
    const bool dates = plan.outcome == PictureOutcome::Dated;
    if (plan.rename && (dates || plan.outcome == PictureOutcome::Refused))
        changes.push_back(JournalChange::Rename(plan.rename->from, plan.rename->to, facts.size,
                                                facts.identity));
    if (plan.time && dates) {
        // The time the file had before the pass touched it: the one an undo gives back. A time
        // beyond the journal's nanoseconds is refused before the file is touched: no change.
        if (const std::optional<std::int64_t> after = LocalTimeToSeconds(plan.time->time);
            after && IsRecordableFileTime(*after))
            changes.push_back(JournalChange::Time(plan.time->path, facts.size, facts.modified,
                                                  *after * kNanosecondsPerSecond, facts.identity));
    }
    for (JournalChange &change : changes)
        change.fileSystemUuid = facts.fileSystemUuid;
    return changes;
}

JournalChange UnforeseenShiftOf(const ShiftChange &shift, std::size_t offset,
                                std::string_view before, std::string_view after)
{
    FileStamp now;
    const bool known = StampFile(shift.path, now) == 0;
    JournalChange change = JournalChange::Shift(
            shift.path, known ? now.size : 0, offset, std::string(before), std::string(after),
            shift.hours,
            known ? FileTimeNanoseconds(now.modifiedSeconds, now.modifiedNanoseconds) : 0,
            known ? now.identity : FileIdentity{});
    if (known)
        change.fileSystemUuid = FileSystemUuid(now.identity.device);
    return change;
}

bool SameChanges(const std::vector<JournalChange> &a, const std::vector<JournalChange> &b)
{
    return std::equal(
            a.begin(), a.end(), b.begin(), b.end(),
            [](const JournalChange &x, const JournalChange &y) { return Fields(x) == Fields(y); });
}

} // namespace kronvik
