// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

// Raw JPEG segments and EXIF structures laid out byte by byte, for tests where the offsets,
// lengths and counts matter and a library would refuse to write what is needed.

#include <cstdint>
#include <string>
#include <vector>

namespace kronvik::test {

// TIFF field types.
enum TiffType : std::uint16_t {
    kTiffByte = 1,
    kTiffAscii = 2,
    kTiffShort = 3,
    kTiffLong = 4,
    kTiffRational = 5,
    kTiffUndefined = 7,
};

// Tags that the date search and its surroundings use.
enum TiffTag : std::uint16_t {
    kTagMake = 0x010f,
    kTagDateTime = 0x0132,
    kTagExifIfd = 0x8769,
    kTagDateTimeOriginal = 0x9003,
    kTagDateTimeDigitized = 0x9004,
    kTagMakerNote = 0x927c,
};

// One directory entry. Its value bytes sit in the entry when there are at most four of them,
// else after the directory, and the entry holds their offset.
struct TiffEntry
{
    std::uint16_t tag = 0;
    std::uint16_t type = kTiffAscii;
    std::uint32_t count = 0;
    std::string value;
    // When 0 or more: the value is the offset of that directory (of the list given to the
    // builder) as a LONG, for the Exif IFD pointer and for loops.
    int pointsToIfd = -1;
    // When set, the entry's offset field holds this number and `value` is not placed anywhere:
    // for values that claim to lie past the end.
    bool rawOffset = false;
    std::uint32_t offset = 0;
};

struct TiffIfd
{
    std::vector<TiffEntry> entries;
    // The directory after this one (IFD0 -> IFD1), by its index in the list; -1 for none.
    int next = -1;
    // When not negative, the entry count written in place of the true one.
    long claimedEntries = -1;
};

// An ASCII entry holding `text` and its terminating NUL.
TiffEntry AsciiEntry(std::uint16_t tag, const std::string &text);

// A TIFF structure, big-endian unless asked: the header, then each directory followed by its long
// values, in the order given; the header points at the first. Values are written as given.
std::string TiffBytes(const std::vector<TiffIfd> &ifds, bool littleEndian = false);

// A maker note as Canon writes it (an UNDEFINED entry): a bare directory of `count` SHORT entries
// in the picture's byte order, each of which Exiv2 decodes into an entry of its own when IFD0's
// Make is "Canon".
TiffEntry CanonMakerNote(bool littleEndian, int count = 40);

// A segment: FF, the marker, the big-endian length (the payload's plus 2), the payload.
std::string Segment(unsigned char marker, const std::string &payload);
// A segment whose length field says `claimedLength` whatever the payload's size.
std::string SegmentClaiming(unsigned char marker, std::uint16_t claimedLength,
                            const std::string &payload);

// The payload of an EXIF APP1 segment: "Exif", two NULs, the TIFF structure.
std::string ExifPayload(const std::string &tiff);

// An XMP APP1 segment: the identifier and a small packet with a creation date and a format.
std::string XmpSegment();

// A JPEG picture: the start bytes, `segments`, then the small grey picture's own segments, scan
// and end.
std::string JpegWithSegments(const std::string &segments);

// A JPEG picture whose EXIF data holds these two directories: IFD0 with `ifd0` and an Exif IFD
// with `exif`, linked by the Exif IFD pointer.
std::string JpegWithExif(const std::vector<TiffEntry> &ifd0, const std::vector<TiffEntry> &exif);

} // namespace kronvik::test
