// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "exif_time_shift.h"

#include "file_error.h"
#include "locked_file.h"
#include "picture_file.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <memory>

namespace kronvik {

namespace {

constexpr int kMinimumYear = 100;
constexpr int kMaximumYear = 9999;
constexpr std::int64_t kSecondsPerDay = 86400;

struct DateTime
{
    int year, month, day, hour, minute, second;
};

bool IsBlank(char c)
{
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// Reads one number the way scanf's "%d" does: blanks skipped, an optional sign, then digits. The
// value saturates instead of overflowing; such a number is never a valid date field anyway.
bool ScanNumber(std::string_view text, std::size_t &at, std::int64_t &value)
{
    while (at < text.size() && IsBlank(text[at]))
        ++at;
    bool negative = false;
    if (at < text.size() && (text[at] == '+' || text[at] == '-'))
        negative = text[at++] == '-';
    if (at >= text.size() || text[at] < '0' || text[at] > '9')
        return false;
    value = 0;
    for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at)
        value = value > (std::int64_t(1) << 40) ? value : value * 10 + (text[at] - '0');
    if (negative)
        value = -value;
    return true;
}

// The six numbers of "%d:%d:%d %d:%d:%d", each reduced to 16 bits as the camera date fields are.
// Fewer than six numbers is no date: the fields left unread would have no value.
bool ScanDate(std::string_view text, DateTime &date)
{
    // A NUL ends the text, as it ends the C string that a scan would read.
    text = text.substr(0, text.find('\0'));
    static const char kSeparators[] = {':', ':', ' ', ':', ':'};
    int *fields[] = {&date.year, &date.month, &date.day, &date.hour, &date.minute, &date.second};
    std::size_t at = 0;
    for (int field = 0; field < 6; ++field) {
        if (field > 0) {
            const char separator = kSeparators[field - 1];
            if (separator == ' ') {
                // A blank in the format matches any run of blanks, none included.
                while (at < text.size() && IsBlank(text[at]))
                    ++at;
            } else if (at < text.size() && text[at] == separator) {
                ++at;
            } else {
                return false;
            }
        }
        std::int64_t value = 0;
        if (!ScanNumber(text, at, value))
            return false;
        *fields[field] = static_cast<int>(static_cast<std::uint16_t>(value));
    }
    return true;
}

bool IsLeapYear(int year)
{
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

bool IsValidDate(const DateTime &date)
{
    static const int kDaysInMonth[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (date.year < kMinimumYear || date.year > kMaximumYear || date.month < 1 || date.month > 12)
        return false;
    const int days = kDaysInMonth[date.month - 1] + (date.month == 2 && IsLeapYear(date.year));
    return date.day >= 1 && date.day <= days && date.hour >= 0 && date.hour <= 23
           && date.minute >= 0 && date.minute <= 59 && date.second >= 0 && date.second <= 59;
}

// Days since 1970-01-01 of a proleptic Gregorian date (Howard Hinnant's days_from_civil).
std::int64_t DaysFromCivil(std::int64_t year, unsigned month, unsigned day)
{
    year -= month <= 2;
    const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
    const auto yearOfEra = static_cast<unsigned>(year - era * 400);
    const unsigned dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + static_cast<std::int64_t>(dayOfEra) - 719468;
}

void CivilFromDays(std::int64_t days, int &year, int &month, int &day)
{
    days += 719468;
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const auto dayOfEra = static_cast<unsigned>(days - era * 146097);
    const unsigned yearOfEra =
            (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const unsigned dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const unsigned monthIndex = (5 * dayOfYear + 2) / 153;
    day = static_cast<int>(dayOfYear - (153 * monthIndex + 2) / 5 + 1);
    month = static_cast<int>(monthIndex < 10 ? monthIndex + 3 : monthIndex - 9);
    year = static_cast<int>(static_cast<std::int64_t>(yearOfEra) + era * 400 + (month <= 2));
}

// Plain calendar arithmetic: the camera's date has no time zone, so neither has the shift.
DateTime AddHours(const DateTime &date, int hours)
{
    const std::int64_t seconds = DaysFromCivil(date.year, static_cast<unsigned>(date.month),
                                               static_cast<unsigned>(date.day))
                                         * kSecondsPerDay
                                 + date.hour * 3600 + date.minute * 60 + date.second
                                 + static_cast<std::int64_t>(hours) * 3600;
    std::int64_t days = seconds / kSecondsPerDay;
    std::int64_t secondOfDay = seconds % kSecondsPerDay;
    if (secondOfDay < 0) {
        secondOfDay += kSecondsPerDay;
        --days;
    }
    DateTime shifted{};
    CivilFromDays(days, shifted.year, shifted.month, shifted.day);
    shifted.hour = static_cast<int>(secondOfDay / 3600);
    shifted.minute = static_cast<int>(secondOfDay / 60 % 60);
    shifted.second = static_cast<int>(secondOfDay % 60);
    return shifted;
}

// The 20 bytes from `at` hold 19 characters other than NUL and then a NUL.
bool IsDateStringShape(std::string_view head, std::size_t at)
{
    const std::string_view text = head.substr(at, kDateStringBytes - 1);
    return text.find('\0') == std::string_view::npos && head[at + kDateStringBytes - 1] == '\0';
}

bool HasJpegStart(std::string_view head)
{
    return head.size() >= 3 && head[0] == '\xff' && head[1] == '\xd8' && head[2] == '\xff';
}

// Whether `path`, which could not be opened for update, names something the shift passes over:
// nothing at all (a vanished file, a dangling link, a link loop), anything but a regular file, or
// a file that is no JPEG. Only a JPEG picture that exists and cannot be written is a file error.
bool IsPassedOver(const std::string &path)
{
    PictureFile file;
    const int error = file.Open(path);
    if (error == PictureFile::kNotRegularFile || error == ENOENT || error == ENOTDIR
        || error == ELOOP)
        return true;
    if (error != 0)
        return false; // it may well be a picture: the failure to open it for update stands
    char start[3] = {};
    const std::int64_t count = file.ReadAt(0, start, sizeof start);
    return count >= 0 && !HasJpegStart(std::string_view(start, static_cast<std::size_t>(count)));
}

} // namespace

std::optional<std::string> ShiftDateString(std::string_view date, int hours)
{
    DateTime parsed{};
    if (!ScanDate(date, parsed) || !IsValidDate(parsed))
        return std::nullopt;
    const DateTime shifted = AddHours(parsed, hours);
    if (!IsValidDate(shifted))
        return std::nullopt;
    std::array<char, 32> text{};
    std::snprintf(text.data(), text.size(), "%04d:%02d:%02d %02d:%02d:%02d", shifted.year,
                  shifted.month, shifted.day, shifted.hour, shifted.minute, shifted.second);
    return std::string(text.data());
}

std::optional<std::size_t> FindDatePair(std::string_view head, int hours)
{
    const std::size_t pairBytes = 2 * kDateStringBytes;
    for (std::size_t at = 0; at < kShiftWindowOffsets && at + pairBytes <= head.size(); ++at) {
        if (!IsDateStringShape(head, at))
            continue;
        if (head.substr(at, kDateStringBytes)
            != head.substr(at + kDateStringBytes, kDateStringBytes))
            continue;
        if (ShiftDateString(head.substr(at, kDateStringBytes - 1), hours))
            return at;
    }
    return std::nullopt;
}

namespace {

ShiftMade ShiftAtTurn(const std::string &path, int hours, const PlannedShift *plan)
{
    LockedFile file;
    FileStamp opened;
    std::optional<int> openError;
    if (plan && plan->opened.IsOpen() && plan->stamp) {
        // The read's open stands in for the shift's while the path names the file it opened,
        // unchanged: one look by path instead of an open and its looks at the file.
        LockedFile read = std::move(plan->opened);
        if (StampFile(path, opened) == 0 && opened == *plan->stamp) {
            openError = read.Lock();
            if (*openError == 0)
                file = std::move(read);
        }
    }
    if (!openError)
        openError = file.OpenExistingForUpdate(path, &opened);
    // What is passed over here (a FIFO, a device, a vanished file, a video named like a picture)
    // the picture dater then reports as an unreadable picture.
    if (*openError != 0) {
        if (IsPassedOver(path))
            return ShiftMade{};
        throw FileError::FromErrno(*openError, path);
    }

    // One window a thread, read into picture after picture: the pass's thread made, zeroed and
    // freed a new one for every picture.
    thread_local const std::unique_ptr<char[]> window(new char[kShiftReadBytes]);
    // A plan that found a pair holds the bytes up to its end, and no byte after them can change
    // where the first pair lies: those are read first, the rest of the window only when they
    // differ.
    const std::size_t planned =
            plan && plan->offset ? std::min(plan->head.size(), kShiftReadBytes) : kShiftReadBytes;
    ssize_t count = file.ReadAt(window.get(), planned, 0);
    if (count < 0)
        throw FileError::FromErrno(errno, path);
    ShiftMade made;
    made.asPlanned =
            plan && plan->head == std::string_view(window.get(), static_cast<std::size_t>(count))
            && (!plan->stamp || *plan->stamp == opened);
    if (plan && plan->onlyAsPlanned && !made.asPlanned) {
        file.CloseUnflushed();
        made.outcome = ShiftMade::Outcome::NothingWritten;
        return made;
    }
    if (!made.asPlanned && static_cast<std::size_t>(count) == planned
        && planned < kShiftReadBytes) {
        const ssize_t rest = file.ReadAt(window.get() + planned, kShiftReadBytes - planned,
                                         static_cast<off_t>(planned));
        if (rest < 0)
            throw FileError::FromErrno(errno, path);
        count += rest;
    }
    const std::string_view head(window.get(), static_cast<std::size_t>(count));

    // Only a JPEG picture is ever written: a sidecar or a video can hold a date pair too.
    const std::optional<std::size_t> at = made.asPlanned       ? plan->offset
                                          : HasJpegStart(head) ? FindDatePair(head, hours)
                                                               : std::nullopt;
    if (!at) {
        // Nothing was written: nothing to flush.
        file.CloseUnflushed();
        made.outcome = ShiftMade::Outcome::NothingWritten;
        return made;
    }
    std::string pair;
    if (made.asPlanned) {
        pair = plan->pair;
    } else {
        // Both strings in one write, so that a failure cannot leave a pair of two different dates.
        pair = *ShiftDateString(head.substr(*at, kDateStringBytes - 1), hours);
        pair.push_back('\0');
        pair += pair;
    }
    if (!made.asPlanned && plan && plan->beforeUnforeseenWrite)
        plan->beforeUnforeseenWrite(*at, head.substr(*at, pair.size()), pair);
    // A failed write or flush is reported by its own cause, as a failed open is (an I/O error of
    // a failing card is not a full disk).
    // The write is flushed before the file is closed, once.
    if (int error = file.WriteAt(pair.data(), pair.size(), static_cast<off_t>(*at)))
        throw FileError::FromErrno(error, path);
    // The time the write gave the file, seen through the descriptor rather than looked up again
    // by path.
    if (FileStamp after; file.Stamp(after) == 0)
        made.written = after;
    made.file = std::move(file);
    made.outcome = ShiftMade::Outcome::Written;
    return made;
}

} // namespace

void ShiftExifTime(const std::string &path, int hours)
{
    ShiftAtTurn(path, hours, nullptr);
}

ShiftMade ShiftExifTime(const std::string &path, int hours, const PlannedShift &plan)
{
    return ShiftAtTurn(path, hours, &plan);
}

int CheckShiftOpen(const std::string &path)
{
    LockedFile file;
    const int error = file.OpenExistingForUpdate(path);
    file.CloseUnflushed();
    return error != 0 && !IsPassedOver(path) ? error : 0;
}

} // namespace kronvik
