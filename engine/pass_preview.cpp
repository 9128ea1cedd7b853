// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "pass_preview.h"

#include "change_checks.h"
#include "exif_time_shift.h"
#include "file_error.h"
#include "file_services.h"
#include "file_stamp.h"
#include "local_clock.h"
#include "picture_plan.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <sys/stat.h>
#include <unistd.h>

namespace kronvik {

namespace {

// What reading a path whose file is gone finds: an unreadable picture, passed over by the shift.
PictureRead MissingRead(const std::string &path, int shiftHours)
{
    PictureRead read;
    read.path = path;
    read.shiftHours = shiftHours;
    read.stampError = ENOENT;
    read.shiftPassesOver = shiftHours != 0;
    read.exif.outcome = ExifDateResult::Outcome::Unreadable;
    read.exif.reason = SystemErrorText(ENOENT);
    return read;
}

// LearnTwoSecondTimes for a read whose path names, in the run, the file at `disk`: the name
// decides whether to ask, the file's own file system answers.
void LearnTwoSecondTimesAt(PictureRead &read, const std::string &disk)
{
    read.twoSecondTimes.reset();
    if (read.lastWriteKnown && NeedsTwoSecondTest(read.path, read.lastWrite))
        read.twoSecondTimes = KeepsTwoSecondTimes(disk);
}

} // namespace

std::string PreviewApplier::OnDisk(const std::string &path) const
{
    if (const auto renamed = m_renamedTo.find(path); renamed != m_renamedTo.end())
        return renamed->second;
    // Another spelling of a path renamed away ("A//S/x.jpg" beside "A/S/x.jpg", or one through a
    // link to its folder) names the same entry, which the run would have renamed too; and an
    // entry renamed away under one spelling may have been given to a file under another.
    std::pair<FileIdentity, std::string> entry;
    if (IdentifyEntry(path, entry)) {
        if (const auto given = m_entriesGiven.find(entry); given != m_entriesGiven.end())
            return given->second;
        if (m_renamedEntries.count(entry))
            return {};
    }
    if (m_renamedAway.count(path))
        return {};
    return path;
}

std::string PreviewApplier::FileOnDisk(const std::string &path, int links) const
{
    const std::string disk = OnDisk(path);
    struct stat status
    {
    };
    if (disk.empty() || links >= kMostLinks || lstat(disk.c_str(), &status) != 0
        || !S_ISLNK(status.st_mode))
        return disk;
    std::string target(PATH_MAX, '\0');
    const ssize_t length = readlink(disk.c_str(), target.data(), target.size());
    if (length <= 0 || static_cast<std::size_t>(length) >= target.size())
        return disk;
    target.resize(static_cast<std::size_t>(length));
    if (target.front() != '/')
        target.insert(0, disk.substr(0, disk.rfind('/') + 1));
    // Dangling where the run renamed the target away; another file where it gave its name to one.
    const std::string file = FileOnDisk(target, links + 1);
    if (file.empty())
        return {};
    return file == target ? disk : file;
}

bool PreviewApplier::IdentifyEntry(const std::string &path,
                                   std::pair<FileIdentity, std::string> &entry)
{
    const std::size_t slash = path.rfind('/');
    entry.second = slash == std::string::npos ? path : path.substr(slash + 1);
    return IdentifyFile(slash == std::string::npos ? "." : path.substr(0, slash + 1), entry.first);
}

PreviewApplier::Changed *PreviewApplier::ChangedFile(const std::string &diskPath, bool create)
{
    FileStamp stamp;
    if (StampFile(diskPath, stamp) != 0)
        return nullptr;
    if (create)
        return &m_changed[stamp.identity];
    const auto found = m_changed.find(stamp.identity);
    return found == m_changed.end() ? nullptr : &found->second;
}

PictureRead PreviewApplier::Read(const std::string &path, int shiftHours)
{
    const std::string disk = FileOnDisk(path);
    if (disk.empty())
        return MissingRead(path, shiftHours);
    const Changed *changed = ChangedFile(disk, false);
    if (!changed) {
        PictureRead read = ReadPicture(disk, shiftHours);
        if (disk != path) {
            read.path = path;
            LearnTwoSecondTimesAt(read, disk);
        }
        return read;
    }

    // A file the run would have shifted holds the moved dates: read it as moved, as the file it
    // would be, with nothing left to shift.
    PictureRead read = ReadPicture(disk, changed->shiftedHours);
    read.path = path;
    read.shiftHours = 0;
    read.pairOffset.reset();
    read.shiftedPair.clear();
    read.updateError = 0;
    read.shiftPassesOver = false;
    if (changed->timeKnown) {
        read.lastWriteKnown = true;
        read.lastWrite = changed->time;
        read.lastWriteSeconds = changed->seconds;
    }
    LearnTwoSecondTimesAt(read, disk);
    return read;
}

ShiftMade PreviewApplier::Shift(const ShiftChange &shift, PictureRead &read,
                                const CalendarTime &now, bool, const UnforeseenShiftWrite &)
{
    if (read.shiftPassesOver)
        return ShiftMade{};
    if (read.updateError != 0)
        throw FileError::FromErrno(read.updateError, shift.path);
    // The run's own open for update, closed without a byte written: it also meets a lock that
    // another process holds on the picture, which no look at the file's modes can see.
    if (const std::string disk = FileOnDisk(shift.path); !disk.empty()) {
        if (const int error = CheckShiftOpen(disk))
            throw FileError::FromErrno(error, shift.path);
    }
    if (!shift.offset)
        return ShiftMade{ShiftMade::Outcome::NothingWritten, true, std::nullopt, {}};
    if (Changed *changed = ChangedFile(FileOnDisk(shift.path), true)) {
        changed->shiftedHours = shift.hours;
        // The write gives the file the time of the moment it is made.
        changed->timeKnown = true;
        changed->time = now;
        changed->seconds.reset();
    }
    return ShiftMade{ShiftMade::Outcome::Written, true, std::nullopt, {}};
}

void PreviewApplier::LearnShiftWritten(PictureRead &read, const std::optional<FileStamp> &)
{
    if (const Changed *changed = ChangedFile(FileOnDisk(read.path), false);
        changed && changed->timeKnown) {
        read.lastWriteKnown = true;
        read.lastWrite = changed->time;
        read.lastWriteSeconds = changed->seconds;
    }
    const std::string disk = FileOnDisk(read.path);
    LearnTwoSecondTimesAt(read, disk.empty() ? read.path : disk);
}

int PreviewApplier::Rename(const RenameChange &rename)
{
    const std::string from = OnDisk(rename.from);
    if (from.empty())
        return ENOENT;
    if (rename.to.size() >= PATH_MAX)
        return ENAMETOOLONG;
    if (m_renamedTo.count(rename.to))
        return EEXIST;
    std::pair<FileIdentity, std::string> to;
    const bool toKnown = IdentifyEntry(rename.to, to);
    if (toKnown && m_entriesGiven.count(to))
        return EEXIST;
    struct stat status
    {
    };
    // Where letter case makes no difference (a camera's FAT or exFAT card), the name may lead to
    // the picture's own entry, which the run renames to this spelling, or to one it has renamed
    // away by now under another.
    if (!OnDisk(rename.to).empty() && lstat(rename.to.c_str(), &status) == 0
        && CheckRenameOntoOwnName(from, rename.to) != 0 && !FreedUnderAnotherSpelling(rename.to))
        return EEXIST;
    const std::size_t slash = rename.to.rfind('/');
    const std::string directory = slash == std::string::npos ? "." : rename.to.substr(0, slash + 1);
    if (access(directory.c_str(), W_OK | X_OK) != 0)
        return errno;
    if (const int error = CheckRenameOf(from, directory))
        return error;
    if (std::pair<FileIdentity, std::string> entry; IdentifyEntry(from, entry)) {
        m_entriesGiven.erase(entry);
        m_renamedEntries.insert(std::move(entry));
    }
    if (toKnown) {
        m_renamedEntries.erase(to);
        m_entriesGiven[to] = from;
    }
    m_renamedTo.erase(rename.from);
    NoteRenamedAway(rename.from);
    NoteGivenBack(rename.to);
    m_renamedTo[rename.to] = from;
    return 0;
}

namespace {

std::string ByCase(const std::string &path)
{
    std::string key = path;
    const auto name = key.begin() + static_cast<std::ptrdiff_t>(key.rfind('/') + 1);
    std::transform(name, key.end(), name, AsciiLower);
    return key;
}

} // namespace

void PreviewApplier::NoteRenamedAway(const std::string &path)
{
    m_renamedAway.insert(path);
    m_renamedAwayByCase[ByCase(path)].insert(path);
}

void PreviewApplier::NoteGivenBack(const std::string &path)
{
    if (!m_renamedAway.erase(path))
        return;
    const auto spellings = m_renamedAwayByCase.find(ByCase(path));
    spellings->second.erase(path);
    if (spellings->second.empty())
        m_renamedAwayByCase.erase(spellings);
}

bool PreviewApplier::FreedUnderAnotherSpelling(const std::string &path) const
{
    const auto spellings = m_renamedAwayByCase.find(ByCase(path));
    if (spellings == m_renamedAwayByCase.end())
        return false;
    return std::any_of(spellings->second.begin(), spellings->second.end(),
                       [&path](const std::string &away) {
                           return away != path && IsOneEntryByLetterCase(away, path);
                       });
}

bool PreviewApplier::SetTime(const TimeChange &time, const TimeThrough &, int &error)
{
    error = 0;
    const std::string disk = FileOnDisk(time.path);
    Changed *changed = disk.empty() ? nullptr : ChangedFile(disk, true);
    if (!changed) {
        error = ENOENT;
        return false;
    }
    // The file holds the moment the calendar time names, which reads otherwise in the hour the
    // clocks skip (02:30 becomes 03:30): a later entry of the file knows it by that moment.
    // A moment the journal could not record is refused, as the run refuses it.
    if (const int refused = CheckTimeSetOf(disk)) {
        error = refused;
        return false;
    }
    const std::optional<std::int64_t> moment = LocalTimeToSeconds(time.time);
    if (moment && !IsRecordableFileTime(*moment)) {
        error = EOVERFLOW;
        return false;
    }
    changed->timeKnown = true;
    changed->time = moment ? BreakDownLocalTime(*moment) : time.time;
    changed->seconds = moment;
    return true;
}

} // namespace kronvik
