// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
// The date read's copy of the leading segments against the library's parse of the bytes as they
// are: the same result for every picture, except where the XMP packet, the maker note, the
// thumbnail or interoperability IFD made the library fail.
#include "date_read_copy.h"
#include "exif_date_reader.h"
#include "jpeg_head.h"
#include "jpeg_segments.h"
#include "memory_source.h"
#include "picture_byte_source.h"
#include "picture_file.h"

#include <exiv2/exiv2.hpp>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

using namespace kronvik;
using namespace kronvik::test;
namespace fs = std::filesystem;
using Outcome = ExifDateResult::Outcome;

namespace {

const unsigned char *Bytes(const std::string &bytes)
{
    return reinterpret_cast<const unsigned char *>(bytes.data());
}

std::string Describe(const ExifDateResult &result)
{
    static const char *const names[] = {"unreadable", "no EXIF", "searched"};
    return std::string(names[static_cast<int>(result.outcome)]) + " [" + result.dateText + "] ("
           + result.reason + ")";
}

// The date read of a picture whose skipped segments are left unread where they may be.
ExifDateResult ReadLeavingUnread(ByteSource &source)
{
    JpegHead head(source);
    if (!head.StartsAsJpeg())
        return {};
    head.KeepLeadingSegments(true);
    return ParseExifDateInPlace(head);
}

// The leading segments of a corpus file, as the date read takes them.
std::string LeadingSegments(const fs::path &path)
{
    PictureFile file;
    if (file.Open(path.string()) != 0)
        return {};
    OpenPicture source(file);
    JpegHead head(source);
    if (!head.StartsAsJpeg())
        return {};
    head.KeepLeadingSegments();
    return std::string(reinterpret_cast<const char *>(head.Data()), head.Size());
}

const std::string kOriginalDate = "2005:07:14 09:03:27";
const std::string kDigitizedDate = "2005:07:14 09:03:28";
const std::string kImageDate = "2006:01:01 00:00:00";

TiffEntry ExifPointer(int ifd = 1)
{
    TiffEntry entry;
    entry.tag = kTagExifIfd;
    entry.pointsToIfd = ifd;
    return entry;
}

std::vector<TiffEntry> Ifd0(const std::string &make = "Canon")
{
    return {AsciiEntry(kTagMake, make), AsciiEntry(kTagDateTime, kImageDate), ExifPointer()};
}

std::vector<TiffEntry> ExifIfd(bool little, bool makerNoteFirst = false)
{
    std::vector<TiffEntry> entries = {AsciiEntry(kTagDateTimeOriginal, kOriginalDate),
                                      AsciiEntry(kTagDateTimeDigitized, kDigitizedDate)};
    entries.insert(makerNoteFirst ? entries.begin() : entries.end(), CanonMakerNote(little));
    return entries;
}

std::string Tiff(const std::vector<TiffEntry> &ifd0, const std::vector<TiffEntry> &exif,
                 bool little = false)
{
    return TiffBytes({TiffIfd{ifd0}, TiffIfd{exif}}, little);
}

std::string ExifSegment(const std::string &tiff)
{
    return Segment(0xe1, ExifPayload(tiff));
}

// The camera picture most rows vary: IFD0 with Make and DateTime, an Exif IFD with both dates and
// a Canon maker note.
std::string CameraTiff(bool little = false)
{
    return Tiff(Ifd0(), ExifIfd(little), little);
}

// The keys of the entries the library decodes out of `bytes`, in its order.
std::vector<std::string> DecodedKeys(const unsigned char *bytes, std::size_t size)
{
    Exiv2::BasicIo::AutoPtr io(new Exiv2::MemIo(bytes, static_cast<long>(size)));
    Exiv2::JpegImage image(io, false);
    image.readMetadata();
    std::vector<std::string> keys;
    for (const auto &datum : image.exifData())
        keys.push_back(datum.key());
    return keys;
}

// The entries the library decodes out of the maker note of `bytes`.
std::size_t MakerNoteEntries(const std::string &bytes)
{
    const std::vector<std::string> keys = DecodedKeys(Bytes(bytes), bytes.size());
    return static_cast<std::size_t>(
            std::count_if(keys.begin(), keys.end(),
                          [](const std::string &key) { return key.rfind("Exif.Canon.", 0) == 0; }));
}

struct CopyRow
{
    const char *name;
    std::string jpeg;
    bool xmpLeftOut;
    bool makerNoteHidden;
    Outcome outcome;
    std::string dateText;
    std::size_t ifdsLeftOut = 0;
};

TEST(TheDateReadCopy, leavesOutOnlyWhatItFindsWithoutDoubtAndKeepsTheResult)
{
    const std::string camera = CameraTiff();
    // A date whose value is read from where the Exif IFD's first entry, the maker note, has its
    // tag: IFD0 (two entries: 30 bytes from offset 8) is followed by the Exif IFD at 38.
    TiffEntry dateOverTag = AsciiEntry(kTagDateTime, kImageDate);
    dateOverTag.rawOffset = true;
    dateOverTag.offset = 40;
    TiffIfd twoNotes{ExifIfd(false)};
    twoNotes.entries.push_back(CanonMakerNote(false, 3));
    TiffEntry pointerOutOfRange = ExifPointer();
    pointerOutOfRange.pointsToIfd = -1;
    pointerOutOfRange.type = kTiffLong;
    pointerOutOfRange.count = 1;
    pointerOutOfRange.rawOffset = true;
    pointerOutOfRange.offset = 0x7fff0000;
    TiffIfd tooMany{ExifIfd(false)};
    tooMany.claimedEntries = 257;
    const std::string cut = ExifSegment(camera);
    // IFD0 -> the thumbnail's IFD (2, with a date of its own), the Exif IFD -> the
    // interoperability IFD (3).
    TiffIfd withThumbnail{Ifd0()};
    withThumbnail.next = 2;
    TiffEntry interop = ExifPointer(3);
    interop.tag = 0xa005;
    std::vector<TiffEntry> exifWithInterop = ExifIfd(false);
    exifWithInterop.insert(exifWithInterop.begin() + 2, interop);
    const std::string thumbnailAndInterop =
            TiffBytes({withThumbnail, TiffIfd{exifWithInterop},
                       TiffIfd{{AsciiEntry(kTagDateTime, "1999:01:01 00:00:00")}},
                       TiffIfd{{AsciiEntry(0x0001, "R98")}}});
    // IFD0's DateTime value read from where IFD0 gives the thumbnail IFD's offset (after its
    // two entries, at 34).
    TiffEntry dateOverNext = AsciiEntry(kTagDateTime, kImageDate);
    dateOverNext.rawOffset = true;
    dateOverNext.offset = 34;
    TiffIfd nextUnderDate{{dateOverNext, ExifPointer()}};
    nextUnderDate.next = 2;

    const CopyRow rows[] = {
            {"maker note after the dates", JpegWithSegments(ExifSegment(camera)), false, true,
             Outcome::Searched, kDigitizedDate},
            {"maker note before the dates",
             JpegWithSegments(ExifSegment(Tiff(Ifd0(), ExifIfd(false, true)))), false, true,
             Outcome::Searched, kDigitizedDate},
            {"little-endian TIFF", JpegWithSegments(ExifSegment(CameraTiff(true))), false, true,
             Outcome::Searched, kDigitizedDate},
            {"maker note of an unknown make",
             JpegWithSegments(ExifSegment(Tiff(Ifd0("Nobody"), ExifIfd(false)))), false, true,
             Outcome::Searched, kDigitizedDate},
            {"XMP before the Exif segment", JpegWithSegments(XmpSegment() + ExifSegment(camera)),
             true, true, Outcome::Searched, kDigitizedDate},
            {"XMP after the Exif segment", JpegWithSegments(ExifSegment(camera) + XmpSegment()),
             true, true, Outcome::Searched, kDigitizedDate},
            {"XMP alone", JpegWithSegments(XmpSegment()), true, false, Outcome::NoExif, ""},
            {"XMP identifier without a packet",
             JpegWithSegments(Segment(0xe1, std::string("http://ns.adobe.com/xap/1.0/", 29))
                              + ExifSegment(camera)),
             false, true, Outcome::Searched, kDigitizedDate},
            {"Exif IFD pointer out of range",
             JpegWithSegments(ExifSegment(
                     TiffBytes({TiffIfd{{AsciiEntry(kTagDateTime, kImageDate), pointerOutOfRange}},
                                TiffIfd{ExifIfd(false)}}))),
             false, false, Outcome::Searched, kImageDate},
            {"Exif IFD pointer back at IFD0",
             JpegWithSegments(ExifSegment(TiffBytes(
                     {TiffIfd{{AsciiEntry(kTagMake, "Canon"), AsciiEntry(kTagDateTime, kImageDate),
                               CanonMakerNote(false, 2), ExifPointer(0)}}}))),
             false, false, Outcome::Searched, kImageDate},
            {"two Exif IFD pointers",
             JpegWithSegments(ExifSegment(TiffBytes(
                     {TiffIfd{{AsciiEntry(kTagMake, "Canon"), ExifPointer(1), ExifPointer(1)}},
                      TiffIfd{ExifIfd(false)}}))),
             false, false, Outcome::Searched, kDigitizedDate},
            {"two maker notes",
             JpegWithSegments(ExifSegment(TiffBytes({TiffIfd{Ifd0()}, twoNotes}))), false, false,
             Outcome::Searched, kDigitizedDate},
            {"Exif IFD claiming more entries than are read",
             JpegWithSegments(ExifSegment(TiffBytes({TiffIfd{Ifd0()}, tooMany}))), false, false,
             Outcome::Searched, kImageDate},
            {"a date read from the maker note's tag",
             JpegWithSegments(ExifSegment(
                     TiffBytes({TiffIfd{{dateOverTag, ExifPointer()}},
                                TiffIfd{{CanonMakerNote(false, 2),
                                         AsciiEntry(kTagDateTimeOriginal, kOriginalDate)}}}))),
             false, false, Outcome::Searched, ""},
            {"thumbnail and interoperability IFDs",
             JpegWithSegments(ExifSegment(thumbnailAndInterop)), false, true, Outcome::Searched,
             kDigitizedDate, 2},
            {"a date read from where the thumbnail IFD's offset lies",
             JpegWithSegments(ExifSegment(
                     TiffBytes({nextUnderDate, TiffIfd{ExifIfd(false)},
                                TiffIfd{{AsciiEntry(kTagDateTime, "1999:01:01 00:00:00")}}}))),
             false, true, Outcome::Searched, "", 0},
            {"Exif segment cut short",
             JpegWithSegments(XmpSegment() + cut.substr(0, cut.size() / 2)), true, false,
             Outcome::Unreadable, ""},
            {"XMP segment cut short",
             std::string("\xff\xd8", 2) + ExifSegment(camera) + XmpSegment().substr(0, 200), false,
             true, Outcome::Unreadable, ""},
    };
    for (const CopyRow &row : rows) {
        SCOPED_TRACE(row.name);
        std::vector<unsigned char> copy;
        const DateReadCopy made = CopyForDateRead(Bytes(row.jpeg), row.jpeg.size(), copy);
        EXPECT_EQ(made.xmpPacketLeftOut, row.xmpLeftOut);
        EXPECT_EQ(made.makerNoteHidden, row.makerNoteHidden);
        EXPECT_EQ(made.ifdsLeftOut, row.ifdsLeftOut);

        // In place, the same bytes, whichever side of the packet is moved.
        std::string trimmedBytes = row.jpeg;
        const TrimmedForDateRead trimmed = TrimForDateRead(
                reinterpret_cast<unsigned char *>(trimmedBytes.data()), trimmedBytes.size());
        EXPECT_EQ(trimmed.made.xmpPacketLeftOut, made.xmpPacketLeftOut);
        EXPECT_EQ(trimmed.made.makerNoteHidden, made.makerNoteHidden);
        EXPECT_EQ(trimmedBytes.substr(trimmed.start, trimmed.size),
                  made.Changed() ? std::string(copy.begin(), copy.end()) : row.jpeg);

        const ExifDateResult whole = ParseExifDateWhole(Bytes(row.jpeg), row.jpeg.size());
        const ExifDateResult lean = ParseExifDate(Bytes(row.jpeg), row.jpeg.size());
        EXPECT_EQ(whole.outcome, row.outcome) << Describe(whole);
        if (row.outcome == Outcome::Searched && !row.dateText.empty()) {
            EXPECT_EQ(whole.dateText, row.dateText);
        }
        EXPECT_EQ(Describe(lean), Describe(whole));

        if (made.makerNoteHidden && whole.outcome == Outcome::Searched
            && row.jpeg.find("Canon") != std::string::npos) {
            // The hidden maker note is one plain entry: none of its own is decoded.
            const std::string copied(copy.begin(), copy.end());
            EXPECT_GT(MakerNoteEntries(row.jpeg), 0u);
            EXPECT_EQ(MakerNoteEntries(copied), 0u);
        }
        if (made.xmpPacketLeftOut) {
            EXPECT_LT(copy.size(), row.jpeg.size());
        }
    }
}

TEST(TheDateReadCopy, handsTheLibraryTheDatesAloneWhereNothingElseCanChangeThem)
{
    const TiffEntry model = AsciiEntry(0x0110, "Model"), software = AsciiEntry(0x0131, "Soft");
    const TiffEntry exposure = AsciiEntry(0x829a, "1/60"), user = AsciiEntry(0x9286, "comment");
    TiffEntry notText = AsciiEntry(kTagDateTimeOriginal, kOriginalDate);
    notText.type = kTiffUndefined;
    TiffEntry pastTheEnd = AsciiEntry(kTagDateTimeDigitized, kDigitizedDate);
    pastTheEnd.rawOffset = true;
    pastTheEnd.offset = 0x10000;
    // Read from where the Exif IFD (after IFD0's two entries, at 38) has its first entry.
    TiffEntry overExif = AsciiEntry(kTagDateTime, kImageDate);
    overExif.rawOffset = true;
    overExif.offset = 40;
    TiffIfd withThumbnail{Ifd0()};
    withThumbnail.next = 2;
    TiffIfd exifWithNext{ExifIfd(false)};
    exifWithNext.next = 2;
    // The library reads the Exif IFD as the directory of the first pointer to it, and then has
    // only IFD0's date; a pointer to it after the Exif pointer changes nothing.
    const auto pointerTo = [](std::uint16_t tag) {
        TiffEntry entry = ExifPointer();
        entry.tag = tag;
        return entry;
    };
    const TiffIfd thumbnail{{AsciiEntry(kTagDateTime, "1999:01:01 00:00:00")}};
    // The Exif IFD last, with short dates in its entries and no room for its next offset.
    std::string datesAtTheEnd =
            TiffBytes({TiffIfd{Ifd0()}, TiffIfd{{AsciiEntry(kTagDateTimeOriginal, "abc"),
                                                 AsciiEntry(kTagDateTimeDigitized, "def")}}});
    datesAtTheEnd.resize(datesAtTheEnd.size() - 4);
    const struct
    {
        const char *name;
        std::string tiff;
        std::size_t entriesLeftOut;
    } rows[] = {
            {"a camera picture", CameraTiff(), 2},
            {"little-endian", CameraTiff(true), 2},
            {"entries before, between and after the dates",
             Tiff({AsciiEntry(kTagMake, "Canon"), AsciiEntry(kTagDateTime, kImageDate), model,
                   ExifPointer(), software},
                  {exposure, AsciiEntry(kTagDateTimeOriginal, kOriginalDate), user,
                   AsciiEntry(kTagDateTimeDigitized, kDigitizedDate), CanonMakerNote(false)}),
             6},
            {"IFD0's dates after the pointer, twice",
             Tiff({ExifPointer(), AsciiEntry(kTagDateTime, kImageDate), model,
                   AsciiEntry(kTagDateTime, "2007:02:02 00:00:00")},
                  {exposure, AsciiEntry(kTagDateTimeOriginal, kOriginalDate)}),
             2},
            {"no date at all", Tiff({AsciiEntry(kTagMake, "Canon"), ExifPointer()}, {exposure}), 2},
            {"the thumbnail IFD after IFD0",
             TiffBytes({withThumbnail, TiffIfd{ExifIfd(false)}, thumbnail}), 2},
            {"a date that is not text",
             Tiff(Ifd0(), {notText, AsciiEntry(kTagDateTimeDigitized, kDigitizedDate), exposure}),
             0},
            {"a date past the end of the structure",
             Tiff(Ifd0(), {AsciiEntry(kTagDateTimeOriginal, kOriginalDate), pastTheEnd, exposure}),
             0},
            {"a date read from the Exif IFD's own bytes",
             Tiff({overExif, ExifPointer()},
                  {exposure, AsciiEntry(kTagDateTimeOriginal, kOriginalDate)}),
             0},
            {"an Exif IFD of dates alone, ending the structure", datesAtTheEnd, 1},
            {"an Exif IFD with a directory after it",
             TiffBytes({TiffIfd{Ifd0()}, exifWithNext, thumbnail}), 0},
            {"a GPS pointer to the Exif IFD ahead of the Exif pointer",
             Tiff({AsciiEntry(kTagDateTime, kImageDate), pointerTo(0x8825), ExifPointer()},
                  ExifIfd(false)),
             0},
            {"a SubIFDs pointer to the Exif IFD ahead of the Exif pointer",
             Tiff({AsciiEntry(kTagDateTime, kImageDate), pointerTo(0x014a), ExifPointer()},
                  ExifIfd(false)),
             0},
            {"a GPS pointer to the Exif IFD after the Exif pointer",
             Tiff({AsciiEntry(kTagDateTime, kImageDate), ExifPointer(), pointerTo(0x8825)},
                  ExifIfd(false)),
             2},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        const std::string jpeg = JpegWithSegments(ExifSegment(row.tiff));
        std::vector<unsigned char> copy;
        const DateReadCopy made = CopyForDateRead(Bytes(jpeg), jpeg.size(), copy);
        EXPECT_EQ(made.entriesLeftOut, row.entriesLeftOut);
        const ExifDateResult whole = ParseExifDateWhole(Bytes(jpeg), jpeg.size());
        EXPECT_EQ(whole.outcome, Outcome::Searched) << Describe(whole);
        EXPECT_EQ(Describe(ParseExifDate(Bytes(jpeg), jpeg.size())), Describe(whole));
        if (made.Changed()) {
            // Only the TIFF structure's bytes change.
            const std::size_t tiffAt = jpeg.find(row.tiff), tiffEnd = tiffAt + row.tiff.size();
            const std::string copied(copy.begin(), copy.end());
            EXPECT_EQ(copied.substr(0, tiffAt), jpeg.substr(0, tiffAt));
            EXPECT_EQ(copied.substr(tiffEnd), jpeg.substr(tiffEnd));
        }
        if (made.entriesLeftOut != 0) {
            // Of the library's entries, those with a date and the Exif IFD pointer, in its order.
            std::vector<std::string> kept = DecodedKeys(Bytes(jpeg), jpeg.size());
            std::erase_if(kept, [](const std::string &key) {
                return key != "Exif.Image.DateTime" && key != "Exif.Image.ExifTag"
                       && key != "Exif.Photo.DateTimeOriginal"
                       && key != "Exif.Photo.DateTimeDigitized";
            });
            EXPECT_EQ(DecodedKeys(copy.data(), copy.size()), kept);
        }
        std::string trimmed = jpeg;
        const TrimmedForDateRead inPlace =
                TrimForDateRead(reinterpret_cast<unsigned char *>(trimmed.data()), trimmed.size());
        EXPECT_EQ(inPlace.made.entriesLeftOut, made.entriesLeftOut);
        EXPECT_EQ(trimmed.substr(inPlace.start, inPlace.size),
                  made.Changed() ? std::string(copy.begin(), copy.end()) : jpeg);
    }
}

// An ICC profile chunk: the identifier, the chunk's number and count, its bytes.
std::string IccChunk(int number, int count, const std::string &bytes)
{
    return Segment(0xe2, std::string("ICC_PROFILE\0", 12) + char(number) + char(count) + bytes);
}

// A profile of `size` bytes cut into `count` chunks, in the order `order` gives (numbers from 1),
// each chunk of `padding` bytes more than it holds (the library counts them all).
std::string IccChunks(std::size_t size, const std::vector<int> &order, std::size_t padding = 0)
{
    const int count = static_cast<int>(order.size());
    std::string profile(size, 'p');
    for (int i = 0; i < 4; ++i)
        profile[i] = static_cast<char>(size >> (24 - 8 * i) & 0xff);
    const std::size_t chunk = (size + count - 1) / count;
    std::string segments;
    for (int number : order)
        segments += IccChunk(number, count,
                             profile.substr(chunk * (number - 1), chunk) + std::string(padding, 0));
    return segments;
}

std::string ExtendedXmpSegment(std::size_t size)
{
    return Segment(0xe1, std::string("http://ns.adobe.com/xmp/extension/\0", 35)
                                 + std::string(32, 'A') + std::string(8, '\0')
                                 + std::string(size, 'x'));
}

struct ShortenRow
{
    const char *name;
    std::string jpeg;
    std::size_t shortened;
    Outcome outcome;
};

TEST(TheDateReadCopy, shortensSegmentsTheLibrarySkipsWithItsOwnChecksAndOutcome)
{
    const std::string exif = ExifSegment(CameraTiff());
    const std::string start("\xff\xd8", 2);
    const std::string nulComment = Segment(0xfe, std::string(40, '\0'));
    const ShortenRow rows[] = {
            {"ICC profile in 3 chunks, extended XMP, APP0 and APP13 text",
             JpegWithSegments(exif + IccChunks(60000, {1, 2, 3}) + ExtendedXmpSegment(40000)
                              + Segment(0xe0, std::string(100, 'j'))
                              + Segment(0xed, std::string(100, 'n'))),
             6, Outcome::Searched},
            {"extended XMP before the Exif segment",
             JpegWithSegments(ExtendedXmpSegment(5000) + XmpSegment() + exif), 1,
             Outcome::Searched},
            {"ICC chunks out of order", JpegWithSegments(IccChunks(3000, {1, 3, 2}) + exif), 0,
             Outcome::Unreadable},
            {"ICC profile whose first chunk holds its size alone",
             JpegWithSegments(IccChunk(1, 2, std::string("\0\0\x0b\xbc", 4))
                              + IccChunk(2, 2, std::string(3000, 'p')) + exif),
             1, Outcome::Searched},
            {"ICC chunks padded", JpegWithSegments(IccChunks(60000, {1, 2, 3}, 7) + exif), 0,
             Outcome::Unreadable},
            {"ICC profile in 1 chunk, padded", JpegWithSegments(IccChunks(3000, {1}, 100) + exif),
             1, Outcome::Searched},
            {"ICC profile in 1 chunk, claiming more than it holds",
             JpegWithSegments(IccChunk(1, 1, std::string("\0\0\x10\0", 4) + std::string(100, 'p'))
                              + exif),
             0, Outcome::Unreadable},
            {"ICC chunk too short to count, before the Exif segment",
             JpegWithSegments(
                     IccChunk(1, 2, std::string("\0\0\x0b\xb8", 4) + std::string(1496, 'p'))
                     + IccChunk(2, 2, "abc") + exif),
             1, Outcome::NoExif},
            {"a segment running past the end",
             start + Segment(0xe3, std::string(100, 'a')) + exif
                     + SegmentClaiming(0xe5, 5000, std::string(1000, 'a')),
             1, Outcome::Unreadable},
            {"comments before the Exif segment",
             JpegWithSegments(nulComment
                              + Segment(0xfe, std::string(40, '\0') + "x" + std::string(40, 'y'))
                              + Segment(0xfe, std::string(40, 'z')) + exif),
             3, Outcome::Searched},
            {"six empty comments end the walk before the Exif segment",
             JpegWithSegments(nulComment + nulComment + nulComment + nulComment + nulComment
                              + nulComment + exif),
             6, Outcome::NoExif},
    };
    for (const ShortenRow &row : rows) {
        SCOPED_TRACE(row.name);
        std::vector<unsigned char> copy;
        const DateReadCopy made =
                CopyForDateRead(Bytes(row.jpeg), row.jpeg.size(), copy, {false, false, true});
        EXPECT_EQ(made.segmentsShortened, row.shortened);
        const ExifDateResult whole = ParseExifDateWhole(Bytes(row.jpeg), row.jpeg.size());
        EXPECT_EQ(whole.outcome, row.outcome) << Describe(whole);
        if (made.Changed()) {
            EXPECT_LT(copy.size(), row.jpeg.size());
            EXPECT_EQ(Describe(ParseExifDateWhole(copy.data(), copy.size())), Describe(whole));
        }
        std::string trimmedBytes = row.jpeg;
        const TrimmedForDateRead trimmed = TrimForDateRead(
                reinterpret_cast<unsigned char *>(trimmedBytes.data()), trimmedBytes.size());
        std::vector<unsigned char> all;
        const DateReadCopy allMade = CopyForDateRead(Bytes(row.jpeg), row.jpeg.size(), all);
        EXPECT_EQ(trimmedBytes.substr(trimmed.start, trimmed.size),
                  allMade.Changed() ? std::string(all.begin(), all.end()) : row.jpeg);
        EXPECT_EQ(Describe(ParseExifDate(Bytes(row.jpeg), row.jpeg.size())), Describe(whole));
        MemorySource file(row.jpeg);
        EXPECT_EQ(Describe(ReadLeavingUnread(file)), Describe(whole));
    }
}

TEST(TheDateReadCopy, findsTheMakerNoteTagOnlyInAWholeTiffStructure)
{
    const std::string tiff = CameraTiff();
    const std::size_t tag = FindMakerNoteTag(Bytes(tiff), tiff.size());
    ASSERT_LT(tag, tiff.size());
    EXPECT_EQ(tiff.substr(tag, 2), std::string("\x92\x7c"));
    // The maker note is the Exif IFD's last entry: cut anywhere before that entry's end, the
    // structure is in doubt, and no cut is read past its end.
    for (std::size_t size = 0; size < tiff.size(); ++size) {
        const std::string cutTiff = tiff.substr(0, size);
        EXPECT_EQ(FindMakerNoteTag(Bytes(cutTiff), cutTiff.size()), size >= tag + 12 ? tag : size)
                << size;
    }
}

TEST(TheDateReadCopy, givesTheWholeParsesResultForEveryCorpusFile)
{
    const fs::path corpus = KRONVIK_CORPUS_DIR;
    if (!fs::is_directory(corpus / "exiv2-jpeg"))
        GTEST_SKIP() << "no test corpus at " << corpus;
    std::size_t files = 0, xmpLeftOut = 0, makerNotesHidden = 0, ifdsLeftOut = 0, nowDated = 0;
    std::size_t compacted = 0;
    std::size_t segmentsShortened = 0, bytesLeftOut = 0;
    for (const auto &folder : fs::directory_iterator(corpus)) {
        if (!folder.is_directory())
            continue;
        for (const auto &entry : fs::directory_iterator(folder.path())) {
            const std::string bytes = LeadingSegments(entry.path());
            if (bytes.empty())
                continue;
            ++files;
            std::vector<unsigned char> copy;
            const DateReadCopy made = CopyForDateRead(Bytes(bytes), bytes.size(), copy);
            xmpLeftOut += made.xmpPacketLeftOut;
            makerNotesHidden += made.makerNoteHidden;
            ifdsLeftOut += made.ifdsLeftOut;
            compacted += made.entriesLeftOut != 0;
            const ExifDateResult whole = ParseExifDateWhole(Bytes(bytes), bytes.size());
            const ExifDateResult lean = ParseExifDate(Bytes(bytes), bytes.size());
            // Shortened segments alone change nothing, whatever the library makes of the file.
            const DateReadCopy shortened =
                    CopyForDateRead(Bytes(bytes), bytes.size(), copy, {false, false, true});
            if (shortened.Changed()) {
                segmentsShortened += shortened.segmentsShortened;
                bytesLeftOut += bytes.size() - copy.size();
                EXPECT_EQ(Describe(ParseExifDateWhole(copy.data(), copy.size())), Describe(whole))
                        << entry.path();
            }
            PictureFile file;
            ASSERT_EQ(file.Open(entry.path().string()), 0);
            OpenPicture source(file);
            EXPECT_EQ(Describe(ReadLeavingUnread(source)), Describe(lean)) << entry.path();
            std::string trimmed = bytes;
            EXPECT_EQ(Describe(ParseExifDateInPlace(
                              reinterpret_cast<unsigned char *>(trimmed.data()), trimmed.size())),
                      Describe(lean))
                    << entry.path();
            const bool same = whole.outcome == lean.outcome && whole.dateText == lean.dateText
                              && whole.reason == lean.reason;
            if (same)
                continue;
            // Only a failure of the library's may turn into a date search.
            EXPECT_EQ(whole.outcome, Outcome::Unreadable) << entry.path();
            EXPECT_EQ(lean.outcome, Outcome::Searched) << entry.path();
            ++nowDated;
            std::cout << "now searched: " << entry.path().filename() << ": " << Describe(whole)
                      << " -> " << Describe(lean) << '\n';
        }
    }
    std::cout << files << " files, " << xmpLeftOut << " XMP packets left out, " << makerNotesHidden
              << " maker notes hidden, " << ifdsLeftOut << " IFDs left out, " << compacted
              << " with date entries alone, " << segmentsShortened << " segments shortened ("
              << bytesLeftOut << " bytes), " << nowDated << " now searched\n";
}

} // namespace
