// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "dating_pass.h"

#include "file_error.h"
#include "pass_applier.h"
#include "pass_journal.h"
#include "picture_dater.h"

#include <algorithm>
#include <optional>
#include <vector>

namespace kronvik {

namespace {

const char *const kSuccessLine =
        "%4d-%02d-%02d %02d:%02d:%02d: Digital pictures dated successfully: %d";
const char *const kFailureLine =
        "%4d-%02d-%02d %02d:%02d:%02d: Digital pictures dated unsuccessfully: %d";

// How many pictures' changes the journal commits at once. A commit costs as much as dating
// several pictures on a fast disk: it writes again every page its rows touched. The first batch
// is small, so that the first pictures are not kept waiting for the reads of many; the batches
// then double up to the most, which is half the reads the pass keeps in hand: with the batch
// being dated and the next one planned, the workers still read while the pass applies a batch. A
// pass killed meanwhile leaves no more rows than these two batches for its recovery to find never
// made.
constexpr std::size_t kFirstPlannedAhead = 4;
constexpr std::size_t kMostPlannedAhead = 64;

unsigned ReadAheadThreads(const DatingSession &session, const PassApplier &applier)
{
    if (!applier.ReadsAhead())
        return 0;
    return session.readAheadThreads < 0 ? PictureReadAhead::DefaultThreads()
                                        : static_cast<unsigned>(session.readAheadThreads);
}

} // namespace

int ProgressPercent(std::uint32_t index, std::uint32_t count)
{
    // The quotient comes first: 29 / 100 * 100 lies just below 29 and truncates to 28.
    return static_cast<int>(static_cast<double>(index + 1) / static_cast<double>(count) * 100.0);
}

void ShowProgress(DatingSession &session, std::uint32_t index, std::uint32_t count)
{
    const int percent = ProgressPercent(index, count);
    session.view.SetProgressPosition(percent);
    session.view.SetStatusLabel(StatusLabel::Percent, FormatText("%d%%", percent));
    session.view.SetStatusLabel(StatusLabel::Current, std::to_string(index + 1));
}

void DatePictures(DatingSession &session)
{
    ProgramState &state = session.state;
    const auto count = static_cast<std::uint32_t>(state.pictureList.size());
    session.cancel = false;
    session.view.SetStatusLabel(StatusLabel::Caption, "Dating:");
    session.view.SetStatusLabel(StatusLabel::Of, "of");
    state.datedSuccessfully = 0;
    state.datedUnsuccessfully = 0;

    PassApplier &applier = session.applier ? *session.applier : FileSystemApplier();
    // The pass's row comes before any change: a journal that cannot be written stops the pass
    // here, with nothing changed.
    std::optional<PassJournal> journal;
    if (session.journal && applier.MakesChanges())
        journal.emplace(*session.journal, PassStart{session.journalFrontEnd,
                                                    session.journalSources.empty()
                                                            ? session.view.SourceDirectoryText()
                                                            : session.journalSources,
                                                    session.timeAdjust, session.recurse, 0});
    else if (session.journal)
        session.journal->CheckWritable(); // a preview ends here as its run would
    PassJournal *const rows = journal ? &*journal : nullptr;
    const auto end = [&](PassOutcome outcome) {
        return PassEnd{state.datedSuccessfully, state.datedUnsuccessfully, outcome};
    };

    PassRecord record;
    bool stopped = false;
    // The batch whose pictures are being dated, and the next, whose rows are being committed.
    std::optional<PlannedBatch> current;
    std::optional<PlannedBatch> next;
    std::size_t plannedAhead = kFirstPlannedAhead;
    // Rows planned ahead for pictures the pass does not reach: never made.
    const auto abandon = [&](std::optional<PlannedBatch> &batch) {
        if (!batch)
            return;
        if (batch->rows.valid()) {
            try {
                batch->AwaitRows();
            } catch (const JournalError &) {
                batch.reset(); // nothing of it was committed
                return;
            }
        }
        for (PlannedAhead &picture : batch->pictures) {
            for (ChangeId id : picture.ids)
                rows->Abandon(id);
            picture.ids.clear();
        }
        batch.reset();
    };
    const auto abandonUnreached = [&] {
        abandon(current);
        abandon(next);
    };
    try {
        // Reads run ahead on worker threads; each picture is still decided and changed at its
        // turn, in list order, here. Leaving the loop stops the reads at hand.
        PictureReadAhead ahead(state.pictureList, count, ReadAheadThreads(session, applier),
                               session.timeAdjust);
        const auto planFrom = [&](std::size_t first, const PlannedBatch *before) {
            PlannedBatch batch =
                    PlanAhead(session, first, std::min<std::size_t>(first + plannedAhead, count),
                              record, ahead, *rows, before);
            plannedAhead = std::min(2 * plannedAhead, kMostPlannedAhead);
            return batch;
        };
        // The pass holds its own size: the front end keeps the list unchanged while a pass runs,
        // and the bound check guards against one that does not.
        for (std::uint32_t i = 0; i < count && i < state.pictureList.size(); ++i) {
            if (session.cancel) {
                stopped = true;
                break;
            }
            session.view.SetStatusLabel(StatusLabel::File, state.pictureList[i]);
            if (rows && (!current || current->first + current->pictures.size() <= i)) {
                if (next && next->first == i) {
                    current = std::move(next);
                    next.reset();
                } else {
                    abandon(next);
                    current = planFrom(i, nullptr);
                }
                // No change of a picture is made before its rows are in the journal.
                current->AwaitRows();
                // The rows of the pictures after these are committed while these are dated.
                if (const std::optional<std::size_t> after = current->Next();
                    after && *after < count)
                    next = planFrom(*after, &*current);
            }
            if (rows && i - current->first < current->pictures.size()) {
                // Its rows are its own from here on, whatever becomes of the picture.
                PlannedAhead mine = std::move(current->pictures[i - current->first]);
                current->pictures[i - current->first].ids.clear();
                DatePicture(session, i, record, std::move(mine.read), rows, &mine);
            } else {
                DatePicture(session, i, record, ahead.Take(i), rows);
            }
            if (rows)
                rows->Count(state.datedSuccessfully, state.datedUnsuccessfully);
            ShowProgress(session, i, count);
            if (!session.view.DrainMessages()) {
                stopped = i + 1 < count;
                break;
            }
        }
    } catch (const FileError &) {
        if (journal) {
            abandonUnreached();
            // The file error is what the user must see; a journal failing as well adds nothing.
            try {
                journal->End(end(PassOutcome::FileError));
            } catch (const JournalError &) {
            }
        }
        throw;
    }

    const CalendarTime now = ReadLogTime(session.clock);
    session.log.AppendLogLine(FormatLogLine(now, kSuccessLine, state.datedSuccessfully));
    session.log.AppendLogLine(FormatLogLine(now, kFailureLine, state.datedUnsuccessfully));
    if (journal) {
        abandonUnreached();
        journal->End(
                end(stopped || session.cancel ? PassOutcome::Cancelled : PassOutcome::Finished));
    }
}

} // namespace kronvik
