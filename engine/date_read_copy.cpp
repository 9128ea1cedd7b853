// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "date_read_copy.h"

#include <algorithm>
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
constexpr std::uint16_t kTagGpsIfd = 0x8825;
constexpr std::uint16_t kTagSubIfds = 0x014a;
constexpr std::uint16_t kTagMakerNote = 0x927c;
constexpr std::uint16_t kTagInteropIfd = 0xa005;
constexpr std::uint16_t kTagDateTime = 0x0132;
constexpr std::uint16_t kTagDateTimeOriginal = 0x9003;
constexpr std::uint16_t kTagDateTimeDigitized = 0x9004;
constexpr std::uint16_t kTypeAscii = 2;
// A date entry longer than this is in doubt: the structure is left as it is.
constexpr std::uint64_t kLongestPlainText = 1024;
// The library reads no directory that claims more entries.
constexpr std::size_t kMaxEntries = 256;
constexpr std::size_t kEntrySize = 12;

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
// of [at, at + size).
bool AValueCovers(const Tiff &tiff, const Directory &directory, std::uint64_t at,
                  std::uint64_t size)
{
    for (std::size_t i = 0; i < directory.entries; ++i) {
        const std::uint64_t entry = directory.Entry(i);
        const std::uint64_t bytes = tiff.U32(entry + 4) * TypeSize(tiff.U16(entry + 2));
        if (bytes <= 4)
            continue;
        const std::uint64_t offset = tiff.U32(entry + 8);
        if (Overlap(offset, offset + bytes, at, at + size))
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

void Put16(unsigned char *at, bool little, std::uint16_t value)
{
    at[little ? 0 : 1] = static_cast<unsigned char>(value & 0xff);
    at[little ? 1 : 0] = static_cast<unsigned char>(value >> 8);
}

// Whether the library reads the entry at `entry` as a text whose bytes all lie in the structure:
// it then decodes it whatever the entries beside it are.
bool PlainText(const Tiff &tiff, std::uint64_t entry)
{
    const std::uint64_t count = tiff.U32(entry + 4);
    if (tiff.U16(entry + 2) != kTypeAscii || count == 0 || count > kLongestPlainText)
        return false;
    const std::uint64_t offset = tiff.U32(entry + 8);
    return count <= 4 || (offset >= 8 && offset + count <= tiff.Size());
}

// The bytes of `directory` as the library is handed them when only the entries `keep` takes
// stay: the count, those entries in their order, no next directory.
std::vector<unsigned char> Compacted(const unsigned char *bytes, const Tiff &tiff,
                                     const Directory &directory, bool little, const auto &keep)
{
    std::vector<unsigned char> kept(2);
    std::uint16_t count = 0;
    for (std::size_t i = 0; i < directory.entries; ++i) {
        const std::uint64_t entry = directory.Entry(i);
        if (!keep(tiff.U16(entry)))
            continue;
        kept.insert(kept.end(), bytes + entry, bytes + entry + kEntrySize);
        ++count;
    }
    Put16(kept.data(), little, count);
    kept.resize(kept.size() + 4, 0);
    return kept;
}

} // namespace

namespace {

// A directory rewritten in place: `bytes` at `at`.
struct RewrittenDirectory
{
    std::size_t at;
    std::vector<unsigned char> bytes;
};

// Places in a TIFF structure that the date read changes, each `size` when not found without
// doubt.
struct TiffPlaces
{
    std::size_t makerNoteTag;
    std::size_t interopTag;
    std::size_t nextAfterIfd0; // the offset of the directory after IFD0, the thumbnail's
    // IFD0 and the Exif IFD with nothing but their date entries and the Exif IFD pointer: the
    // library makes an entry with a key and a value of every entry it reads, which is most of
    // its time on a camera picture. Written after the changes above, which may lie in them.
    std::vector<RewrittenDirectory> compacted;
    std::size_t entriesLeftOut = 0;
};

// IFD0 and `exif` rewritten with their date entries alone, in `places`, when every byte those
// keep lies outside both directories and neither leads on to a directory after it but the
// thumbnail's that `places` cuts off. A directory that keeps every entry is left as it is.
void Compact(const unsigned char *bytes, const Tiff &tiff, const Directory &ifd0,
             const Directory &exif, bool little, TiffPlaces &places)
{
    if (Overlap(ifd0.start, ifd0.End(), 0, 8))
        return; // rewritten, it would change the header
    using Keep = bool (*)(std::uint16_t);
    const Keep keptInIfd0 = [](std::uint16_t tag) {
        return tag == kTagDateTime || tag == kTagExifIfd;
    };
    const Keep keptInExif = [](std::uint16_t tag) {
        return tag == kTagDateTimeOriginal || tag == kTagDateTimeDigitized;
    };
    // Of `directory`, the entries kept; none when a byte it keeps may change.
    const auto keptOf = [&](const Directory &directory, Keep keep) -> std::optional<std::size_t> {
        std::size_t kept = 0;
        for (std::size_t i = 0; i < directory.entries; ++i) {
            const std::uint64_t entry = directory.Entry(i);
            const std::uint16_t tag = tiff.U16(entry);
            if (!keep(tag))
                continue;
            ++kept;
            if (tag != kTagExifIfd && !PlainText(tiff, entry))
                return std::nullopt;
        }
        const std::uint64_t end = std::min<std::uint64_t>(directory.End(), tiff.Size());
        if (AValueCovers(tiff, ifd0, directory.start, end - directory.start)
            || AValueCovers(tiff, exif, directory.start, end - directory.start))
            return std::nullopt;
        const std::uint64_t next = directory.Entry(directory.entries);
        if (next + 4 <= tiff.Size() && tiff.U32(next) != 0 && next != places.nextAfterIfd0)
            return std::nullopt;
        return kept;
    };
    const std::optional<std::size_t> inIfd0 = keptOf(ifd0, keptInIfd0);
    const std::optional<std::size_t> inExif = keptOf(exif, keptInExif);
    if (!inIfd0 || !inExif)
        return;
    // Rewritten, a directory is shorter than it was: its bytes lie within the structure.
    if (*inIfd0 < ifd0.entries)
        places.compacted.push_back({static_cast<std::size_t>(ifd0.start),
                                    Compacted(bytes, tiff, ifd0, little, keptInIfd0)});
    if (*inExif < exif.entries)
        places.compacted.push_back({static_cast<std::size_t>(exif.start),
                                    Compacted(bytes, tiff, exif, little, keptInExif)});
    places.entriesLeftOut = ifd0.entries + exif.entries - *inIfd0 - *inExif;
}

TiffPlaces FindTiffPlaces(const unsigned char *bytes, std::size_t size)
{
    TiffPlaces places{size, size, size, {}, 0};
    if (size < 8 || bytes[0] != bytes[1] || (bytes[0] != 'I' && bytes[0] != 'M'))
        return places;
    const Tiff tiff(bytes, size, bytes[0] == 'I');
    if (tiff.U16(2) != 42)
        return places;
    const std::optional<Directory> ifd0 = ReadDirectory(tiff, tiff.U32(4));
    if (!ifd0)
        return places;
    // One pointer to one Exif IFD: with more, a later one could be read as the maker note's.
    const std::optional<std::uint64_t> pointer = OnlyEntry(tiff, *ifd0, kTagExifIfd);
    if (!pointer)
        return places;
    const std::uint16_t type = tiff.U16(*pointer + 2);
    if ((type != 4 && type != 9 && type != 13) || tiff.U32(*pointer + 4) != 1)
        return places;
    // The library follows IFD0's directory pointers in their order and reads no directory twice:
    // a GPS or SubIFDs pointer ahead of the Exif pointer that names the Exif IFD, or leads to it,
    // makes it read the Exif IFD as that directory, and leaving that pointer out would not.
    for (std::uint64_t entry = ifd0->Entry(0); entry < *pointer; entry += kEntrySize) {
        const std::uint16_t tag = tiff.U16(entry);
        if (tag == kTagGpsIfd || tag == kTagSubIfds)
            return places;
    }
    const std::optional<Directory> exif = ReadDirectory(tiff, tiff.U32(*pointer + 8));
    if (!exif || Overlap(exif->start, exif->End(), 0, 8)
        || Overlap(exif->start, exif->End(), ifd0->start, ifd0->End()))
        return places;
    // The bytes changed must be nothing but what is changed: no value of these two
    // directories, a date among them, may be read from them.
    const auto alone = [&](std::uint64_t at, std::uint64_t size) {
        return !AValueCovers(tiff, *ifd0, at, size) && !AValueCovers(tiff, *exif, at, size);
    };
    const std::optional<std::uint64_t> makerNote = OnlyEntry(tiff, *exif, kTagMakerNote);
    if (makerNote && alone(*makerNote, 2))
        places.makerNoteTag = static_cast<std::size_t>(*makerNote);
    const std::optional<std::uint64_t> interop = OnlyEntry(tiff, *exif, kTagInteropIfd);
    if (interop && alone(*interop, 2))
        places.interopTag = static_cast<std::size_t>(*interop);
    const std::uint64_t next = ifd0->Entry(ifd0->entries);
    if (next + 4 <= size && tiff.U32(next) != 0
        && !Overlap(next, next + 4, exif->start, exif->End()) && alone(next, 4))
        places.nextAfterIfd0 = static_cast<std::size_t>(next);
    Compact(bytes, tiff, *ifd0, *exif, bytes[0] == 'I', places);
    return places;
}

} // namespace

std::size_t FindMakerNoteTag(const unsigned char *bytes, std::size_t size)
{
    return FindTiffPlaces(bytes, size).makerNoteTag;
}

namespace {

constexpr std::size_t kNone = ~std::size_t{0};

constexpr unsigned char kApp0 = 0xe0;
constexpr unsigned char kApp2 = 0xe2;
constexpr unsigned char kApp13 = 0xed;
constexpr unsigned char kCom = 0xfe;
// The library compares 11 bytes of it; the 12th (a NUL) and the chunk number and count follow.
constexpr unsigned char kIccId[11] = {'I', 'C', 'C', '_', 'P', 'R', 'O', 'F', 'I', 'L', 'E'};
constexpr std::size_t kIccHeader = 14;
// Shorter ICC segments end the library's walk; the profile's 4-byte size follows the header.
constexpr std::size_t kLeastIccSegment = 2 + kIccHeader + 4;
// With its NUL, as the library compares it.
constexpr unsigned char kPhotoshopId[14] = {'P', 'h', 'o', 't', 'o', 's', 'h',
                                            'o', 'p', ' ', '3', '.', '0', 0};
// The library tests a whole profile for at least the size of its `long` before it reads the
// profile's size field.
constexpr std::size_t kLeastIccProfile = sizeof(long);
// A segment shortened by fewer bytes is left as it is: moving the bytes after it costs more.
constexpr std::size_t kLeastSaving = 32;

// One segment as the library is handed it: its length field says 2 + `keep`, its payload is the
// first `keep` bytes of the original payload, with the ICC profile's size field set to `iccSize`
// when `setIccSize`.
struct Shortened
{
    std::size_t at; // the length field
    std::size_t length; // the original length
    std::size_t keep;
    bool setIccSize = false;
    std::uint32_t iccSize = 0;
    std::size_t NewLength() const { return 2 + keep; }
    std::size_t Saving() const { return length - NewLength(); }
};

// What the date read leaves out of a picture's leading segments, by place in its bytes.
struct LeaveOut
{
    std::vector<Shortened> segments; // in the order of the bytes
    bool xmp = false; // the XMP segment is among them, without its packet
    std::size_t makerNote = kNone; // the maker note entry's tag
    std::size_t interop = kNone; // the interoperability IFD pointer's tag
    std::size_t nextAfterIfd0 = kNone; // the thumbnail IFD's offset
    std::vector<RewrittenDirectory> compacted; // by place in the bytes
    std::size_t entriesLeftOut = 0;
    bool little = false; // the TIFF structure's byte order

    DateReadCopy Made() const
    {
        const std::size_t shortened = static_cast<std::size_t>(
                std::count_if(segments.begin(), segments.end(),
                              [](const Shortened &segment) { return segment.Saving() > 0; }));
        return {xmp, makerNote != kNone, shortened - (xmp ? 1 : 0),
                std::size_t{interop != kNone} + std::size_t{nextAfterIfd0 != kNone},
                entriesLeftOut};
    }
    std::size_t Saving() const
    {
        std::size_t saving = 0;
        for (const Shortened &segment : segments)
            saving += segment.Saving();
        return saving;
    }
};

std::uint32_t BigEndian32(const unsigned char *at)
{
    return std::uint32_t(at[0]) << 24 | std::uint32_t(at[1]) << 16 | std::uint32_t(at[2]) << 8
           | at[3];
}

// The ICC segments up to where the library's walk ends, and how to shorten them so that the
// library's checks on the profile it pieces together come out as they do for the whole chunks.
// The library appends each chunk's bytes after its header (of a chunk numbered 1 of 1: as many as
// the profile's size field says, which must not be more); at each chunk whose number equals the
// count it checks that the profile so far holds at least kLeastIccProfile bytes and begins with
// its own size. It throws at the first check that fails. Shortened, a chunk keeps 4 bytes after
// its header, the first chunk 8, and the first chunk's size field is set to what the profile is
// at the check. Left as they are: chunks that make the library throw, more than one check, or a
// chunk 1 of 1 beside others.
class IccChunks
{
public:
    void Add(std::size_t at, std::size_t length) { m_chunks.push_back({at, length}); }

    void Shorten(const unsigned char *bytes, std::vector<Shortened> &into) const
    {
        if (m_chunks.empty())
            return;
        std::size_t profile = 0, checks = 0, checkAt = 0;
        bool oneOfOne = false;
        unsigned char head[4];
        std::size_t headHave = 0;
        for (std::size_t i = 0; i < m_chunks.size(); ++i) {
            const unsigned char *payload = bytes + m_chunks[i].at + 2;
            const unsigned chunk = payload[12], chunks = payload[13];
            const std::uint32_t sizeField = BigEndian32(payload + kIccHeader);
            std::size_t appended = m_chunks[i].length - 2 - kIccHeader;
            if (chunk == 1 && chunks == 1) {
                oneOfOne = true;
                if (sizeField > appended)
                    return; // the library throws
                appended = sizeField;
            }
            for (std::size_t b = 0; b < appended && headHave < 4; ++b)
                head[headHave++] = payload[kIccHeader + b];
            profile += appended;
            if (chunk == chunks) {
                if (profile < kLeastIccProfile || headHave < 4 || BigEndian32(head) != profile)
                    return; // the library throws
                ++checks;
                checkAt = i;
            }
        }
        if (checks > 1 || (oneOfOne && m_chunks.size() > 1))
            return;

        std::vector<Shortened> shortened;
        std::size_t profileAtCheck = 0;
        for (std::size_t i = 0; i < m_chunks.size(); ++i) {
            const std::size_t appended = m_chunks[i].length - 2 - kIccHeader;
            // The first chunk may hold fewer bytes than kLeastIccProfile (4 at least: it has a
            // size field), and is kept whole then.
            const std::size_t least = i == 0 ? kLeastIccProfile : 4;
            const std::size_t kept = appended >= least + kLeastSaving ? least : appended;
            if (i <= checkAt)
                profileAtCheck += kept;
            shortened.push_back({m_chunks[i].at, m_chunks[i].length, kIccHeader + kept});
        }
        if (std::none_of(shortened.begin(), shortened.end(),
                         [](const Shortened &chunk) { return chunk.Saving() > 0; }))
            return;
        if (checks == 1) {
            shortened.front().setIccSize = true;
            shortened.front().iccSize = static_cast<std::uint32_t>(profileAtCheck);
        }
        for (const Shortened &chunk : shortened) {
            if (chunk.Saving() > 0 || chunk.setIccSize)
                into.push_back(chunk);
        }
    }

private:
    struct Chunk
    {
        std::size_t at, length;
    };
    std::vector<Chunk> m_chunks;
};

LeaveOut FindWhatToLeaveOut(const unsigned char *bytes, std::size_t size, DateReadParts parts)
{
    LeaveOut out;
    if (size < 2 || bytes[0] != 0xff || bytes[1] != 0xd8)
        return out;
    // The segments as the library walks them, each at its length field. The walk stops where the
    // library's would fail or end; it may go on past where the library stops counting, and a
    // segment changed there is one the library does not read. Every segment that the library
    // only skips or keeps keeps as much of its payload as the library compares, so that it is
    // taken for what it was, and the library's walk goes the same way.
    std::size_t exif = kNone;
    std::size_t exifLength = 0;
    bool xmpFound = false, commentEmpty = true;
    IccChunks icc;
    std::vector<Shortened> skipped;
    const auto skip = [&](std::size_t at, std::size_t length, std::size_t keep) {
        if (parts.segments && length - 2 > keep && length - 2 - keep >= kLeastSaving)
            skipped.push_back({at, length, keep});
    };
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
        if (!JpegParserReadsLength(marker))
            continue;
        if (size - at < 2)
            break;
        const std::size_t length = std::size_t(bytes[at]) << 8 | bytes[at + 1];
        if (length < 2 || length > size - at)
            break; // a segment cut short: the library judges it as it is
        const unsigned char *payload = bytes + at + 2;
        if (marker == kApp1) {
            if (exif == kNone && length >= 8 && std::memcmp(payload, kExifId, 6) == 0) {
                exif = at;
                exifLength = length;
            } else if (!xmpFound && length >= kBareXmpSegment
                       && std::memcmp(payload, kXmpId, kXmpIdSize) == 0) {
                xmpFound = true;
                if (parts.xmpPacket && length > kBareXmpSegment) {
                    skipped.push_back({at, length, kXmpIdSize});
                    out.xmp = true;
                }
            } else {
                // Extended XMP, a second Exif or XMP segment, anything else: skipped.
                skip(at, length, kXmpIdSize);
            }
        } else if (marker == kApp2) {
            if (length >= 2 + sizeof kIccId && std::memcmp(payload, kIccId, sizeof kIccId) == 0) {
                if (length < kLeastIccSegment)
                    break; // the library's walk ends here
                if (parts.segments)
                    icc.Add(at, length);
            } else {
                skip(at, length, sizeof kIccId);
            }
        } else if (marker == kApp13) {
            // Photoshop segments are pieced together and searched for IPTC data: kept whole.
            if (length < 2 + sizeof kPhotoshopId
                || std::memcmp(payload, kPhotoshopId, sizeof kPhotoshopId) != 0)
                skip(at, length, sizeof kPhotoshopId);
        } else if (marker == kCom) {
            // The library keeps the first comment that is not empty once its trailing NULs are
            // cut; each comment read while it has none counts towards the end of its walk.
            std::size_t keep = 0;
            if (commentEmpty) {
                std::size_t firstText = 0;
                while (firstText < length - 2 && payload[firstText] == 0)
                    ++firstText;
                if (firstText < length - 2) {
                    commentEmpty = false;
                    keep = firstText + 1;
                }
            }
            skip(at, length, keep);
        } else if (marker >= kApp0 && marker <= 0xef) {
            skip(at, length, 0);
        }
        at += length;
    }

    if (parts.makerNote && exif != kNone) {
        const unsigned char *tiff = bytes + exif + 8;
        const std::size_t tiffSize = exifLength - 8;
        TiffPlaces places = FindTiffPlaces(tiff, tiffSize);
        out.little = tiff[0] == 'I';
        if (places.makerNoteTag < tiffSize)
            out.makerNote = exif + 8 + places.makerNoteTag;
        if (places.interopTag < tiffSize)
            out.interop = exif + 8 + places.interopTag;
        if (places.nextAfterIfd0 < tiffSize)
            out.nextAfterIfd0 = exif + 8 + places.nextAfterIfd0;
        for (RewrittenDirectory &directory : places.compacted) {
            directory.at += exif + 8;
            out.compacted.push_back(std::move(directory));
        }
        out.entriesLeftOut = places.entriesLeftOut;
    }
    icc.Shorten(bytes, skipped);
    std::sort(skipped.begin(), skipped.end(),
              [](const Shortened &a, const Shortened &b) { return a.at < b.at; });
    out.segments = std::move(skipped);
    return out;
}

// Writes the shortened segment's length field and payload at `to` (which may be its own place):
// the kept payload bytes must already be there.
void FinishShortened(const Shortened &segment, unsigned char *to)
{
    to[0] = static_cast<unsigned char>(segment.NewLength() >> 8);
    to[1] = static_cast<unsigned char>(segment.NewLength() & 0xff);
    if (segment.setIccSize) {
        unsigned char *field = to + 2 + kIccHeader;
        field[0] = static_cast<unsigned char>(segment.iccSize >> 24);
        field[1] = static_cast<unsigned char>(segment.iccSize >> 16 & 0xff);
        field[2] = static_cast<unsigned char>(segment.iccSize >> 8 & 0xff);
        field[3] = static_cast<unsigned char>(segment.iccSize & 0xff);
    }
}

// Hides the maker note and the interoperability IFD and cuts the thumbnail IFD off, in `bytes`
// where `place` says the bytes found lie; or leaves them out with every entry that holds no date.
template<class Place>
void ChangeTiff(const LeaveOut &out, unsigned char *bytes, Place place)
{
    if (out.makerNote != kNone)
        Put16(bytes + place(out.makerNote), out.little, kHiddenMakerNoteTag);
    if (out.interop != kNone)
        Put16(bytes + place(out.interop), out.little, kHiddenInteropTag);
    if (out.nextAfterIfd0 != kNone)
        std::memset(bytes + place(out.nextAfterIfd0), 0, 4);
    for (const RewrittenDirectory &directory : out.compacted)
        std::memcpy(bytes + place(directory.at), directory.bytes.data(), directory.bytes.size());
}

// Where a byte before or after the shortened segments lies once they are shortened.
std::size_t PlaceAfterShortening(const LeaveOut &out, std::size_t at)
{
    std::size_t place = at;
    for (const Shortened &segment : out.segments) {
        if (segment.at < at)
            place -= segment.Saving();
    }
    return place;
}

} // namespace

std::vector<ByteRange> BytesLeftOutForDateRead(const unsigned char *bytes, std::size_t size)
{
    std::vector<ByteRange> ranges;
    for (const Shortened &segment : FindWhatToLeaveOut(bytes, size, {}).segments)
        ranges.push_back({segment.at + segment.NewLength(), segment.Saving()});
    return ranges;
}

DateReadCopy CopyForDateRead(const unsigned char *bytes, std::size_t size,
                             std::vector<unsigned char> &copy, DateReadParts parts)
{
    const LeaveOut out = FindWhatToLeaveOut(bytes, size, parts);
    if (!out.Made().Changed())
        return out.Made();
    copy.resize(size - out.Saving());
    unsigned char *to = copy.data();
    std::size_t from = 0;
    for (const Shortened &segment : out.segments) {
        const std::size_t kept = segment.at + segment.NewLength() - from;
        std::memcpy(to, bytes + from, kept);
        FinishShortened(segment, to + (segment.at - from));
        to += kept;
        from = segment.at + segment.length;
    }
    std::memcpy(to, bytes + from, size - from);
    ChangeTiff(out, copy.data(), [&](std::size_t at) { return PlaceAfterShortening(out, at); });
    return out.Made();
}

TrimmedForDateRead TrimForDateRead(unsigned char *bytes, std::size_t size, DateReadParts parts)
{
    const LeaveOut out = FindWhatToLeaveOut(bytes, size, parts);
    TrimmedForDateRead trimmed{out.Made(), 0, size};
    ChangeTiff(out, bytes, [](std::size_t at) { return at; });
    if (out.segments.empty())
        return trimmed;
    const std::size_t saving = out.Saving();
    trimmed.size = size - saving;
    // The bytes are closed up towards the side that moves fewer of them: towards the start, all
    // the kept bytes from the first shortened segment on move; towards the end, all those up to
    // the end of the last one.
    const Shortened &first = out.segments.front(), &last = out.segments.back();
    const std::size_t movedForward = size - first.at - first.length;
    const std::size_t movedBackward = last.at + last.NewLength();
    if (movedForward <= movedBackward) {
        unsigned char *to = bytes + first.at;
        for (std::size_t i = 0; i < out.segments.size(); ++i) {
            const Shortened &segment = out.segments[i];
            std::memmove(to, bytes + segment.at, segment.NewLength());
            FinishShortened(segment, to);
            to += segment.NewLength();
            const std::size_t from = segment.at + segment.length;
            const std::size_t until = i + 1 < out.segments.size() ? out.segments[i + 1].at : size;
            std::memmove(to, bytes + from, until - from);
            to += until - from;
        }
    } else {
        unsigned char *end = bytes + size;
        for (std::size_t i = out.segments.size(); i-- > 0;) {
            const Shortened &segment = out.segments[i];
            const std::size_t from = segment.at + segment.length;
            const std::size_t until = i + 1 < out.segments.size() ? out.segments[i + 1].at : size;
            end -= until - from;
            std::memmove(end, bytes + from, until - from);
            end -= segment.NewLength();
            std::memmove(end, bytes + segment.at, segment.NewLength());
            FinishShortened(segment, end);
        }
        end -= first.at;
        std::memmove(end, bytes, first.at);
        trimmed.start = saving;
    }
    return trimmed;
}

} // namespace kronvik
