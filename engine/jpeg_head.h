// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <algorithm>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

namespace kronvik {

// Where the bytes of a picture come from: a file open for reading, or memory in tests.
class ByteSource
{
public:
    virtual ~ByteSource() = default;
    // Reads up to `size` bytes at `offset`. Returns the count read, short only at the end, or a
    // negated errno value.
    virtual std::int64_t ReadAt(std::uint64_t offset, void *buffer, std::size_t size) = 0;
};

// Bytes that grow uninitialised: each byte the head grows by is read into at once, and zeroing up
// to megabytes first, picture after picture, is wasted. A vector with an allocator that skips the
// zeroing still visits every byte it grows or shrinks by, which made a debug build's read of a
// large head take seconds.
class UninitialisedBytes
{
public:
    UninitialisedBytes() = default;
    // Handed on by swap only: a moved-from buffer would keep a capacity without its memory.
    UninitialisedBytes(const UninitialisedBytes &) = delete;
    UninitialisedBytes &operator=(const UninitialisedBytes &) = delete;
    unsigned char *data() { return m_data.get(); }
    const unsigned char *data() const { return m_data.get(); }
    std::size_t size() const { return m_size; }
    bool empty() const { return m_size == 0; }
    std::size_t capacity() const { return m_capacity; }
    unsigned char &operator[](std::size_t at) { return m_data[at]; }
    // Within the capacity only: room is made by giving the bytes a new, larger home.
    void resize(std::size_t size)
    {
        assert(size <= m_capacity);
        m_size = std::min(size, m_capacity);
    }
    void clear() { m_size = 0; }
    void swap(UninitialisedBytes &other) noexcept
    {
        std::swap(m_data, other.m_data);
        std::swap(m_size, other.m_size);
        std::swap(m_capacity, other.m_capacity);
    }
    // Room for `capacity` bytes and no content.
    void Allocate(std::size_t capacity)
    {
        m_data = std::make_unique_for_overwrite<unsigned char[]>(capacity);
        m_size = 0;
        m_capacity = capacity;
    }

private:
    std::unique_ptr<unsigned char[]> m_data;
    std::size_t m_size = 0;
    std::size_t m_capacity = 0;
};

// Bytes [at, at + size) of a picture's head.
struct ByteRange
{
    std::size_t at;
    std::size_t size;
};

// Whether the library's JPEG parser reads a length after `marker`; after any other marker it
// looks for the next marker at once.
bool JpegParserReadsLength(unsigned char marker);

// The leading bytes of a picture file, read as they are needed and little further: a first read
// of a few kilobytes, then the segments the markers announce, each read ending at the end of the
// file's page it reaches into, up to the start of the scan data. On a cold disk the pages read
// decide the time a picture takes.
class JpegHead
{
public:
    // The payload bytes of a segment left unread follow at least this many that are read: every
    // identifier and header the date read looks at lies within them.
    static constexpr std::size_t kReadOfUnreadSegment = 64;
    // Fewer bytes than this after those are read with the segment: a read more costs as much.
    static constexpr std::size_t kLeastUnread = 16u << 10;

    // The leading segments of a camera JPEG are a few hundred kilobytes; a file that claims more
    // is not read further than this.
    static constexpr std::size_t kMaxBytes = 64u << 20;
    // Most cameras' leading segments begin within this much; scans for a marker read on by as much.
    static constexpr std::size_t kFirstRead = 4096;

    // Reads nothing yet; the first read takes at least `firstRead` bytes.
    explicit JpegHead(ByteSource &source, std::size_t firstRead = kFirstRead);
    ~JpegHead();
    JpegHead(const JpegHead &) = delete;
    JpegHead &operator=(const JpegHead &) = delete;

    // True when the first `count` bytes are there; false past the end of the file or the cap.
    // Throws std::runtime_error with the system's reason when a read fails.
    bool Have(std::size_t count);

    // The file begins with the JPEG start bytes FF D8 FF.
    bool StartsAsJpeg();

    // Cuts the bytes to the start of the file up to the end of the start-of-scan header: every
    // segment the JPEG parser reads metadata from, none of the compressed picture. A file that
    // ends early (or reaches the cap) keeps what there is, and the parser judges it.
    //
    // With `leaveUnread`, the payload of a large APPn segment other than an Exif or a Photoshop
    // one is read only as far as its first kReadOfUnreadSegment bytes; the rest is left unread
    // (its bytes undefined) until ReadUnread, and the head's size and every byte read are the
    // same as without. Only segments that the library's parser walks as this walk does, from the
    // file's start on, are left unread, so a walk of the bytes as the parser makes it meets no
    // unread byte but in such a payload.
    void KeepLeadingSegments(bool leaveUnread = false);

    // What KeepLeadingSegments left unread, in the order of the bytes.
    const std::vector<ByteRange> &LeftUnread() const { return m_unread; }
    // Reads what was left unread, but for the parts that lie wholly within one of `needless`
    // (sorted by place, not overlapping). Throws std::runtime_error with the system's reason when
    // a read fails or the file has become shorter.
    void ReadUnread(const std::vector<ByteRange> &needless = {});

    unsigned char *Data() { return m_bytes.data(); }
    const unsigned char *Data() const { return m_bytes.data(); }
    std::size_t Size() const { return m_bytes.size(); }
    // How many bytes were read from the source, and in how many reads.
    std::uint64_t BytesRead() const { return m_bytesRead; }
    unsigned Reads() const { return m_reads; }

private:
    using Bytes = UninitialisedBytes;
    // The bytes of the last head of this thread, kept for the next: each picture's head in new
    // memory grew the heap of a thread that reads picture after picture by megabytes, while the
    // read-ahead kept what it had read of the pictures between, and every page of it was new to
    // the process (a page fault each, the costliest part of a read on some virtual machines).
    static Bytes &Spare();
    // Beyond this, a head's memory is given back rather than kept.
    static constexpr std::size_t kLargestSpare = 4u << 20;

    // Reads until the first `count` bytes are there, taking at least `atLeast` bytes at once.
    bool Fill(std::size_t count, std::size_t atLeast);
    // The place of the first byte at or after `at` that is 0xFF (or, with `fill`, that is not),
    // reading on as that takes; where the file or the cap ends first, Size(), or `at` itself when
    // it lies past them.
    std::size_t Find(std::size_t at, bool fill);
    void Keep(std::size_t count);
    // Makes room for `capacity` bytes; the bytes left unread are not copied.
    void Reserve(std::size_t capacity);
    // Reads [at, at + size) into the bytes, which already reach that far; returns the count read.
    std::size_t ReadInto(std::size_t at, std::size_t size);
    // Leaves the payload of the segment whose length field is at `at` unread past its first
    // bytes when it may, reading the 4 bytes after it instead; returns whether it did.
    bool LeaveUnread(unsigned char marker, std::size_t at, std::size_t length);

    ByteSource &m_source;
    std::size_t m_firstRead;
    Bytes m_bytes;
    std::vector<ByteRange> m_unread;
    bool m_atEnd = false;
    std::uint64_t m_bytesRead = 0;
    unsigned m_reads = 0;
};

} // namespace kronvik
