// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
// Writes the generated seeds of each fuzz target into the folder given: pictures written with
// Exiv2, names and date texts, hive texts. The camera files of the shared corpus are read in place
// by the runs; nothing of them is copied here.
#include "jpeg_fixture.h"
#include "jpeg_segments.h"
#include "temp_dir.h"

#include <iostream>
#include <string>
#include <sys/stat.h>
#include <vector>

using kronvik::test::ExifTags;

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::cerr << "usage: make_seeds FOLDER\n";
        return 2;
    }
    const std::string root = argv[1];
    for (const char *target : {"", "/jpeg_date_read", "/date_read_copy", "/date_pair_shift",
                               "/names_and_dates", "/registry_hive"})
        mkdir((root + target).c_str(), 0755);

    const std::vector<ExifTags> pictures = {
            {},
            {{"Exif.Photo.DateTimeDigitized", "2005:07:14 09:03:27"}},
            {{"Exif.Image.DateTime", "2004:12:19 21:11:08"},
             {"Exif.Photo.DateTimeOriginal", "2004:12:19 21:11:08"}},
            {{"Exif.Photo.DateTimeOriginal", "2003:07:27 16:22:28"},
             {"Exif.Photo.DateTimeDigitized", "2003:07:27 16:22:28"}},
            {{"Exif.Photo.DateTimeDigitized", "2005:13:40 25:61:61"}},
            {{"Exif.Image.DateTime", "9999:12:31 23:59:59"},
             {"Exif.Photo.DateTimeDigitized", "9999:12:31 23:59:59"}},
            {{"Exif.Image.Make", "Camera"}, {"Exif.Photo.DateTimeDigitized", "garbage date text"}},
    };
    for (std::size_t i = 0; i < pictures.size(); ++i) {
        const std::string name = "/picture-" + std::to_string(i) + ".jpg";
        const std::string path = root + "/jpeg_date_read" + name;
        kronvik::test::WriteJpegWithExif(path, pictures[i]);
        // The shift's hours come from the file's last byte: the end marker's D9 is -39 hours,
        // and a byte more asks for +9.
        const std::string bytes = kronvik::test::ReadBytes(path);
        kronvik::test::WriteBytes(root + "/date_pair_shift" + name, bytes);
        kronvik::test::WriteBytes(root + "/date_pair_shift/plus9-" + std::to_string(i) + ".jpg",
                                  bytes + '\x09');
    }

    // Camera-like pictures for the date read's copy: a maker note Exiv2 decodes, in either byte
    // order, before or after the dates, with XMP before or after the EXIF segment.
    using namespace kronvik::test;
    for (const bool little : {false, true}) {
        for (const bool makerNoteFirst : {false, true}) {
            std::vector<TiffEntry> exif = {
                    AsciiEntry(kTagDateTimeOriginal, "2005:07:14 09:03:27"),
                    AsciiEntry(kTagDateTimeDigitized, "2005:07:14 09:03:28")};
            exif.insert(makerNoteFirst ? exif.begin() : exif.end(), CanonMakerNote(little, 12));
            TiffEntry pointer;
            pointer.tag = kTagExifIfd;
            pointer.pointsToIfd = 1;
            const std::string app1 = Segment(
                    0xe1,
                    ExifPayload(TiffBytes(
                            {TiffIfd{{AsciiEntry(kTagMake, "Canon"),
                                      AsciiEntry(kTagDateTime, "2006:01:01 00:00:00"), pointer}},
                             TiffIfd{exif}},
                            little)));
            const std::string name = std::string("/date_read_copy/camera-") + (little ? "le" : "be")
                                     + (makerNoteFirst ? "-note-first" : "-note-last");
            WriteBytes(root + name + ".jpg", JpegWithSegments(app1));
            WriteBytes(root + name + "-xmp-before.jpg", JpegWithSegments(XmpSegment() + app1));
            WriteBytes(root + name + "-xmp-after.jpg", JpegWithSegments(app1 + XmpSegment()));
        }
    }

    const std::vector<std::string> names = {
            std::string("IMG_0001.JPG\0"
                        "2005:07:14 09:03:27",
                        32),
            std::string("Camera/2005/2005-07-14 09.03.27.JPG\0"
                        "2005:07:14 09:03:27",
                        55),
            std::string("/a;b;;c/img.jpg\0"
                        "0000:00:00 00:00:00",
                        35),
            std::string("x.jpg\0\0Exif.Photo.DateTimeOriginal\0"
                        "2001:02:03 04:05:06\0"
                        "Exif.Image.DateTime\0"
                        "2002:03:04 05:06:07",
                        94),
            std::string("-1--1--1 -1.-1.-1.jpg\0"
                        "-1:-1:-1 -1:-1:-1",
                        40),
            std::string("d/65536-99999-1 0.0.0.JPG\0"
                        "2147483647:1:1 0:0:0",
                        46),
    };
    for (std::size_t i = 0; i < names.size(); ++i)
        kronvik::test::WriteBytes(root + "/names_and_dates/name-" + std::to_string(i), names[i]);

    const std::vector<std::string> hives = {
            "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Veltmark, Inc.\\Kronvik]\n"
            "\"Recursive\"=dword:00000001\n\"Source\"=\"C:\\\\Pictures;D:\\\\Camera\"\n"
            "\"Logs\"=hex(2):43,00,3a,00\n@=\"default\"\n",
            "; a hand edit\r\nREGEDIT4\r\n\r\n; the window\r\n[HKEY_CURRENT_USER\\Software\\A]\r\n"
            "\"Blob\"=hex:00,01,02,\\\r\n  03,04\r\n; at the end\r\n",
            "REGEDIT4\n[HKEY_CURRENT_USER\\A]\n\"x\"=\"1\"\n[hkey_current_user\\a]\n\"X\"=\"2\"\n",
            "",
    };
    for (std::size_t i = 0; i < hives.size(); ++i)
        kronvik::test::WriteBytes(root + "/registry_hive/hive-" + std::to_string(i) + ".reg",
                                  hives[i]);
    return 0;
}
