// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <functional>

namespace kronvik {

// The writing calls of this layer, each of which a test can make fail as a failing or full disk
// would (EIO, ENOSPC, EACCES, EROFS), to see what the layers above report and keep. Each call
// asks WriteFault just before the system call it stands for; the cost while nothing is armed is
// one relaxed atomic load.
enum class WriteStep {
    CreateTemporary, // ReplacingFile::Create: the new version's temporary file
    WriteTemporary, // ReplacingFile::Write
    FlushTemporary, // ReplacingFile::Flush: fsync of the new version
    ReplaceByRename, // ReplacingFile::Replace: the rename over the file
    OpenForUpdate, // LockedFile::OpenExistingForUpdate, or Lock of a file the read opened: the
                   // shift's open
    WriteInPlace, // LockedFile::WriteAt: the shift's write
    FlushInPlace, // LockedFile::WriteAt: the fsync after the shift's write
    RenamePicture, // RenameNoReplace
    SetFileTime, // SetLastWriteTime, SetModificationTime
};

// Makes a call of `step` fail with `error` once: the `after` calls before it go through.
void FailWriteStep(WriteStep step, int error, unsigned after = 0);

// Runs `action` just before a call of `step`, once, and lets the call go through: another program
// changing the files at that moment. The `after` calls before it go through.
void BeforeWriteStep(WriteStep step, std::function<void()> action, unsigned after = 0);

// Disarms every failure and action not met yet.
void ClearWriteFaults();

// The error this call of `step` is to fail with, or 0.
int WriteFault(WriteStep step);

} // namespace kronvik
