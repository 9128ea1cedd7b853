// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "exif_time_shift.h"
#include "picture_plan.h"
#include "picture_reader.h"
#include "same_file.h"

#include <string>

namespace kronvik {

// How a time set reaches the picture's file: through `descriptor`, the open its read kept, else by
// path, following a link there or not (SetLastWriteTime).
struct TimeThrough
{
    int descriptor = -1;
    bool followLinks = true;
};

// How a dating pass reaches its pictures: every read and every change of the pass goes through
// an applier. The pass's own works on the file system; a preview's (pass_preview.h) changes
// nothing and keeps what each change would have done, so that it reads the pictures afterwards as
// the run would find them. Everything else of the pass, the decisions and the lines above all, is
// the same code for both.
class PassApplier
{
public:
    virtual ~PassApplier() = default;

    // ReadPicture, of the file as the pass would find it now.
    virtual PictureRead Read(const std::string &path, int shiftHours) = 0;
    // Whether reads may be made ahead on worker threads, which see only the file system.
    virtual bool ReadsAhead() const = 0;
    // Whether the changes reach the disk, so that a journal must record them first.
    virtual bool MakesChanges() const = 0;

    // The time shift `shift`, planned from `read` (ShiftExifTime with that plan); `now` is the
    // picture's log time. `read` gives up its leading bytes to it. With `onlyAsPlanned`, a file
    // that changed since `read` is not written; otherwise `beforeUnforeseen` (when not empty) is
    // told what is written into it before the write. Throws FileError, and what
    // `beforeUnforeseen` throws.
    virtual ShiftMade Shift(const ShiftChange &shift, PictureRead &read, const CalendarTime &now,
                            bool onlyAsPlanned, const UnforeseenShiftWrite &beforeUnforeseen) = 0;
    // After a shift wrote the date pair: `read` learns the file's status as the write left it
    // (`written`, when the shift saw it).
    virtual void LearnShiftWritten(PictureRead &read, const std::optional<FileStamp> &written) = 0;
    // RenameNoReplace: 0 or an errno value.
    virtual int Rename(const RenameChange &rename) = 0;
    // LookAgain: whether `path` still names the file the pass checked, after its rename and
    // before its time is set, as another program may have swapped files meanwhile.
    virtual PathHolds LookAgain(const std::string &path, const CheckedFile &checked) = 0;
    // SetLastWriteTime: false when the time was not set, with the errno of the call that failed
    // in `error` (0 for a time that names no moment).
    virtual bool SetTime(const TimeChange &time, const TimeThrough &through, int &error) = 0;
};

// The applier of a pass that changes its pictures: the picture reader and the platform layer.
PassApplier &FileSystemApplier();

} // namespace kronvik
