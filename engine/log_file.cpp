// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "log_file.h"

#include "file_error.h"
#include "path_names.h"
#include "replacing_file.h"
#include "user_folders.h"

#include <unistd.h>

namespace kronvik {

std::string DefaultLogDirectory()
{
    const std::string state = UserStateHome();
    return state.empty() ? std::string() : state + kPathSeparator + "kronvik";
}

void WriteLogFile(const RunLog &log, bool saveLog, std::string &logDirectory)
{
    if (!saveLog || log.LineCount() == 0)
        return;

    std::string path;
    if (logDirectory.empty()) {
        // No logs directory set: the per-user log folder, never the root of the file system.
        const std::string folder = DefaultLogDirectory();
        path = folder + kPathSeparator + kLogFileName;
        if (folder.empty())
            throw FileError(FileErrorKind::BadPath, path);
        if (int error = MakeDirectories(folder))
            throw FileError::FromErrno(error, path);
    } else {
        // The separator goes onto the logs directory itself: it is stored that way afterwards.
        if (logDirectory.back() != kPathSeparator)
            logDirectory += kPathSeparator;
        path = logDirectory + kLogFileName;
    }

    // The new log is written beside the old one and renamed over it only when whole: a write
    // that fails keeps the previous log. The old log stays locked meanwhile, as a non-shared
    // open of it would be.
    ReplacingFile file;
    if (int error = file.Create(path, 0666, ReplacedFileLock::LockedWhileWriting))
        throw FileError::FromErrno(error, path);

    // Lines go out in blocks so a run log of a million lines costs few system calls.
    std::string block;
    constexpr std::size_t kBlockBytes = 1 << 16;
    for (std::size_t i = 0; i < log.LineCount(); ++i) {
        block += log.Line(i);
        block += "\r\n";
        if (block.size() >= kBlockBytes) {
            if (file.Write(block.data(), block.size()) != 0)
                throw FileError(FileErrorKind::DiskFull, path);
            block.clear();
        }
    }
    if (!block.empty() && file.Write(block.data(), block.size()) != 0)
        throw FileError(FileErrorKind::DiskFull, path);
    if (file.Flush() != 0)
        throw FileError(FileErrorKind::DiskFull, path);
    if (int error = file.Replace())
        throw FileError::FromErrno(error, path);
}

void CheckLogFile(const RunLog &log, bool saveLog, const std::string &logDirectory)
{
    if (!saveLog || log.LineCount() == 0)
        return;
    std::string path;
    if (logDirectory.empty()) {
        const std::string folder = DefaultLogDirectory();
        path = folder + kPathSeparator + kLogFileName;
        if (folder.empty())
            throw FileError(FileErrorKind::BadPath, path);
        if (int error = CheckCreatableDirectory(folder))
            throw FileError::FromErrno(error, path);
        // A folder still to be made holds no old log.
        if (access(folder.c_str(), F_OK) != 0)
            return;
    } else {
        path = logDirectory;
        if (path.back() != kPathSeparator)
            path += kPathSeparator;
        path += kLogFileName;
    }
    if (int error = CheckReplacing(path, ReplacedFileLock::LockedWhileWriting))
        throw FileError::FromErrno(error, path);
}

} // namespace kronvik
