// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
// The read of a picture's date from memory: the leading segments as their markers announce them,
// Exiv2's JPEG parser over those bytes, and the search of its entries for the date text.
#include "exif_date_reader.h"
#include "jpeg_head.h"
#include "memory_source.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

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
    if (head.Size() > size || std::memcmp(head.Data(), data, head.Size()) != 0)
        std::abort(); // the kept bytes must be the file's own leading bytes

    // The bytes kept must not depend on how the reads were cut: a first read of one byte keeps
    // the same leading segments as the usual first read.
    MemorySource again(data, size);
    kronvik::JpegHead byteByByte(again, 1);
    if (byteByByte.StartsAsJpeg()) {
        byteByByte.KeepLeadingSegments();
        if (byteByByte.Size() != head.Size())
            std::abort();
    }

    const kronvik::ExifDateResult result = kronvik::ParseExifDate(head.Data(), head.Size());
    if (result.outcome == kronvik::ExifDateResult::Outcome::Searched && result.dateText.size() > 19)
        std::abort(); // the date text keeps at most the first 19 bytes of the value
    return 0;
}
