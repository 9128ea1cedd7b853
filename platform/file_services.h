// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "calendar_time.h"

#include <ctime>
#include <string>

namespace kronvik {

// Renames `from` to `to` in the same directory without ever replacing a file at `to`. Returns 0 on
// success, else an errno value (EEXIST when `to` exists). Where the file system refuses
// RENAME_NOREPLACE it falls back to link + unlink, and where links are refused too it reserves `to`
// with an exclusive create and renames over that empty placeholder. Only a change of letter case
// on a case-insensitive file system, where `to` is `from`'s own entry, goes ahead over an existing
// `to`, and only where the file system can change a name's spelling: where both spellings lead to
// one inode (Linux's own FAT and exFAT drivers) rename(2) would do nothing, and it is refused,
// EEXIST. Another name of the same file (a hard link) is a taken name, EEXIST.
int RenameNoReplace(const std::string &from, const std::string &to);

// The system's reason for an errno value, in English whatever the locale: "Read-only file
// system", "Permission denied".
std::string SystemErrorText(int error);

// The last-write (modification) time of the file as local calendar time. False when the file's
// status cannot be read or the time cannot be broken down.
bool ReadLastWriteTime(const std::string &path, CalendarTime &localTime);

// Sets the modification time of the file to the local calendar time, keeping its access time:
// `accessTime` when given (the one a caller read before it read the file itself), else the one the
// file has. False, and nothing changed, when the time is not a valid calendar time, the call
// fails, or the time lies outside 1677 to 2262 or the file system cannot hold it (EOVERFLOW); then
// `error`, when given, receives the errno value of the failed call, or 0 for a time that names no
// moment. With `followLinks` false, a symbolic link at `path` gets the time itself: for a name just
// found to hold the file, so that a link put there since leads nowhere (LookAgain). With
// `descriptor`, an open of the file, the time goes through it and `path` is not used: no other
// file can get it, whatever names change meanwhile.
bool SetLastWriteTime(const std::string &path, const CalendarTime &localTime, int *error = nullptr,
                      const timespec *accessTime = nullptr, bool followLinks = true,
                      int descriptor = -1);

// Whether a modification time (seconds since the epoch) fits the journal's 64-bit nanoseconds,
// 1677 to 2262: SetLastWriteTime refuses any other.
bool IsRecordableFileTime(std::int64_t seconds);

// True when the file system holding `path` keeps file times in 2-second steps (FAT, exFAT).
bool KeepsTwoSecondTimes(const std::string &path);

// Folds ASCII letters only, whatever the locale: names that differ elsewhere count as different,
// so a rename onto them is refused rather than risked.
char AsciiLower(char c);

// Whether `to`, which exists, is `from`'s own directory entry reached through a case-insensitive
// lookup (a FAT or exFAT camera card): the same entry under a name that differs in letter case
// alone.
bool IsOneEntryByLetterCase(const std::string &from, const std::string &to);
// Whether RenameNoReplace renames `from` onto `to`, which exists: 0 for a file given another
// spelling of its own name, where the file system can change it and keeps the file whole, else
// EEXIST.
int CheckRenameOntoOwnName(const std::string &from, const std::string &to);

namespace detail {

// The two fallbacks of RenameNoReplace, each of which never replaces a file at `to` either. Tests
// call them directly: the file systems that need them are not at hand.
int RenameByLink(const std::string &from, const std::string &to);
int RenameOverPlaceholder(const std::string &from, const std::string &to);
// Where placeholders cost files (fusefat): renames only when `to` is found free just before.
int RenameToFreeName(const std::string &from, const std::string &to);

} // namespace detail

} // namespace kronvik
