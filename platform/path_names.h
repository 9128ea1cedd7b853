// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <string>

namespace kronvik {

// The one path separator of the program: every place that joins or splits paths uses it.
inline constexpr char kPathSeparator = '/';

// The absolute form of a path, made lexically: a relative path is joined to the current
// directory, "." and empty names are dropped and ".." drops the name before it, without following
// symbolic links. A separator at the end stays. An empty path stays empty.
std::string AbsolutePath(const std::string &path);

} // namespace kronvik
