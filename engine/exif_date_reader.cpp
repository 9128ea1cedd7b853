// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "exif_date_reader.h"

#include "file_services.h"
#include "picture_file.h"

#include <exiv2/exiv2.hpp>

#include <algorithm>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <vector>

namespace kronvik {

namespace {

constexpr std::string_view kImageDateTime = "Exif.Image.DateTime";
constexpr std::string_view kPhotoDateTimeDigitized = "Exif.Photo.DateTimeDigitized";
constexpr std::string_view kPhotoDateTimeOriginal = "Exif.Photo.DateTimeOriginal";

// The leading segments of a camera JPEG are a few hundred kilobytes; a file that claims more is
// not read further than this.
constexpr std::size_t kMaxHeadBytes = 64u << 20;
constexpr std::size_t kReadChunk = 64u << 10;

// The first bytes of a picture file, read on demand, never more than kMaxHeadBytes.
class HeadBytes
{
public:
    explicit HeadBytes(const PictureFile &file)
        : m_file(file)
    {
    }

    // True when the first `count` bytes are there; false at the end of the file or at the cap.
    bool Have(std::size_t count)
    {
        while (m_bytes.size() < count && !m_atEnd) {
            std::size_t want = std::min(std::max(count - m_bytes.size(), kReadChunk),
                                        kMaxHeadBytes - m_bytes.size());
            if (want == 0) {
                m_atEnd = true;
                break;
            }
            std::size_t had = m_bytes.size();
            m_bytes.resize(had + want);
            std::int64_t got = m_file.ReadAt(had, m_bytes.data() + had, want);
            if (got < 0)
                throw std::runtime_error(SystemErrorText(static_cast<int>(-got)));
            m_bytes.resize(had + static_cast<std::size_t>(got));
            if (static_cast<std::size_t>(got) < want)
                m_atEnd = true;
        }
        return m_bytes.size() >= count;
    }

    unsigned char operator[](std::size_t at) const { return m_bytes[at]; }
    std::size_t Size() const { return m_bytes.size(); }
    void Keep(std::size_t count) { m_bytes.resize(std::min(count, m_bytes.size())); }
    const std::vector<unsigned char> &Bytes() const { return m_bytes; }

private:
    const PictureFile &m_file;
    std::vector<unsigned char> m_bytes;
    bool m_atEnd = false;
};

bool IsStandaloneMarker(unsigned char marker)
{
    // TEM, RST0 to RST7 and SOI carry no length.
    return marker == 0x01 || (marker >= 0xd0 && marker <= 0xd8);
}

// Keeps the bytes from the start of the file up to the end of the start-of-scan header: every
// segment the JPEG parser reads metadata from, none of the compressed picture. A file that ends
// early (or reaches the cap) keeps what there is, and the parser judges it.
void KeepLeadingSegments(HeadBytes &head)
{
    std::size_t at = 2; // after SOI
    for (;;) {
        // Like the parser: skip anything up to a 0xFF, then any fill bytes 0xFF.
        while (head.Have(at + 1) && head[at] != 0xff)
            ++at;
        while (head.Have(at + 1) && head[at] == 0xff)
            ++at;
        if (!head.Have(at + 1))
            return;
        unsigned char marker = head[at++];
        if (marker == 0xd9) { // EOI: no scan at all
            head.Keep(at);
            return;
        }
        if (IsStandaloneMarker(marker))
            continue;
        if (!head.Have(at + 2))
            return;
        std::size_t length = (std::size_t(head[at]) << 8) | head[at + 1];
        if (marker == 0xda || length < 2) {
            head.Have(at + std::max<std::size_t>(length, 2));
            head.Keep(at + std::max<std::size_t>(length, 2));
            return;
        }
        at += length;
    }
}

void MuteLibraryMessages()
{
    static std::once_flag once;
    std::call_once(once, [] { Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute); });
}

ExifDateResult Unreadable(std::string reason)
{
    ExifDateResult result;
    result.outcome = ExifDateResult::Outcome::Unreadable;
    result.reason = std::move(reason);
    return result;
}

ExifDateResult ReadFromOpenFile(const PictureFile &file)
{
    HeadBytes head(file);
    if (!head.Have(3) || head[0] != 0xff || head[1] != 0xd8 || head[2] != 0xff)
        return Unreadable("not a JPEG file");
    KeepLeadingSegments(head);

    const auto &bytes = head.Bytes();
    // MemIo reads `bytes` in place; they outlive the image.
    Exiv2::BasicIo::AutoPtr io(new Exiv2::MemIo(bytes.data(), static_cast<long>(bytes.size())));
    Exiv2::JpegImage image(io, false);
    image.readMetadata();
    Exiv2::ExifData exif = image.exifData();

    ExifDateResult result;
    if (exif.empty()) {
        result.outcome = ExifDateResult::Outcome::NoExif;
        return result;
    }
    DateTextSearch search;
    std::vector<unsigned char> value;
    for (const auto &datum : exif) {
        std::string key = datum.key();
        if (key != kImageDateTime && key != kPhotoDateTimeDigitized
            && key != kPhotoDateTimeOriginal)
            continue;
        const Exiv2::Value &v = datum.value();
        value.assign(static_cast<std::size_t>(std::max(v.size(), 0L)), 0);
        v.copy(value.data(), Exiv2::bigEndian);
        if (!search.Offer(key, value.data(), value.size()))
            break;
    }
    result.outcome = ExifDateResult::Outcome::Searched;
    result.dateText = search.Text();
    return result;
}

} // namespace

bool DateTextSearch::Offer(std::string_view key, const unsigned char *value, std::size_t size)
{
    if (m_done)
        return false;
    if (key == kPhotoDateTimeOriginal && !m_haveOriginal) {
        m_haveOriginal = true;
        if (value)
            std::memcpy(m_original, value, std::min(size, sizeof m_original - 1));
        return true;
    }
    const bool digitized = key == kPhotoDateTimeDigitized;
    if (!digitized && key != kImageDateTime)
        return true;
    // Zeroed before each copy: a shorter later value must not keep an earlier value's tail.
    std::memset(m_text, 0, sizeof m_text);
    if (value)
        std::memcpy(m_text, value, std::min(size, sizeof m_text - 1));
    m_found = true;
    m_done = digitized;
    return !m_done;
}

ExifDateResult ReadExifDate(const std::string &path)
{
    try {
        MuteLibraryMessages();
        PictureFile file;
        int error = file.Open(path);
        if (error == PictureFile::kNotRegularFile)
            return Unreadable("not a regular file");
        if (error != 0)
            return Unreadable(SystemErrorText(error));
        return ReadFromOpenFile(file);
    } catch (const std::exception &e) { // Exiv2's errors too: the reason is the library's message
        return Unreadable(e.what());
    } catch (...) {
        return Unreadable("unknown failure");
    }
}

} // namespace kronvik
