// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
// What is scanned from text a user or a camera wrote: the source folder list, a picture's name
// read as a date, the EXIF entries searched for the date text and that text read as six numbers.
#include "exif_date_reader.h"
#include "picture_plan.h"
#include "picture_scan.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace {

// The input's fields, split at NUL bytes.
std::vector<std::string_view> Fields(const std::uint8_t *data, std::size_t size)
{
    std::vector<std::string_view> fields;
    const std::string_view text(reinterpret_cast<const char *>(data), size);
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = text.find('\0', start);
        fields.push_back(text.substr(start, end == std::string_view::npos ? end : end - start));
        if (end == std::string_view::npos)
            return fields;
        start = end + 1;
    }
}

bool EndsWith(const std::string &text, std::string_view end)
{
    return text.size() >= end.size()
           && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    // path NUL date-text NUL key NUL value NUL key NUL value ...
    const std::vector<std::string_view> fields = Fields(data, size);
    const std::string path(fields[0]);

    std::size_t listed = 0;
    for (const std::string &directory : kronvik::SplitSourceList(path)) {
        if (directory.empty() || directory.find(';') != std::string::npos)
            std::abort();
        listed += directory.size();
    }
    if (listed > path.size())
        std::abort();

    kronvik::DateTextSearch search;
    for (std::size_t i = 2; i + 1 < fields.size(); i += 2) {
        const std::string_view value = fields[i + 1];
        if (!search.Offer(fields[i], reinterpret_cast<const unsigned char *>(value.data()),
                          value.size()))
            break;
    }
    if (std::string_view(search.Text()).size() > 19)
        std::abort();

    kronvik::PictureRead read;
    read.path = path;
    read.lastWriteKnown = true;
    read.lastWrite = {2005, 7, 14, 9, 3, 27};
    read.twoSecondTimes = kronvik::NeedsTwoSecondTest(path, read.lastWrite);
    read.exif.outcome = kronvik::ExifDateResult::Outcome::Searched;
    read.exif.dateText = fields.size() > 1 ? std::string(fields[1]) : std::string(search.Text());
    const kronvik::PicturePlan plan =
            kronvik::PlanPicture(read, kronvik::PassRecord{}, "", 0, {2026, 12, 8, 14, 0, 0});
    if (plan.outcome == kronvik::PictureOutcome::Dated) {
        // The new name stays in the picture's own folder and is a file name of its own.
        if (plan.newName.find('/') != std::string::npos || !EndsWith(plan.newName, ".JPG")
            || plan.newPath != plan.directory + plan.newName)
            std::abort();
        if (plan.rename && plan.rename->from != path)
            std::abort();
        if (plan.time && !kronvik::IsValidCalendarTime(plan.time->time))
            std::abort();
    }
    return 0;
}
