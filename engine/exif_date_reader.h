// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace kronvik {

class JpegHead;

// Chooses the picture's date text among its EXIF entries, offered in the library's order: the
// first "Exif.Photo.DateTimeDigitized" wins wherever it stands, else the last
// "Exif.Image.DateTime". Only when neither is offered does the first
// "Exif.Photo.DateTimeOriginal" give the text: many cameras write that one alone. The text keeps
// at most the first 19 bytes of the value.
class DateTextSearch
{
public:
    // Offers one entry's key and the bytes of its value. Returns false once the search is over.
    bool Offer(std::string_view key, const unsigned char *value, std::size_t size);
    // The date text, NUL-terminated; empty when none of the three keys was offered.
    const char *Text() const { return m_found || !m_haveOriginal ? m_text : m_original; }

private:
    char m_text[20] = {};
    char m_original[20] = {};
    bool m_found = false; // a digitized or image date was offered
    bool m_haveOriginal = false;
    bool m_done = false;
};

struct ExifDateResult
{
    enum class Outcome {
        Unreadable, // not a regular file, not a JPEG, or the library failed: see `reason`
        NoExif, // a JPEG without a single EXIF entry
        Searched, // the entries were searched; `dateText` holds what the search chose
    };
    Outcome outcome = Outcome::Unreadable;
    std::string dateText;
    std::string reason;
};

// Reads the EXIF entries of a picture file through the JPEG parser only: the file is opened
// non-blocking, must be a regular file beginning with FF D8 FF, and only its leading segments (up
// to the scan data) are handed to the library, from memory. Never throws.
ExifDateResult ReadExifDate(const std::string &path);

// Hands a picture's leading segments (from the start of the file up to the scan data) to the
// library's JPEG parser, from memory, and searches its EXIF entries for the date text. Never
// throws: what the library cannot read is Unreadable, with its message as the reason. Threads may
// call it at the same time, each on its own bytes, once PrepareExifReading has run.
// The library gets a copy without the XMP packet, the thumbnail IFD or the interoperability IFD,
// with the maker note kept as plain bytes and the segments it only skips or keeps shortened
// (CopyForDateRead): the result is ParseExifDateWhole's, except where the packet, the maker note
// or those IFDs made the library fail, and the picture is then searched for its dates all the
// same.
ExifDateResult ParseExifDate(const unsigned char *bytes, std::size_t size);

// ParseExifDate for bytes the caller has no more use for: the parts left out are taken out of the
// bytes themselves (TrimForDateRead), with no copy.
ExifDateResult ParseExifDateInPlace(unsigned char *bytes, std::size_t size);

// The same for a head whose segments may have been kept with bytes left unread: what the date
// read keeps of them is read first.
ExifDateResult ParseExifDateInPlace(JpegHead &head);

// The same for every byte as it is: the library decodes the XMP packet and the maker note too.
// What ParseExifDate is measured and checked against.
ExifDateResult ParseExifDateWhole(const unsigned char *bytes, std::size_t size);

// Sets up what the library shares between all its parsers (its messages silenced, its XMP
// toolkit), once for the process; to be called before threads parse pictures. The other
// functions here call it too.
void PrepareExifReading();

} // namespace kronvik
