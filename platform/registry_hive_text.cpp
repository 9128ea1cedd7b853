// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "registry_hive_text.h"

#include <algorithm>
#include <array>
#include <cstdio>

namespace kronvik {

namespace {

char FoldCase(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string Folded(std::string_view name)
{
    std::string folded(name);
    for (char &c : folded)
        c = FoldCase(c);
    return folded;
}

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

std::string_view TrimBlanks(std::string_view text)
{
    while (!text.empty() && IsBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

bool StartsWith(std::string_view text, std::string_view prefix)
{
    return text.substr(0, prefix.size()) == prefix;
}

// The value of each character as a hex digit, -1 for any other.
constexpr std::array<signed char, 256> kHexDigitValues = [] {
    std::array<signed char, 256> values{};
    for (int c = 0; c < 256; ++c) {
        values[static_cast<std::size_t>(c)] =
                static_cast<signed char>(c >= '0' && c <= '9'   ? c - '0'
                                         : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                         : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                                : -1);
    }
    return values;
}();

int HexDigitValue(char c)
{
    return kHexDigitValues[static_cast<unsigned char>(c)];
}

bool ParseHexNumber(std::string_view text, std::size_t maxDigits, std::uint32_t &number)
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

// The lines of the text, one at a time, without their line ends (LF or CR LF). Text that ends
// with a line end has an empty last line, as the line-by-line reading of a file gives.
class LineReader
{
public:
    explicit LineReader(std::string_view text)
        : m_text(text)
    {
    }

    bool Next(std::string_view &line)
    {
        if (m_pos > m_text.size())
            return false;
        std::size_t end = m_text.find('\n', m_pos);
        if (end == std::string_view::npos)
            end = m_text.size();
        line = m_text.substr(m_pos, end - m_pos);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        m_pos = end + 1;
        return true;
    }

private:
    std::string_view m_text;
    std::size_t m_pos = 0;
};

// Reads a quoted text starting at line[pos] == '"'. "\\" and "\"" are escapes; a backslash
// before anything else is kept as it is, so a path typed by hand with single backslashes survives.
bool ParseQuoted(std::string_view line, std::size_t &pos, std::string &text)
{
    // A value's text may be megabytes long: the runs between escapes are taken whole.
    text.clear();
    for (++pos; pos < line.size();) {
        const std::size_t stop = std::min(line.find_first_of("\"\\", pos), line.size());
        text.append(line.substr(pos, stop - pos));
        pos = stop;
        if (pos == line.size())
            break;
        if (line[pos] == '"') {
            ++pos;
            return true;
        }
        if (pos + 1 < line.size() && (line[pos + 1] == '\\' || line[pos + 1] == '"'))
            ++pos;
        text += line[pos++];
    }
    return false;
}

// Reads a comma-separated list of bytes of one or two hex digits each, blanks allowed around
// them, given in pieces (the lines of a continued list) that read as one text. A list of
// megabytes is common (binary values), so the bytes are read in one sweep, into room made once.
bool ParseHexBytes(const std::vector<std::string_view> &pieces, std::string &bytes)
{
    std::size_t length = 0;
    for (std::string_view piece : pieces)
        length += piece.size();
    // Room for bytes as regedit writes them, two digits and a comma; more when they are shorter.
    bytes.resize(length / 3 + 1);
    std::size_t count = 0;
    bool expectByte = true; // at the start and after a comma
    int digits = 0; // of the byte being read
    bool closed = false; // a blank ended the byte being read
    for (std::string_view piece : pieces) {
        for (std::size_t i = 0; i < piece.size(); ++i) {
            // The form regedit writes, "xx,", read three characters at a time.
            if (expectByte && i + 2 < piece.size() && piece[i + 2] == ',') {
                const int high = HexDigitValue(piece[i]);
                const int low = HexDigitValue(piece[i + 1]);
                if ((high | low) >= 0) {
                    if (count == bytes.size())
                        bytes.resize(2 * count);
                    bytes[count++] = static_cast<char>(high * 16 + low);
                    i += 2;
                    continue;
                }
            }
            const char c = piece[i];
            if (IsBlank(c)) {
                closed = digits > 0;
                continue;
            }
            if (c == ',') {
                if (expectByte)
                    return false; // an empty byte: ",," or a leading comma
                expectByte = true;
                digits = 0;
                closed = false;
                continue;
            }
            const int digit = HexDigitValue(c);
            if (digit < 0)
                return false;
            if (expectByte) {
                if (count == bytes.size())
                    bytes.resize(2 * count);
                bytes[count++] = static_cast<char>(digit);
                expectByte = false;
                digits = 1;
                closed = false;
            } else if (digits == 1 && !closed) {
                bytes[count - 1] = static_cast<char>(
                        static_cast<unsigned char>(bytes[count - 1]) * 16 + digit);
                digits = 2;
            } else {
                return false; // three digits, or two bytes without a comma between them
            }
        }
    }
    // A list may end with a comma: regedit never writes one, but a hand edit may.
    bytes.resize(count);
    return true;
}

// Parses the data part of a value line (trimmed); hex lists may continue on the next lines.
bool ParseValueData(std::string_view data, LineReader &lines, RegistryValue &value)
{
    if (!data.empty() && data[0] == '"') {
        std::size_t pos = 0;
        if (!ParseQuoted(data, pos, value.data) || !TrimBlanks(data.substr(pos)).empty())
            return false;
        value.type = kRegSz;
        value.data += '\0';
        return true;
    }
    if (StartsWith(data, "dword:")) {
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
    if (StartsWith(data, "hex:")) {
        value.type = kRegBinary;
        listStart = 4;
    } else if (StartsWith(data, "hex(")) {
        const std::size_t close = data.find("):", 4);
        if (close == std::string_view::npos
            || !ParseHexNumber(data.substr(4, close - 4), 8, value.type))
            return false;
        listStart = close + 2;
    } else {
        return false;
    }
    std::vector<std::string_view> pieces{data.substr(listStart)};
    while (!pieces.back().empty() && pieces.back().back() == '\\') {
        pieces.back().remove_suffix(1);
        // A continuation onto a blank line or past the end is a list cut short.
        std::string_view next;
        if (!lines.Next(next) || TrimBlanks(next).empty())
            return false;
        pieces.push_back(TrimBlanks(next));
    }
    return ParseHexBytes(pieces, value.data);
}

void AppendQuoted(std::string &text, std::string_view name)
{
    text += '"';
    for (std::size_t pos = 0; pos < name.size();) {
        const std::size_t stop = std::min(name.find_first_of("\"\\", pos), name.size());
        text.append(name.substr(pos, stop - pos));
        if (stop < name.size()) {
            text += '\\';
            text += name[stop];
        }
        pos = stop + 1;
    }
    text += '"';
}

bool IsOneLineText(const std::string &data)
{
    if (data.empty() || data.back() != '\0')
        return false;
    return std::none_of(data.begin(), data.end() - 1,
                        [](char c) { return c == '\0' || c == '\n' || c == '\r'; });
}

void AppendValueData(std::string &text, const RegistryValue &value, std::size_t column)
{
    if (value.type == kRegSz && IsOneLineText(value.data)) {
        AppendQuoted(text, std::string_view(value.data).substr(0, value.data.size() - 1));
        return;
    }
    char buffer[32];
    if (value.type == kRegDword && value.data.size() == 4) {
        std::uint32_t number = 0;
        for (int i = 3; i >= 0; --i)
            number = (number << 8) | static_cast<unsigned char>(value.data[i]);
        std::snprintf(buffer, sizeof buffer, "dword:%08x", number);
        text += buffer;
        return;
    }
    const int prefixLength = std::snprintf(buffer, sizeof buffer, "hex(%x):", value.type);
    text += buffer;
    column += static_cast<std::size_t>(prefixLength);
    static constexpr char kDigits[] = "0123456789abcdef";
    // Written through a small buffer: a binary value may hold megabytes.
    char chunk[4096];
    std::size_t used = 0;
    // Lines wrap before 80 columns as regedit wraps them, continued with a backslash.
    for (std::size_t i = 0; i < value.data.size(); ++i) {
        if (used > sizeof chunk - 8) {
            text.append(chunk, used);
            used = 0;
        }
        const auto byte = static_cast<unsigned char>(value.data[i]);
        chunk[used++] = kDigits[byte >> 4];
        chunk[used++] = kDigits[byte & 0xF];
        column += 2;
        if (i + 1 < value.data.size()) {
            chunk[used++] = ',';
            if (++column >= 76) {
                chunk[used++] = '\\';
                chunk[used++] = '\n';
                chunk[used++] = ' ';
                chunk[used++] = ' ';
                column = 2;
            }
        }
    }
    text.append(chunk, used);
}

void AppendLines(std::string &text, const std::vector<std::string> &lines)
{
    for (const std::string &line : lines) {
        text += line;
        text += '\n';
    }
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
    auto found = contents.keyIndex.find(Folded(path));
    return found == contents.keyIndex.end() ? nullptr : &contents.keys[found->second];
}

RegistryValue *FindRegistryValue(RegistryKeyEntry &key, const std::string &name)
{
    auto found = key.valueIndex.find(Folded(name));
    return found == key.valueIndex.end() ? nullptr : &key.values[found->second];
}

RegistryKeyEntry &AddRegistryKey(RegistryHiveContents &contents, const std::string &path)
{
    std::string folded = Folded(path);
    auto [place, added] = contents.keyIndex.emplace(folded, contents.keys.size());
    if (!added)
        return contents.keys[place->second];
    for (std::size_t at = folded.find('\\'); at != std::string::npos;
         at = folded.find('\\', at + 1))
        contents.ancestors.insert(folded.substr(0, at));
    contents.keys.push_back(RegistryKeyEntry{path, {}, {}, {}});
    return contents.keys.back();
}

RegistryValue &SetRegistryValue(RegistryKeyEntry &key, const std::string &name, std::uint32_t type,
                                std::string data)
{
    auto [place, added] = key.valueIndex.emplace(Folded(name), key.values.size());
    if (added)
        key.values.push_back(RegistryValue{name, type, std::move(data), {}});
    RegistryValue &value = key.values[place->second];
    if (!added) {
        value.type = type;
        value.data = std::move(data);
    }
    return value;
}

bool RegistryKeyExists(const RegistryHiveContents &contents, const std::string &path)
{
    const std::string folded = Folded(path);
    return contents.keyIndex.count(folded) != 0 || contents.ancestors.count(folded) != 0;
}

bool IsWritableRegistryName(const std::string &name)
{
    return name.find_first_of(std::string("\n\r\0", 3)) == std::string::npos;
}

bool ParseRegistryHiveText(std::string_view text, RegistryHiveContents &contents)
{
    contents = RegistryHiveContents();
    if (StartsWith(text, "\xEF\xBB\xBF"))
        text.remove_prefix(3);

    RegistryHiveContents parsed;
    // A position, not a pointer: adding a key may move the others.
    std::size_t current = std::string::npos;
    std::vector<std::string> comments;
    bool sawHeader = false;
    LineReader lines(text);
    std::string_view rawLine;
    while (lines.Next(rawLine)) {
        const std::string_view line = TrimBlanks(rawLine);
        if (line.empty())
            continue;
        if (line[0] == ';') {
            // Stray CRs at a comment's end (a file converted to CR LF twice) are dropped: the
            // comment is written with a line feed alone and must read back the same.
            std::string_view comment = rawLine;
            while (comment.back() == '\r')
                comment.remove_suffix(1);
            comments.emplace_back(comment);
            continue;
        }
        if (!sawHeader) {
            if (line != "REGEDIT4")
                return false;
            sawHeader = true;
            parsed.headerComments = std::move(comments);
            comments.clear();
            continue;
        }
        if (line[0] == '[') {
            if (line.size() < 3 || line.back() != ']')
                return false;
            RegistryKeyEntry &key =
                    AddRegistryKey(parsed, std::string(line.substr(1, line.size() - 2)));
            key.comments.insert(key.comments.end(), std::make_move_iterator(comments.begin()),
                                std::make_move_iterator(comments.end()));
            comments.clear();
            current = static_cast<std::size_t>(&key - parsed.keys.data());
            continue;
        }
        if (current == std::string::npos || (line[0] != '"' && line[0] != '@'))
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
        if (!ParseValueData(TrimBlanks(line.substr(pos + 1)), lines, value))
            return false;
        RegistryValue &stored = SetRegistryValue(parsed.keys[current], value.name, value.type,
                                                 std::move(value.data));
        stored.comments.insert(stored.comments.end(), std::make_move_iterator(comments.begin()),
                               std::make_move_iterator(comments.end()));
        comments.clear();
    }
    // A file of nothing but comments is an empty hive; its comments go after the header.
    (sawHeader ? parsed.trailingComments : parsed.headerComments) = std::move(comments);
    contents = std::move(parsed);
    return true;
}

std::string FormatRegistryHiveText(const RegistryHiveContents &contents)
{
    // Room for it all at once: hex values take three characters a byte and a line break every
    // 24 bytes or so.
    std::size_t size = 64;
    for (const RegistryKeyEntry &key : contents.keys) {
        size += key.path.size() + 8;
        for (const RegistryValue &value : key.values)
            size += value.name.size() + value.data.size() * 3 + value.data.size() / 4 + 24;
    }
    std::string text;
    text.reserve(size);
    text = "REGEDIT4\n";
    AppendLines(text, contents.headerComments);
    for (const RegistryKeyEntry &key : contents.keys) {
        text += '\n';
        AppendLines(text, key.comments);
        text += '[';
        text += key.path;
        text += "]\n";
        for (const RegistryValue &value : key.values) {
            AppendLines(text, value.comments);
            const std::size_t lineStart = text.size();
            if (value.name.empty())
                text += '@';
            else
                AppendQuoted(text, value.name);
            text += '=';
            AppendValueData(text, value, text.size() - lineStart);
            text += '\n';
        }
    }
    if (!contents.trailingComments.empty()) {
        text += '\n';
        AppendLines(text, contents.trailingComments);
    }
    return text;
}

} // namespace kronvik
