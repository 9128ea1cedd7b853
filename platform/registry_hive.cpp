// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "registry_hive.h"

#include "registry_hive_text.h"
#include "replacing_file.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <pwd.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

namespace kronvik {

namespace {

// How long a change waits for another process to finish its own before giving up.
constexpr auto kLockPatience = std::chrono::seconds(10);

// One version of the hive file. The hive is only ever replaced whole, by rename, so a file at the
// hive's path with the same device, inode, size and times is the version that was read.
struct FileVersion
{
    bool exists = false;
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    timespec modified{};
    timespec changed{};

    static FileVersion Of(const struct stat &status)
    {
        return FileVersion{true,           status.st_dev,  status.st_ino,
                           status.st_size, status.st_mtim, status.st_ctim};
    }

    bool operator==(const FileVersion &other) const
    {
        auto same = [](const timespec &a, const timespec &b) {
            return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
        };
        return exists == other.exists
               && (!exists
                   || (device == other.device && inode == other.inode && size == other.size
                       && same(modified, other.modified) && same(changed, other.changed)));
    }
};

// One change made through an open key: a key created (with its missing parents) or a value set.
struct HiveChange
{
    std::string keyPath;
    bool createsKey = false;
    RegistryValue value;
};

// What one read of the hive gave, shared by the keys opened from it: they query it without
// reading the file again, so everything read through them comes from one version of the hive.
// The changes made through them are applied here at once and kept until a key is closed, which
// writes them all in one replace of the file.
struct HiveSnapshot
{
    HiveSnapshot() = default;
    HiveSnapshot(const HiveSnapshot &) = delete;
    HiveSnapshot &operator=(const HiveSnapshot &) = delete;
    ~HiveSnapshot() { Forget(); }

    void Forget()
    {
        if (keptFd >= 0)
            close(keptFd);
        keptFd = -1;
    }

    RegistryHiveContents contents;
    bool read = false; // false: nothing read yet, so a change must read the hive first
    bool parsed = true; // false: the file could not be parsed and reads as holding no keys
    FileVersion version;
    // The file read stays open so that its inode number cannot come back for a later version.
    int keptFd = -1;
    std::vector<HiveChange> unwritten;
};

struct OpenKey
{
    std::string path; // full path from the root name
    std::uint32_t access = 0;
    std::shared_ptr<HiveSnapshot> hive;
};

// Held for the whole of every call: the open keys and their snapshots are shared.
std::mutex g_registryMutex;
std::map<RegistryKeyHandle, OpenKey> g_openKeys;
RegistryKeyHandle g_nextHandle = 0x1000;

// What the last open of a key read when it found the key missing. A key that cannot be opened is
// most often created next (SaveSettings opens, then creates), and a save reads the hive once: the
// next call, when it creates that key, starts from this reading while the file is still the
// version read. Any other call forgets it. Its file is not kept open: the version's change time
// tells a later file from it.
struct MissingKeyRead
{
    RegistryKeyHandle root = kNoRegistryKey;
    std::string path;
    std::shared_ptr<HiveSnapshot> hive;
};
std::optional<MissingKeyRead> g_missingKeyRead;

// The open key of a handle; null for a root or an unknown handle.
OpenKey *FindOpenKey(RegistryKeyHandle handle)
{
    auto found = g_openKeys.find(handle);
    return found == g_openKeys.end() ? nullptr : &found->second;
}

bool IsKnownHandle(RegistryKeyHandle handle)
{
    return handle == kHkeyCurrentUser || FindOpenKey(handle) != nullptr;
}

std::string PathOf(RegistryKeyHandle handle)
{
    const OpenKey *key = FindOpenKey(handle);
    return key ? key->path : std::string(kHkeyCurrentUserName);
}

RegistryKeyHandle AddOpenKey(const std::string &path, std::uint32_t access,
                             std::shared_ptr<HiveSnapshot> hive)
{
    RegistryKeyHandle handle = g_nextHandle++;
    g_openKeys[handle] = OpenKey{path, access, std::move(hive)};
    return handle;
}

// Joins `subKey` to the path of `root`. kErrorBadPathname for an empty part ("a\\b", "\a") or a
// name that cannot be written on one line of the hive.
RegistryError JoinKeyPath(RegistryKeyHandle root, const std::string &subKey, std::string &path)
{
    if (!IsKnownHandle(root))
        return kErrorInvalidHandle;
    path = PathOf(root);
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

// Where the link `path` leads in the end, following the links it leads through, when that is a
// name that does not exist; empty when it exists or cannot be told (a loop, an unreadable link).
std::string LinkEnd(std::string path)
{
    for (int hops = 0; hops < 40; ++hops) {
        struct stat status
        {
        };
        if (lstat(path.c_str(), &status) != 0)
            return errno == ENOENT ? path : std::string();
        if (!S_ISLNK(status.st_mode))
            return {};
        std::string next(PATH_MAX, '\0');
        const ssize_t length = readlink(path.c_str(), next.data(), next.size());
        if (length <= 0 || static_cast<std::size_t>(length) == next.size())
            return {};
        next.resize(static_cast<std::size_t>(length));
        path = next[0] == '/' ? next : FolderOf(path) + "/" + next;
    }
    return {};
}

// Memory for the text of the hive, mapped and filled with pages in one call: touching tens of
// megabytes page by page costs far more than reading them on some machines (virtual ones above
// all).
class TextBuffer
{
public:
    TextBuffer() = default;
    TextBuffer(const TextBuffer &) = delete;
    TextBuffer &operator=(const TextBuffer &) = delete;
    ~TextBuffer()
    {
        if (m_data)
            munmap(m_data, m_capacity);
    }

    bool Reserve(std::size_t capacity)
    {
        void *data = m_data ? mremap(m_data, m_capacity, capacity, MREMAP_MAYMOVE)
                            : mmap(nullptr, capacity, PROT_READ | PROT_WRITE,
                                   MAP_PRIVATE | MAP_ANONYMOUS | MAP_POPULATE, -1, 0);
        if (data == MAP_FAILED)
            return false;
        m_data = static_cast<char *>(data);
        m_capacity = capacity;
        return true;
    }
    char *Data() { return m_data; }
    std::size_t Capacity() const { return m_capacity; }

private:
    char *m_data = nullptr;
    std::size_t m_capacity = 0;
};

// Reads and parses the hive at `path` into `snapshot`, once: no file means no keys, and so does a
// file that cannot be parsed (`parsed` then false). A file that exists but cannot be read is an
// error.
RegistryError ReadHive(const std::string &path, HiveSnapshot &snapshot)
{
    snapshot.Forget();
    snapshot.contents = RegistryHiveContents();
    snapshot.version = FileVersion();
    snapshot.parsed = true;
    snapshot.read = true;
    if (path.empty())
        return kErrorSuccess;
    // Non-blocking, so that a FIFO in the hive's place cannot hang the read.
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return (errno == ENOENT || errno == ENOTDIR) ? kErrorSuccess : kErrorAccessDenied;
    struct stat status
    {
    };
    if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        close(fd);
        return kErrorAccessDenied;
    }
    // Read straight into the text, growing it should the file have grown meanwhile.
    TextBuffer text;
    std::size_t done = 0;
    while (true) {
        if (done == text.Capacity()
            && !text.Reserve(std::max<std::size_t>(static_cast<std::size_t>(status.st_size) + 1,
                                                   2 * text.Capacity()))) {
            close(fd);
            return kErrorNotEnoughMemory;
        }
        const ssize_t count = read(fd, text.Data() + done, text.Capacity() - done);
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0) {
            close(fd);
            return kErrorAccessDenied;
        }
        if (count == 0)
            break;
        done += static_cast<std::size_t>(count);
    }
    snapshot.keptFd = fd;
    snapshot.version = FileVersion::Of(status);
    snapshot.parsed = ParseRegistryHiveText(std::string_view(text.Data(), done), snapshot.contents);
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

void SyncFolder(const std::string &folder)
{
    int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        fsync(fd);
        close(fd);
    }
}

// The advisory lock that serialises changes; released when the object goes.
class HiveLock
{
public:
    HiveLock() = default;
    HiveLock(const HiveLock &) = delete;
    HiveLock &operator=(const HiveLock &) = delete;
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

// Adds a section for `path` and for every missing key above it, parents first, as a regedit
// export lists them.
void CreateKeyPath(RegistryHiveContents &contents, const std::string &path)
{
    std::size_t end = std::strlen(kHkeyCurrentUserName);
    while (end != std::string::npos) {
        end = path.find('\\', end + 1);
        std::string part = path.substr(0, end);
        if (!RegistryKeyExists(contents, part))
            AddRegistryKey(contents, part);
    }
}

RegistryError ApplyChange(RegistryHiveContents &contents, const HiveChange &change)
{
    if (change.createsKey) {
        CreateKeyPath(contents, change.keyPath);
        return kErrorSuccess;
    }
    if (change.keyPath != kHkeyCurrentUserName && !RegistryKeyExists(contents, change.keyPath))
        return kErrorKeyDeleted;
    SetRegistryValue(AddRegistryKey(contents, change.keyPath), change.value.name, change.value.type,
                     change.value.data);
    return kErrorSuccess;
}

// Writes the snapshot's unwritten changes in one replace of the hive, under the lock. When the
// hive is still the version the snapshot read, the snapshot (which holds the changes already) is
// written as it is; when another process has replaced it since, the hive is read again and the
// changes applied to what it holds now, so that both processes keep their changes. `stillShared`:
// other keys remain open on the snapshot and go on using it.
RegistryError WriteChanges(HiveSnapshot &snapshot, bool stillShared)
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
        } else if (const std::string end = LinkEnd(hivePath);
                   !end.empty() && stat(FolderOf(end).c_str(), &status) == 0
                   && S_ISDIR(status.st_mode)) {
            // A link to a file not made yet (a dotfile set up before the first run): it is made
            // where the link leads, in a folder that exists.
            target = end;
        }
    }
    FileVersion current;
    if (stat(target.c_str(), &status) == 0)
        current = FileVersion::Of(status);

    if (!snapshot.read || !(snapshot.version == current)) {
        HiveSnapshot latest;
        if (RegistryError error = ReadHive(target, latest))
            return error;
        for (const HiveChange &change : snapshot.unwritten) {
            if (RegistryError error = ApplyChange(latest.contents, change))
                return error;
        }
        snapshot.contents = std::move(latest.contents);
        snapshot.parsed = latest.parsed;
        snapshot.read = true;
    }
    if (!snapshot.parsed) {
        if (RegistryError error = SetAside(target))
            return error;
        snapshot.parsed = true;
    }
    // Under the lock no live save owns one of them, whatever its age.
    RemoveLeftTemporaries(target, std::numeric_limits<time_t>::max(), true);

    const std::string text = FormatRegistryHiveText(snapshot.contents);
    ReplacingFile file;
    int error = file.Create(target, 0600, ReplacedFileLock::Unlocked);
    if (!error)
        error = file.Write(text.data(), text.size());
    if (!error)
        error = file.Flush();
    if (!error)
        error = file.Replace();
    if (error) {
        // What the hive holds now is unknown to the snapshot: read it again at the next change.
        snapshot.read = false;
        return ErrorFromErrno(error);
    }
    snapshot.unwritten.clear();
    snapshot.Forget();
    snapshot.read = false;
    if (!stillShared)
        return kErrorSuccess;

    // Keys still open on the snapshot: it now is the version just written; keep that file open
    // as a read would.
    const int fd = open(target.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd >= 0) {
        if (fstat(fd, &status) == 0) {
            snapshot.keptFd = fd;
            snapshot.version = FileVersion::Of(status);
            snapshot.read = true;
        } else {
            close(fd);
        }
    }
    return kErrorSuccess;
}

// The snapshot for a key opened below `root`: the root key's own when it is an open key, else
// one fresh read of the hive.
RegistryError SnapshotBelow(RegistryKeyHandle root, std::shared_ptr<HiveSnapshot> &snapshot)
{
    if (const OpenKey *parent = FindOpenKey(root)) {
        snapshot = parent->hive;
        return kErrorSuccess;
    }
    snapshot = std::make_shared<HiveSnapshot>();
    return ReadHive(RegistryHivePath(), *snapshot);
}

// The version of the file at the hive's path now; one that does not exist when there is none.
FileVersion HiveVersionNow()
{
    struct stat status
    {
    };
    const std::string path = RegistryHivePath();
    if (path.empty() || stat(path.c_str(), &status) != 0)
        return FileVersion();
    return FileVersion::Of(status);
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
    std::lock_guard<std::mutex> lock(g_registryMutex);
    g_missingKeyRead.reset();
    std::string path;
    if (RegistryError error = JoinKeyPath(root, subKey, path))
        return error;
    std::shared_ptr<HiveSnapshot> hive;
    if (RegistryError error = SnapshotBelow(root, hive))
        return error;
    if (path != kHkeyCurrentUserName && !RegistryKeyExists(hive->contents, path)) {
        if (!FindOpenKey(root)) {
            hive->Forget();
            g_missingKeyRead = MissingKeyRead{root, path, std::move(hive)};
        }
        return kErrorFileNotFound;
    }
    *result = AddOpenKey(path, access, std::move(hive));
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
    std::lock_guard<std::mutex> lock(g_registryMutex);
    const std::optional<MissingKeyRead> missing = std::exchange(g_missingKeyRead, std::nullopt);
    std::string path;
    if (RegistryError error = JoinKeyPath(root, subKey, path))
        return error;
    std::shared_ptr<HiveSnapshot> hive;
    if (missing && missing->root == root && missing->path == path
        && HiveVersionNow() == missing->hive->version)
        hive = missing->hive;
    else if (RegistryError error = SnapshotBelow(root, hive))
        return error;
    bool created = false;
    if (path != kHkeyCurrentUserName && !RegistryKeyExists(hive->contents, path)) {
        // The new key is written with the values set through it, when it is closed; the folder
        // that will hold the hive must be there to take it.
        const std::string hivePath = RegistryHivePath();
        if (hivePath.empty())
            return kErrorAccessDenied;
        if (int error = MakeFolders(FolderOf(hivePath)))
            return ErrorFromErrno(error);
        HiveChange change{path, true, {}};
        ApplyChange(hive->contents, change);
        hive->unwritten.push_back(std::move(change));
        created = true;
    }
    if (disposition)
        *disposition = created ? kRegCreatedNewKey : kRegOpenedExistingKey;
    *result = AddOpenKey(path, access, std::move(hive));
    return kErrorSuccess;
}

RegistryError RegistryQueryValue(RegistryKeyHandle key, const std::string &name,
                                 std::uint32_t *type, unsigned char *data, std::uint32_t *byteCount)
{
    std::lock_guard<std::mutex> lock(g_registryMutex);
    g_missingKeyRead.reset();
    if (!IsKnownHandle(key))
        return kErrorInvalidHandle;
    const OpenKey *open = FindOpenKey(key);
    if (open && !(open->access & kKeyQueryValue))
        return kErrorAccessDenied;
    if (data && !byteCount)
        return kErrorInvalidParameter;
    // An open key answers from what it read when it was opened; the root itself reads anew.
    std::shared_ptr<HiveSnapshot> hive = open ? open->hive : nullptr;
    if (!hive) {
        hive = std::make_shared<HiveSnapshot>();
        if (RegistryError error = ReadHive(RegistryHivePath(), *hive))
            return error;
    }
    const std::string path = PathOf(key);
    if (path != kHkeyCurrentUserName && !RegistryKeyExists(hive->contents, path))
        return kErrorKeyDeleted;
    RegistryKeyEntry *entry = FindRegistryKey(hive->contents, path);
    const RegistryValue *value = entry ? FindRegistryValue(*entry, name) : nullptr;
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
    std::lock_guard<std::mutex> lock(g_registryMutex);
    g_missingKeyRead.reset();
    if (!IsKnownHandle(key))
        return kErrorInvalidHandle;
    OpenKey *open = FindOpenKey(key);
    if (open && !(open->access & kKeySetValue))
        return kErrorAccessDenied;
    if ((!data && byteCount > 0) || !IsWritableRegistryName(name))
        return kErrorInvalidParameter;
    HiveChange change{
            PathOf(key), false,
            RegistryValue{name,
                          type,
                          data ? std::string(reinterpret_cast<const char *>(data), byteCount)
                               : std::string(),
                          {}}};
    if (!open) {
        // A value of the root itself is written at once.
        HiveSnapshot hive;
        hive.unwritten.push_back(std::move(change));
        return WriteChanges(hive, false);
    }
    if (RegistryError error = ApplyChange(open->hive->contents, change))
        return error;
    open->hive->unwritten.push_back(std::move(change));
    return kErrorSuccess;
}

RegistryError RegistryCloseKey(RegistryKeyHandle key)
{
    std::lock_guard<std::mutex> lock(g_registryMutex);
    g_missingKeyRead.reset();
    if (key == kHkeyCurrentUser)
        return kErrorSuccess;
    auto found = g_openKeys.find(key);
    if (found == g_openKeys.end())
        return kErrorInvalidHandle;
    std::shared_ptr<HiveSnapshot> hive = std::move(found->second.hive);
    g_openKeys.erase(found);
    if (hive && !hive->unwritten.empty())
        return WriteChanges(*hive, hive.use_count() > 1);
    return kErrorSuccess;
}

} // namespace kronvik
