// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "file_error_kind.h"

#include "path_names.h"

#include <cerrno>
#include <sys/stat.h>

namespace kronvik {

namespace {

// The directory that holds `path`: what precedes its last separator, "/" for a name in the root
// and "." for a bare name.
std::string ContainingDirectory(const std::string &path)
{
    auto at = path.find_last_of(kPathSeparator);
    if (at == std::string::npos)
        return ".";
    if (at == 0)
        return std::string(1, kPathSeparator);
    return path.substr(0, at);
}

bool IsDirectory(const std::string &path)
{
    struct stat status
    {
    };
    return stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

} // namespace

FileErrorKind FileErrorKindFromErrno(int error, const std::string &path)
{
    switch (error) {
    case ENOENT:
        return IsDirectory(ContainingDirectory(path)) ? FileErrorKind::FileNotFound
                                                      : FileErrorKind::BadPath;
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP:
        return FileErrorKind::BadPath;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
        return FileErrorKind::AccessDenied;
    case EMFILE:
    case ENFILE:
        return FileErrorKind::TooManyOpenFiles;
    case ENOSPC:
    case EDQUOT:
        return FileErrorKind::DiskFull;
    case EIO:
        return FileErrorKind::HardwareIo;
    case EBUSY:
    case ETXTBSY:
    case EWOULDBLOCK: // a lock that another process holds
        return FileErrorKind::SharingViolation;
    default:
        return FileErrorKind::Generic;
    }
}

} // namespace kronvik
