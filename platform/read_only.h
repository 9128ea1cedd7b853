// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <sys/stat.h>

namespace kronvik {

// A file or folder that grants no one a write permission is read-only to every user: the
// superuser, whom the kernel lets write it anyway, is refused it too. A FAT file's read-only
// attribute shows as these missing bits.
inline bool IsReadOnlyToAll(mode_t mode)
{
    return (mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
}

} // namespace kronvik
