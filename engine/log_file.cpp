// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "log_file.h"

#include "file_error.h"
#include "path_names.h"
#include "replacing_file.h"
#include "user_folders.h"

#include <ctime>
#include <unistd.h>

namespace kronvik {

std::string DefaultLogDirectory()
{
    const std::string state = UserStateHome();
    return state.empty() ? std::string() : state + kPathSeparator + "kronvik";
}

namespace {

// The log file's path. With no logs directory set it lies in the per-user log folder, never in the
// root of the file system, and `userFolder` names that folder; else the logs directory gets its
// separator, as it is stored afterwards.
std::string LogFilePath(std::string &logDirectory, std::string &userFolder)
{
    if (logDirectory.empty()) {
        userFolder = DefaultLogDirectory();
        const std::string path = userFolder + kPathSeparator + kLogFileName;
        if (userFolder.empty())
            throw FileError(FileErrorKind::BadPath, path);
        return path;
    }
    if (logDirectory.back() != kPathSeparator)
        logDirectory += kPathSeparator;
    return logDirectory + kLogFileName;
}

} // namespace

void WriteLogFile(const RunLog &log, bool saveLog, std::string &logDirectory)
{
    if (!saveLog || log.LineCount() == 0)
        return;
    std::string userFolder;
    const std::string path = LogFilePath(logDirectory, userFolder);
    if (int error = userFolder.empty() ? 0 : MakeDirectories(userFolder))
        throw FileError::FromErrno(error, path);

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
    // A writer killed midway leaves its temporary file in a folder the user chose. Another
    // process writing its log at this moment holds no lock that tells, but no write of a log
    // takes an hour. The log never had a temporary file of a fixed name: one is the user's.
    RemoveLeftTemporaries(path, time(nullptr) - 3600, false);
}

void CheckLogFile(const RunLog &log, bool saveLog, const std::string &logDirectory)
{
    if (!saveLog || log.LineCount() == 0)
        return;
    std::string directory = logDirectory;
    std::string userFolder;
    const std::string path = LogFilePath(directory, userFolder);
    if (!userFolder.empty()) {
        if (int error = CheckCreatableDirectory(userFolder))
            throw FileError::FromErrno(error, path);
        // A folder still to be made holds no old log.
        if (access(userFolder.c_str(), F_OK) != 0)
            return;
    }
    if (int error = CheckReplacing(path, ReplacedFileLock::LockedWhileWriting))
        throw FileError::FromErrno(error, path);
}

} // namespace kronvik
