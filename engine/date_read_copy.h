// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "jpeg_head.h"

namespace kronvik {

// The tag number the hidden maker note entry gets: no part of the library's EXIF parser treats it
// as anything but plain bytes, and it is none of the date tags.
constexpr std::uint16_t kHiddenMakerNoteTag = 0xfe7c;
// The same for the Exif IFD's pointer to the interoperability IFD.
constexpr std::uint16_t kHiddenInteropTag = 0xfe7d;

// What a copy of the leading segments leaves out for the date read.
struct DateReadCopy
{
    // The first XMP segment keeps its identifier and loses its packet: the packet holds no entry
    // that the date search reads, and decoding it is a large part of a picture's parse.
    bool xmpPacketLeftOut = false;
    // The maker note entry of the Exif IFD carries kHiddenMakerNoteTag (or is left out with the
    // other entries that hold no date): the library keeps its bytes as one plain entry instead of
    // decoding hundreds of entries of the camera's own.
    bool makerNoteHidden = false;
    // Segments that the library only skips or keeps, and ICC profile chunks, shortened to what
    // the library compares and checks in them: a picture's ICC profile and extended XMP can
    // come to megabytes that the library would copy, some of them more than once.
    std::size_t segmentsShortened = 0;
    // The interoperability IFD hidden, the thumbnail IFD cut off: neither holds a date entry.
    std::size_t ifdsLeftOut = 0;
    // The entries of IFD0 and the Exif IFD left out: all but the dates and the Exif IFD pointer,
    // the maker note and the interoperability IFD pointer among them.
    std::size_t entriesLeftOut = 0;
    bool Changed() const
    {
        return xmpPacketLeftOut || makerNoteHidden || segmentsShortened != 0 || ifdsLeftOut != 0
               || entriesLeftOut != 0;
    }
};

// Which of the three a copy leaves out; the checks compare each with the bytes as they are.
struct DateReadParts
{
    bool xmpPacket = true;
    bool makerNote = true;
    bool segments = true;
};

// Writes into `copy` the leading segments of a JPEG picture as the date read hands them to the
// library: the same bytes, segments and segment walk as `bytes`, less what DateReadCopy says.
// The segments are walked as the library's JPEG parser walks them, and the maker note, the
// interoperability IFD pointer and the thumbnail IFD's offset are found by a bounds-checked walk
// of the TIFF header, IFD0 and its Exif IFD; in any doubt (a segment cut short, offsets out of
// range, directories that overlap, a second Exif IFD, maker note or pointer, a value read from
// the bytes changed) that part is left as it is. When nothing changes, `copy` is left as it was.
DateReadCopy CopyForDateRead(const unsigned char *bytes, std::size_t size,
                             std::vector<unsigned char> &copy, DateReadParts parts = {});

struct TrimmedForDateRead
{
    DateReadCopy made;
    // Where the bytes to hand on begin, and how many there are.
    std::size_t start;
    std::size_t size;
};

// Does to `bytes` themselves what CopyForDateRead does to its copy, for a caller that has no more
// use for them: the bytes are closed up by moving the shorter side, and the result lies at
// [bytes + start, bytes + start + size), the same bytes as the copy.
TrimmedForDateRead TrimForDateRead(unsigned char *bytes, std::size_t size,
                                   DateReadParts parts = {});

// The bytes TrimForDateRead and CopyForDateRead leave out of `bytes`, in their order: the
// payload bytes past what each shortened segment keeps.
std::vector<ByteRange> BytesLeftOutForDateRead(const unsigned char *bytes, std::size_t size);

// Where the tag of the Exif IFD's maker note entry lies in the TIFF structure `tiff` (from its
// byte-order mark on), when the walk finds exactly one without doubt; `size` otherwise.
std::size_t FindMakerNoteTag(const unsigned char *tiff, std::size_t size);

} // namespace kronvik
