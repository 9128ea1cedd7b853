// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
// A file system in user space for the tests of a listing cut short by a read error:
//   kronvik_failing_listing_fs MOUNTPOINT NAME...
// mounts a root directory holding one empty file per NAME. Its first listing reply carries every
// NAME; the next one, which the kernel asks for once the first is used up, fails with EIO, so a
// reader gets the names and then a real read error from getdents. Runs in the foreground until
// SIGTERM, and is unmounted when it ends, however it ends.
#define FUSE_USE_VERSION 31
#include <fuse.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

std::vector<std::string> g_names;

bool IsListedFile(const char *path)
{
    if (path[0] != '/')
        return false;
    for (const std::string &name : g_names) {
        if (name == path + 1)
            return true;
    }
    return false;
}

int GetAttributes(const char *path, struct stat *status, fuse_file_info *)
{
    std::memset(status, 0, sizeof *status);
    if (std::strcmp(path, "/") == 0) {
        status->st_mode = S_IFDIR | 0755;
        status->st_nlink = 2;
        return 0;
    }
    if (!IsListedFile(path))
        return -ENOENT;
    status->st_mode = S_IFREG | 0644;
    status->st_nlink = 1;
    return 0;
}

int ReadDirectory(const char *path, void *buffer, fuse_fill_dir_t fill, off_t offset,
                  fuse_file_info *, fuse_readdir_flags)
{
    if (std::strcmp(path, "/") != 0)
        return -ENOTDIR;
    // Every later request is the read that fails part way through the listing.
    if (offset != 0)
        return -EIO;
    struct stat directory
    {
    };
    directory.st_mode = S_IFDIR;
    struct stat file
    {
    };
    file.st_mode = S_IFREG;
    off_t next = 1;
    fill(buffer, ".", &directory, next++, fuse_fill_dir_flags{});
    fill(buffer, "..", &directory, next++, fuse_fill_dir_flags{});
    for (const std::string &name : g_names) {
        if (fill(buffer, name.c_str(), &file, next++, fuse_fill_dir_flags{}) != 0)
            break;
    }
    return 0;
}

int Open(const char *path, fuse_file_info *)
{
    return IsListedFile(path) ? 0 : -ENOENT;
}

int Read(const char *, char *, size_t, off_t, fuse_file_info *)
{
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2)
        return 2;
    g_names.assign(argv + 2, argv + argc);
    fuse_operations operations{};
    operations.getattr = GetAttributes;
    operations.readdir = ReadDirectory;
    operations.open = Open;
    operations.read = Read;
    // Foreground, one thread, and unmounted by fusermount3 even if this process is killed.
    char *fuseArgs[] = {argv[0],
                        const_cast<char *>("-f"),
                        const_cast<char *>("-s"),
                        const_cast<char *>("-o"),
                        const_cast<char *>("auto_unmount"),
                        argv[1],
                        nullptr};
    return fuse_main(6, fuseArgs, &operations, nullptr);
}
