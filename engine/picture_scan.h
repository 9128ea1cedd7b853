// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "dating_session.h"

#include <string>
#include <vector>

namespace kronvik {

// The directories of a source directory list, split at ";" as strtok splits it: runs of
// separators count as one, empty entries never come out, blanks stay part of a directory.
std::vector<std::string> SplitSourceList(const std::string &text);

// Rebuilds the picture list from the source directory list ("DIR1;DIR2", split as strtok does),
// writing one run-log line per directory searched, and enables "&Date Pictures".
void RetrieveFileList(DatingSession &session);

// Searches one directory (and, with recursion, its subdirectories first, depth first) for files
// whose name ends in ".jpg" in any letter case, appends them to the picture list in name order
// and writes the directory's run-log line after its whole search. A directory that cannot be
// searched, or only up to a read error, is reported to the front end; the search goes on.
void ScanDirectory(DatingSession &session, const std::string &directory);

} // namespace kronvik
