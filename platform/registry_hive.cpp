// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "registry_hive.h"

#include "registry_hive_text.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <map>
#include <mutex>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace kronvik {

namespace {

struct OpenKey
{
    std::string path; // full path from the root name
    std::uint32_t access = 0;
};

std::mutex g_keysMutex;
std::map<RegistryKeyHandle, OpenKey> g_openKeys;
RegistryKeyHandle g_nextHandle = 0x1000;

// How long a change waits for another process to finish its own before giving up.
constexpr auto kLockPatience = std::chrono::seconds(10);

// Looks up the full path and access rights of a root or an open key.
bool LookUpKey(RegistryKeyHandle handle, OpenKey &key)
{
    if (handle == kHkeyCurrentUser) {
        key = OpenKey{kHkeyCurrentUserName, kKeyAllAccess};
        return true;
    }
    std::lock_guard<std::mutex> lock(g_keysMutex);
    auto found = g_openKeys.find(handle);
    if (found == g_openKeys.end())
        return false;
    key = found->second;
    return true;
}

RegistryKeyHandle AddOpenKey(const std::string &path, std::uint32_t access)
{
    std::lock_guard<std::mutex> lock(g_keysMutex);
    RegistryKeyHandle handle = g_nextHandle++;
    g_openKeys[handle] = OpenKey{path, access};
    return handle;
}

// Joins `subKey` to the path of `root`. kErrorBadPathname for an empty part ("a\\b", "\a") or a
// name that cannot be written on one line of the hive.
RegistryError JoinKeyPath(RegistryKeyHandle root, const std::string &subKey, std::string &path)
{
    OpenKey parent;
    if (!LookUpKey(root, parent))
        return kErrorInvalidHandle;
    path = parent.path;
    if (subKey.empty())
        return kErrorSuccess;
    if (!IsWritableRegistryName(subKey))
        return kErrorBadPathname;
    std::size_t start = 0;
    while (true) {
        std::size_t end = subKey.find('\\', start);
        if (end == start)
            return kErrorBadPathname;
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    path += "\\" + subKey;
    return kErrorSuccess;
}

RegistryError ErrorFromErrno(int error)
{
    return (error == ENOSPC || error == EDQUOT) ? kErrorDiskFull : kErrorAccessDenied;
}

std::string FolderOf(const std::string &path)
{
    std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
}

// Reads a whole file. Returns 0 or an errno value.
int ReadWholeFile(const std::string &path, std::string &bytes)
{
    bytes.clear();
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return errno;
    struct stat status
    {
    };
    int error = fstat(fd, &status) != 0 ? errno : (S_ISREG(status.st_mode) ? 0 : EINVAL);
    if (error) {
        close(fd);
        return error;
    }
    char buffer[65536];
    while (true) {
        ssize_t count = read(fd, buffer, sizeof buffer);
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0) {
            error = errno;
            close(fd);
            return error;
        }
        if (count == 0)
            break;
        bytes.append(buffer, static_cast<std::size_t>(count));
    }
    close(fd);
    return 0;
}

// Reads the hive: no file means no keys, and so does a file that cannot be parsed (`parsed`
// then false). A file that exists but cannot be read is an error.
RegistryError ReadHive(const std::string &path, RegistryHiveContents &contents, bool &parsed)
{
    contents.keys.clear();
    parsed = true;
    if (path.empty())
        return kErrorSuccess;
    std::string text;
    int error = ReadWholeFile(path, text);
    if (error == ENOENT || error == ENOTDIR)
        return kErrorSuccess;
    if (error != 0)
        return kErrorAccessDenied;
    parsed = ParseRegistryHiveText(text, contents);
    return kErrorSuccess;
}

// Creates the folder and its missing parents, private to the user as the XDG folders are.
int MakeFolders(const std::string &folder)
{
    struct stat status
    {
    };
    if (stat(folder.c_str(), &status) == 0)
        return S_ISDIR(status.st_mode) ? 0 : ENOTDIR;
    if (errno != ENOENT)
        return errno;
    std::string parent = FolderOf(folder);
    if (parent != folder) {
        if (int error = MakeFolders(parent))
            return error;
    }
    if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
        return errno;
    return 0;
}

int SyncFolder(const std::string &folder)
{
    int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return errno;
    int error = fsync(fd) == 0 ? 0 : errno;
    close(fd);
    return error;
}

// The advisory lock that serialises changes; released when the object goes.
class HiveLock
{
public:
    ~HiveLock()
    {
        if (m_fd >= 0)
            close(m_fd); // closing releases the flock
    }

    RegistryError Take(const std::string &path)
    {
        m_fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (m_fd < 0)
            return ErrorFromErrno(errno);
        auto deadline = std::chrono::steady_clock::now() + kLockPatience;
        while (flock(m_fd, LOCK_EX | LOCK_NB) != 0) {
            if (errno != EWOULDBLOCK && errno != EINTR)
                return ErrorFromErrno(errno);
            if (std::chrono::steady_clock::now() > deadline)
                return kErrorSharingViolation;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return kErrorSuccess;
    }

private:
    int m_fd = -1;
};

// Moves an unreadable hive aside under the first free name registry.reg.bad, .bad.1, ...
// Never replaces an earlier one.
RegistryError SetAside(const std::string &path)
{
    for (int attempt = 0; attempt < 1000; ++attempt) {
        std::string name = path + ".bad" + (attempt ? "." + std::to_string(attempt) : "");
        if (renameat2(AT_FDCWD, path.c_str(), AT_FDCWD, name.c_str(), RENAME_NOREPLACE) == 0) {
            SyncFolder(FolderOf(path));
            return kErrorSuccess;
        }
        if (errno == EEXIST)
            continue;
        if (errno != EINVAL)
            return ErrorFromErrno(errno);
        // File systems without RENAME_NOREPLACE: a link is never made over an existing name.
        if (link(path.c_str(), name.c_str()) == 0) {
            unlink(path.c_str());
            SyncFolder(FolderOf(path));
            return kErrorSuccess;
        }
        if (errno != EEXIST)
            return ErrorFromErrno(errno);
    }
    return kErrorAccessDenied;
}

int WriteAll(int fd, const std::string &bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t count = write(fd, bytes.data() + done, bytes.size() - done);
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0)
            return errno;
        done += static_cast<std::size_t>(count);
    }
    return 0;
}

// Replaces the file at `path` with `text`: temporary file beside it, flushed, renamed over it,
// folder flushed.
RegistryError ReplaceFile(const std::string &path, const std::string &text, mode_t mode)
{
    std::string temporary = path + ".tmp";
    int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, mode);
    if (fd < 0)
        return ErrorFromErrno(errno);
    int error = fchmod(fd, mode) == 0 ? 0 : errno;
    if (!error)
        error = WriteAll(fd, text);
    if (!error && fsync(fd) != 0)
        error = errno;
    if (close(fd) != 0 && !error)
        error = errno;
    if (!error && rename(temporary.c_str(), path.c_str()) != 0)
        error = errno;
    if (error) {
        unlink(temporary.c_str());
        return ErrorFromErrno(error);
    }
    SyncFolder(FolderOf(path));
    return kErrorSuccess;
}

// Applies `change` to the hive under the lock, and writes the hive when it says it changed
// something and returned success.
using HiveChange = std::function<RegistryError(RegistryHiveContents &, bool &changed)>;

RegistryError ChangeHive(const HiveChange &change)
{
    std::string hivePath = RegistryHivePath();
    if (hivePath.empty())
        return kErrorAccessDenied;
    if (int error = MakeFolders(FolderOf(hivePath)))
        return ErrorFromErrno(error);
    HiveLock lock;
    if (RegistryError error = lock.Take(hivePath + ".lock"))
        return error;

    // A hive that is a link (a dotfile kept elsewhere) stays a link: replace what it leads to.
    std::string target = hivePath;
    struct stat status
    {
    };
    if (lstat(hivePath.c_str(), &status) == 0 && S_ISLNK(status.st_mode)) {
        if (char *resolved = realpath(hivePath.c_str(), nullptr)) {
            target = resolved;
            std::free(resolved);
        }
    }
    mode_t mode = 0600;
    if (stat(target.c_str(), &status) == 0)
        mode = status.st_mode & 07777;

    RegistryHiveContents contents;
    bool parsed = true;
    if (RegistryError error = ReadHive(target, contents, parsed))
        return error;
    bool changed = false;
    if (RegistryError error = change(contents, changed))
        return error;
    if (!changed)
        return kErrorSuccess;
    if (!parsed) {
        if (RegistryError error = SetAside(target))
            return error;
    }
    return ReplaceFile(target, FormatRegistryHiveText(contents), mode);
}

std::string HomeFolder()
{
    const char *home = std::getenv("HOME");
    if (home && *home)
        return home;
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd *found = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found
        && found->pw_dir)
        return found->pw_dir;
    return {};
}

} // namespace

std::string RegistryHivePath()
{
    const char *configHome = std::getenv("XDG_CONFIG_HOME");
    std::string base;
    if (configHome && configHome[0] == '/') {
        base = configHome;
    } else {
        std::string home = HomeFolder();
        if (home.empty())
            return {};
        base = home + "/.config";
    }
    return base + "/kronvik/registry.reg";
}

RegistryError RegistryOpenKey(RegistryKeyHandle root, const std::string &subKey,
                              std::uint32_t access, RegistryKeyHandle *result)
{
    if (!result)
        return kErrorInvalidParameter;
    *result = kNoRegistryKey;
    std::string path;
    if (RegistryError error = JoinKeyPath(root, subKey, path))
        return error;
    if (path != kHkeyCurrentUserName) {
        RegistryHiveContents contents;
        bool parsed = true;
        if (RegistryError error = ReadHive(RegistryHivePath(), contents, parsed))
            return error;
        if (!RegistryKeyExists(contents, path))
            return kErrorFileNotFound;
    }
    *result = AddOpenKey(path, access);
    return kErrorSuccess;
}

RegistryError RegistryCreateKey(RegistryKeyHandle root, const std::string &subKey,
                                const std::string & /*className*/, std::uint32_t /*options*/,
                                std::uint32_t access, const void * /*securityAttributes*/,
                                RegistryKeyHandle *result, std::uint32_t *disposition)
{
    if (!result)
        return kErrorInvalidParameter;
    *result = kNoRegistryKey;
    std::string path;
    if (RegistryError error = JoinKeyPath(root, subKey, path))
        return error;
    bool created = false;
    if (path != kHkeyCurrentUserName) {
        RegistryError error = ChangeHive([&](RegistryHiveContents &contents, bool &changed) {
            if (RegistryKeyExists(contents, path))
                return kErrorSuccess;
            // Every missing key along the path gets its own section, parents first, as a
            // regedit export lists them.
            std::size_t end = std::strlen(kHkeyCurrentUserName);
            while (end != std::string::npos) {
                end = path.find('\\', end + 1);
                std::string part = path.substr(0, end);
                if (!RegistryKeyExists(contents, part))
                    contents.keys.push_back(RegistryKeyEntry{part, {}});
            }
            created = changed = true;
            return kErrorSuccess;
        });
        if (error)
            return error;
    }
    if (disposition)
        *disposition = created ? kRegCreatedNewKey : kRegOpenedExistingKey;
    *result = AddOpenKey(path, access);
    return kErrorSuccess;
}

RegistryError RegistryQueryValue(RegistryKeyHandle key, const std::string &name,
                                 std::uint32_t *type, unsigned char *data, std::uint32_t *byteCount)
{
    OpenKey open;
    if (!LookUpKey(key, open))
        return kErrorInvalidHandle;
    if (!(open.access & kKeyQueryValue))
        return kErrorAccessDenied;
    if (data && !byteCount)
        return kErrorInvalidParameter;
    RegistryHiveContents contents;
    bool parsed = true;
    if (RegistryError error = ReadHive(RegistryHivePath(), contents, parsed))
        return error;
    if (open.path != kHkeyCurrentUserName && !RegistryKeyExists(contents, open.path))
        return kErrorKeyDeleted;
    RegistryKeyEntry *entry = FindRegistryKey(contents, open.path);
    RegistryValue *value = entry ? FindRegistryValue(*entry, name) : nullptr;
    if (!value)
        return kErrorFileNotFound;
    if (type)
        *type = value->type;
    if (!byteCount)
        return kErrorSuccess;
    std::uint32_t size = static_cast<std::uint32_t>(value->data.size());
    std::uint32_t room = *byteCount;
    *byteCount = size;
    if (!data)
        return kErrorSuccess;
    if (room < size)
        return kErrorMoreData;
    std::memcpy(data, value->data.data(), size);
    return kErrorSuccess;
}

RegistryError RegistrySetValue(RegistryKeyHandle key, const std::string &name, std::uint32_t type,
                               const unsigned char *data, std::uint32_t byteCount)
{
    OpenKey open;
    if (!LookUpKey(key, open))
        return kErrorInvalidHandle;
    if (!(open.access & kKeySetValue))
        return kErrorAccessDenied;
    if ((!data && byteCount > 0) || !IsWritableRegistryName(name))
        return kErrorInvalidParameter;
    RegistryValue value{name, type,
                        data ? std::string(reinterpret_cast<const char *>(data), byteCount)
                             : std::string()};
    return ChangeHive([&](RegistryHiveContents &contents, bool &changed) {
        if (open.path != kHkeyCurrentUserName && !RegistryKeyExists(contents, open.path))
            return kErrorKeyDeleted;
        RegistryKeyEntry *entry = FindRegistryKey(contents, open.path);
        if (!entry) {
            contents.keys.push_back(RegistryKeyEntry{open.path, {}});
            entry = &contents.keys.back();
        }
        if (RegistryValue *existing = FindRegistryValue(*entry, name)) {
            existing->type = value.type;
            existing->data = value.data;
        } else {
            entry->values.push_back(value);
        }
        changed = true;
        return kErrorSuccess;
    });
}

RegistryError RegistryCloseKey(RegistryKeyHandle key)
{
    if (key == kHkeyCurrentUser)
        return kErrorSuccess;
    std::lock_guard<std::mutex> lock(g_keysMutex);
    return g_openKeys.erase(key) ? kErrorSuccess : kErrorInvalidHandle;
}

} // namespace kronvik
