// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "date_read_copy.h"

#include <cstring>
#include <optional>

namespace kronvik {

namespace {

constexpr unsigned char kSos = 0xda;
constexpr unsigned char kEoi = 0xd9;
constexpr unsigned char kApp1 = 0xe1;
constexpr unsigned char kExifId[6] = {'E', 'x', 'i', 'f', 0, 0};
// With its NUL: the library compares all 29 bytes.
constexpr char kXmpId[] = "http://ns.adobe.com/xap/1.0/";
constexpr std::size_t kXmpIdSize = sizeof kXmpId;
// Length field and identifier: the library still counts such a segment as the XMP one.
constexpr std::size_t kBareXmpSegment = 2 + kXmpIdSize;

constexpr std::uint16_t kTagExifIfd = 0x8769;
constexpr std::uint16_t kTagMakerNote = 0x927c;
// The library reads no directory that claims more entries.
constexpr std::size_t kMaxEntries = 256;
constexpr std::size_t kEntrySize = 12;

// The markers the library's JPEG parser reads a length for; after any other it looks for the
// next marker at once.
bool HasLength(unsigned char marker)
{
    return (marker >= 0xc0 && marker <= 0xcf) || (marker >= 0xe0 && marker <= 0xef)
           || marker == kSos || marker == 0xdb || marker == 0xdd || marker == 0xfe;
}

class Tiff
{
public:
    Tiff(const unsigned char *bytes, std::size_t size, bool little)
        : m_bytes(bytes)
        , m_size(size)
        , m_little(little)
    {
    }
    std::size_t Size() const { return m_size; }
    // Callers check that [at, at + 2) or [at, at + 4) lies within the bytes.
    std::uint16_t U16(std::size_t at) const
    {
        const unsigned a = m_bytes[at], b = m_bytes[at + 1];
        return static_cast<std::uint16_t>(m_little ? a | b << 8 : a << 8 | b);
    }
    std::uint32_t U32(std::size_t at) const
    {
        const std::uint32_t a = U16(at), b = U16(at + 2);
        return m_little ? a | b << 16 : a << 16 | b;
    }

private:
    const unsigned char *m_bytes;
    std::size_t m_size;
    bool m_little;
};

struct Directory
{
    std::uint64_t start;
    std::size_t entries;
    std::uint64_t Entry(std::size_t i) const { return start + 2 + kEntrySize * i; }
    // With the next-directory offset, whether or not the bytes hold it.
    std::uint64_t End() const { return Entry(entries) + 4; }
};

bool Overlap(std::uint64_t a, std::uint64_t aEnd, std::uint64_t b, std::uint64_t bEnd)
{
    return a < bEnd && b < aEnd;
}

// A directory whose every entry lies within the bytes, as the library reads it whole.
std::optional<Directory> ReadDirectory(const Tiff &tiff, std::uint64_t start)
{
    if (start > tiff.Size() || tiff.Size() - start < 2)
        return std::nullopt;
    const Directory directory{start, tiff.U16(start)};
    if (directory.entries == 0 || directory.entries > kMaxEntries
        || directory.Entry(directory.entries) > tiff.Size())
        return std::nullopt;
    return directory;
}

// The size of one value of a TIFF type; the largest of any type for a type unknown here, so
// that no value is taken for shorter than the library may read it.
std::uint64_t TypeSize(std::uint16_t type)
{
    switch (type) {
    case 1:
    case 2:
    case 6:
    case 7:
        return 1; // BYTE, ASCII, SBYTE, UNDEFINED
    case 3:
    case 8:
        return 2; // SHORT, SSHORT
    case 4:
    case 9:
    case 11:
    case 13:
        return 4; // LONG, SLONG, FLOAT, IFD
    default:
        return 8;
    }
}

// Whether the value of an entry of `directory`, where it lies outside its entry, covers a byte
// of [at, at + 2).
bool AValueCovers(const Tiff &tiff, const Directory &directory, std::uint64_t at)
{
    for (std::size_t i = 0; i < directory.entries; ++i) {
        const std::uint64_t entry = directory.Entry(i);
        const std::uint64_t bytes = tiff.U32(entry + 4) * TypeSize(tiff.U16(entry + 2));
        if (bytes <= 4)
            continue;
        const std::uint64_t offset = tiff.U32(entry + 8);
        if (Overlap(offset, offset + bytes, at, at + 2))
            return true;
    }
    return false;
}

// The one entry of `directory` with `tag`, or nothing when there is none or more than one.
std::optional<std::uint64_t> OnlyEntry(const Tiff &tiff, const Directory &directory,
                                       std::uint16_t tag)
{
    std::optional<std::uint64_t> found;
    for (std::size_t i = 0; i < directory.entries; ++i) {
        if (tiff.U16(directory.Entry(i)) != tag)
            continue;
        if (found)
            return std::nullopt;
        found = directory.Entry(i);
    }
    return found;
}

void PutTag(unsigned char *at, bool little, std::uint16_t tag)
{
    at[little ? 0 : 1] = static_cast<unsigned char>(tag & 0xff);
    at[little ? 1 : 0] = static_cast<unsigned char>(tag >> 8);
}

} // namespace

std::size_t FindMakerNoteTag(const unsigned char *bytes, std::size_t size)
{
    if (size < 8 || bytes[0] != bytes[1] || (bytes[0] != 'I' && bytes[0] != 'M'))
        return size;
    const Tiff tiff(bytes, size, bytes[0] == 'I');
    if (tiff.U16(2) != 42)
        return size;
    const std::optional<Directory> ifd0 = ReadDirectory(tiff, tiff.U32(4));
    if (!ifd0)
        return size;
    // One pointer to one Exif IFD: with more, a later one could be read as the maker note's.
    const std::optional<std::uint64_t> pointer = OnlyEntry(tiff, *ifd0, kTagExifIfd);
    if (!pointer)
        return size;
    const std::uint16_t type = tiff.U16(*pointer + 2);
    if ((type != 4 && type != 9 && type != 13) || tiff.U32(*pointer + 4) != 1)
        return size;
    const std::optional<Directory> exif = ReadDirectory(tiff, tiff.U32(*pointer + 8));
    if (!exif || Overlap(exif->start, exif->End(), 0, 8)
        || Overlap(exif->start, exif->End(), ifd0->start, ifd0->End()))
        return size;
    const std::optional<std::uint64_t> makerNote = OnlyEntry(tiff, *exif, kTagMakerNote);
    // The tag bytes must be nothing but the tag: no value of these two directories, a date
    // among them, may be read from them.
    if (!makerNote || AValueCovers(tiff, *ifd0, *makerNote)
        || AValueCovers(tiff, *exif, *makerNote))
        return size;
    return static_cast<std::size_t>(*makerNote);
}

namespace {

constexpr std::size_t kNone = ~std::size_t{0};

// What the date read leaves out of a picture's leading segments, by place in its bytes.
struct LeaveOut
{
    std::size_t xmp = kNone; // the XMP segment's length field, when its packet goes
    std::size_t xmpLength = 0;
    std::size_t makerNote = kNone; // the maker note entry's tag
    bool little = false; // the TIFF structure's byte order

    DateReadCopy Made() const { return {xmp != kNone, makerNote != kNone}; }
    std::size_t PacketSize() const { return xmp == kNone ? 0 : xmpLength - kBareXmpSegment; }
};

LeaveOut FindWhatToLeaveOut(const unsigned char *bytes, std::size_t size)
{
    LeaveOut out;
    if (size < 2 || bytes[0] != 0xff || bytes[1] != 0xd8)
        return out;
    // The segments as the library walks them, each at its length field. The walk stops where the
    // library's would fail or end; it may go on past where the library stops counting, and a
    // segment changed there is one the library does not read.
    std::size_t exif = kNone, xmp = kNone;
    std::size_t exifLength = 0, xmpLength = 0;
    std::size_t at = 2;
    for (;;) {
        while (at < size && bytes[at] != 0xff)
            ++at;
        if (at >= size)
            break;
        ++at;
        while (at < size && bytes[at] == 0xff)
            ++at;
        if (at >= size)
            break;
        const unsigned char marker = bytes[at++];
        if (marker == kSos || marker == kEoi)
            break;
        if (!HasLength(marker))
            continue;
        if (size - at < 2)
            break;
        const std::size_t length = std::size_t(bytes[at]) << 8 | bytes[at + 1];
        if (length < 2 || length > size - at)
            break; // a segment cut short: the library judges it as it is
        if (marker == kApp1) {
            if (exif == kNone && length >= 8 && std::memcmp(bytes + at + 2, kExifId, 6) == 0) {
                exif = at;
                exifLength = length;
            } else if (xmp == kNone && length >= kBareXmpSegment
                       && std::memcmp(bytes + at + 2, kXmpId, kXmpIdSize) == 0) {
                xmp = at;
                xmpLength = length;
            }
        }
        at += length;
    }

    if (xmp != kNone && xmpLength > kBareXmpSegment) {
        out.xmp = xmp;
        out.xmpLength = xmpLength;
    }
    if (exif != kNone) {
        const unsigned char *tiff = bytes + exif + 8;
        const std::size_t tiffSize = exifLength - 8;
        const std::size_t tag = FindMakerNoteTag(tiff, tiffSize);
        if (tag < tiffSize) {
            out.makerNote = exif + 8 + tag;
            out.little = tiff[0] == 'I';
        }
    }
    return out;
}

} // namespace

DateReadCopy CopyForDateRead(const unsigned char *bytes, std::size_t size,
                             std::vector<unsigned char> &copy)
{
    const LeaveOut out = FindWhatToLeaveOut(bytes, size);
    if (!out.Made().Changed())
        return out.Made();
    if (out.xmp != kNone) {
        copy.assign(bytes, bytes + out.xmp);
        copy.push_back(0);
        copy.push_back(static_cast<unsigned char>(kBareXmpSegment));
        copy.insert(copy.end(), bytes + out.xmp + 2, bytes + out.xmp + kBareXmpSegment);
        copy.insert(copy.end(), bytes + out.xmp + out.xmpLength, bytes + size);
    } else {
        copy.assign(bytes, bytes + size);
    }
    if (out.makerNote != kNone) {
        const std::size_t place =
                out.xmp < out.makerNote ? out.makerNote - out.PacketSize() : out.makerNote;
        PutTag(copy.data() + place, out.little, kHiddenMakerNoteTag);
    }
    return out.Made();
}

TrimmedForDateRead TrimForDateRead(unsigned char *bytes, std::size_t size)
{
    const LeaveOut out = FindWhatToLeaveOut(bytes, size);
    TrimmedForDateRead trimmed{out.Made(), 0, size};
    if (out.makerNote != kNone)
        PutTag(bytes + out.makerNote, out.little, kHiddenMakerNoteTag);
    if (out.xmp == kNone)
        return trimmed;
    bytes[out.xmp] = 0;
    bytes[out.xmp + 1] = static_cast<unsigned char>(kBareXmpSegment);
    // The packet is closed up from whichever side moves fewer bytes.
    const std::size_t before = out.xmp + kBareXmpSegment;
    const std::size_t after = size - (out.xmp + out.xmpLength);
    if (before <= after) {
        std::memmove(bytes + out.PacketSize(), bytes, before);
        trimmed.start = out.PacketSize();
    } else {
        std::memmove(bytes + before, bytes + before + out.PacketSize(), after);
    }
    trimmed.size = size - out.PacketSize();
    return trimmed;
}

} // namespace kronvik
