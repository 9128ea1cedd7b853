// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "run_log.h"

#include <cstdarg>
#include <cstdio>

namespace kronvik {

std::string FormatText(const char *format, ...)
{
    std::va_list args;
    va_start(args, format);
    std::va_list measure;
    va_copy(measure, args);
    int length = std::vsnprintf(nullptr, 0, format, measure);
    va_end(measure);
    std::string text;
    if (length > 0) {
        text.resize(static_cast<std::size_t>(length));
        std::vsnprintf(text.data(), text.size() + 1, format, args);
    }
    va_end(args);
    return text;
}

} // namespace kronvik
