// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "jpeg_segments.h"

#include "jpeg_fixture.h"

namespace kronvik::test {

namespace {

void PutNumber(std::string &bytes, std::size_t at, std::uint32_t value, int width, bool little)
{
    for (int i = 0; i < width; ++i)
        bytes[at + i] = static_cast<char>(value >> (8 * (little ? i : width - 1 - i)));
}

std::string BigEndian(std::uint32_t value, int width)
{
    std::string bytes(static_cast<std::size_t>(width), '\0');
    PutNumber(bytes, 0, value, width, false);
    return bytes;
}

bool SitsInEntry(const TiffEntry &entry)
{
    return entry.pointsToIfd >= 0 || entry.rawOffset || entry.value.size() <= 4;
}

std::size_t DirectoryBytes(const TiffIfd &ifd)
{
    return 2 + 12 * ifd.entries.size() + 4;
}

std::size_t LongValueBytes(const TiffIfd &ifd)
{
    std::size_t bytes = 0;
    for (const TiffEntry &entry : ifd.entries) {
        if (!SitsInEntry(entry))
            bytes += entry.value.size() + entry.value.size() % 2; // word aligned
    }
    return bytes;
}

} // namespace

TiffEntry AsciiEntry(std::uint16_t tag, const std::string &text)
{
    TiffEntry entry;
    entry.tag = tag;
    entry.type = kTiffAscii;
    entry.count = static_cast<std::uint32_t>(text.size() + 1);
    entry.value = text + std::string(1, '\0');
    return entry;
}

std::string TiffBytes(const std::vector<TiffIfd> &ifds, bool littleEndian)
{
    const auto Put = [littleEndian](std::string &bytes, std::size_t at, std::uint32_t value,
                                    int width) {
        PutNumber(bytes, at, value, width, littleEndian);
    };
    // Where each directory starts: right after the header, then after the one before and its
    // long values.
    std::vector<std::uint32_t> starts;
    std::size_t at = 8;
    for (const TiffIfd &ifd : ifds) {
        starts.push_back(static_cast<std::uint32_t>(at));
        at += DirectoryBytes(ifd) + LongValueBytes(ifd);
    }
    std::string bytes(8, '\0');
    bytes[0] = bytes[1] = littleEndian ? 'I' : 'M';
    Put(bytes, 2, 42, 2);
    Put(bytes, 4, ifds.empty() ? 0 : starts[0], 4);
    for (std::size_t i = 0; i < ifds.size(); ++i) {
        const TiffIfd &ifd = ifds[i];
        std::string directory(DirectoryBytes(ifd), '\0');
        std::string values;
        std::size_t valuesAt = starts[i] + directory.size();
        Put(directory, 0,
            ifd.claimedEntries >= 0 ? static_cast<std::uint32_t>(ifd.claimedEntries)
                                    : static_cast<std::uint32_t>(ifd.entries.size()),
            2);
        for (std::size_t e = 0; e < ifd.entries.size(); ++e) {
            const TiffEntry &entry = ifd.entries[e];
            const std::size_t field = 2 + 12 * e;
            Put(directory, field, entry.tag, 2);
            if (entry.pointsToIfd >= 0) {
                Put(directory, field + 2, kTiffLong, 2);
                Put(directory, field + 4, 1, 4);
                Put(directory, field + 8, starts.at(entry.pointsToIfd), 4);
                continue;
            }
            Put(directory, field + 2, entry.type, 2);
            Put(directory, field + 4, entry.count, 4);
            if (entry.rawOffset) {
                Put(directory, field + 8, entry.offset, 4);
            } else if (entry.value.size() <= 4) {
                directory.replace(field + 8, entry.value.size(), entry.value);
            } else {
                Put(directory, field + 8, static_cast<std::uint32_t>(valuesAt + values.size()), 4);
                values += entry.value;
                if (entry.value.size() % 2)
                    values += '\0';
            }
        }
        Put(directory, directory.size() - 4, ifd.next >= 0 ? starts.at(ifd.next) : 0, 4);
        bytes += directory + values;
    }
    return bytes;
}

TiffEntry CanonMakerNote(bool littleEndian, int count)
{
    std::string note(2 + 12 * std::size_t(count) + 4, '\0');
    PutNumber(note, 0, static_cast<std::uint32_t>(count), 2, littleEndian);
    for (int i = 0; i < count; ++i) {
        const std::size_t entry = 2 + 12 * std::size_t(i);
        PutNumber(note, entry, 0x0100 + static_cast<std::uint32_t>(i), 2, littleEndian);
        PutNumber(note, entry + 2, kTiffShort, 2, littleEndian);
        PutNumber(note, entry + 4, 1, 4, littleEndian);
        PutNumber(note, entry + 8, static_cast<std::uint32_t>(i), 2, littleEndian);
    }
    TiffEntry entry;
    entry.tag = kTagMakerNote;
    entry.type = kTiffUndefined;
    entry.count = static_cast<std::uint32_t>(note.size());
    entry.value = note;
    return entry;
}

std::string Segment(unsigned char marker, const std::string &payload)
{
    return SegmentClaiming(marker, static_cast<std::uint16_t>(payload.size() + 2), payload);
}

std::string SegmentClaiming(unsigned char marker, std::uint16_t claimedLength,
                            const std::string &payload)
{
    return std::string(1, '\xff') + static_cast<char>(marker) + BigEndian(claimedLength, 2)
           + payload;
}

std::string ExifPayload(const std::string &tiff)
{
    return std::string("Exif\0\0", 6) + tiff;
}

std::string XmpSegment()
{
    const std::string packet =
            "<x:xmpmeta xmlns:x='adobe:ns:meta/'><rdf:RDF "
            "xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'><rdf:Description "
            "rdf:about='' xmlns:dc='http://purl.org/dc/elements/1.1/' dc:format='image/jpeg' "
            "xmlns:xmp='http://ns.adobe.com/xap/1.0/' xmp:CreateDate='2001-02-03T04:05:06'/>"
            "</rdf:RDF></x:xmpmeta>";
    return Segment(0xe1, std::string("http://ns.adobe.com/xap/1.0/", 29) + packet);
}

std::string JpegWithSegments(const std::string &segments)
{
    const std::string picture = SmallJpeg();
    return picture.substr(0, 2) + segments + picture.substr(2);
}

std::string JpegWithExif(const std::vector<TiffEntry> &ifd0, const std::vector<TiffEntry> &exif)
{
    TiffIfd first{ifd0};
    TiffEntry pointer;
    pointer.tag = kTagExifIfd;
    pointer.pointsToIfd = 1;
    first.entries.push_back(pointer);
    return JpegWithSegments(Segment(0xe1, ExifPayload(TiffBytes({first, TiffIfd{exif}}))));
}

} // namespace kronvik::test
