// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "calendar_time.h"
#include "directory_listing.h"
#include "picture_reader.h"

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

namespace kronvik {

// What one dating pass has done so far that decides what later pictures become.
class PassRecord
{
public:
    // What the pass did to or with a path. A picture listed twice (a folder listed twice, or a
    // folder and its own subfolder) is shifted once: under its first path, and the paths it was
    // shifted under or renamed away from are passed over.
    enum Mark : std::uint8_t {
        kShiftedUnder = 1, // the file at this path had its EXIF dates shifted
        kRenamedAway = 2, // the pass renamed a picture away from this path
        kNameTaken = 4, // the pass gave a picture this name, and it still holds it
    };

    // The marks of `path`: 0 for a path the pass has done nothing with.
    std::uint8_t MarksOf(const std::string &path) const
    {
        const auto found = m_paths.find(path);
        return found == m_paths.end() ? 0 : found->second;
    }
    // Whether the pass shifted the EXIF dates of this file. A path is checked as well as the
    // file's identity: a FUSE mount may give one file another inode number at each lookup, and on
    // a case-insensitive file system a name changed only in letter case still reaches the file.
    bool ShiftedFile(const FileIdentity &file) const { return m_shiftedFiles.count(file) != 0; }

    void Mark(const std::string &path, std::uint8_t mark);
    void Unmark(const std::string &path, std::uint8_t mark);
    void MarkShifted(const FileIdentity &file);

private:
    friend class RecordTrial;

    // One entry for every path the pass has marked, kept with no marks left once they are taken
    // back: looked up once for all its marks, and a trial takes a mark back through the entry
    // itself (an unordered map's entries stay where they are). Hashed, since long paths that
    // share their folder compare slowly in order.
    std::unordered_map<std::string, std::uint8_t> m_paths;
    std::set<FileIdentity> m_shiftedFiles;

    // While pictures are planned ahead on the record itself: what their notes changed, in order,
    // for RecordTrial to take back. Copying the record for them instead would cost a pass time
    // that grows with the square of its pictures.
    struct TrialNote
    {
        std::uint8_t *marks = nullptr; // null: `file` was added to m_shiftedFiles
        std::uint8_t before = 0;
        FileIdentity file{};
    };
    std::vector<TrialNote> *m_trial = nullptr;
    // Kept from one trial to the next, so that a batch's notes need no new memory.
    std::vector<TrialNote> m_trialNotes;
};

// Notes made on `record` while it lives are taken back when it ends.
class RecordTrial
{
public:
    explicit RecordTrial(PassRecord &record);
    ~RecordTrial();
    RecordTrial(const RecordTrial &) = delete;
    RecordTrial &operator=(const RecordTrial &) = delete;

private:
    PassRecord &m_record;
};

// Moves the EXIF dates of a picture by whole hours: opens it for update (a picture that cannot be
// written ends the pass, even without a date pair) and writes `pair` at `offset` when there is a
// date pair.
struct ShiftChange
{
    std::string path;
    int hours = 0;
    std::optional<std::size_t> offset;
    std::string pair; // both moved date strings with their NULs: 40 bytes

    friend bool operator==(const ShiftChange &, const ShiftChange &) = default;
};

// Gives a picture its new name in its own directory, never replacing a file.
struct RenameChange
{
    std::string from;
    std::string to;

    friend bool operator==(const RenameChange &, const RenameChange &) = default;
};

// Sets a picture's modification time (only a date that names a real moment).
struct TimeChange
{
    std::string path;
    CalendarTime time;
    // The access time the file had when the pass read it, which it keeps: none, the one it has
    // then. It is no part of the change.
    std::optional<timespec> accessTime;

    friend bool operator==(const TimeChange &a, const TimeChange &b)
    {
        return a.path == b.path && a.time == b.time;
    }
};

// A journaled shift of an earlier pass by the same hours that left the picture's date pair as it
// is now: the picture is not shifted again, and the run log says so.
struct ShiftedBefore
{
    int hours = 0;
    std::string passStarted; // "YYYY-MM-DD HH:MM:SS"
};

enum class PictureOutcome {
    PassEnds, // the picture cannot be opened to shift its dates: a file error ends the pass
    AlreadyDated, // named after its modification time: passed over without a line
    Unreadable, // not a regular file, not a JPEG, or the library failed
    NoExif, // a JPEG without EXIF entries
    BadDate, // no date text, or one that does not scan
    Dated, // renamed (or carrying its new name already) and given its time
    Refused, // the new name is taken (by an earlier picture of this pass)
};

// What becomes of one picture: the changes, in the order they are made, the run-log lines and the
// counts. A plain value: the pass makes it, a preview would show it, a journal would record it.
struct PicturePlan
{
    std::optional<ShiftChange> shift;
    // The error the shift's open is expected to meet (PassEnds).
    int shiftError = 0;
    // The picture's directory, with its separator; a line when it is not the last one's.
    std::string directory;
    std::optional<std::string> directoryLine;
    // Follows the directory line: the picture's dates were shifted by an earlier pass.
    std::optional<std::string> shiftedBeforeLine;
    PictureOutcome outcome = PictureOutcome::Unreadable;
    // The outcome's line; for a rename, the line of the rename as planned.
    std::string line;
    std::string fileName;
    std::string newName;
    std::string newPath;
    std::optional<RenameChange> rename;
    std::optional<TimeChange> time;
    int datedSuccessfully = 0;
    int datedUnsuccessfully = 0;
};

// Decides what becomes of the picture `read` describes, at its turn: from the read, the pass's
// record, the directory of the picture dated last, the time adjustment as it is now and the log
// timestamp `now`. Pure: no file is looked at. The read must be made for ShiftHoursFor(...) hours,
// or for none with `shiftedBefore`: then the picture is not shifted and is dated from its dates as
// they are. Without `lines`, the plan's lines are left empty: for a plan made ahead, whose lines
// are written from the plan made at the picture's turn.
PicturePlan PlanPicture(const PictureRead &read, const PassRecord &record,
                        const std::string &lastDirectory, int adjustment, const CalendarTime &now,
                        const std::optional<ShiftedBefore> &shiftedBefore = std::nullopt,
                        bool lines = true);

// The hours a read must be made for so that PlanPicture can decide from it: the adjustment when
// the pass is to shift the picture, else 0 (no adjustment, or the pass shifted this file or path,
// or renamed this path away, already).
int ShiftHoursFor(const std::string &path, const std::optional<FileIdentity> &identity,
                  const PassRecord &record, int adjustment);

// Notes in `record` a shift made (or passed over) and a rename made; a preview notes what it
// planned instead.
void NoteShift(PassRecord &record, const std::string &path,
               const std::optional<FileIdentity> &identity);
void NoteRename(PassRecord &record, const RenameChange &rename);

// Whether the already-dated test of the picture at `path` must ask whether its file system keeps
// 2-second times: its name reads as a date that `lastWrite` misses.
bool NeedsTwoSecondTest(const std::string &path, const CalendarTime &lastWrite);

} // namespace kronvik
