// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "registry_hive_text.h"

#include <algorithm>
#include <cstdio>

namespace kronvik {

namespace {

char FoldCase(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

std::string TrimBlanks(const std::string &text)
{
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && IsBlank(text[begin]))
        ++begin;
    while (end > begin && IsBlank(text[end - 1]))
        --end;
    return text.substr(begin, end - begin);
}

int HexDigitValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    c = FoldCase(c);
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

bool ParseHexNumber(const std::string &text, std::size_t maxDigits, std::uint32_t &number)
{
    if (text.empty() || text.size() > maxDigits)
        return false;
    number = 0;
    for (char c : text) {
        int digit = HexDigitValue(c);
        if (digit < 0)
            return false;
        number = number * 16 + static_cast<std::uint32_t>(digit);
    }
    return true;
}

// Reads a quoted text starting at line[pos] == '"'. "\\" and "\"" are escapes; a backslash
// before anything else is kept as it is, so a path typed by hand with single backslashes survives.
bool ParseQuoted(const std::string &line, std::size_t &pos, std::string &text)
{
    text.clear();
    for (++pos; pos < line.size(); ++pos) {
        char c = line[pos];
        if (c == '"') {
            ++pos;
            return true;
        }
        if (c == '\\' && pos + 1 < line.size() && (line[pos + 1] == '\\' || line[pos + 1] == '"'))
            c = line[++pos];
        text += c;
    }
    return false;
}

bool ParseHexBytes(const std::string &list, std::string &bytes)
{
    bytes.clear();
    std::string trimmed = TrimBlanks(list);
    if (trimmed.empty())
        return true;
    std::size_t start = 0;
    while (true) {
        std::size_t comma = trimmed.find(',', start);
        std::string token = TrimBlanks(trimmed.substr(start, comma - start));
        std::uint32_t byte = 0;
        bool last = comma == std::string::npos;
        // regedit never ends a list with a comma, but a hand edit may.
        if (!(last && token.empty() && start > 0)) {
            if (!ParseHexNumber(token, 2, byte))
                return false;
            bytes += static_cast<char>(byte);
        }
        if (last)
            return true;
        start = comma + 1;
    }
}

// Parses the data part of a value line; `lines`/`index` let hex lists continue on the next lines.
bool ParseValueData(const std::vector<std::string> &lines, std::size_t &index, std::string data,
                    RegistryValue &value)
{
    if (!data.empty() && data[0] == '"') {
        std::size_t pos = 0;
        if (!ParseQuoted(data, pos, value.data) || !TrimBlanks(data.substr(pos)).empty())
            return false;
        value.type = kRegSz;
        value.data += '\0';
        return true;
    }
    if (data.rfind("dword:", 0) == 0) {
        std::uint32_t number = 0;
        if (!ParseHexNumber(TrimBlanks(data.substr(6)), 8, number))
            return false;
        value.type = kRegDword;
        value.data.clear();
        for (int i = 0; i < 4; ++i)
            value.data += static_cast<char>((number >> (8 * i)) & 0xFF);
        return true;
    }
    std::size_t listStart = 0;
    if (data.rfind("hex:", 0) == 0) {
        value.type = kRegBinary;
        listStart = 4;
    } else if (data.rfind("hex(", 0) == 0) {
        std::size_t close = data.find("):", 4);
        if (close == std::string::npos || !ParseHexNumber(data.substr(4, close - 4), 8, value.type))
            return false;
        listStart = close + 2;
    } else {
        return false;
    }
    std::string list = data.substr(listStart);
    while (!list.empty() && list.back() == '\\') {
        list.pop_back();
        // A continuation onto a blank line or past the end is a list cut short.
        if (++index >= lines.size() || TrimBlanks(lines[index]).empty())
            return false;
        list += TrimBlanks(lines[index]);
    }
    return ParseHexBytes(list, value.data);
}

std::string QuoteName(const std::string &text)
{
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '\\' || c == '"')
            quoted += '\\';
        quoted += c;
    }
    return quoted + '"';
}

bool IsOneLineText(const std::string &data)
{
    if (data.empty() || data.back() != '\0')
        return false;
    return std::none_of(data.begin(), data.end() - 1,
                        [](char c) { return c == '\0' || c == '\n' || c == '\r'; });
}

std::string FormatValueData(const RegistryValue &value, std::size_t column)
{
    if (value.type == kRegSz && IsOneLineText(value.data))
        return QuoteName(value.data.substr(0, value.data.size() - 1));
    char buffer[32];
    if (value.type == kRegDword && value.data.size() == 4) {
        std::uint32_t number = 0;
        for (int i = 3; i >= 0; --i)
            number = (number << 8) | static_cast<unsigned char>(value.data[i]);
        std::snprintf(buffer, sizeof buffer, "dword:%08x", number);
        return buffer;
    }
    std::snprintf(buffer, sizeof buffer, "hex(%x):", value.type);
    std::string text = buffer;
    column += text.size();
    // Lines wrap before 80 columns as regedit wraps them, continued with a backslash.
    for (std::size_t i = 0; i < value.data.size(); ++i) {
        std::snprintf(buffer, sizeof buffer, "%02x", static_cast<unsigned char>(value.data[i]));
        text += buffer;
        column += 2;
        if (i + 1 < value.data.size()) {
            text += ',';
            ++column;
            if (column >= 76) {
                text += "\\\n  ";
                column = 2;
            }
        }
    }
    return text;
}

} // namespace

bool SameRegistryName(const std::string &a, const std::string &b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return FoldCase(x) == FoldCase(y);
           });
}

RegistryKeyEntry *FindRegistryKey(RegistryHiveContents &contents, const std::string &path)
{
    for (RegistryKeyEntry &key : contents.keys) {
        if (SameRegistryName(key.path, path))
            return &key;
    }
    return nullptr;
}

RegistryValue *FindRegistryValue(RegistryKeyEntry &key, const std::string &name)
{
    for (RegistryValue &value : key.values) {
        if (SameRegistryName(value.name, name))
            return &value;
    }
    return nullptr;
}

bool RegistryKeyExists(const RegistryHiveContents &contents, const std::string &path)
{
    return std::any_of(contents.keys.begin(), contents.keys.end(),
                       [&](const RegistryKeyEntry &key) {
                           return SameRegistryName(key.path, path)
                                  || (key.path.size() > path.size() && key.path[path.size()] == '\\'
                                      && SameRegistryName(key.path.substr(0, path.size()), path));
                       });
}

bool IsWritableRegistryName(const std::string &name)
{
    return name.find_first_of(std::string("\n\r\0", 3)) == std::string::npos;
}

bool ParseRegistryHiveText(const std::string &text, RegistryHiveContents &contents)
{
    contents.keys.clear();
    std::string body = text.rfind("\xEF\xBB\xBF", 0) == 0 ? text.substr(3) : text;
    std::vector<std::string> lines;
    for (std::size_t start = 0; start <= body.size();) {
        std::size_t end = body.find('\n', start);
        if (end == std::string::npos)
            end = body.size();
        std::string line = body.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
        start = end + 1;
    }

    RegistryHiveContents parsed;
    RegistryKeyEntry *current = nullptr;
    bool sawHeader = false;
    for (std::size_t index = 0; index < lines.size(); ++index) {
        std::string line = TrimBlanks(lines[index]);
        if (line.empty() || line[0] == ';')
            continue;
        if (!sawHeader) {
            if (line != "REGEDIT4")
                return false;
            sawHeader = true;
            continue;
        }
        if (line[0] == '[') {
            if (line.size() < 3 || line.back() != ']')
                return false;
            std::string path = line.substr(1, line.size() - 2);
            current = FindRegistryKey(parsed, path);
            if (!current) {
                parsed.keys.push_back(RegistryKeyEntry{path, {}});
                current = &parsed.keys.back();
            }
            continue;
        }
        if (!current || (line[0] != '"' && line[0] != '@'))
            return false;
        RegistryValue value;
        std::size_t pos = 1;
        if (line[0] == '"') {
            pos = 0;
            if (!ParseQuoted(line, pos, value.name))
                return false;
        }
        while (pos < line.size() && IsBlank(line[pos]))
            ++pos;
        if (pos >= line.size() || line[pos] != '=')
            return false;
        if (!ParseValueData(lines, index, TrimBlanks(line.substr(pos + 1)), value))
            return false;
        if (RegistryValue *existing = FindRegistryValue(*current, value.name))
            *existing = value;
        else
            current->values.push_back(value);
    }
    contents = std::move(parsed);
    return true;
}

std::string FormatRegistryHiveText(const RegistryHiveContents &contents)
{
    std::string text = "REGEDIT4\n";
    for (const RegistryKeyEntry &key : contents.keys) {
        text += "\n[" + key.path + "]\n";
        for (const RegistryValue &value : key.values) {
            std::string name = value.name.empty() ? "@" : QuoteName(value.name);
            text += name + "=" + FormatValueData(value, name.size() + 1) + "\n";
        }
    }
    return text;
}

} // namespace kronvik
