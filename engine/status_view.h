// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kronvik {

// The status row and the controls of the front end that the scan and the dating pass write to.
enum class StatusLabel {
    Caption, // "Files found:" or "Dating:"
    Current, // number of the picture being dated
    Of, // "of"
    Total, // number of entries in the picture list
    File, // full path of the picture just found or about to be dated
    Percent, // percentage of the pass done, "33%"
};

class StatusView
{
public:
    virtual ~StatusView() = default;
    virtual void SetStatusLabel(StatusLabel label, const std::string &text) = 0;
    virtual void SetProgressPosition(int percent) = 0;
    // Enables "&Date Pictures" once a picture list has been retrieved.
    virtual void EnableDatePictures() = 0;
    // The whole text of the source directory list.
    virtual std::string SourceDirectoryText() const = 0;
    // Lets the front end handle what is pending (painting, input, a close). False when the
    // application is quitting.
    virtual bool DrainMessages() = 0;
    // Told by the scan that it could not search `directory` (named as its run-log line names it),
    // or, with `partly`, that a read error cut its listing short after some entries; `error` is
    // the errno. The scan goes on either way and logs the pictures it did find.
    virtual void ReportUnsearchedDirectory(const std::string &directory, int error, bool partly)
    {
        (void)directory, (void)error, (void)partly;
    }
    // Told by the scan that it left out a folder (`folder`) or a picture that it reached through
    // a link, at `path`: another run holds a lock on that folder, on the picture's folder, or on
    // a directory above it.
    virtual void ReportHeldByAnotherRun(const std::string &path, bool folder)
    {
        (void)path, (void)folder;
    }
    // Told by a preview's scan that a run that changes pictures would first take back what the
    // killed passes `passes` (their journal numbers) left half done in `folder`, a folder it
    // reached through a link or a mount.
    virtual void ReportRecoveryPending(const std::string &folder,
                                       const std::vector<std::int64_t> &passes)
    {
        (void)folder, (void)passes;
    }
    // The modification time of a dated picture could not be set, so it keeps its old one;
    // `reason` is the system's, in English. The picture still counts as dated and the run log
    // does not mention it; a front end may warn.
    virtual void ReportTimeNotSet(const std::string & /*path*/, const std::string & /*reason*/) { }
    // Whether the scan is to search no further directory: the command-line tool asked to stop.
    // The window's scan runs to its end.
    virtual bool ScanStopRequested() const { return false; }
};

} // namespace kronvik
