// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <string>

namespace kronvik {

// Whether `directory` holds at least one subdirectory ("." and ".." aside; a link that leads to a
// directory counts). Reads the directory only until its first subdirectory, and looks up the type
// of an entry only when the listing gives none or names a link, so a large or slow directory
// answers as soon as it can. False when the directory cannot be read, or when its search pattern
// (the directory, a separator and "*.*") would be PATH_MAX bytes or longer, as for a listing.
bool HasSubdirectory(const std::string &directory);

} // namespace kronvik
