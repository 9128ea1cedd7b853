// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "temp_dir.h"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <system_error>

namespace kronvik::test {

TempDir::TempDir()
    : TempDir(std::filesystem::temp_directory_path())
{
}

TempDir::TempDir(const std::filesystem::path &parent)
{
    std::string pattern = (parent / "kronvik-test-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("cannot create a temporary folder");
    m_path = pattern;
}

TempDir::~TempDir()
{
    std::error_code error;
    // Tests make files and folders read-only; give the owner rights back so they can go.
    for (auto it = std::filesystem::recursive_directory_iterator(
                 m_path, std::filesystem::directory_options::skip_permission_denied, error);
         !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
        if (!it->is_symlink())
            std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                         std::filesystem::perm_options::add, error);
    }
    std::filesystem::permissions(m_path, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, error);
    std::filesystem::remove_all(m_path, error);
}

void WriteBytes(const std::string &path, const std::string &bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out.flush())
        throw std::runtime_error("cannot write " + path);
}

std::string ReadBytes(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + path);
    // In blocks: a character at a time took seconds for the large files of some tests.
    std::string bytes;
    char block[1 << 16];
    while (in.read(block, sizeof block) || in.gcount() > 0)
        bytes.append(block, static_cast<std::size_t>(in.gcount()));
    if (in.bad())
        throw std::runtime_error("cannot read " + path);
    return bytes;
}

} // namespace kronvik::test
