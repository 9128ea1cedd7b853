// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <filesystem>
#include <string>

namespace kronvik::test {

// A fresh folder under the system's temporary directory, removed with everything in it (read-only
// entries included) when the object goes.
class TempDir
{
public:
    TempDir();
    // A fresh folder inside `parent` (for instance a memory file system, where writes that are
    // flushed to the device cost nothing).
    explicit TempDir(const std::filesystem::path &parent);
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;

    const std::filesystem::path &Path() const { return m_path; }
    // The path of `name` inside the folder, as a narrow string.
    std::string operator/(const std::string &name) const { return (m_path / name).string(); }

private:
    std::filesystem::path m_path;
};

// Whole-file helpers for fixtures.
void WriteBytes(const std::string &path, const std::string &bytes);
std::string ReadBytes(const std::string &path);

} // namespace kronvik::test
