// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
// Writes small camera pictures for the file-system script: make_pictures PATH DATE [PATH DATE]...
// Each picture holds DATE ("2005:07:14 09:03:27") as its capture and digitizing time, stored back
// to back as a camera does, and its own file name as its description, so that no two pictures
// have the same bytes.
#include "jpeg_fixture.h"

#include <cstdio>
#include <exception>
#include <filesystem>

int main(int argc, char **argv)
{
    if (argc < 3 || argc % 2 != 1) {
        std::fprintf(stderr, "usage: %s PATH DATE [PATH DATE]...\n", argv[0]);
        return 2;
    }
    try {
        for (int i = 1; i < argc; i += 2) {
            const std::string path = argv[i], date = argv[i + 1];
            kronvik::test::WriteJpegWithExif(path,
                                             {{"Exif.Image.ImageDescription",
                                               std::filesystem::path(path).filename().string()},
                                              {"Exif.Photo.DateTimeOriginal", date},
                                              {"Exif.Photo.DateTimeDigitized", date}});
        }
    } catch (const std::exception &error) {
        std::fprintf(stderr, "%s: %s\n", argv[0], error.what());
        return 1;
    }
    return 0;
}
