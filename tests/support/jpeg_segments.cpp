// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "jpeg_segments.h"

#include "jpeg_fixture.h"

namespace kronvik::test {

namespace {

void PutBigEndian(std::string &bytes, std::size_t at, std::uint32_t value, int width)
{
    for (int i = 0; i < width; ++i)
        bytes[at + i] = static_cast<char>(value >> (8 * (width - 1 - i)));
}

std::string BigEndian(std::uint32_t value, int width)
{
    std::string bytes(static_cast<std::size_t>(width), '\0');
    PutBigEndian(bytes, 0, value, width);
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

std::string TiffBytes(const std::vector<TiffIfd> &ifds)
{
    // Where each directory starts: right after the header, then after the one before and its
    // long values.
    std::vector<std::uint32_t> starts;
    std::size_t at = 8;
    for (const TiffIfd &ifd : ifds) {
        starts.push_back(static_cast<std::uint32_t>(at));
        at += DirectoryBytes(ifd) + LongValueBytes(ifd);
    }
    std::string bytes = std::string("MM\0\x2a", 4) + BigEndian(ifds.empty() ? 0 : starts[0], 4);
    for (std::size_t i = 0; i < ifds.size(); ++i) {
        const TiffIfd &ifd = ifds[i];
        std::string directory(DirectoryBytes(ifd), '\0');
        std::string values;
        std::size_t valuesAt = starts[i] + directory.size();
        PutBigEndian(directory, 0,
                     ifd.claimedEntries >= 0 ? static_cast<std::uint32_t>(ifd.claimedEntries)
                                             : static_cast<std::uint32_t>(ifd.entries.size()),
                     2);
        for (std::size_t e = 0; e < ifd.entries.size(); ++e) {
            const TiffEntry &entry = ifd.entries[e];
            const std::size_t field = 2 + 12 * e;
            PutBigEndian(directory, field, entry.tag, 2);
            if (entry.pointsToIfd >= 0) {
                PutBigEndian(directory, field + 2, kTiffLong, 2);
                PutBigEndian(directory, field + 4, 1, 4);
                PutBigEndian(directory, field + 8, starts.at(entry.pointsToIfd), 4);
                continue;
            }
            PutBigEndian(directory, field + 2, entry.type, 2);
            PutBigEndian(directory, field + 4, entry.count, 4);
            if (entry.rawOffset) {
                PutBigEndian(directory, field + 8, entry.offset, 4);
            } else if (entry.value.size() <= 4) {
                directory.replace(field + 8, entry.value.size(), entry.value);
            } else {
                PutBigEndian(directory, field + 8,
                             static_cast<std::uint32_t>(valuesAt + values.size()), 4);
                values += entry.value;
                if (entry.value.size() % 2)
                    values += '\0';
            }
        }
        PutBigEndian(directory, directory.size() - 4, ifd.next >= 0 ? starts.at(ifd.next) : 0, 4);
        bytes += directory + values;
    }
    return bytes;
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
