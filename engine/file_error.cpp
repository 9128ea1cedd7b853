// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "file_error.h"

namespace kronvik {

namespace {

std::string FormatMessage(FileErrorKind kind, const std::string &path)
{
    std::string message = FileErrorMessageTemplate(kind);
    auto at = message.find("%1");
    if (at != std::string::npos)
        message.replace(at, 2, path);
    return message;
}

} // namespace

const char *FileErrorMessageTemplate(FileErrorKind kind)
{
    switch (kind) {
    case FileErrorKind::Generic:
        break;
    case FileErrorKind::FileNotFound:
        return "%1 was not found.";
    case FileErrorKind::BadPath:
        return "%1 contains an incorrect path.";
    case FileErrorKind::TooManyOpenFiles:
        return "Could not open %1 because there are too many open files.";
    case FileErrorKind::AccessDenied:
        return "Access to %1 was denied.";
    case FileErrorKind::InvalidFile:
        return "An incorrect file handle was associated with %1.";
    case FileErrorKind::RemoveCurrentDirectory:
        return "Could not remove %1 because it is the current directory.";
    case FileErrorKind::DirectoryFull:
        return "Could not create %1 because the directory is full.";
    case FileErrorKind::BadSeek:
        return "Seek failed on %1";
    case FileErrorKind::HardwareIo:
        return "Encountered a hardware I/O error while accessing %1.";
    case FileErrorKind::SharingViolation:
        return "Encountered a sharing violation while accessing %1.";
    case FileErrorKind::LockViolation:
        return "Encountered a locking violation while accessing %1.";
    case FileErrorKind::DiskFull:
        return "Disk full while accessing %1.";
    case FileErrorKind::EndOfFile:
        return "Attempted to access %1 past its end.";
    }
    return "An unknown error occurred while accessing %1.";
}

FileError::FileError(FileErrorKind kind, std::string path)
    : std::runtime_error(FormatMessage(kind, path))
    , m_kind(kind)
    , m_path(std::move(path))
{
}

FileError FileError::FromErrno(int error, const std::string &path)
{
    return FileError(FileErrorKindFromErrno(error, path), path);
}

} // namespace kronvik
