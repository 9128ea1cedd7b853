// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "pass_applier.h"

#include "file_services.h"

namespace kronvik {

namespace {

class FileSystem : public PassApplier
{
public:
    PictureRead Read(const std::string &path, int shiftHours) override
    {
        return ReadPicture(path, shiftHours, true);
    }
    bool ReadsAhead() const override { return true; }
    bool MakesChanges() const override { return true; }

    ShiftMade Shift(const ShiftChange &shift, PictureRead &read, const CalendarTime &,
                    bool onlyAsPlanned, const UnforeseenShiftWrite &beforeUnforeseen) override
    {
        return ShiftExifTime(
                shift.path, shift.hours,
                PlannedShift{std::move(read.head), shift.offset, shift.pair,
                             read.stampError == 0 ? std::optional(read.stamp) : std::nullopt,
                             onlyAsPlanned, beforeUnforeseen, read.update.Take()});
    }

    void LearnShiftWritten(PictureRead &read, const std::optional<FileStamp> &written) override
    {
        // The write gave the file a new modification time. Its access time stays the one the pass
        // found, before its own reads moved it.
        const FileStamp found = read.stamp;
        const bool known = read.stampError == 0;
        if (written) {
            read.stamp = *written;
            read.stampError = 0;
        } else {
            read.stampError = StampFile(read.path, read.stamp);
        }
        if (known && read.stampError == 0) {
            read.stamp.accessedSeconds = found.accessedSeconds;
            read.stamp.accessedNanoseconds = found.accessedNanoseconds;
        }
        read.lastWriteKnown =
                read.stampError == 0 && LocalModificationTime(read.stamp, read.lastWrite);
        read.lastWriteSeconds = read.lastWriteKnown
                                        ? std::optional<std::int64_t>(read.stamp.modifiedSeconds)
                                        : std::nullopt;
        read.twoSecondTimes.reset();
        LearnTwoSecondTimes(read);
    }

    int Rename(const RenameChange &rename) override
    {
        return RenameNoReplace(rename.from, rename.to);
    }

    PathHolds LookAgain(const std::string &path, const CheckedFile &checked) override
    {
        return kronvik::LookAgain(path, checked);
    }

    bool SetTime(const TimeChange &time, const TimeThrough &through, int &error) override
    {
        return SetLastWriteTime(time.path, time.time, &error,
                                time.accessTime ? &*time.accessTime : nullptr, through.followLinks,
                                through.descriptor);
    }
};

} // namespace

PassApplier &FileSystemApplier()
{
    static FileSystem applier;
    return applier;
}

} // namespace kronvik
