// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "journal.h"
#include "log_clock.h"
#include "run_log.h"
#include "source_locks.h"

#include <string>
#include <vector>

namespace kronvik {

// Rolls back what killed passes left half done in `heldFolders` (and below them), folders that
// the caller holds locked (SourceLocks::Folders), so that no other run can be working in them. A
// pass is unfinished when its row has no end and its process is gone (the process id and its stamp
// are the hint; the locks the proof). Of each such pass, every change that was planned and not
// marked done, and whose file lies in a held folder, is looked at in reverse order and rolled back
// to the state before it, never replacing a file:
//   a rename found made is renamed back; the empty placeholder that a rename on FAT or exFAT
//   reserves under the new name is removed if it is still empty; of two names of one file left
//   by a link and unlink, the new one goes;
//   40 bytes found as the shift wrote them get their old bytes back, and the file its old time;
//   a modification time found as set gets its old value back.
// A change found never made is marked abandoned, one rolled back taken back; done changes stay
// for an undo. A pass none of whose changes is left planned gets its end, as interrupted.
// Appends one line to `log` for each pass recovered, once its files are taken back (before the
// journal marks them, which may fail):
// "... Recovered the unfinished pass of YYYY-MM-DD HH:MM:SS: N changes taken back."
// Returns how many changes were taken back in all. Throws JournalError.
int RecoverUnfinishedPasses(Journal &journal, const std::vector<std::string> &heldFolders,
                            const LogClock &clock, RunLog &log);

// RecoverUnfinishedPasses in `folder`, which the scan has just locked beyond the source
// directories (LockFoundFolder): a folder reached through a link or a mount, or, with
// `ownFilesOnly`, one above a source directory that it holds only shared, whose own files no
// other run may change. The folders the killed passes worked in beyond it through links are
// locked too, without waiting, since the run holds locks already. Where another run holds one,
// nothing is taken back and -1 is returned: the scan leaves the folder out, and a later run
// recovers it. Throws JournalError.
int RecoverFoundFolder(Journal &journal, SourceLocks &locks, const std::string &folder,
                       bool ownFilesOnly, const LogClock &clock, RunLog &log);

// The passes that RecoverFoundFolder would recover, without touching a file or the journal.
// Throws JournalError.
std::vector<PassId> PendingInFoundFolder(Journal &journal, const std::string &folder,
                                         bool ownFilesOnly);

// The unfinished passes RecoverUnfinishedPasses would recover in `heldFolders`, without
// touching a file or the journal (for a preview, which recovers nothing); a pass that reached
// pictures in them through links in a folder elsewhere counts too. Throws JournalError.
std::vector<PassId> PendingRecoveries(Journal &journal,
                                      const std::vector<std::string> &heldFolders);

// The folders that hold the files of `rows`, under their old and new names, as the journal names
// them, and the folders of the pictures that those of them that are links lead to.
std::vector<std::string> FoldersOfChanges(const std::vector<ChangeRecord> &rows);

// The folders where RecoverUnfinishedPasses in `heldFolders` would look at files, as the
// journal names them: a pass that reached pictures through links made changes outside the
// folders that the source list's locks hold, and one over a folder of links to pictures in
// them made its changes under the links' names. Throws JournalError.
std::vector<std::string> FoldersToRecover(Journal &journal,
                                          const std::vector<std::string> &heldFolders);

// Extends `locks`, held for their source list, to the folders a recovery in them works in and
// to `alsoFolders` (an undo's), so that no other run works there meanwhile: where they are not
// covered, every lock is taken again in the one order, waiting with `waiter`. False, with
// nothing held, when the waiter gave up. Throws JournalError.
bool HoldFoldersToRecover(Journal &journal, SourceLocks &locks, LockWaiter &waiter,
                          const std::vector<std::string> &alsoFolders = {});

// Whether the process that ran `pass` still runs it: another process whose id and stamp are the
// pass's, holding its mark beside `journal` (a pass of this process whose journal object is
// gone does not run, nor one that its process gave up).
bool ProcessStillRuns(const Journal &journal, const JournaledPass &pass);

// "YYYY-MM-DD HH:MM:SS" in local time, for a journal's time in seconds since the epoch.
std::string JournalTimeText(std::int64_t seconds);

// Whether a file's modification time `actual` is `expected`, as the file system holding `path`
// keeps it (FAT and exFAT round down to the even second).
bool SameModificationTime(std::int64_t actual, std::int64_t expected, const std::string &path);

} // namespace kronvik
