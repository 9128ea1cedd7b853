// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "exif_date_reader.h"

#include "date_read_copy.h"
#include "file_services.h"
#include "jpeg_head.h"
#include "picture_byte_source.h"
#include "picture_file.h"
#include "process_memory.h"

#include <exiv2/exiv2.hpp>

#include <algorithm>
#include <array>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <new>
#include <vector>

namespace kronvik {

namespace {

constexpr std::string_view kImageDateTime = "Exif.Image.DateTime";
constexpr std::string_view kPhotoDateTimeDigitized = "Exif.Photo.DateTimeDigitized";
constexpr std::string_view kPhotoDateTimeOriginal = "Exif.Photo.DateTimeOriginal";

// The group and the tag number of each key the search looks for, as the library itself maps the
// keys: an entry whose group and tag number match has exactly that key, so the search tells its
// entries from the others without building every entry's key.
struct DateKey
{
    std::string_view key;
    int group;
    std::uint16_t tag;
};

const std::array<DateKey, 3> &DateKeys()
{
    static const std::array<DateKey, 3> keys = [] {
        std::array<DateKey, 3> made{};
        const std::string_view names[] = {kImageDateTime, kPhotoDateTimeDigitized,
                                          kPhotoDateTimeOriginal};
        for (std::size_t i = 0; i < made.size(); ++i) {
            const Exiv2::ExifKey key{std::string(names[i])};
            made[i] = DateKey{names[i], key.ifdId(), key.tag()};
        }
        return made;
    }();
    return keys;
}

// The key of the entry when it is one the search looks for; empty otherwise.
std::string_view DateKeyOf(const Exiv2::Exifdatum &datum)
{
    const std::uint16_t tag = datum.tag();
    for (const DateKey &key : DateKeys()) {
        if (key.tag == tag && key.group == datum.ifdId())
            return key.key;
    }
    return {};
}

// The XMP toolkit registers the namespaces it meets in tables of its own: parsers on several
// threads take turns there.
void LockXmpToolkit(void *mutex, bool lock)
{
    auto *toolkit = static_cast<std::mutex *>(mutex);
    if (lock)
        toolkit->lock();
    else
        toolkit->unlock();
}

ExifDateResult Unreadable(std::string reason)
{
    ExifDateResult result;
    result.outcome = ExifDateResult::Outcome::Unreadable;
    result.reason = std::move(reason);
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

void PrepareExifReading()
{
    static std::once_flag once;
    std::call_once(once, [] {
        Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute);
        static std::mutex xmpToolkit;
        Exiv2::XmpParser::initialize(LockXmpToolkit, &xmpToolkit);
        KeepFreedMemoryForReuse();
        DateKeys();
    });
}

ExifDateResult ParseExifDateWhole(const unsigned char *bytes, std::size_t size)
{
    try {
        PrepareExifReading();
        // MemIo reads `bytes` in place; they outlive the image.
        Exiv2::BasicIo::AutoPtr io(new Exiv2::MemIo(bytes, static_cast<long>(size)));
        Exiv2::JpegImage image(io, false);
        image.readMetadata();
        // The image's own entries, in the library's order: nothing of them is copied but the
        // values of the date entries.
        const Exiv2::ExifData &exif = image.exifData();

        ExifDateResult result;
        if (exif.empty()) {
            result.outcome = ExifDateResult::Outcome::NoExif;
            return result;
        }
        DateTextSearch search;
        std::vector<unsigned char> value;
        for (const auto &datum : exif) {
            const std::string_view key = DateKeyOf(datum);
            if (key.empty())
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
    } catch (const std::exception &e) { // Exiv2's errors too: the reason is the library's message
        return Unreadable(e.what());
    } catch (...) {
        return Unreadable("unknown failure");
    }
}

ExifDateResult ParseExifDate(const unsigned char *bytes, std::size_t size)
{
    // One buffer a thread, reused from picture to picture.
    thread_local std::vector<unsigned char> copy;
    try {
        if (CopyForDateRead(bytes, size, copy).Changed())
            return ParseExifDateWhole(copy.data(), copy.size());
    } catch (const std::bad_alloc &) {
        // No room for the copy: the bytes as they are give the same dates.
    }
    return ParseExifDateWhole(bytes, size);
}

ExifDateResult ParseExifDateInPlace(unsigned char *bytes, std::size_t size)
{
    const TrimmedForDateRead trimmed = TrimForDateRead(bytes, size);
    return ParseExifDateWhole(bytes + trimmed.start, trimmed.size);
}

ExifDateResult ParseExifDateInPlace(JpegHead &head)
{
    if (!head.LeftUnread().empty())
        head.ReadUnread(BytesLeftOutForDateRead(head.Data(), head.Size()));
    return ParseExifDateInPlace(head.Data(), head.Size());
}

ExifDateResult ReadExifDate(const std::string &path)
{
    try {
        PictureFile file;
        int error = file.Open(path);
        if (error == PictureFile::kNotRegularFile)
            return Unreadable("not a regular file");
        if (error != 0)
            return Unreadable(SystemErrorText(error));
        OpenPicture source(file);
        JpegHead head(source);
        if (!head.StartsAsJpeg())
            return Unreadable("not a JPEG file");
        head.KeepLeadingSegments(true);
        return ParseExifDateInPlace(head);
    } catch (const std::exception &e) { // a read that failed: the reason is the system's
        return Unreadable(e.what());
    } catch (...) {
        return Unreadable("unknown failure");
    }
}

} // namespace kronvik
