// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "exif_date_reader.h"

#include "jpeg_fixture.h"
#include "temp_dir.h"

#include <exiv2/exiv2.hpp>
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <sys/stat.h>
#include <vector>

using kronvik::DateTextSearch;
using kronvik::ExifDateResult;
using kronvik::ReadExifDate;
using kronvik::test::DateString;
using kronvik::test::ReadBytes;
using kronvik::test::TempDir;
using kronvik::test::WriteBytes;
using kronvik::test::WriteJpegWithExif;
using Outcome = ExifDateResult::Outcome;

namespace {

const std::string kDateTime = "Exif.Image.DateTime";
const std::string kDigitized = "Exif.Photo.DateTimeDigitized";
const std::string kOriginal = "Exif.Photo.DateTimeOriginal";

struct OfferRow
{
    const char *name;
    std::vector<std::pair<std::string, std::string>> offers; // key, value bytes
    std::string text;
};

TEST(ADateTextSearch, choosesTheFirstDigitizedElseTheLastImageDate)
{
    const OfferRow rows[] = {
            {"digitized before image date",
             {{kDigitized, DateString("2005:07:14 09:03:27")},
              {kDateTime, DateString("2001:01:01 00:00:00")}},
             "2005:07:14 09:03:27"},
            {"digitized after image date",
             {{kDateTime, DateString("2001:01:01 00:00:00")},
              {kDigitized, DateString("2005:07:14 09:03:27")}},
             "2005:07:14 09:03:27"},
            {"first of two digitized",
             {{kDigitized, DateString("2005:07:14 09:03:27")},
              {kDigitized, DateString("2006:01:01 00:00:00")}},
             "2005:07:14 09:03:27"},
            {"last of several image dates",
             {{kDateTime, DateString("2001:01:01 00:00:00")},
              {kDateTime, DateString("2002:02:02 02:02:02")},
              {kDateTime, DateString("2003:03:03 03:03:03")}},
             "2003:03:03 03:03:03"},
            {"long value keeps 19 bytes",
             {{kDateTime, DateString("2005:07:14 09:03:27 and a long tail of text")}},
             "2005:07:14 09:03:27"},
            {"blank digitized replaces a good image date",
             {{kDateTime, DateString("2005:07:14 09:03:27")},
              {kDigitized, DateString("    :  :     :  :  ")}},
             "    :  :     :  :  "},
            {"shorter later value keeps no tail", // no NUL of its own
             {{kDateTime, DateString("2005:07:14 09:03:27")}, {kDateTime, "2006:01:02"}},
             "2006:01:02"},
            {"other and miscased keys are ignored",
             {{"Exif.Photo.DateTimeoriginal", DateString("2005:07:14 09:03:27")},
              {"Exif.Image.Datetime", DateString("2005:07:14 09:03:27")},
              {"Exif.Image.DateTimeX", DateString("2005:07:14 09:03:27")}},
             ""},
            {"first original date when neither other key comes",
             {{kOriginal, DateString("2005:07:14 09:03:27 and a long tail")},
              {kOriginal, DateString("2006:01:01 00:00:00")}},
             "2005:07:14 09:03:27"},
            {"image date before the original date",
             {{kOriginal, DateString("2005:07:14 09:03:27")},
              {kDateTime, DateString("2001:01:01 00:00:00")}},
             "2001:01:01 00:00:00"},
            {"an empty digitized date before the original date",
             {{kOriginal, DateString("2005:07:14 09:03:27")}, {kDigitized, ""}},
             ""},
            {"empty value", {{kDateTime, DateString("2005:07:14 09:03:27")}, {kDigitized, ""}}, ""},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        DateTextSearch search;
        bool over = false;
        for (const auto &[key, value] : row.offers) {
            bool goesOn = search.Offer(key, reinterpret_cast<const unsigned char *>(value.data()),
                                       value.size());
            EXPECT_EQ(goesOn, !over && !(key == kDigitized)) << key;
            over = over || key == kDigitized;
        }
        EXPECT_EQ(search.Text(), row.text);
    }
}

TEST(AnExifDateRead, findsTheDateInGeneratedPictures)
{
    struct Row
    {
        const char *name;
        kronvik::test::ExifTags tags;
        Outcome outcome;
        std::string text;
    };
    const Row rows[] = {
            {"both keys",
             {{kDateTime, "2001:02:03 04:05:06"}, {kDigitized, "2005:07:14 09:03:27"}},
             Outcome::Searched,
             "2005:07:14 09:03:27"},
            {"image date only",
             {{kDateTime, "2001:02:03 04:05:06"}},
             Outcome::Searched,
             "2001:02:03 04:05:06"},
            {"original date only",
             {{kOriginal, "2005:07:14 09:03:27"}},
             Outcome::Searched,
             "2005:07:14 09:03:27"},
            {"original date and image date",
             {{kOriginal, "2005:07:14 09:03:27"}, {kDateTime, "2001:02:03 04:05:06"}},
             Outcome::Searched,
             "2001:02:03 04:05:06"},
            {"none of the three keys", {{"Exif.Image.Make", "Camera"}}, Outcome::Searched, ""},
            {"no EXIF at all", {}, Outcome::NoExif, ""},
    };
    TempDir dir;
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        std::string path = dir / "IMG_0001.JPG";
        WriteJpegWithExif(path, row.tags);
        ExifDateResult result = ReadExifDate(path);
        EXPECT_EQ(result.outcome, row.outcome) << result.reason;
        EXPECT_EQ(result.dateText, row.text);
    }
}

TEST(AnExifDateRead, stepsOverSegmentsWhosePayloadLooksLikeAScanMarker)
{
    TempDir dir;
    std::string path = dir / "a.jpg";
    WriteJpegWithExif(path, {{kDigitized, "2005:07:14 09:03:27"}});
    std::string bytes = ReadBytes(path);
    // SOI, a comment holding FF DA, fill bytes, then the rest of the picture.
    const std::string comment("\xff\xfe\x00\x06\xff\xda\x00\x02", 8);
    WriteBytes(path, bytes.substr(0, 2) + comment + "\xff\xff" + bytes.substr(2));

    ExifDateResult result = ReadExifDate(path);
    EXPECT_EQ(result.outcome, Outcome::Searched) << result.reason;
    EXPECT_EQ(result.dateText, "2005:07:14 09:03:27");
}

TEST(AnExifDateRead, reportsWhatCannotBeReadAsUnreadable)
{
    TempDir dir;
    std::string exifJpeg = dir / "exif.jpg";
    WriteJpegWithExif(exifJpeg, {{kDigitized, "2005:07:14 09:03:27"}});
    const std::string whole = ReadBytes(exifJpeg);
    const std::size_t app1 = whole.find("\xff\xe1");
    ASSERT_NE(app1, std::string::npos);

    std::string fifo = dir / "fifo.jpg";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0); // nobody writes: a blocking open would hang
    std::string folder = dir / "folder.jpg";
    std::filesystem::create_directory(folder);

    struct Row
    {
        const char *name;
        std::string bytes; // written to the file unless the path exists already
        std::string path;
        std::string reason; // empty: any reason
    };
    const Row rows[] = {
            {"FIFO", "", fifo, "not a regular file"},
            {"directory", "", folder, "not a regular file"},
            {"missing file", "", dir / "missing.jpg", ""},
            {"zero bytes", "", dir / "empty.jpg", "not a JPEG file"},
            {"PNG", std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16), dir / "png.jpg",
             "not a JPEG file"},
            {"SOI without a marker", std::string("\xff\xd8\x00\x00", 4), dir / "soi.jpg",
             "not a JPEG file"},
            {"APP1 running past the end", whole.substr(0, app1 + 30), dir / "cut.jpg", ""},
            {"APP1 length past the end",
             whole.substr(0, app1 + 2) + "\xff\xf0" + whole.substr(app1 + 4), dir / "long.jpg", ""},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        if (!std::filesystem::exists(std::filesystem::symlink_status(row.path))
            && row.path != dir / "missing.jpg")
            WriteBytes(row.path, row.bytes);
        ExifDateResult result = ReadExifDate(row.path);
        EXPECT_EQ(result.outcome, Outcome::Unreadable);
        EXPECT_FALSE(result.reason.empty());
        if (!row.reason.empty()) {
            EXPECT_EQ(result.reason, row.reason);
        }
    }
}

// What Exiv2's JPEG parser finds when it reads the whole file, for comparison.
ExifDateResult ReadWholeFile(const std::string &path)
{
    ExifDateResult result;
    try {
        Exiv2::BasicIo::AutoPtr io(new Exiv2::FileIo(path));
        Exiv2::JpegImage image(io, false);
        image.readMetadata();
        if (image.exifData().empty()) {
            result.outcome = Outcome::NoExif;
            return result;
        }
        DateTextSearch search;
        for (const auto &datum : image.exifData()) {
            std::vector<unsigned char> value(datum.value().size());
            datum.value().copy(value.data(), Exiv2::bigEndian);
            if (!search.Offer(datum.key(), value.data(), value.size()))
                break;
        }
        result.outcome = Outcome::Searched;
        result.dateText = search.Text();
    } catch (const std::exception &e) {
        result.reason = e.what();
    }
    return result;
}

bool StartsAsJpeg(const std::string &bytes)
{
    return bytes.size() >= 3 && bytes.compare(0, 3, "\xff\xd8\xff") == 0;
}

TEST(AnExifDateRead, givesEveryCorpusFileADefinedOutcomeAndChangesNoByte)
{
    const std::filesystem::path corpus = KRONVIK_CORPUS_DIR;
    if (!std::filesystem::is_directory(corpus / "exiv2-jpeg"))
        GTEST_SKIP() << "corpus not found at " << corpus;
    Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute);

    int dated = 0;
    for (const char *folder : {"exiv2-jpeg", "hostile-nonjpeg"}) {
        const bool hostile = std::string(folder) == "hostile-nonjpeg";
        for (const auto &entry : std::filesystem::directory_iterator(corpus / folder)) {
            const std::string path = entry.path().string();
            SCOPED_TRACE(path);
            const std::string before = ReadBytes(path);
            ExifDateResult result = ReadExifDate(path);
            EXPECT_EQ(ReadBytes(path), before);
            EXPECT_EQ(result.reason.empty(), result.outcome != Outcome::Unreadable);
            if (hostile) {
                EXPECT_EQ(result.outcome, Outcome::Unreadable);
                continue;
            }
            if (!result.dateText.empty())
                ++dated;
            // The leading segments must tell the parser what the whole file tells it.
            if (StartsAsJpeg(before)) {
                ExifDateResult whole = ReadWholeFile(path);
                EXPECT_EQ(result.outcome, whole.outcome) << result.reason << " / " << whole.reason;
                EXPECT_EQ(result.dateText, whole.dateText);
            } else {
                EXPECT_EQ(result.outcome, Outcome::Unreadable);
            }
        }
    }
    EXPECT_GE(dated, 60); // the camera files of the corpus
}

} // namespace
