// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "file_stamp.h"

#include <sys/stat.h>

namespace kronvik {

// The stamp of a stat or fstat result; for the platform layer's own files.
FileStamp StampOfStatus(const struct stat &status);

} // namespace kronvik
