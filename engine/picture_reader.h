// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "calendar_time.h"
#include "exif_date_reader.h"
#include "file_stamp.h"
#include "locked_file.h"

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <stop_token>
#include <string>
#include <thread>
#include <vector>

namespace kronvik {

struct ThreadUsage;

// A picture file that a read made with a time adjustment opened for update, unlocked, for the
// shift at the picture's turn to write through: that open then stands in for the shift's own while
// the path still names the file unchanged. The reads in hand hold a few hundred of them at most,
// and never more than a quarter of the files the process may have open; past that a read holds
// none, and the shift opens the file itself.
class HeldForUpdate
{
public:
    HeldForUpdate() = default;
    ~HeldForUpdate();
    HeldForUpdate(HeldForUpdate &&other) noexcept;
    HeldForUpdate &operator=(HeldForUpdate &&other) noexcept;
    // A copy of a read holds no file: the file stays with the read that opened it.
    HeldForUpdate(const HeldForUpdate &) { }
    HeldForUpdate &operator=(const HeldForUpdate &other)
    {
        if (this != &other)
            *this = HeldForUpdate();
        return *this;
    }

    // Opens `path` for update (LockedFile::OpenExistingUnlocked); true when it is held, with its
    // status in `status`.
    bool Open(const std::string &path, FileStamp &status);
    bool IsOpen() const { return m_file.IsOpen(); }
    int Descriptor() const { return m_file.Descriptor(); }
    // The file, now the caller's; nothing is held after.
    LockedFile Take();
    // Holds `file`, the one a shift wrote, for the time set; closes it where the reads hold as
    // many files as they may.
    void Keep(LockedFile &&file);

private:
    LockedFile m_file;
};

// A picture's file as its read opened it, kept for the time the pass sets at the picture's turn:
// through it the time goes to the file read, whatever another program did to its names since.
// Counted with HeldForUpdate; a copy of a read holds nothing.
class HeldForTime
{
public:
    HeldForTime() = default;
    ~HeldForTime();
    HeldForTime(HeldForTime &&other) noexcept;
    HeldForTime &operator=(HeldForTime &&other) noexcept;
    HeldForTime(const HeldForTime &) { }
    HeldForTime &operator=(const HeldForTime &other)
    {
        if (this != &other)
            *this = HeldForTime();
        return *this;
    }

    // Keeps `fd`, or closes it at once where the reads hold as many files as they may.
    void Adopt(int fd);
    int Descriptor() const { return m_fd; }

private:
    int m_fd = -1;
};

// What one read of a picture file found: everything the pass decides the picture's fate from,
// taken through one open of the file. A read changes nothing in the file system.
struct PictureRead
{
    std::string path;
    // The time adjustment the read was made for: with it, the first date pair is moved in memory
    // and the date text read from the moved bytes, so the read knows the date the file will hold.
    // 0: the file as it is.
    int shiftHours = 0;

    // 0 when `stamp` holds what the path names, else the errno of looking at it.
    int stampError = 0;
    FileStamp stamp;
    // The modification time as local calendar time, when it could be broken down.
    bool lastWriteKnown = false;
    CalendarTime lastWrite;
    // The moment it reads as, where known: in the hour the clocks skip, a calendar time set
    // reads back an hour later.
    std::optional<std::int64_t> lastWriteSeconds;
    // Whether the file system keeps file times in 2-second steps: asked only when the name reads
    // as a date that the modification time misses.
    std::optional<bool> twoSecondTimes;

    ExifDateResult exif;

    // With a time adjustment: the errno that opening the file for update is expected to meet (0:
    // it opens; a lock held by another process is not foreseen), and whether the shift passes the
    // file over (missing, no regular file, no JPEG picture).
    int updateError = 0;
    bool shiftPassesOver = false;
    // The first date pair and the 40 bytes that replace it.
    std::optional<std::size_t> pairOffset;
    std::string shiftedPair;
    // The first bytes of the file as read, before any change: up to the end of the first date
    // pair where there is one, else the shift's whole window. The shift writes its planned bytes
    // only while the file still holds these.
    std::string head;
    // With a time adjustment, the file as the read opened it for update, when it could and was
    // asked to; its status then is `stamp`.
    HeldForUpdate update;
    // Else, where the read found a date and was asked to hold its file, the file as it read it.
    HeldForTime held;
};

// The descriptor of the file as the read opened it, which the read keeps; -1 for none.
int HeldDescriptor(const PictureRead &read);

// Reads a picture: its status, its date text or why there is none, and with `shiftHours` what the
// shift will do to it. Never throws for what the file holds; a failed read is an unreadable
// picture. With `holdForUpdate` and `shiftHours`, the file is read through an open for update
// that the read keeps (PictureRead::update); a preview, which writes nothing, opens none. With
// `holdForUpdate` alone, a read that finds a date keeps its open (PictureRead::held).
PictureRead ReadPicture(const std::string &path, int shiftHours, bool holdForUpdate = false);

// Asks the file system whether it keeps 2-second times when the read's name and modification
// time need that answer, and only then.
void LearnTwoSecondTimes(PictureRead &read);

// Reads the pictures of a list ahead of the pass, on worker threads, while the pass renames in
// list order on its own:
//   pass thread:  Take(i) ... posts reads of i .. i+window-1, waits for i, decides, applies
//   workers:      take a posted read, ReadPicture, put the result in its slot
// One bounded queue; results are taken strictly in list order; every worker has its own Exiv2
// objects. Stopping (or destroying) ends the workers after the reads at hand. As many workers as
// asked for read all the time; as many again join them only while the reads wait for the disk
// more than they compute (a cold disk wants more reads in flight, memory wants no more threads
// than cores).
class PictureReadAhead
{
public:
    // Reads entries [0, count) of `list` with `threads` workers (none: Take returns nothing and
    // each picture is read at its turn). `adjustment` is read when a read is posted, so a change
    // during the pass reaches the reads posted after it. The list must not change meanwhile,
    // except entries already taken.
    PictureReadAhead(const std::vector<std::string> &list, std::size_t count, unsigned threads,
                     const int &adjustment);
    ~PictureReadAhead();
    PictureReadAhead(const PictureReadAhead &) = delete;
    PictureReadAhead &operator=(const PictureReadAhead &) = delete;

    // The read of entry `index`, waiting for it. Entries are taken in order, each once. Nothing
    // without workers, or when the read could not be made.
    std::optional<PictureRead> Take(std::size_t index);

    // The workers the machine calls for: one a core.
    static unsigned DefaultThreads();

private:
    struct Job
    {
        std::size_t index;
        std::string path;
        int hours;
    };
    struct Slot
    {
        std::optional<PictureRead> read;
        bool done = false;
    };

    // `extra`: a worker that reads only while the reads wait for the disk.
    void Work(std::stop_token stop, bool extra);
    // Learns from one read how much of its time it waited.
    void NoteReadTime(std::int64_t wallNanoseconds, const ThreadUsage &used);
    void PostUpTo(std::size_t end);

    const std::vector<std::string> &m_list;
    const std::size_t m_count;
    const int &m_adjustment;
    std::size_t m_posted = 0;
    std::mutex m_mutex;
    std::condition_variable_any m_jobPosted;
    std::condition_variable_any m_diskWork; // the extra workers wait here
    std::condition_variable m_readDone;
    // The read the pass waits for, if any: only its end wakes the pass.
    std::optional<std::size_t> m_awaited;
    std::deque<Job> m_jobs;
    std::vector<Slot> m_slots;
    // The share of the recent reads' time spent waiting, and whether the extra workers read.
    double m_waitingShare = 0;
    bool m_diskBound = false;
    // Last: the workers end before what they use goes.
    std::vector<std::jthread> m_workers;
};

} // namespace kronvik
