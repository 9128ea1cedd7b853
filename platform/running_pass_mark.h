// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstdint>
#include <string>

namespace kronvik {

// One byte of a file beside the journal, locked by whoever runs the pass of that number for as
// long as it runs it (an open file description lock: a process's look at another pass's mark
// closes a descriptor of the same file, which would release a plain fcntl lock of the process).
// A process that gave a pass up without its end, as a window does whose pass a journal error
// stopped, then no longer passes for its runner; and a killed process's locks go with it.
// Closing releases the lock.
class RunningPassMark
{
public:
    RunningPassMark() = default;
    ~RunningPassMark();
    RunningPassMark(const RunningPassMark &) = delete;
    RunningPassMark &operator=(const RunningPassMark &) = delete;

    // Creates the file `path` where missing and locks the byte of `pass` (a read lock, which
    // any open of the file may take), in place of any pass marked before. False when the file
    // cannot be opened, is no regular file or keeps no such locks.
    bool Take(const std::string &path, std::int64_t pass);
    void Release();

private:
    int m_fd = -1;
};

enum class RunningPassState {
    Marked, // another open of the file holds the byte
    Unmarked,
    Unknown, // no such file (a program that marks no pass), or locks cannot be asked about
};

RunningPassState ReadRunningPassMark(const std::string &path, std::int64_t pass);

} // namespace kronvik
