// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "picture_reader.h"

#include "directory_lock.h"
#include "exif_time_shift.h"
#include "file_services.h"
#include "jpeg_head.h"
#include "local_clock.h"
#include "locked_file.h"
#include "picture_byte_source.h"
#include "picture_file.h"
#include "picture_plan.h"
#include "thread_priority.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <exception>
#include <system_error>
#include <unistd.h>
#include <utility>

namespace kronvik {

namespace {

ExifDateResult Unreadable(std::string reason)
{
    ExifDateResult result;
    result.outcome = ExifDateResult::Outcome::Unreadable;
    result.reason = std::move(reason);
    return result;
}

// What the shift would find at the start of the file: the bytes it reads, and the first date pair
// moved by `hours`, patched into `head` as the file will hold it.
void FindShift(PictureRead &read, JpegHead &head, int hours)
{
    head.Have(kShiftReadBytes);
    const std::size_t size = std::min(head.Size(), kShiftReadBytes);
    read.head.assign(reinterpret_cast<const char *>(head.Data()), size);
    if (!head.StartsAsJpeg()) {
        read.shiftPassesOver = true;
        return;
    }
    read.pairOffset = FindDatePair(read.head, hours);
    if (!read.pairOffset)
        return;
    // The first pair found depends on no byte after it: the shift at the picture's turn compares
    // only these with the file (ShiftAtTurn), and the pass keeps fewer bytes in hand.
    read.head.resize(*read.pairOffset + 2 * kDateStringBytes);
    const std::string shifted =
            *ShiftDateString(std::string_view(read.head).substr(*read.pairOffset, 19), hours);
    read.shiftedPair = shifted + '\0' + shifted + '\0';
    std::copy(read.shiftedPair.begin(), read.shiftedPair.end(), head.Data() + *read.pairOffset);
}

// The files the reads hold (HeldForUpdate, HeldForTime), of all passes of the process.
std::atomic<std::size_t> g_heldForUpdate{0};
// The workers reading ahead, of all passes of the process, and the files they have open for the
// reads at hand.
std::atomic<std::size_t> g_readers{0};
std::atomic<std::size_t> g_readsOpen{0};

// What a process running a pass has open beside its folders and the files counted above: the
// standard streams, the journal's two connections (the database, its write-ahead log, the shared
// memory, the marks of running passes), SQLite's temporary files, the pass's own opens at a
// picture's turn and the mount table it reads there, and in the window its display connection,
// event notifiers and pipes (about ten).
constexpr std::size_t kFilesBesideReads = 24;

// A quarter of the files the process may have open beside its folders and the others it needs,
// for the reads: with a folder each for a limit's worth of sources, the reads ahead and the files
// they held took the last few, and a picture's shift at its turn found none left.
std::size_t FilesForReads()
{
    static const std::size_t allowed = OpenFilesAllowed();
    const std::size_t needed = DirectoryLocksOpen() + kFilesBesideReads;
    return std::min<std::size_t>(512, (allowed > needed ? allowed - needed : 0) / 4);
}

// What the workers' own opens leave of them: the files held for the pictures in hand never keep
// the workers from reading on.
std::size_t MostHeldForUpdate()
{
    const std::size_t files = FilesForReads(), readers = g_readers;
    return files > readers ? files - readers : 0;
}

// Counts one more in `count` where the count stays within `most`.
bool CountOneMore(std::atomic<std::size_t> &count, std::size_t most)
{
    if (++count <= most)
        return true;
    --count;
    return false;
}

// Counts one more open of a worker for its read, where the files for the reads leave room: a
// worker has one read open at a time.
bool OpenOneForReading()
{
    return CountOneMore(g_readsOpen, FilesForReads());
}

// Counts one more file held, where the reads may hold one more.
bool HoldOneMore()
{
    return CountOneMore(g_heldForUpdate, MostHeldForUpdate());
}

} // namespace

HeldForUpdate::~HeldForUpdate()
{
    if (m_file.IsOpen())
        --g_heldForUpdate;
}

HeldForUpdate::HeldForUpdate(HeldForUpdate &&other) noexcept
    : m_file(std::move(other.m_file))
{
}

HeldForUpdate &HeldForUpdate::operator=(HeldForUpdate &&other) noexcept
{
    if (this != &other) {
        if (m_file.IsOpen())
            --g_heldForUpdate;
        m_file = std::move(other.m_file);
    }
    return *this;
}

bool HeldForUpdate::Open(const std::string &path, FileStamp &status)
{
    *this = HeldForUpdate();
    if (!HoldOneMore())
        return false;
    if (m_file.OpenExistingUnlocked(path, &status) != 0) {
        --g_heldForUpdate;
        return false;
    }
    return true;
}

void HeldForUpdate::Keep(LockedFile &&file)
{
    *this = HeldForUpdate();
    if (!file.IsOpen())
        return;
    if (!HoldOneMore()) {
        file.CloseUnflushed();
        return;
    }
    m_file = std::move(file);
}

LockedFile HeldForUpdate::Take()
{
    if (m_file.IsOpen())
        --g_heldForUpdate;
    return std::move(m_file);
}

HeldForTime::~HeldForTime()
{
    if (m_fd >= 0) {
        ::close(m_fd);
        --g_heldForUpdate;
    }
}

HeldForTime::HeldForTime(HeldForTime &&other) noexcept
    : m_fd(std::exchange(other.m_fd, -1))
{
}

HeldForTime &HeldForTime::operator=(HeldForTime &&other) noexcept
{
    if (this != &other) {
        HeldForTime gone(std::move(*this));
        m_fd = std::exchange(other.m_fd, -1);
    }
    return *this;
}

void HeldForTime::Adopt(int fd)
{
    *this = HeldForTime();
    if (fd < 0)
        return;
    if (!HoldOneMore()) {
        ::close(fd);
        return;
    }
    m_fd = fd;
}

int HeldDescriptor(const PictureRead &read)
{
    if (read.held.Descriptor() >= 0)
        return read.held.Descriptor();
    return read.update.IsOpen() ? read.update.Descriptor() : -1;
}

PictureRead ReadPicture(const std::string &path, int shiftHours, bool holdForUpdate)
{
    PictureRead read;
    read.path = path;
    read.shiftHours = shiftHours;

    // A read for a pass with an adjustment opens the file for update first, as the shift will
    // open it; a file that cannot be, and any other read, is opened for reading.
    PictureFile file;
    const bool held = shiftHours != 0 && holdForUpdate && read.update.Open(path, read.stamp);
    if (held)
        file.Borrow(read.update.Descriptor(), read.stamp);
    const int openError = held ? 0 : file.Open(path, &read.stamp);
    // What cannot be opened may still be looked at: an unreadable file has a modification time.
    if (openError != 0 && openError != PictureFile::kNotRegularFile)
        read.stampError = StampFile(path, read.stamp);
    read.lastWriteKnown = read.stampError == 0 && LocalModificationTime(read.stamp, read.lastWrite);
    if (read.lastWriteKnown)
        read.lastWriteSeconds = read.stamp.modifiedSeconds;
    LearnTwoSecondTimes(read);

    if (shiftHours != 0) {
        read.shiftPassesOver = openError == PictureFile::kNotRegularFile || openError == ENOENT
                               || openError == ENOTDIR || openError == ELOOP;
        // An open file's mode was seen by its open: no second look by path.
        if (!read.shiftPassesOver && !held)
            read.updateError = openError == 0 ? CheckUpdateAccess(path, file.ReadOnlyToAll())
                                              : CheckUpdateAccess(path);
    }

    if (openError == PictureFile::kNotRegularFile) {
        read.exif = Unreadable("not a regular file");
        return read;
    }
    if (openError != 0) {
        read.exif = Unreadable(SystemErrorText(openError));
        return read;
    }
    try {
        OpenPicture source(file);
        JpegHead head(source, shiftHours != 0 ? kShiftReadBytes : JpegHead::kFirstRead);
        if (shiftHours != 0)
            FindShift(read, head, shiftHours);
        if (!head.StartsAsJpeg()) {
            read.exif = Unreadable("not a JPEG file");
            return read;
        }
        // The bytes are not used after the parse: what the date read leaves out need not be
        // read at all (the shift's window was read whole before).
        head.KeepLeadingSegments(true);
        read.exif = ParseExifDateInPlace(head);
    } catch (const std::exception &e) { // a read that failed: the reason is the system's
        read.exif = Unreadable(e.what());
    }
    if (holdForUpdate && !held && read.exif.outcome == ExifDateResult::Outcome::Searched)
        read.held.Adopt(file.Release());
    return read;
}

void LearnTwoSecondTimes(PictureRead &read)
{
    if (read.lastWriteKnown && !read.twoSecondTimes
        && NeedsTwoSecondTest(read.path, read.lastWrite))
        read.twoSecondTimes = KeepsTwoSecondTimes(read.path);
}

PictureReadAhead::PictureReadAhead(const std::vector<std::string> &list, std::size_t count,
                                   unsigned threads, const int &adjustment)
    : m_list(list)
    , m_count(std::min(count, list.size()))
    , m_adjustment(adjustment)
{
    if (threads == 0 || m_count == 0)
        return;
    // Enough reads in hand that the workers never wait for the pass, even while it plans a batch
    // of pictures for its journal and then applies them; few enough that the memory of a pass
    // does not grow with the list.
    m_slots.resize(std::max<std::size_t>(128, 8 * std::size_t(threads)));
    // The library's shared parts are set up before any worker uses them.
    PrepareExifReading();
    m_workers.reserve(2 * threads);
    try {
        for (unsigned i = 0; i < 2 * threads; ++i) {
            m_workers.emplace_back(
                    [this, i, threads](std::stop_token stop) { Work(stop, i >= threads); });
            ++g_readers;
        }
    } catch (const std::system_error &) {
        // The system gives no more threads: the workers started read, and without any, each
        // picture is read at its turn.
    }
}

PictureReadAhead::~PictureReadAhead()
{
    for (std::jthread &worker : m_workers)
        worker.request_stop();
    const std::size_t started = m_workers.size();
    m_workers.clear(); // joins them
    g_readers -= started;
}

unsigned PictureReadAhead::DefaultThreads()
{
    const unsigned cores = std::thread::hardware_concurrency();
    return cores == 0 ? 2 : cores;
}

void PictureReadAhead::PostUpTo(std::size_t end)
{
    end = std::min(end, m_count);
    if (m_posted >= end)
        return;
    bool diskBound = false;
    {
        std::lock_guard lock(m_mutex);
        for (; m_posted < end; ++m_posted)
            m_jobs.push_back(Job{m_posted, m_list[m_posted], m_adjustment});
        diskBound = m_diskBound;
    }
    m_jobPosted.notify_all();
    if (diskBound)
        m_diskWork.notify_all();
}

std::optional<PictureRead> PictureReadAhead::Take(std::size_t index)
{
    if (m_workers.empty() || index >= m_count)
        return std::nullopt;
    // Jobs are posted half a ring at a time: the workers are woken once for many.
    if (m_posted <= index + m_slots.size() / 2)
        PostUpTo(index + m_slots.size());
    std::unique_lock lock(m_mutex);
    Slot &slot = m_slots[index % m_slots.size()];
    if (!slot.done) {
        m_awaited = index;
        m_readDone.wait(lock, [&] { return slot.done; });
        m_awaited.reset();
    }
    std::optional<PictureRead> read = std::move(slot.read);
    slot = Slot{};
    return read;
}

namespace {

// Reads shorter than this say nothing of whether the reads wait for the disk.
constexpr std::int64_t kTellingRead = 100000;

// How far below the pass's thread the workers run. Measured on two cores with the journal on, 5
// steps took 6% off kronvik-cli's pass and 12% off the window's, and 10 steps no more; a pass
// without the journal, whose workers are the ones it waits on, took as long as before.
constexpr int kReadAheadNiceness = 5;

} // namespace

void PictureReadAhead::NoteReadTime(std::int64_t wallNanoseconds, const ThreadUsage &used)
{
    // Called with the lock held. A read that never gave up its core waited for no disk: the time
    // it did not compute, another thread had its core (the pass, the journal's thread), and
    // more workers would only take more of it.
    const double waited = used.waits == 0 ? 0.0
                                          : static_cast<double>(std::max<std::int64_t>(
                                                    0, wallNanoseconds - used.cpuNanoseconds))
                                                    / static_cast<double>(wallNanoseconds);
    m_waitingShare = 0.8 * m_waitingShare + 0.2 * waited;
    // Two thresholds, so that the extra workers do not come and go with every read.
    const bool diskBound = m_diskBound ? m_waitingShare > 0.3 : m_waitingShare > 0.5;
    if (diskBound && !m_diskBound)
        m_diskWork.notify_all();
    m_diskBound = diskBound;
}

void PictureReadAhead::Work(std::stop_token stop, bool extra)
{
    // The reads are ahead of the pass, which waits for none of them most of the time: the thread
    // that dates the pictures (the window's own, in the window) goes first when the cores are
    // busy, and the workers read with the time left.
    LowerThreadPriority(kReadAheadNiceness);
    // The thread's CPU clock is a system call, costly next to a read from the page cache: it is
    // read around a read only when the read before took long enough to tell. While the reads wait
    // for the disk every read but the first is timed; while they come from memory, none is.
    bool timed = false;
    for (;;) {
        Job job;
        {
            std::unique_lock lock(m_mutex);
            const bool posted =
                    extra ? m_diskWork.wait(lock, stop,
                                            [&] { return !m_jobs.empty() && m_diskBound; })
                          : m_jobPosted.wait(lock, stop, [&] { return !m_jobs.empty(); });
            if (!posted)
                return;
            job = std::move(m_jobs.front());
            m_jobs.pop_front();
        }
        const auto start = std::chrono::steady_clock::now();
        const ThreadUsage usageStart = timed ? ReadThreadUsage() : ThreadUsage{};
        std::optional<PictureRead> read;
        // Where the limit on open files leaves no room for the read's open, the pass reads the
        // picture at its turn.
        if (OpenOneForReading()) {
            try {
                read = ReadPicture(job.path, job.hours, true);
            } catch (...) {
                // Out of memory, say: the pass reads this picture again at its turn.
            }
            --g_readsOpen;
        }
        const std::int64_t wall = std::chrono::duration_cast<std::chrono::nanoseconds>(
                                          std::chrono::steady_clock::now() - start)
                                          .count();
        const bool telling = wall >= kTellingRead;
        std::optional<ThreadUsage> used;
        if (telling && timed) {
            const ThreadUsage now = ReadThreadUsage();
            used = ThreadUsage{now.cpuNanoseconds - usageStart.cpuNanoseconds,
                               now.waits - usageStart.waits};
        }
        timed = telling;
        bool awaited = false;
        {
            std::lock_guard lock(m_mutex);
            if (used)
                NoteReadTime(wall, *used);
            Slot &slot = m_slots[job.index % m_slots.size()];
            slot.read = std::move(read);
            slot.done = true;
            awaited = m_awaited == job.index;
        }
        if (awaited)
            m_readDone.notify_one();
    }
}

} // namespace kronvik
