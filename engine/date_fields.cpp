// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "date_fields.h"

#include "run_log.h"

#include <cstdio>

namespace kronvik {

namespace {

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

int TwoDigits(const char *text)
{
    return (text[0] - '0') * 10 + (text[1] - '0');
}

// Appends `value`, not negative, with zeros before it up to `width` digits, as "%0<width>d" does.
void AppendPadded(std::string &text, int value, std::size_t width)
{
    char digits[10];
    std::size_t count = 0;
    auto rest = static_cast<unsigned>(value);
    do {
        digits[count++] = static_cast<char>('0' + rest % 10);
        rest /= 10;
    } while (rest != 0);
    if (width > count)
        text.append(width - count, '0');
    while (count > 0)
        text += digits[--count];
}

} // namespace

int ScanDateFields(const char *text, char dateSeparator, char timeSeparator, DateFields &fields)
{
    fields = DateFields{};
    // "YYYY:MM:DD HH:MM:SS" and nothing that sscanf would read as more of its last number.
    constexpr int kDigitsAt[] = {0, 1, 2, 3, 5, 6, 8, 9, 11, 12, 14, 15, 17, 18};
    bool direct = text[0] != '\0';
    for (int at = 0; direct && at < 19; ++at)
        direct = text[at] != '\0';
    if (direct) {
        for (const int at : kDigitsAt)
            direct = direct && IsDigit(text[at]);
        direct = direct && text[4] == dateSeparator && text[7] == dateSeparator && text[10] == ' '
                 && text[13] == timeSeparator && text[16] == timeSeparator && !IsDigit(text[19]);
    }
    if (direct) {
        fields.year = static_cast<std::uint16_t>(TwoDigits(text) * 100 + TwoDigits(text + 2));
        fields.month = static_cast<std::uint16_t>(TwoDigits(text + 5));
        fields.day = static_cast<std::uint16_t>(TwoDigits(text + 8));
        fields.hour = static_cast<std::uint16_t>(TwoDigits(text + 11));
        fields.minute = static_cast<std::uint16_t>(TwoDigits(text + 14));
        fields.second = static_cast<std::uint16_t>(TwoDigits(text + 17));
        return 6;
    }
    const char format[] = {'%', 'd', dateSeparator, '%', 'd', dateSeparator, '%', 'd', ' ',
                           '%', 'd', timeSeparator, '%', 'd', timeSeparator, '%', 'd', '\0'};
    int values[6] = {};
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    const int scanned = std::sscanf(text, format, &values[0], &values[1], &values[2], &values[3],
                                    &values[4], &values[5]);
#pragma GCC diagnostic pop
    std::uint16_t *targets[6] = {&fields.year, &fields.month,  &fields.day,
                                 &fields.hour, &fields.minute, &fields.second};
    for (int i = 0; i < 6; ++i)
        *targets[i] = static_cast<std::uint16_t>(values[i]);
    return scanned;
}

std::string PictureFileName(const CalendarTime &date)
{
    if (date.year < 0 || date.month < 0 || date.day < 0 || date.hour < 0 || date.minute < 0
        || date.second < 0)
        return FormatText("%04d-%02d-%02d %02d.%02d.%02d.JPG", date.year, date.month, date.day,
                          date.hour, date.minute, date.second);
    struct Field
    {
        int value;
        std::size_t width;
        char after;
    };
    const Field fields[] = {{date.year, 4, '-'}, {date.month, 2, '-'},  {date.day, 2, ' '},
                            {date.hour, 2, '.'}, {date.minute, 2, '.'}, {date.second, 2, '.'}};
    std::string name;
    name.reserve(23);
    for (const Field &field : fields) {
        AppendPadded(name, field.value, field.width);
        name += field.after;
    }
    name += "JPG";
    return name;
}

} // namespace kronvik
