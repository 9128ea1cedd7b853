// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "picture_scan.h"

#include "directory_listing.h"
#include "journal_recovery.h"
#include "pass_applier.h"
#include "path_names.h"
#include "source_locks.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <set>
#include <strings.h>
#include <vector>

namespace kronvik {

namespace {

const char *const kFoundLine = "%4d-%02d-%02d %02d:%02d:%02d: Digital pictures found in %s: %d";

bool EndsWithJpg(const std::string &path)
{
    return path.size() >= 4 && strcasecmp(path.c_str() + path.size() - 4, ".jpg") == 0;
}

} // namespace

// The source directory list split at ";" as strtok splits it: runs of separators count as one
// and empty entries never come out; blanks stay part of a directory.
std::vector<std::string> SplitSourceList(const std::string &text)
{
    std::vector<std::string> directories;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find(';', start);
        if (end == std::string::npos)
            end = text.size();
        if (end > start)
            directories.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return directories;
}

namespace {

// Locks a folder found beyond this run's locks (SourceLocks::LockFoundFolder). One reached now
// may hold what a killed pass over it left half done: that is taken back before the folder is
// searched, as in the source directories before the scan (only its own files where it is held
// shared), or named by a preview. Where it cannot be taken back now, the folder is left out as
// one that another run holds.
FolderCover LockFoundFolder(DatingSession &session, const std::string &folder)
{
    bool lockedNow = false;
    const FolderCover cover = session.sourceLocks->LockFoundFolder(folder, &lockedNow);
    if (!lockedNow || !session.journal)
        return cover;
    const bool ownFilesOnly = cover == FolderCover::SharedByThisRun;
    if (session.applier && !session.applier->MakesChanges()) {
        const std::vector<PassId> pending =
                PendingInFoundFolder(*session.journal, folder, ownFilesOnly);
        if (!pending.empty())
            session.view.ReportRecoveryPending(folder, pending);
        return cover;
    }
    if (RecoverFoundFolder(*session.journal, *session.sourceLocks, folder, ownFilesOnly,
                           session.clock, session.log)
        < 0)
        return FolderCover::HeldByAnotherRun;
    return cover;
}

// Whether the scan may take the picture at `path`, a link: where its file lies in a folder that
// another run holds, that run may be changing it.
bool LinkedPictureFree(DatingSession &session, const std::string &path)
{
    std::string folder = FolderOfLinkedFile(path);
    // A link that leads to no file is the pass's to report; it may lead where a killed pass
    // renamed its picture, and then the folder is recovered as one that it leads to.
    if (folder.empty() && session.journal) {
        folder = FolderOfMissingLinkTarget(path);
        if (!folder.empty() && PendingInFoundFolder(*session.journal, folder, false).empty())
            folder.clear();
    }
    return folder.empty() || LockFoundFolder(session, folder) != FolderCover::HeldByAnotherRun;
}

// `ancestors` holds the directories of the current descent, so a directory link that leads back
// up ends the descent at once instead of running until the paths grow too long. `covered`: this
// run holds `directory`, or a directory above it, exclusively; elsewhere each folder entered
// is locked as it is found.
void SearchDirectory(DatingSession &session, const std::string &directory,
                     std::set<FileIdentity> &ancestors, bool covered)
{
    if (session.view.ScanStopRequested())
        return;
    FileIdentity identity;
    const bool identified = IdentifyFile(directory, identity);
    if (identified)
        ancestors.insert(identity);

    std::string base = AbsolutePath(directory);
    if (base.empty() || base.back() != kPathSeparator)
        base += kPathSeparator;

    int count = 0;
    std::vector<DirectoryEntry> entries;
    const ListingResult listing = ListDirectory(directory, entries);
    if (listing.error != 0)
        session.view.ReportUnsearchedDirectory(directory, listing.error, listing.opened);
    for (const DirectoryEntry &entry : entries) {
        if (entry.isDirectory) {
            if (!session.recurse)
                continue;
            // Joined without looking for a separator at the end of the given directory, so
            // the log names the subdirectory the way it was reached.
            const std::string subdirectory = directory + kPathSeparator + entry.name;
            FileIdentity child;
            if (IdentifyFile(subdirectory, child) && ancestors.count(child))
                continue;
            // A directory reached through a link may lie outside the folders locked for this
            // run, and one that a bind mount shows lies also below another folder; another run
            // over it must not work there at the same time.
            bool subdirectoryCovered = covered && !entry.isLink && !IsMountRoot(subdirectory);
            if (!subdirectoryCovered && session.sourceLocks) {
                const FolderCover cover = LockFoundFolder(session, subdirectory);
                if (cover == FolderCover::HeldByAnotherRun) {
                    session.view.ReportHeldByAnotherRun(subdirectory, true);
                    session.log.AppendLogLine(FormatLogLine(ReadLogTime(session.clock), kFoundLine,
                                                            subdirectory.c_str(), 0));
                    continue;
                }
                subdirectoryCovered = cover != FolderCover::SharedByThisRun;
            }
            SearchDirectory(session, subdirectory, ancestors, subdirectoryCovered);
            continue;
        }
        const std::string path = base + entry.name;
        if (!EndsWithJpg(path))
            continue;
        if (entry.isLink && session.sourceLocks && !LinkedPictureFree(session, path)) {
            session.view.ReportHeldByAnotherRun(path, false);
            continue;
        }
        session.state.pictureList.push_back(path);
        session.view.SetStatusLabel(StatusLabel::File, path);
        ++count;
        session.view.SetStatusLabel(StatusLabel::Total,
                                    std::to_string(session.state.pictureList.size()));
    }

    if (identified)
        ancestors.erase(identity);
    session.log.AppendLogLine(
            FormatLogLine(ReadLogTime(session.clock), kFoundLine, directory.c_str(), count));
}

} // namespace

void ScanDirectory(DatingSession &session, const std::string &directory)
{
    std::set<FileIdentity> ancestors;
    SearchDirectory(session, directory, ancestors, true);
}

void RetrieveFileList(DatingSession &session)
{
    session.state.pictureList.clear();
    session.view.SetStatusLabel(StatusLabel::Caption, "Files found:");
    session.view.SetStatusLabel(StatusLabel::Current, "");
    session.view.SetStatusLabel(StatusLabel::Of, "");
    session.view.SetStatusLabel(StatusLabel::Percent, "");
    for (const std::string &directory : SplitSourceList(session.view.SourceDirectoryText()))
        ScanDirectory(session, directory);
    // The count is written only as pictures are found; left alone, a retrieval that finds none
    // would go on showing the count of the one before it beside a run log that says 0.
    if (session.state.pictureList.empty())
        session.view.SetStatusLabel(StatusLabel::Total, "0");
    session.view.EnableDatePictures();
}

} // namespace kronvik
