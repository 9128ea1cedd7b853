// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "open_keeping_access_time.h"

#include <cerrno>
#include <fcntl.h>

namespace kronvik {

int OpenKeepingAccessTime(const char *path, int flags, mode_t mode)
{
    const int fd = open(path, flags | O_NOATIME, mode);
    // EPERM: not the owner's. Any other failure is the open's own.
    if (fd >= 0 || errno != EPERM)
        return fd;
    return open(path, flags, mode);
}

} // namespace kronvik
