// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "dating_session.h"
#include "pass_journal.h"
#include "picture_plan.h"
#include "picture_reader.h"

#include <cstddef>
#include <optional>

namespace kronvik {

// What the changes of one picture really did, set against its first plan: a journal records the
// plan before the changes and this after them, and tells a plan that no longer held.
struct AppliedChanges
{
    PicturePlan plan; // as first decided, before any change
    bool shifted = false; // the date pair was written
    bool shiftAsPlanned = true; // the file still held what the plan was made from
    bool renamed = false;
    int renameError = 0; // the errno of a rename that was refused
    int timeError = 0; // the errno of setting the time, when that call failed
    PictureOutcome outcome = PictureOutcome::Unreadable; // what became of the picture
};

// A picture whose changes were committed to the journal ahead of its turn, with the read and the
// plan they were made from (PlanAhead).
struct PlannedAhead
{
    std::optional<PictureRead> read;
    std::vector<JournalChange> changes;
    std::vector<ChangeId> ids;
    PicturePlan plan;
    std::optional<ShiftedBefore> shiftedBefore;
};

// Pictures planned ahead from the list's entry `first` on, and their rows, being committed.
struct PlannedBatch
{
    std::size_t first = 0;
    std::vector<PlannedAhead> pictures;
    PassJournal::Batch rows;

    // The picture after the batch, or none when the batch ends the pass.
    std::optional<std::size_t> Next() const;
    // Waits for the rows to be committed and gives each picture its ids: the changes of the
    // pictures may be made from here on. Once only. Throws JournalError.
    void AwaitRows();
};

// Plans pictures [first, end) of the list as the pass would date them if every change before
// theirs went as planned, those of `before` too, and posts all their changes to `journal` in one
// transaction, so that a batch of pictures costs one commit. Reads each picture with `ahead` (or
// at once, without workers). Each one's plan holds at its turn only when it is decided alike
// then; otherwise its rows are abandoned and the picture planned again (DatePicture). Throws
// JournalError.
PlannedBatch PlanAhead(DatingSession &session, std::size_t first, std::size_t end,
                       PassRecord &record, PictureReadAhead &ahead, PassJournal &journal,
                       const PlannedBatch *before = nullptr);

// Dates the picture at `index` of the picture list: shifts its EXIF dates first when the time
// adjustment is not 0, renames it after its EXIF date in its own directory, sets its modification
// time, and reports the outcome as a run-log line. `ahead` is a read of the picture made earlier
// (PictureReadAhead); it is used only while nothing can have changed the file since, else the
// picture is read again now. With `journal`, each change is committed to it before it is made
// (`planned`: the rows committed ahead for it, taken over with their changes while they say the
// same) and marked
// done or abandoned after. Throws FileError only from the time shift, JournalError when the
// journal cannot be written (before the change it was to record).
AppliedChanges DatePicture(DatingSession &session, std::size_t index, PassRecord &record,
                           std::optional<PictureRead> ahead = std::nullopt,
                           PassJournal *journal = nullptr, PlannedAhead *planned = nullptr);

} // namespace kronvik
