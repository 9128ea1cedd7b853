// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <string>

namespace kronvik {

// The kinds of file error the program reports, each with one message (see file_error.h in the
// engine). The names follow the message table, not errno.
enum class FileErrorKind {
    Generic,
    FileNotFound,
    BadPath,
    TooManyOpenFiles,
    AccessDenied,
    InvalidFile,
    RemoveCurrentDirectory,
    DirectoryFull,
    BadSeek,
    HardwareIo,
    SharingViolation,
    LockViolation,
    DiskFull,
    EndOfFile,
};

// Maps an errno value from an operation on `path` to its kind. ENOENT is "file not found" when the
// directory holding `path` exists and "bad path" when it does not.
FileErrorKind FileErrorKindFromErrno(int error, const std::string &path);

} // namespace kronvik
