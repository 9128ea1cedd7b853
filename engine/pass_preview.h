// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "pass_applier.h"

#include <map>
#include <set>
#include <string>
#include <utility>

namespace kronvik {

// The applier of a preview: it changes nothing, and keeps what each change would have done (the
// names given and taken away, the dates shifted, the times set), so that every later read finds
// the picture as the run would find it. The pass's decisions, and so its lines and counters, are
// then those of the run.
class PreviewApplier : public PassApplier
{
public:
    PictureRead Read(const std::string &path, int shiftHours) override;
    bool ReadsAhead() const override { return false; }
    bool MakesChanges() const override { return false; }

    // Throws the FileError the run's shift would meet opening a picture it cannot write.
    ShiftMade Shift(const ShiftChange &shift, PictureRead &read, const CalendarTime &now,
                    bool onlyAsPlanned, const UnforeseenShiftWrite &beforeUnforeseen) override;
    void LearnShiftWritten(PictureRead &read, const std::optional<FileStamp> &written) override;
    // The refusal the run would meet: a name taken on disk or by this preview, or a directory
    // that cannot be written.
    int Rename(const RenameChange &rename) override;
    // The run's own changes only: no other program changes the preview's files.
    PathHolds LookAgain(const std::string &, const CheckedFile &) override
    {
        return PathHolds::TheFile;
    }
    bool SetTime(const TimeChange &time, const TimeThrough &through, int &error) override;

private:
    // What the run would have done to one file, known by its identity on disk.
    struct Changed
    {
        int shiftedHours = 0; // its date pair moved by these hours
        bool timeKnown = false; // its modification time set (or given by the shift's write)
        CalendarTime time;
        std::optional<std::int64_t> seconds; // the moment set, where the run knows it ahead
    };

    // The file a path names in the run: on disk, the path itself unless the preview renamed a
    // file to it. Empty when the run would have renamed the path's file away.
    std::string OnDisk(const std::string &path) const;
    // The file that reading or writing `path` reaches in the run: OnDisk, through the symbolic
    // links the run would follow, as the run's renames left their targets.
    std::string FileOnDisk(const std::string &path, int links = 0) const;
    static constexpr int kMostLinks = 40; // as the kernel follows
    static bool IdentifyEntry(const std::string &path, std::pair<FileIdentity, std::string> &entry);
    Changed *ChangedFile(const std::string &diskPath, bool create);

    std::map<std::string, std::string> m_renamedTo; // new name -> the file's path on disk
    std::set<std::string> m_renamedAway; // paths whose file the run would have renamed
    // The same, by their folder and their name with its ASCII letters in lower case: on a file
    // system that ignores letter case, another spelling of a name renamed away is free.
    std::map<std::string, std::set<std::string>> m_renamedAwayByCase;
    void NoteRenamedAway(const std::string &path);
    void NoteGivenBack(const std::string &path);
    bool FreedUnderAnotherSpelling(const std::string &path) const;
    // The directory entries renamed away, as their directory's identity and their name: another
    // spelling of the path names the same entry, while a hard link or a symbolic link to the file
    // is another entry, which the run leaves where it is.
    std::set<std::pair<FileIdentity, std::string>> m_renamedEntries;
    // The entries given to files, the same way: each to its file's path on disk.
    std::map<std::pair<FileIdentity, std::string>, std::string> m_entriesGiven;
    std::map<FileIdentity, Changed> m_changed;
};

} // namespace kronvik
