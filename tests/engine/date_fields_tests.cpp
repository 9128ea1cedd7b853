// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "date_fields.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

using namespace kronvik;

namespace {

struct Scanned
{
    int result;
    std::vector<std::uint16_t> fields;

    friend bool operator==(const Scanned &, const Scanned &) = default;
};

// What the C library makes of `text`: the reference the scan must equal.
Scanned ByTheLibrary(const std::string &text, const char *format)
{
    int values[6] = {};
    const int result = std::sscanf(text.c_str(), format, &values[0], &values[1], &values[2],
                                   &values[3], &values[4], &values[5]);
    Scanned scanned{result, {}};
    for (const int value : values)
        scanned.fields.push_back(static_cast<std::uint16_t>(value));
    return scanned;
}

Scanned ByTheScan(const std::string &text, char date, char time)
{
    DateFields fields;
    const int result = ScanDateFields(text.c_str(), date, time, fields);
    return {result,
            {fields.year, fields.month, fields.day, fields.hour, fields.minute, fields.second}};
}

void ExpectSameAsTheLibrary(const std::string &text)
{
    EXPECT_EQ(ByTheScan(text, ':', ':'), ByTheLibrary(text, "%d:%d:%d %d:%d:%d"))
            << "EXIF date \"" << text << '"';
    EXPECT_EQ(ByTheScan(text, '-', '.'), ByTheLibrary(text, "%d-%d-%d %d.%d.%d"))
            << "file name \"" << text << '"';
}

TEST(ADateScan, readsEveryTextAsTheCLibraryDoes)
{
    for (const char *text : {"2005:07:14 09:03:27",
                             "2005-07-14 09.03.27.JPG",
                             "0000:00:00 00:00:00",
                             "9999:99:99 99:99:99",
                             "2005:07:14 09:03:271",
                             "2005:07:14 09:03:27 ",
                             "2005:07:14  09:03:27",
                             "2005:07:14\t09:03:27",
                             " 2005:07:14 09:03:27",
                             "+2005:07:14 09:03:27",
                             "-2005:07:14 09:03:27",
                             "2005:07:14 09:03",
                             "2005:7:14 9:3:27",
                             "20050:07:14 09:03:27",
                             "2005:07:14 09:03:2",
                             "2005:07:14 09:03:2x",
                             "2005-07-14 09.03.27",
                             "2005-07-14 09-03-27.JPG",
                             "99999999999:07:14 09:03:27",
                             "",
                             "    ",
                             "IMG_0001.JPG",
                             ":07:14 09:03:27",
                             "2005:07:14 09:03:-1",
                             "2005:07:14T09:03:27"})
        ExpectSameAsTheLibrary(text);

    // Texts near the layout cameras write, with characters changed at random.
    std::mt19937 random(7);
    const std::string alphabet = "0123456789:-. +\tx";
    for (int i = 0; i < 20000; ++i) {
        std::string text = i % 2 == 0 ? "2005:07:14 09:03:27" : "2005-07-14 09.03.27.JPG";
        for (int changes = static_cast<int>(random() % 4); changes > 0; --changes)
            text[random() % text.size()] = alphabet[random() % alphabet.size()];
        if (random() % 5 == 0)
            text.resize(random() % (text.size() + 1));
        ExpectSameAsTheLibrary(text);
    }
}

TEST(APictureFileName, isWhatPrintfMakesOfTheDate)
{
    for (const CalendarTime date : std::vector<CalendarTime>{{2005, 7, 14, 9, 3, 27},
                                                             {0, 0, 0, 0, 0, 0},
                                                             {9, 1, 2, 3, 4, 5},
                                                             {65535, 65535, 100, 99, 10, 60},
                                                             {INT_MAX, 12, 31, 23, 59, 59},
                                                             {-1, 1, 1, 0, 0, 0},
                                                             {2005, -7, 14, 9, 3, INT_MIN}}) {
        char expected[128];
        std::snprintf(expected, sizeof expected, "%04d-%02d-%02d %02d.%02d.%02d.JPG", date.year,
                      date.month, date.day, date.hour, date.minute, date.second);
        EXPECT_EQ(PictureFileName(date), expected);
    }
}

} // namespace
