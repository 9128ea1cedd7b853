// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "jpeg_head.h"
#include "memory_source.h"

#include <gtest/gtest.h>

#include <string>

using kronvik::JpegHead;

namespace {

// A segment: FF, the marker, the big-endian length (which counts itself) and `payload` bytes.
std::string Segment(unsigned char marker, std::size_t payload, long claimed = -1)
{
    const std::size_t length = claimed >= 0 ? static_cast<std::size_t>(claimed) : payload + 2;
    std::string bytes = {'\xff', static_cast<char>(marker), static_cast<char>(length >> 8),
                         static_cast<char>(length & 0xff)};
    return bytes + std::string(payload, 'x');
}

const std::string kStart = "\xff\xd8";
const std::string kScanData(100000, '\x55');

struct Row
{
    const char *name;
    std::string bytes;
    std::size_t kept; // the bytes handed to the parser
    std::size_t mostRead; // the bytes read from the file, at most
};

TEST(AJpegHead, keepsTheLeadingSegmentsAndReadsLittleMore)
{
    const std::string app1 = Segment(0xe1, 6000);
    const std::string tables = Segment(0xdb, 65) + Segment(0xc0, 15) + Segment(0xc4, 30);
    const std::string scan = Segment(0xda, 10);
    const std::string camera = kStart + app1 + tables + scan;
    const std::string fill = kStart + "\xff\xff\xff" + Segment(0xe0, 14) + "junk" + scan;
    const Row rows[] = {
            {"a camera picture: its segments, not its scan data", camera + kScanData, camera.size(),
             camera.size() + JpegHead::kFirstRead},
            {"fill bytes and stray bytes between segments", fill + kScanData, fill.size(),
             JpegHead::kFirstRead},
            {"a segment of length 0 ends the walk after its length",
             kStart + Segment(0xe1, 0, 0) + std::string("\0\0", 2) + kScanData, 6,
             JpegHead::kFirstRead},
            {"a segment of length 1 ends it too", kStart + Segment(0xe1, 0, 1) + kScanData, 6,
             JpegHead::kFirstRead},
            {"APP1 claiming 64 KiB in a 1 KiB file keeps the whole file",
             kStart + Segment(0xe1, 1018, 0xffff), 1024, 1024},
            {"a length past the end keeps the whole file", kStart + Segment(0xe1, 3000, 9000), 3006,
             3006},
            {"the end of the picture before any scan", kStart + Segment(0xe0, 14) + "\xff\xd9", 22,
             22},
            {"restart markers carry no length", kStart + "\xff\xd0" + scan + kScanData, 18,
             JpegHead::kFirstRead},
            {"a scan header cut short",
             kStart + Segment(0xe0, 14) + std::string("\xff\xda\x00\x0c\x01", 5), 25, 25},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        MemorySource file(row.bytes);
        JpegHead head(file);
        ASSERT_TRUE(head.StartsAsJpeg() || row.bytes.size() < 3);
        head.KeepLeadingSegments();
        EXPECT_EQ(head.Size(), row.kept);
        EXPECT_TRUE(std::string(reinterpret_cast<const char *>(head.Data()), head.Size())
                    == row.bytes.substr(0, row.kept));
        EXPECT_LE(head.BytesRead(), row.mostRead);
    }
}

TEST(AJpegHead, readsTheSegmentsAfterTheFirstReadToTheEndOfTheirPage)
{
    // After the first 4 KiB, the rest of a 20 KiB APP1, the tables after it and the scan header
    // come in one read, which stops at the end of the page the scan header ends in.
    const std::string head = kStart + Segment(0xe1, 20000) + Segment(0xdb, 65) + Segment(0xc0, 15)
                             + Segment(0xc4, 30) + Segment(0xda, 10);
    const std::string picture = head + kScanData;
    MemorySource file(picture);
    JpegHead bytes(file);
    bytes.KeepLeadingSegments();
    EXPECT_EQ(bytes.Size(), head.size());
    EXPECT_EQ(bytes.Reads(), 2u);
    EXPECT_EQ(bytes.BytesRead(), (head.size() + 4095) / 4096 * 4096);
}

TEST(AJpegHead, isNotAJpegWithoutItsStartBytes)
{
    const struct
    {
        const char *name;
        std::string bytes;
        bool jpeg;
    } rows[] = {
            {"empty", "", false},
            {"SOI alone", "\xff\xd8", false},
            {"SOI and a marker", "\xff\xd8\xff", true},
            {"PNG", "\x89PNG\r\n", false},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        MemorySource file(row.bytes);
        EXPECT_EQ(JpegHead(file).StartsAsJpeg(), row.jpeg);
    }
}

} // namespace

namespace {

struct UnreadRow
{
    const char *name;
    std::string bytes;
    std::size_t unread; // the segments left unread
};

TEST(AJpegHead, leavesLargeSkippedSegmentsUnreadAndKeepsTheSameBytes)
{
    const std::string exif = Segment(0xe1, 30000);
    std::string exifId = exif;
    exifId.replace(4, 6, std::string("Exif\0\0", 6));
    const std::string icc = Segment(0xe2, 65000), small = Segment(0xe2, 16000);
    const std::string scan = Segment(0xda, 10);
    const UnreadRow rows[] = {
            {"ICC chunks and other APPn segments",
             kStart + exifId + icc + icc + exif + scan + kScanData, 3},
            {"not the Exif segment, Photoshop segments, comments or small segments",
             kStart + exifId + Segment(0xed, 30000) + Segment(0xfe, 30000) + small + scan
                     + kScanData,
             0},
            {"none after a marker the parser reads no length for",
             kStart + icc + Segment(0xf0, 10) + icc + scan + kScanData, 1},
            {"a segment the file ends in", kStart + icc + Segment(0xe2, 65000).substr(0, 40000), 1},
            {"a segment the file ends just after", kStart + icc + icc + "\xff", 1},
    };
    for (const UnreadRow &row : rows) {
        SCOPED_TRACE(row.name);
        MemorySource whole(row.bytes), leaving(row.bytes);
        JpegHead all(whole), head(leaving);
        all.KeepLeadingSegments();
        ASSERT_TRUE(head.StartsAsJpeg());
        head.KeepLeadingSegments(true);
        EXPECT_EQ(head.LeftUnread().size(), row.unread);
        EXPECT_EQ(head.Size(), all.Size());
        std::size_t unread = 0;
        for (const kronvik::ByteRange &range : head.LeftUnread()) {
            unread += range.size;
            EXPECT_GE(range.at, 4 + JpegHead::kReadOfUnreadSegment);
        }
        EXPECT_EQ(head.BytesRead() + unread, all.BytesRead());
        head.ReadUnread();
        EXPECT_TRUE(head.LeftUnread().empty());
        EXPECT_TRUE(std::string(reinterpret_cast<const char *>(head.Data()), head.Size())
                    == std::string(reinterpret_cast<const char *>(all.Data()), all.Size()));
    }
}

} // namespace
