// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "jpeg_head.h"

#include "file_services.h"

#include <algorithm>
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

} // namespace

JpegHead::JpegHead(ByteSource &source, std::size_t firstRead)
    : m_source(source)
    , m_firstRead(std::max<std::size_t>(firstRead, 1))
{
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
        if (m_bytes.capacity() < had + want) {
            // Moved with one memcpy: the vector's own growth copies its bytes one at a time
            // through the allocator.
            decltype(m_bytes) grown;
            grown.reserve(std::max({had + want, 2 * m_bytes.capacity(), kFirstCapacity}));
            grown.resize(had);
            if (had != 0)
                std::memcpy(grown.data(), m_bytes.data(), had);
            m_bytes.swap(grown);
        }
        m_bytes.resize(had + want);
        const std::int64_t got = m_source.ReadAt(had, m_bytes.data() + had, want);
        ++m_reads;
        if (got < 0) {
            m_bytes.resize(had);
            throw std::runtime_error(SystemErrorText(static_cast<int>(-got)));
        }
        m_bytesRead += static_cast<std::uint64_t>(got);
        m_bytes.resize(had + static_cast<std::size_t>(got));
        if (static_cast<std::size_t>(got) < want)
            m_atEnd = true;
    }
    return m_bytes.size() >= count;
}

bool JpegHead::StartsAsJpeg()
{
    return Have(3) && m_bytes[0] == 0xff && m_bytes[1] == 0xd8 && m_bytes[2] == 0xff;
}

void JpegHead::Keep(std::size_t count)
{
    m_bytes.resize(std::min(count, m_bytes.size()));
}

void JpegHead::KeepLeadingSegments()
{
    // Whether the walk goes on depends only on how long the file is, never on how it was read:
    // the bytes kept are the same whatever the reads were.
    std::size_t at = 2; // after SOI
    for (;;) {
        // Like the parser: skip anything up to a 0xFF, then any fill bytes 0xFF.
        while (Have(at + 1) && m_bytes[at] != 0xff)
            ++at;
        while (Have(at + 1) && m_bytes[at] == 0xff)
            ++at;
        if (!Have(at + 1))
            return;
        const unsigned char marker = m_bytes[at++];
        if (marker == 0xd9) { // EOI: no scan at all
            Keep(at);
            return;
        }
        if (IsStandaloneMarker(marker))
            continue;
        if (!Have(at + 2))
            return;
        const std::size_t length = (std::size_t(m_bytes[at]) << 8) | m_bytes[at + 1];
        if (marker == 0xda || length < 2) {
            const std::size_t end = at + std::max<std::size_t>(length, 2);
            Fill(end, 0);
            Keep(end);
            return;
        }
        at += length;
        // The segment and the next marker with its length, in one read.
        Fill(at + 4, 0);
    }
}

} // namespace kronvik
