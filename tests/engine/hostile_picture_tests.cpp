// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
// Files that users' folders really hold under a picture's name, met by a scan and a dating pass
// with and without a time adjustment: each ends in one defined run-log line, the pass goes on to
// the next picture, nothing hangs, and no byte of what is no picture changes.
#include "dating_pass.h"
#include "file_error.h"
#include "jpeg_fixture.h"
#include "jpeg_segments.h"
#include "picture_scan.h"
#include "recording_front_end.h"
#include "run_as_nobody.h"
#include "temp_dir.h"

#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

using namespace kronvik;
using namespace kronvik::test;
namespace fs = std::filesystem;

namespace {

const char *const kDate = "2005:07:14 09:03:27";
const char *const kDatedName = "2005-07-14 09.03.27.JPG";

// How the pass must end a picture.
enum class Outcome { Dated, NoExif, BadDate, Unreadable };

// The most a pass over the three files may read: the leading segments of a JPEG are read up to
// 64 MiB, and the rest of the pass reads a few kilobytes.
constexpr std::uint64_t kMostBytesRead = (64u << 20) + (1u << 20);

// The bytes a test may read of a file without reading a sparse one whole.
constexpr std::uintmax_t kWholeFileLimit = 16u << 20;

// What a directory entry is, to tell afterwards that nothing changed: its type, its size, and
// its bytes (the first megabyte of a file too large to read whole).
struct Fingerprint
{
    fs::file_type type = fs::file_type::none;
    std::uintmax_t size = 0;
    std::string bytes;
    friend bool operator==(const Fingerprint &, const Fingerprint &) = default;
};

Fingerprint TakeFingerprint(const std::string &path)
{
    Fingerprint print;
    std::error_code error;
    print.type = fs::symlink_status(path, error).type();
    if (print.type != fs::file_type::regular)
        return print;
    print.size = fs::file_size(path, error);
    std::ifstream in(path, std::ios::binary);
    print.bytes.resize(print.size > kWholeFileLimit ? 1u << 20 : print.size);
    in.read(print.bytes.data(), static_cast<std::streamsize>(print.bytes.size()));
    return print;
}

// The bytes this process has read through read calls so far, all threads included.
std::uint64_t BytesReadSoFar()
{
    std::ifstream io("/proc/self/io");
    std::string field;
    std::uint64_t value = 0;
    while (io >> field >> value) {
        if (field == "rchar:")
            return value;
    }
    return 0;
}

// A picture cameras write: the date in IFD0 and the Exif IFD, never as a pair.
std::string CameraPicture(const std::string &date)
{
    return JpegWithExif({AsciiEntry(kTagMake, "Camera"), AsciiEntry(kTagDateTime, date)},
                        {AsciiEntry(kTagDateTimeDigitized, date)});
}

std::string WithExif(const std::vector<TiffIfd> &ifds)
{
    return JpegWithSegments(Segment(0xe1, ExifPayload(TiffBytes(ifds))));
}

TiffEntry Numeric(std::uint16_t tag, std::uint16_t type, std::uint32_t count, std::string value)
{
    TiffEntry entry;
    entry.tag = tag;
    entry.type = type;
    entry.count = count;
    entry.value = std::move(value);
    return entry;
}

TiffEntry ExifPointerTo(int ifd)
{
    TiffEntry entry;
    entry.tag = kTagExifIfd;
    entry.pointsToIfd = ifd;
    return entry;
}

// The EXIF segment of a camera picture, whole.
std::string CameraExifSegment()
{
    const std::string picture = CameraPicture(kDate);
    const std::size_t app1 = picture.find("\xff\xe1");
    const std::size_t length = (static_cast<unsigned char>(picture[app1 + 2]) << 8)
                               | static_cast<unsigned char>(picture[app1 + 3]);
    return picture.substr(app1, length + 2);
}

void WriteSparse(const std::string &path, const std::string &start, off_t size)
{
    WriteBytes(path, start);
    ASSERT_EQ(truncate(path.c_str(), size), 0);
}

void MakeSocket(const std::string &path)
{
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    ASSERT_LT(path.size(), sizeof address.sun_path);
    path.copy(address.sun_path, path.size());
    ASSERT_EQ(bind(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address), 0);
    close(fd);
}

struct Row
{
    const char *name;
    // Makes the entry x.jpg at the path given (a.jpg before it and z.jpg after it are pictures).
    std::function<void(const std::string &)> make;
    Outcome outcome;
    // The reason of an unreadable picture; empty for any reason.
    std::string reason;
    // Runs once a.jpg is dated and before x.jpg's turn, on x.jpg's path.
    std::function<void(const std::string &)> atTurn = nullptr;
    // Skips the row with this message when it says so.
    std::function<std::string()> skip = nullptr;
};

std::string Message(const Row &row, const std::string &path)
{
    switch (row.outcome) {
    case Outcome::Dated:
        return "   x.jpg -> " + std::string(kDatedName);
    case Outcome::NoExif:
        return "   No EXIF data found in " + path + ".";
    case Outcome::BadDate:
        return "   " + path + " not renamed; incorrect date format.";
    case Outcome::Unreadable:
        return "   " + path + " not renamed; unreadable picture (" + row.reason + ").";
    }
    return "";
}

bool Matches(const Row &row, const std::string &path, const std::string &message)
{
    if (row.outcome != Outcome::Unreadable || !row.reason.empty())
        return message == Message(row, path);
    const std::string start = "   " + path + " not renamed; unreadable picture (";
    return message.size() > start.size() + 2 && message.rfind(start, 0) == 0
           && message.ends_with(").");
}

// What a failing card, a cut copy or a crafted file holds under a picture's name.
const Row kBrokenPictures[] = {
        {"zero bytes", [](const std::string &p) { WriteBytes(p, ""); }, Outcome::Unreadable,
         "not a JPEG file"},
        {"the start bytes alone", [](const std::string &p) { WriteBytes(p, "\xff\xd8"); },
         Outcome::Unreadable, "not a JPEG file"},
        {"cut inside the EXIF segment",
         [](const std::string &p) {
             const std::string picture = CameraPicture(kDate);
             WriteBytes(p, picture.substr(0, picture.find("\xff\xe1") + 60));
         },
         Outcome::Unreadable, ""},
        {"cut right after the EXIF segment",
         [](const std::string &p) { WriteBytes(p, "\xff\xd8" + CameraExifSegment()); },
         Outcome::Dated, ""},
        {"a segment of length 0",
         [](const std::string &p) {
             WriteBytes(p, JpegWithSegments(SegmentClaiming(0xe1, 0, "") + CameraExifSegment()));
         },
         Outcome::Unreadable, ""},
        {"a segment of length 1",
         [](const std::string &p) {
             WriteBytes(p, JpegWithSegments(SegmentClaiming(0xe1, 1, "") + CameraExifSegment()));
         },
         Outcome::Unreadable, ""},
        {"a segment running past the end",
         [](const std::string &p) {
             WriteBytes(p, "\xff\xd8" + CameraExifSegment()
                                   + SegmentClaiming(0xe2, 0x4000, std::string(100, 'x')));
         },
         Outcome::Unreadable, ""},
        {"an APP1 claiming 64 KiB in a 1 KiB file",
         [](const std::string &p) {
             std::string bytes = CameraPicture(kDate);
             const std::size_t app1 = bytes.find("\xff\xe1");
             bytes.replace(app1 + 2, 2, "\xff\xff");
             bytes.resize(1024, '\0');
             WriteBytes(p, bytes);
         },
         Outcome::Unreadable, ""},
        // Crafted EXIF structures.
        {"an IFD0 that names itself as the next directory",
         [](const std::string &p) {
             TiffIfd ifd0{{AsciiEntry(kTagDateTime, kDate)}};
             ifd0.next = 0;
             WriteBytes(p, WithExif({ifd0}));
         },
         Outcome::Dated, ""},
        {"an Exif IFD pointing back at IFD0",
         [](const std::string &p) {
             WriteBytes(p,
                        WithExif({{{AsciiEntry(kTagDateTime, "2001:01:01 01:01:01"),
                                    ExifPointerTo(1)}},
                                  {{AsciiEntry(kTagDateTimeDigitized, kDate), ExifPointerTo(0)}}}));
         },
         Outcome::Dated, ""},
        {"an Exif IFD pointing at itself",
         [](const std::string &p) {
             WriteBytes(p,
                        WithExif({{{ExifPointerTo(1)}},
                                  {{AsciiEntry(kTagDateTimeDigitized, kDate), ExifPointerTo(1)}}}));
         },
         Outcome::Dated, ""},
        {"an IFD claiming 65,535 entries",
         [](const std::string &p) {
             TiffIfd ifd0{{AsciiEntry(kTagDateTime, kDate)}};
             ifd0.claimedEntries = 0xffff;
             WriteBytes(p, WithExif({ifd0}));
         },
         Outcome::NoExif, ""},
        {"a date claiming 4 billion characters",
         [](const std::string &p) {
             TiffEntry date = AsciiEntry(kTagDateTime, kDate);
             date.count = 0xffffffff;
             date.rawOffset = true;
             date.offset = 8;
             WriteBytes(p, WithExif({{{AsciiEntry(kTagMake, "Camera"), date}}}));
         },
         Outcome::BadDate, ""},
        {"a date whose value lies past the end",
         [](const std::string &p) {
             TiffEntry date = AsciiEntry(kTagDateTime, kDate);
             date.rawOffset = true;
             date.offset = 0x7ffffff0;
             WriteBytes(p, WithExif({{{AsciiEntry(kTagMake, "Camera"), date}}}));
         },
         Outcome::BadDate, ""},
        // Date values of every shape.
        {"a date without its NUL",
         [](const std::string &p) {
             TiffEntry date = Numeric(kTagDateTimeDigitized, kTiffAscii, 19, kDate);
             WriteBytes(p, JpegWithExif({}, {date}));
         },
         Outcome::Dated, ""},
        {"a date of 300 bytes",
         [](const std::string &p) {
             WriteBytes(p, JpegWithExif({}, {AsciiEntry(kTagDateTimeDigitized,
                                                        kDate + std::string(281, '7'))}));
         },
         Outcome::Dated, ""},
        {"a date of 300 bytes without any NUL",
         [](const std::string &p) {
             const std::string text = kDate + std::string(281, '7');
             WriteBytes(p,
                        JpegWithExif({}, {Numeric(kTagDateTimeDigitized, kTiffAscii, 300, text)}));
         },
         Outcome::Dated, ""},
        {"a date stored as one SHORT",
         [](const std::string &p) {
             WriteBytes(p, JpegWithExif({}, {Numeric(kTagDateTimeDigitized, kTiffShort, 1,
                                                     std::string("\0\1", 2))}));
         },
         Outcome::BadDate, ""},
        {"a date stored as 100 rationals",
         [](const std::string &p) {
             std::string value;
             for (int i = 0; i < 200; ++i)
                 value += std::string("\0\0\0\1", 4);
             WriteBytes(p, JpegWithExif({}, {Numeric(kTagDateTimeDigitized, kTiffRational, 100,
                                                     value)}));
         },
         Outcome::BadDate, ""},
        {"a date stored as undefined bytes",
         [](const std::string &p) {
             WriteBytes(p, JpegWithExif({}, {Numeric(kTagDateTimeDigitized, kTiffUndefined, 20,
                                                     DateString(kDate))}));
         },
         Outcome::Dated, ""},
        {"an empty date",
         [](const std::string &p) {
             WriteBytes(p, JpegWithExif({}, {Numeric(kTagDateTimeDigitized, kTiffAscii, 0, "")}));
         },
         Outcome::BadDate, ""},
        // Far too large to read whole.
        {"a 2 GB sparse file", [](const std::string &p) { WriteSparse(p, "", off_t(2) << 30); },
         Outcome::Unreadable, "not a JPEG file"},
        {"a 2 GB sparse file after the JPEG start bytes",
         [](const std::string &p) { WriteSparse(p, "\xff\xd8\xff\xe1\xff\xff", off_t(2) << 30); },
         Outcome::NoExif, ""},
        {"a 2 GB sparse file after a camera picture's EXIF",
         [](const std::string &p) {
             WriteSparse(p, "\xff\xd8" + CameraExifSegment(), off_t(2) << 30);
         },
         Outcome::Dated, ""},
};

// Entries that are no regular file, and links that lead nowhere.
const Row kNoRegularFiles[] = {
        {"a FIFO", [](const std::string &p) { ASSERT_EQ(mkfifo(p.c_str(), 0600), 0); },
         Outcome::Unreadable, "not a regular file"},
        {"a socket", MakeSocket, Outcome::Unreadable, "not a regular file"},
        {"a character device",
         [](const std::string &p) {
             ASSERT_EQ(mknod(p.c_str(), S_IFCHR | 0600, makedev(1, 5)), 0); // as /dev/zero
         },
         Outcome::Unreadable, "not a regular file", nullptr,
         [] { return geteuid() == 0 ? "" : "making a device node needs root"; }},
        {"a block device of no driver",
         [](const std::string &p) {
             ASSERT_EQ(mknod(p.c_str(), S_IFBLK | 0600, makedev(4095, 4095)), 0);
         },
         Outcome::Unreadable, "not a regular file", nullptr,
         [] { return geteuid() == 0 ? "" : "making a device node needs root"; }},
        {"a link to /dev/zero", [](const std::string &p) { fs::create_symlink("/dev/zero", p); },
         Outcome::Unreadable, "not a regular file"},
        {"a link to a FIFO",
         [](const std::string &p) {
             ASSERT_EQ(mkfifo((p + ".fifo").c_str(), 0600), 0);
             fs::create_symlink(p + ".fifo", p);
         },
         Outcome::Unreadable, "not a regular file"},
        {"a link to a socket",
         [](const std::string &p) {
             MakeSocket(p + ".socket");
             fs::create_symlink(p + ".socket", p);
         },
         Outcome::Unreadable, "not a regular file"},
        {"a dangling link", [](const std::string &p) { fs::create_symlink("gone", p); },
         Outcome::Unreadable, "No such file or directory"},
        {"a link to itself", [](const std::string &p) { fs::create_symlink("x.jpg", p); },
         Outcome::Unreadable, "Too many levels of symbolic links"},
};

// Changed after the scan, when the pictures before it in the pass have been read and dated.
const Row kChangedAtTheirTurn[] = {
        {"emptied after the scan",
         [](const std::string &p) { WriteBytes(p, CameraPicture(kDate)); }, Outcome::Unreadable,
         "not a JPEG file", [](const std::string &p) { ASSERT_EQ(truncate(p.c_str(), 0), 0); }},
        {"cut inside its EXIF after the scan",
         [](const std::string &p) { WriteBytes(p, CameraPicture(kDate)); }, Outcome::Unreadable, "",
         [](const std::string &p) { ASSERT_EQ(truncate(p.c_str(), 60), 0); }},
        {"grown after the scan", [](const std::string &p) { WriteBytes(p, CameraPicture(kDate)); },
         Outcome::Dated, "",
         [](const std::string &p) {
             std::ofstream(p, std::ios::binary | std::ios::app) << std::string(1 << 20, 'x');
         }},
        {"deleted after the scan",
         [](const std::string &p) { WriteBytes(p, CameraPicture(kDate)); }, Outcome::Unreadable,
         "No such file or directory", [](const std::string &p) { fs::remove(p); }},
        {"replaced by another picture after the scan",
         [](const std::string &p) { WriteBytes(p, "not a picture"); }, Outcome::Dated, "",
         [](const std::string &p) {
             WriteBytes(p + ".new", CameraPicture(kDate));
             fs::rename(p + ".new", p);
         }},
        {"replaced by a FIFO after the scan",
         [](const std::string &p) { WriteBytes(p, CameraPicture(kDate)); }, Outcome::Unreadable,
         "not a regular file",
         [](const std::string &p) {
             fs::remove(p);
             ASSERT_EQ(mkfifo(p.c_str(), 0600), 0);
         }},
};

// Dates a.jpg, x.jpg (the row's) and z.jpg, without and with a time adjustment.
template<std::size_t n>
void PassOver(const Row (&rows)[n])
{
    for (const Row &row : rows) {
        if (row.skip && !row.skip().empty()) {
            std::cerr << "skipped row \"" << row.name << "\": " << row.skip() << "\n";
            continue;
        }
        for (int adjustment : {0, 2}) {
            SCOPED_TRACE(std::string(row.name) + ", adjustment " + std::to_string(adjustment));
            TempDir dir;
            const std::string path = dir / "x.jpg";
            // Pictures before and after, each with its date as a pair, as Exiv2 writes them.
            WriteJpegWithExif(dir / "a.jpg",
                              {{"Exif.Photo.DateTimeOriginal", "2001:01:01 01:01:01"},
                               {"Exif.Photo.DateTimeDigitized", "2001:01:01 01:01:01"}});
            WriteJpegWithExif(dir / "z.jpg",
                              {{"Exif.Photo.DateTimeOriginal", "2002:02:02 02:02:02"},
                               {"Exif.Photo.DateTimeDigitized", "2002:02:02 02:02:02"}});
            row.make(path);
            if (::testing::Test::HasFatalFailure())
                return;

            EngineSandbox sandbox;
            sandbox.timeAdjust = adjustment;
            sandbox.front.sourceText = dir.Path().string();
            RetrieveFileList(sandbox.session);
            ASSERT_EQ(sandbox.state.pictureList.size(), 3u);
            Fingerprint before = TakeFingerprint(path);
            bool turned = false;
            sandbox.front.onDrain = [&] {
                if (row.atTurn && !turned) {
                    row.atTurn(path);
                    before = TakeFingerprint(path);
                }
                turned = true;
                return true;
            };
            const std::uint64_t readBefore = BytesReadSoFar();
            try {
                DatePictures(sandbox.session);
            } catch (const FileError &error) {
                ADD_FAILURE() << "the pass ended: " << error.Message();
                continue;
            }
            // Never the whole of a large file: at most the leading segments' cap of the reader.
            EXPECT_LE(BytesReadSoFar() - readBefore, kMostBytesRead);

            const auto messages = sandbox.Messages();
            ASSERT_EQ(messages.size(), 7u) << ::testing::PrintToString(messages);
            EXPECT_TRUE(Matches(row, path, messages[3])) << messages[3];
            const bool dated = row.outcome == Outcome::Dated;
            EXPECT_EQ(messages[5],
                      "Digital pictures dated successfully: " + std::to_string(dated ? 3 : 2));
            EXPECT_EQ(messages[6], "Digital pictures dated unsuccessfully: 0");
            EXPECT_EQ(TakeFingerprint(dated ? dir / kDatedName : path), before);
        }
    }
}

TEST(AHostileFile, thatIsABrokenOrCraftedPictureEndsInOneDefinedLineAndThePassGoesOn)
{
    PassOver(kBrokenPictures);
}

TEST(AHostileFile, thatIsNoRegularFileIsReportedUnreadableAndNeverOpenedForWriting)
{
    PassOver(kNoRegularFiles);
}

TEST(AHostileFile, changedBeforeItsTurnEndsAsItIsAtItsTurn)
{
    PassOver(kChangedAtTheirTurn);
}

// A picture made read-only by someone else while the pass runs: without an adjustment it is
// dated like any other; with one it cannot be shifted, and that ends the pass.
TEST(AHostileFile, madeReadOnlyDuringThePassEndsThePassOnlyUnderAnAdjustment)
{
    for (int adjustment : {0, 2}) {
        SCOPED_TRACE("adjustment " + std::to_string(adjustment));
        TempDir dir;
        ASSERT_EQ(chmod(dir.Path().c_str(), 0777), 0);
        for (const char *name : {"a.jpg", "x.jpg", "z.jpg"}) {
            WriteJpegWithExif(dir / name, {{"Exif.Photo.DateTimeOriginal", kDate},
                                           {"Exif.Photo.DateTimeDigitized", kDate}});
            ASSERT_EQ(chmod((dir / name).c_str(), 0644), 0);
            // Nobody's own, so that nobody may date it and make it read-only.
            const passwd *nobody = getpwnam("nobody");
            ASSERT_NE(nobody, nullptr);
            ASSERT_EQ(chown((dir / name).c_str(), nobody->pw_uid, nobody->pw_gid), 0);
        }
        const std::string locked = dir / "x.jpg";
        const std::string bytes = ReadBytes(locked);
        // Root may write anything: the pass runs as a user.
        const int outcome = RunAsNobody([&] {
            EngineSandbox sandbox;
            sandbox.timeAdjust = adjustment;
            sandbox.front.sourceText = dir.Path().string();
            RetrieveFileList(sandbox.session);
            sandbox.front.onDrain = [&] {
                chmod(locked.c_str(), 0444);
                return true;
            };
            try {
                DatePictures(sandbox.session);
            } catch (const FileError &error) {
                return error.Message() == "Access to " + locked + " was denied." ? 10 : 11;
            }
            return sandbox.state.datedUnsuccessfully == 2 ? 20 : 21;
        });
        // Without an adjustment the three share a date: the first takes it, the others are
        // refused; with one, the pass stops before touching the locked picture.
        EXPECT_EQ(outcome, adjustment == 0 ? 20 : 10);
        EXPECT_EQ(ReadBytes(locked), bytes);
        EXPECT_TRUE(fs::exists(dir / "z.jpg"));
    }
}

} // namespace
