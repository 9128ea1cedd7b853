// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "edited_bytes.h"

namespace kronvik {

namespace {

constexpr char32_t kEscapeBase = 0xdc00; // + a byte of 0x80 or more

bool IsContinuation(unsigned char byte)
{
    return (byte & 0xc0) == 0x80;
}

// The length of the valid UTF-8 sequence at the start of `rest` (no overlong form, no surrogate,
// nothing beyond U+10FFFF), with its code point; 0 when it is not one.
std::size_t ValidSequence(std::string_view rest, char32_t &codePoint)
{
    const auto at = [&rest](std::size_t i) { return static_cast<unsigned char>(rest[i]); };
    const unsigned char lead = at(0);
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xbf; // the range of the second byte
    if (lead < 0x80) {
        codePoint = lead;
        return 1;
    } else if (lead >= 0xc2 && lead <= 0xdf) {
        length = 2;
        codePoint = lead & 0x1f;
    } else if (lead >= 0xe0 && lead <= 0xef) {
        length = 3;
        codePoint = lead & 0x0f;
        if (lead == 0xe0)
            low = 0xa0;
        else if (lead == 0xed)
            high = 0x9f;
    } else if (lead >= 0xf0 && lead <= 0xf4) {
        length = 4;
        codePoint = lead & 0x07;
        if (lead == 0xf0)
            low = 0x90;
        else if (lead == 0xf4)
            high = 0x8f;
    } else {
        return 0;
    }
    if (rest.size() < length || at(1) < low || at(1) > high)
        return 0;
    for (std::size_t i = 1; i < length; ++i) {
        if (!IsContinuation(at(i)))
            return 0;
        codePoint = (codePoint << 6) | (at(i) & 0x3f);
    }
    return length;
}

} // namespace

QString TextOfBytes(std::string_view bytes)
{
    QString text;
    text.reserve(static_cast<qsizetype>(bytes.size()));
    while (!bytes.empty()) {
        char32_t codePoint = 0;
        std::size_t length = ValidSequence(bytes, codePoint);
        if (length == 0) {
            codePoint = kEscapeBase + static_cast<unsigned char>(bytes[0]);
            length = 1;
        }
        if (QChar::requiresSurrogates(codePoint)) {
            text += QChar(QChar::highSurrogate(codePoint));
            text += QChar(QChar::lowSurrogate(codePoint));
        } else {
            text += QChar(static_cast<char16_t>(codePoint));
        }
        bytes.remove_prefix(length);
    }
    return text;
}

std::string BytesOfText(const QString &text)
{
    std::string bytes;
    bytes.reserve(static_cast<std::size_t>(text.size()));
    // Runs of characters go out as UTF-8; each escaped byte between them as itself.
    qsizetype run = 0;
    const auto endRun = [&](qsizetype end) {
        const QByteArray utf8 = QStringView(text).mid(run, end - run).toUtf8();
        bytes.append(utf8.constData(), static_cast<std::size_t>(utf8.size()));
    };
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t unit = text[i].unicode();
        if (unit < kEscapeBase + 0x80 || unit > kEscapeBase + 0xff)
            continue;
        // The low half of a pair stays with it.
        if (i > 0 && QChar::isHighSurrogate(text[i - 1].unicode()))
            continue;
        endRun(i);
        bytes += static_cast<char>(unit - kEscapeBase);
        run = i + 1;
    }
    endRun(text.size());
    return bytes;
}

} // namespace kronvik
