// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "jpeg_head.h"

#include "file_services.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace kronvik {

namespace {

// Room for the leading segments of most pictures at once: growing a few kilobytes at a time, the
// bytes of a picture with a large Exif block were copied again at every segment. Memory reserved
// and never written costs nothing but its address space.
constexpr std::size_t kFirstCapacity = 256u << 10;

bool IsStandaloneMarker(unsigned char marker)
{
    // TEM, RST0 to RST7 and SOI carry no length.
    return marker == 0x01 || (marker >= 0xd0 && marker <= 0xd8);
}

constexpr unsigned char kExifId[6] = {'E', 'x', 'i', 'f', 0, 0};

// The reads of the segments end at a page boundary of the file: the disk and the page cache
// deliver the page whole anyway, and the small segments after the Exif block (tables, frame and
// scan headers) then come in one read instead of one each.
constexpr std::size_t kPage = 4096;

std::size_t PageEnd(std::size_t end)
{
    return (end + kPage - 1) / kPage * kPage;
}

} // namespace

bool JpegParserReadsLength(unsigned char marker)
{
    return (marker >= 0xc0 && marker <= 0xcf) || (marker >= 0xe0 && marker <= 0xef)
           || marker == 0xda || marker == 0xdb || marker == 0xdd || marker == 0xfe;
}

JpegHead::JpegHead(ByteSource &source, std::size_t firstRead)
    : m_source(source)
    , m_firstRead(std::max<std::size_t>(firstRead, 1))
{
    m_bytes.swap(Spare());
    m_bytes.clear();
}

JpegHead::~JpegHead()
{
    if (m_bytes.capacity() <= kLargestSpare && m_bytes.capacity() > Spare().capacity())
        Spare().swap(m_bytes);
}

JpegHead::Bytes &JpegHead::Spare()
{
    thread_local Bytes spare;
    return spare;
}

bool JpegHead::Have(std::size_t count)
{
    return Fill(count, m_bytes.empty() ? m_firstRead : kFirstRead);
}

bool JpegHead::Fill(std::size_t count, std::size_t atLeast)
{
    while (m_bytes.size() < count && !m_atEnd) {
        const std::size_t had = m_bytes.size();
        const std::size_t want = std::min(std::max(count - had, atLeast), kMaxBytes - had);
        if (want == 0) {
            m_atEnd = true;
            break;
        }
        Reserve(had + want);
        m_bytes.resize(had + want);
        const std::size_t got = ReadInto(had, want);
        m_bytes.resize(had + got);
        if (got < want)
            m_atEnd = true;
    }
    return m_bytes.size() >= count;
}

void JpegHead::Reserve(std::size_t capacity)
{
    if (m_bytes.capacity() >= capacity)
        return;
    // The bytes left unread are not copied, so their memory is never touched.
    Bytes grown;
    grown.Allocate(std::max({capacity, 2 * m_bytes.capacity(), kFirstCapacity}));
    grown.resize(m_bytes.size());
    std::size_t from = 0;
    for (const ByteRange &unread : m_unread) {
        std::memcpy(grown.data() + from, m_bytes.data() + from, unread.at - from);
        from = unread.at + unread.size;
    }
    if (m_bytes.size() > from)
        std::memcpy(grown.data() + from, m_bytes.data() + from, m_bytes.size() - from);
    m_bytes.swap(grown);
}

std::size_t JpegHead::ReadInto(std::size_t at, std::size_t size)
{
    const std::int64_t got = m_source.ReadAt(at, m_bytes.data() + at, size);
    ++m_reads;
    if (got < 0) {
        m_bytes.resize(std::min(m_bytes.size(), at));
        throw std::runtime_error(SystemErrorText(static_cast<int>(-got)));
    }
    m_bytesRead += static_cast<std::uint64_t>(got);
    return static_cast<std::size_t>(got);
}

bool JpegHead::LeaveUnread(unsigned char marker, std::size_t at, std::size_t length)
{
    // The Exif segment is read whole, and the Photoshop segments are pieced together.
    if (marker < 0xe0 || marker > 0xef || marker == 0xed)
        return false;
    const std::size_t read = at + 2 + kReadOfUnreadSegment, end = at + length;
    if (end < read + kLeastUnread || end + 4 > kMaxBytes)
        return false;
    if (!Fill(read, 0) || m_atEnd)
        return false;
    if (marker == 0xe1 && std::memcmp(m_bytes.data() + at + 2, kExifId, sizeof kExifId) == 0)
        return false;
    const std::size_t from = m_bytes.size();
    if (end < from + kLeastUnread)
        return false;
    const std::size_t last = std::min(PageEnd(end + 4), kMaxBytes);
    Reserve(last);
    m_bytes.resize(last);
    m_unread.push_back({from, end - from});
    const std::size_t after = ReadInto(end, last - end);
    if (after >= 4) {
        m_bytes.resize(end + after);
        m_atEnd = end + after < last;
        return true;
    }
    // The file ends within the segment or just after it: read as it is, the same bytes as a
    // read of it all at once.
    m_unread.pop_back();
    const std::size_t got = ReadInto(from, end - from);
    m_bytes.resize(got < end - from ? from + got : end + after);
    m_atEnd = true;
    return true;
}

void JpegHead::ReadUnread(const std::vector<ByteRange> &needless)
{
    std::size_t next = 0;
    for (const ByteRange &unread : m_unread) {
        while (next < needless.size() && needless[next].at + needless[next].size <= unread.at)
            ++next;
        if (next < needless.size() && needless[next].at <= unread.at
            && unread.at + unread.size <= needless[next].at + needless[next].size)
            continue;
        if (ReadInto(unread.at, unread.size) != unread.size)
            throw std::runtime_error(SystemErrorText(EIO));
    }
    m_unread.clear();
}

std::size_t JpegHead::Find(std::size_t at, bool fill)
{
    while (Have(at + 1)) {
        const unsigned char *begin = m_bytes.data() + at, *end = m_bytes.data() + m_bytes.size();
        const unsigned char *found =
                fill ? std::find_if(begin, end, [](unsigned char byte) { return byte != 0xff; })
                     : static_cast<const unsigned char *>(std::memchr(begin, 0xff, end - begin));
        if (found && found != end)
            return static_cast<std::size_t>(found - m_bytes.data());
        at = m_bytes.size();
    }
    return at;
}

bool JpegHead::StartsAsJpeg()
{
    return Have(3) && m_bytes[0] == 0xff && m_bytes[1] == 0xd8 && m_bytes[2] == 0xff;
}

void JpegHead::Keep(std::size_t count)
{
    m_bytes.resize(std::min(count, m_bytes.size()));
}

void JpegHead::KeepLeadingSegments(bool leaveUnread)
{
    // Whether the walk goes on depends only on how long the file is, never on how it was read:
    // the bytes kept are the same whatever the reads were.
    std::size_t at = 2; // after SOI
    // Whether the library's parser walks the segments as this walk does: it reads no length
    // after some markers that carry one here.
    bool walkedAlike = true;
    for (;;) {
        // Like the parser: skip anything up to a 0xFF, then any fill bytes 0xFF.
        at = Find(Find(at, false), true);
        if (!Have(at + 1))
            return;
        const unsigned char marker = m_bytes[at++];
        if (marker == 0xd9) { // EOI: no scan at all
            Keep(at);
            return;
        }
        if (IsStandaloneMarker(marker))
            continue;
        walkedAlike = walkedAlike && JpegParserReadsLength(marker);
        if (!Have(at + 2))
            return;
        const std::size_t length = (std::size_t(m_bytes[at]) << 8) | m_bytes[at + 1];
        if (marker == 0xda || length < 2) {
            const std::size_t end = at + std::max<std::size_t>(length, 2);
            Fill(end, 0);
            Keep(end);
            return;
        }
        if (leaveUnread && walkedAlike && LeaveUnread(marker, at, length)) {
            at += length;
            continue;
        }
        at += length;
        // The segment and the next marker with its length, in one read.
        Fill(at + 4, PageEnd(at + 4) - std::min(PageEnd(at + 4), m_bytes.size()));
    }
}

} // namespace kronvik
