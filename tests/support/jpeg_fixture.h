// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace kronvik::test {

// The bytes of an 8 x 8 grey baseline JPEG without any metadata (283 bytes).
std::string SmallJpeg();

using ExifTags = std::vector<std::pair<std::string, std::string>>;

// Writes a small JPEG at `path` whose EXIF data holds the given ASCII tags, written with Exiv2,
// e.g. {{"Exif.Photo.DateTimeDigitized", "2005:07:14 09:03:27"}}. With no tags the file has no
// EXIF data at all.
void WriteJpegWithExif(const std::string &path, const ExifTags &tags);

// The bytes of an EXIF date string as it sits in a file: 19 characters and a NUL.
std::string DateString(const std::string &text);

} // namespace kronvik::test
