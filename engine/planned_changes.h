// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "journal.h"
#include "picture_plan.h"
#include "picture_reader.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kronvik {

// The file as the pass found it before it touched the picture: what the journal tells it by, and
// what an undo gives it back.
struct FileFacts
{
    std::uint64_t size = 0;
    std::int64_t modified = 0; // nanoseconds since the epoch
    FileIdentity identity;
    std::string fileSystemUuid;
};

// The facts of the file `read` found; the file system's UUID where its mount has one.
FileFacts FactsOf(const PictureRead &read);

// The changes of `plan`, decided from `read`, in the journal's terms and in the order they are
// made: the shift where it writes a date pair, then the rename and the time of a picture the plan
// dates. A rename that the pass's record already refuses is still tried, so it is recorded too.
std::vector<JournalChange> JournalChangesOf(const PictureRead &read, const PicturePlan &plan,
                                            const FileFacts &facts);

// The shift that writes `after` over `before` at `offset` of the shift's file, as the file is
// now: for a write into a file that changed since the read its plan was made from.
JournalChange UnforeseenShiftOf(const ShiftChange &shift, std::size_t offset,
                                std::string_view before, std::string_view after);

// Whether two lists of changes say the same, field by field.
bool SameChanges(const std::vector<JournalChange> &a, const std::vector<JournalChange> &b);

} // namespace kronvik
