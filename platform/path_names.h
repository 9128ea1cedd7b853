// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <string>

namespace kronvik {

// The one path separator of the program: every place that joins or splits paths uses it.
inline constexpr char kPathSeparator = '/';

// The absolute form of a path: a relative path joined to the current directory with one
// separator. Nothing else changes: ".", "..", doubled and trailing separators stay and links are
// not resolved, so the absolute path names exactly what the kernel lists for the path as typed
// ("link/../pics" is the "pics" beside the link's target, not the one beside the link). An
// absolute or empty path stays as it is.
std::string AbsolutePath(const std::string &path);

// Where `path` is a symbolic link that leads to a regular file, the folder that holds the file,
// every link resolved; empty for anything else. A pass changes nothing but files: the folder
// behind a link to a device (/dev, which other programs may lock) is none of its business.
std::string FolderOfLinkedFile(const std::string &path);

// Where `path` is a symbolic link that leads to nothing, the folder its text names for the file,
// every link resolved, where that folder is there: a picture renamed since may have been there.
// Empty for anything else.
std::string FolderOfMissingLinkTarget(const std::string &path);

// Where `path` is a symbolic link, or a chain of them, that leads to nothing: the missing name the
// chain ends at, as opening `path` to make a file would make it (its folder may be missing too).
// Empty for anything else.
std::string MissingLinkEnd(const std::string &path);

} // namespace kronvik
