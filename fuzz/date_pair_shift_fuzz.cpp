// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
// The search of a picture's leading bytes for its date pair and the shift that rewrites it: first
// in memory, then through a real file, whose bytes must change at the pair alone.
#include "exif_time_shift.h"
#include "file_error.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <string_view>
#include <unistd.h>

namespace {

std::string g_path;

std::string ReadWhole(const std::string &path)
{
    std::string bytes;
    const int fd = open(path.c_str(), O_RDONLY);
    if (fd < 0)
        std::abort();
    char buffer[65536];
    ssize_t got;
    while ((got = read(fd, buffer, sizeof buffer)) > 0)
        bytes.append(buffer, static_cast<std::size_t>(got));
    close(fd);
    return bytes;
}

void WriteWhole(const std::string &path, std::string_view bytes)
{
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0 || write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()))
        std::abort();
    close(fd);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    // One scratch file for the run, removed when the run ends.
    const char *tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/kronvik-fuzz-XXXXXX";
    if (!mkdtemp(pattern.data()))
        std::abort();
    g_path = pattern + "/picture.jpg";
    static const std::string folder = pattern;
    std::atexit([] {
        unlink(g_path.c_str());
        rmdir(folder.c_str());
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    // The whole input is the file; its last byte gives the hours (-128 to 127), so that camera
    // files serve as seeds as they are. The calendar arithmetic alone takes any int, as the
    // command line does: the last four bytes.
    if (size < 4)
        return 0;
    const int hours = static_cast<std::int8_t>(data[size - 1]);
    std::int32_t anyHours;
    std::memcpy(&anyHours, data + size - 4, 4);
    const std::string_view head(reinterpret_cast<const char *>(data), size);

    const std::optional<std::size_t> offset = kronvik::FindDatePair(head, hours);
    std::string expected(head);
    if (offset) {
        if (*offset >= kronvik::kShiftWindowOffsets || *offset + 40 > head.size())
            std::abort();
        const std::string_view first = head.substr(*offset, 20),
                               second = head.substr(*offset + 20, 20);
        if (first != second || first[19] != '\0')
            std::abort();
        const std::optional<std::string> moved =
                kronvik::ShiftDateString(first.substr(0, 19), hours);
        if (!moved || moved->size() != 19)
            std::abort();
        if (head.substr(0, 3) == "\xFF\xD8\xFF")
            for (int i = 0; i < 2; ++i)
                expected.replace(*offset + 20 * i, 20, *moved + '\0');
    }
    // Any text the shift is given: a moved date is a valid date again, or nothing.
    if (head.size() >= 19) {
        const std::optional<std::string> moved =
                kronvik::ShiftDateString(head.substr(0, 19), anyHours);
        if (moved && moved->size() != 19)
            std::abort();
    }

    WriteWhole(g_path, head);
    try {
        kronvik::ShiftExifTime(g_path, hours);
    } catch (const kronvik::FileError &) {
        std::abort(); // a scratch file that is writable must never end in a file error
    }
    if (ReadWhole(g_path) != expected)
        std::abort();
    return 0;
}
