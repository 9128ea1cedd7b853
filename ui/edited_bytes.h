// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <QString>

#include <string>
#include <string_view>

namespace kronvik {

// The text an edit box shows for bytes that name files: valid UTF-8 as its characters, and each
// byte that is not part of valid UTF-8 as a code unit of its own, U+DC80 to U+DCFF (as Python's
// "surrogateescape" does). A folder whose name is not valid UTF-8 then keeps its bytes through
// every edit that leaves its characters in place: typing at the end of the list, a Browse.
QString TextOfBytes(std::string_view bytes);

// The bytes of such a text: those units back as the bytes they stand for, everything else as
// UTF-8. No text that can be typed holds such a unit, as UTF-8 cannot encode one.
std::string BytesOfText(const QString &text);

} // namespace kronvik
