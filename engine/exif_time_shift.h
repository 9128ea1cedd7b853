// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "file_stamp.h"
#include "locked_file.h"

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace kronvik {

// A date pair may start at offsets 0 to 10,239 of the file: at most 10,279 bytes are read.
inline constexpr std::size_t kShiftWindowOffsets = 10240;
inline constexpr std::size_t kDateStringBytes = 20; // 19 characters and a NUL
inline constexpr std::size_t kShiftReadBytes = kShiftWindowOffsets - 1 + 2 * kDateStringBytes;

// The offset of the first date pair within `head` (the file's leading bytes): two identical
// 19-character EXIF date strings, each with its NUL, back to back, whose date and date shifted by
// `hours` are valid (years 100 to 9999). Nothing when there is none.
std::optional<std::size_t> FindDatePair(std::string_view head, int hours);

// The date string `date` ("YYYY:MM:DD HH:MM:SS") moved by `hours` by calendar arithmetic, without
// time zones. Nothing when it does not scan as six numbers or either date is not valid.
std::optional<std::string> ShiftDateString(std::string_view date, int hours);

// Moves the first date pair near the start of the picture file by `hours`, rewriting both strings
// in place with one positioned write; every other byte and the length stay as they were. Only a
// regular file that begins with the JPEG start bytes FF D8 FF is searched and written: a file
// without a pair, and anything that is missing or no JPEG picture (a vanished file, a dangling
// link, a link loop, a FIFO, a device, a video or sidecar named like a picture), is left
// unchanged. Throws FileError when a JPEG picture cannot be opened for update (read-only, locked
// by another process) or read, written or flushed; its kind follows the system's error.
void ShiftExifTime(const std::string &path, int hours);

// Told, before the write, what a shift writes into a file that no longer begins with the bytes
// of its plan: the offset, the 40 bytes there and the 40 that replace them. The file is open and
// locked meanwhile. Whatever it throws leaves the file unwritten and ends the shift.
using UnforeseenShiftWrite =
        std::function<void(std::size_t offset, std::string_view before, std::string_view after)>;

// What a read of the picture found for the shift: the file's first bytes (up to the end of the
// date pair, or the shift's whole window where it found none), and the date pair in them with the
// 40 bytes that replace it.
struct PlannedShift
{
    std::string head;
    std::optional<std::size_t> offset;
    std::string pair;
    // The file's status when it was read, when known: a file opened with another one (written,
    // replaced, renamed over) changed since, whatever its first bytes still are.
    std::optional<FileStamp> stamp;
    // A file that changed since the read is left unwritten, for its caller to read again.
    bool onlyAsPlanned = false;
    UnforeseenShiftWrite beforeUnforeseenWrite; // may be empty
    // The file as the read opened it for update, unlocked, when it did: the shift takes it over,
    // and locks it, when the path still names it with the status `stamp`, and closes it
    // otherwise.
    mutable LockedFile opened;
};

// What ShiftExifTime did at the picture's turn.
struct ShiftMade
{
    enum class Outcome {
        PassedOver, // missing, no regular file or no JPEG picture: not opened for update
        NothingWritten, // opened for update, no date pair
        Written,
    };
    Outcome outcome = Outcome::PassedOver;
    // The file was still as read for the plan: what was done is what was planned.
    bool asPlanned = false;
    // The file's status once the write was flushed, when it was written and could be asked.
    std::optional<FileStamp> written;
    // The file as written, still open and locked: its time is set through it.
    LockedFile file;
};

// ShiftExifTime with a plan made from an earlier read: while the file (opened for update and
// locked) still begins with the planned bytes and has the planned status, the planned pair is
// written without searching again; otherwise the pair is searched in what the file holds now (or,
// with onlyAsPlanned, nothing is written). Throws FileError as ShiftExifTime does.
ShiftMade ShiftExifTime(const std::string &path, int hours, const PlannedShift &plan);

// Opens `path` for update as the shift does and closes it with nothing written: the system error
// of the FileError that the shift's open would throw (read-only, locked by another process), or
// 0 when it opens or is passed over.
int CheckShiftOpen(const std::string &path);

} // namespace kronvik
