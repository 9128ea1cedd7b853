// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "temp_dir.h"

#include <string>
#include <sys/types.h>
#include <vector>

namespace kronvik::test {

// A directory on a small FUSE file system (failing_listing_fs.cpp) whose listing delivers an empty
// file for each of `names` and then fails with EIO: a real read error part way through a
// listing, from the kernel. Where FUSE cannot run here (the helper was not built for want of
// libfuse3-dev, no /dev/fuse, no right to mount), nothing is mounted and `SkipReason` says why.
class FailingListingMount
{
public:
    explicit FailingListingMount(const std::vector<std::string> &names);
    ~FailingListingMount();
    FailingListingMount(const FailingListingMount &) = delete;
    FailingListingMount &operator=(const FailingListingMount &) = delete;

    // Empty once the file system is mounted.
    const std::string &SkipReason() const { return m_skipReason; }
    // The mounted directory.
    std::string Path() const { return m_dir / "listing"; }

private:
    TempDir m_dir; // the mount point and the helper's messages; goes after the unmount
    pid_t m_helper = -1;
    std::string m_skipReason;
};

} // namespace kronvik::test
