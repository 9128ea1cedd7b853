// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
// The date read's copy of the leading segments (no XMP packet, thumbnail or interoperability
// IFD, the maker note as plain bytes or IFD0 and the Exif IFD with their dates alone, skipped
// segments shortened) against Exiv2's parse of the bytes as they are: wherever the whole parse
// does not fail, both give the same outcome, date text and reason; with the segments shortened
// and nothing else, always; read with those segments left unread, the same as read whole.
#include "date_read_copy.h"
#include "exif_date_reader.h"
#include "jpeg_head.h"
#include "memory_source.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

void Print(const char *name, const kronvik::ExifDateResult &result)
{
    std::fprintf(stderr, "%s: outcome %d, date [%s], reason [%s]\n", name,
                 static_cast<int>(result.outcome), result.dateText.c_str(), result.reason.c_str());
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    kronvik::PrepareExifReading();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    MemorySource source(data, size);
    kronvik::JpegHead head(source);
    if (!head.StartsAsJpeg())
        return 0;
    head.KeepLeadingSegments();

    std::vector<unsigned char> copy;
    const kronvik::DateReadCopy made = kronvik::CopyForDateRead(head.Data(), head.Size(), copy);
    // Nothing changed, nothing copied; a copy is never longer than the bytes.
    if (made.Changed() ? copy.size() > head.Size() : !copy.empty())
        std::abort();
    // In place, the same bytes as the copy.
    std::vector<unsigned char> bytes(head.Data(), head.Data() + head.Size());
    const kronvik::TrimmedForDateRead trimmed =
            kronvik::TrimForDateRead(bytes.data(), bytes.size());
    if (trimmed.made.xmpPacketLeftOut != made.xmpPacketLeftOut
        || trimmed.made.makerNoteHidden != made.makerNoteHidden
        || trimmed.made.ifdsLeftOut != made.ifdsLeftOut
        || trimmed.made.entriesLeftOut != made.entriesLeftOut)
        std::abort();
    const std::vector<unsigned char> &expected =
            made.Changed() ? copy
                           : std::vector<unsigned char>(head.Data(), head.Data() + head.Size());
    if (trimmed.size != expected.size()
        || !std::equal(expected.begin(), expected.end(),
                       bytes.begin() + static_cast<long>(trimmed.start)))
        std::abort();

    const kronvik::ExifDateResult whole = kronvik::ParseExifDateWhole(head.Data(), head.Size());
    // Shortened segments alone give the library's own result, a failure too.
    std::vector<unsigned char> shortened;
    if (kronvik::CopyForDateRead(head.Data(), head.Size(), shortened, {false, false, true})
                .Changed()) {
        const kronvik::ExifDateResult fromShortened =
                kronvik::ParseExifDateWhole(shortened.data(), shortened.size());
        if (fromShortened.outcome != whole.outcome || fromShortened.dateText != whole.dateText
            || fromShortened.reason != whole.reason) {
            Print("whole", whole);
            Print("shortened segments", fromShortened);
            std::abort();
        }
    }
    const kronvik::ExifDateResult lean = kronvik::ParseExifDate(head.Data(), head.Size());
    // Read leaving the skipped segments unread where it may: the same result as from all bytes.
    MemorySource again(data, size);
    kronvik::JpegHead leaving(again);
    leaving.StartsAsJpeg();
    leaving.KeepLeadingSegments(true);
    const kronvik::ExifDateResult unread = kronvik::ParseExifDateInPlace(leaving);
    if (unread.outcome != lean.outcome || unread.dateText != lean.dateText
        || unread.reason != lean.reason) {
        Print("lean", lean);
        Print("left unread", unread);
        std::abort();
    }
    if (whole.outcome == kronvik::ExifDateResult::Outcome::Unreadable)
        return 0; // the packet, the maker note or an IFD left out may have been what failed
    if (lean.outcome != whole.outcome || lean.dateText != whole.dateText
        || lean.reason != whole.reason) {
        std::fprintf(stderr,
                     "XMP packet left out %d, maker note hidden %d, IFDs left out %zu, entries "
                     "left out %zu, segments shortened %zu\n",
                     made.xmpPacketLeftOut, made.makerNoteHidden, made.ifdsLeftOut,
                     made.entriesLeftOut, made.segmentsShortened);
        Print("whole", whole);
        Print("lean", lean);
        std::abort();
    }
    return 0;
}
