// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "file_error_kind.h"

#include <stdexcept>
#include <string>

namespace kronvik {

// A file the program must open or write could not be: it ends the command in which it arises and
// the front end shows Message() once (a message box, or a line on standard error).
class FileError : public std::runtime_error
{
public:
    FileError(FileErrorKind kind, std::string path);

    // From an errno value of an operation on `path`.
    static FileError FromErrno(int error, const std::string &path);

    FileErrorKind Kind() const { return m_kind; }
    // The path exactly as the program built it, not made absolute.
    const std::string &Path() const { return m_path; }
    // The message of the kind, with the path in place of "%1".
    std::string Message() const { return what(); }

private:
    FileErrorKind m_kind;
    std::string m_path;
};

// The message text of a kind, with "%1" where the path goes.
const char *FileErrorMessageTemplate(FileErrorKind kind);

} // namespace kronvik
