// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <sys/types.h>

namespace kronvik {

// open(2) for a file that is to be read, asking the system to leave its access time as it is
// (O_NOATIME): reading a picture changes nothing of it, also when the pass never reaches it or
// only previews it. The system allows that only to the file's owner, or to a process that may act
// as one; any other file is opened as asked, and its access time moves as the mount decides.
// Returns the descriptor, or -1 with errno set.
int OpenKeepingAccessTime(const char *path, int flags, mode_t mode = 0);

} // namespace kronvik
