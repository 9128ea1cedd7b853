// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "journal_history.h"

#include "journal_recovery.h"
#include "run_log.h"

namespace kronvik {

namespace {

constexpr std::int64_t kNanosecondsPerSecond = 1000000000;

std::string TimeOfFile(std::int64_t nanoseconds)
{
    std::int64_t seconds = nanoseconds / kNanosecondsPerSecond;
    if (nanoseconds % kNanosecondsPerSecond < 0)
        --seconds;
    return JournalTimeText(seconds);
}

// The first date string of a pair, as far as it is text.
std::string DateOfPair(const std::string &pair)
{
    return pair.substr(0, pair.find('\0'));
}

} // namespace

std::string PassHistoryLine(Journal &journal, const JournaledPass &pass)
{
    const std::string what = pass.undoes != 0 ? "undo of " + std::to_string(pass.undoes)
                                              : FormatText("%+d hours", pass.timeAdjust);
    const std::string counts = pass.undoes != 0
                                       ? FormatText("%d restored, %d left", pass.datedSuccessfully,
                                                    pass.datedUnsuccessfully)
                                       : FormatText("%d dated, %d refused", pass.datedSuccessfully,
                                                    pass.datedUnsuccessfully);
    // A pass without an end runs only while its process does and holds its mark; one whose
    // process is gone was killed, and one it gave up was stopped: each waits for the next pass or
    // undo over its folders to recover it.
    std::string outcome = pass.outcome == PassOutcome::Running && !ProcessStillRuns(journal, pass)
                                  ? "unfinished"
                                  : OutcomeName(pass.outcome);
    if (pass.undone != 0) {
        outcome += ", undone on " + JournalTimeText(pass.undone);
        // An undo that left pictures as they are may be run again for them.
        if (const int left = journal.CountDoneChanges(pass.id).pictures)
            outcome += FormatText(", %d left", left);
    }
    return FormatText("%4lld  %s  %-6s  %s  %s  %s  %s", static_cast<long long>(pass.id),
                      JournalTimeText(pass.started).c_str(), FrontEndName(pass.frontEnd),
                      pass.sources.c_str(), what.c_str(), counts.c_str(), outcome.c_str());
}

std::string ChangeHistoryLine(const ChangeRecord &record, int position)
{
    const JournalChange &change = record.change;
    std::string detail;
    switch (change.kind) {
    case ChangeKind::Rename:
        detail = change.path + " -> " + change.newPath;
        break;
    case ChangeKind::Shift:
        detail = FormatText("%s: %+d hours at byte %llu, %s -> %s", change.path.c_str(),
                            change.hours, static_cast<unsigned long long>(change.offset),
                            DateOfPair(change.bytesBefore).c_str(),
                            DateOfPair(change.bytesAfter).c_str());
        break;
    case ChangeKind::Time:
        detail = change.path + ": " + TimeOfFile(change.timeBefore) + " -> "
                 + TimeOfFile(change.timeAfter);
        break;
    }
    return FormatText("%5d  %-10s  %-6s  %s", position, ChangeStateName(record.state),
                      ChangeKindName(change.kind), detail.c_str());
}

} // namespace kronvik
