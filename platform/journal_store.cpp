// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "journal_store.h"

#include "file_services.h"
#include "read_only.h"

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <fcntl.h>
#include <mutex>
#include <pthread.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <thread>
#include <unistd.h>

namespace kronvik {

namespace detail {

void CloseDatabase::operator()(sqlite3 *database) const
{
    // The _v2 close waits for statements still open instead of failing, so the order in which
    // owners go does not matter.
    sqlite3_close_v2(database);
}

void FinalizeStatement::operator()(sqlite3_stmt *statement) const
{
    sqlite3_finalize(statement);
}

} // namespace detail

namespace {

// SQLite's reason, with the system's where it has one: "unable to open database file" alone
// does not tell a read-only folder from a missing one.
std::string ReasonOf(sqlite3 *database, int result)
{
    std::string reason = database ? sqlite3_errmsg(database) : sqlite3_errstr(result);
    const int systemError = database ? sqlite3_system_errno(database) : 0;
    if (systemError != 0)
        reason += " (" + SystemErrorText(systemError) + ")";
    return reason;
}

} // namespace

std::string JournalErrorMessage(const std::string &path, const std::string &reason)
{
    return "The journal " + path + " cannot be used: " + reason + ".";
}

void CheckNewJournalFolder(const std::string &path)
{
    const auto split = path.rfind('/');
    const std::string folder = split == std::string::npos ? "." : path.substr(0, split + 1);
    struct stat status
    {
    };
    if (stat(folder.c_str(), &status) == 0 && S_ISDIR(status.st_mode)
        && IsReadOnlyToAll(status.st_mode))
        throw JournalError(JournalErrorMessage(path, CannotMakeJournalReason(EACCES)));
    // SQLite tries to open a file it could not make for reading and gives the reason that failed:
    // "No such file or directory" for a folder where the user may not make files.
    if (faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) != 0
        && (errno == EACCES || errno == EROFS))
        throw JournalError(JournalErrorMessage(path, CannotMakeJournalReason(errno)));
}

std::string CannotMakeJournalReason(int error)
{
    return std::string(sqlite3_errstr(SQLITE_CANTOPEN)) + " (" + SystemErrorText(error) + ")";
}

void CheckNewJournalRoom(const std::string &path)
{
    // A new journal holds its schema in about 100 KB (the database, its write-ahead log and the
    // log's index), and a pass's row takes a few pages more before any picture is changed.
    constexpr std::uint64_t kNewJournalBytes = 128u << 10;
    // The folders still to be made take no room worth counting: the nearest that exists holds
    // what they will.
    std::string folder = path.substr(0, path.rfind('/'));
    struct statvfs room
    {
    };
    while (statvfs(folder.empty() ? "/" : folder.c_str(), &room) != 0) {
        const auto split = folder.rfind('/');
        if (errno != ENOENT || split == std::string::npos)
            return; // the making of the journal meets this itself
        folder.resize(split);
    }
    // The superuser may write into the blocks a file system keeps back.
    const std::uint64_t blocks = geteuid() == 0 ? room.f_bfree : room.f_bavail;
    if (blocks * room.f_frsize < kNewJournalBytes)
        throw JournalError(JournalErrorMessage(path, sqlite3_errstr(SQLITE_FULL)));
}

JournalStatement::JournalStatement(const JournalStore *store, sqlite3_stmt *statement)
    : m_store(store)
    , m_statement(statement)
{
}

void JournalStatement::Check(int result) const
{
    if (result != SQLITE_OK)
        throw m_store->Error(result);
}

JournalStatement &JournalStatement::Bind(int parameter, std::int64_t value)
{
    Check(sqlite3_bind_int64(m_statement.get(), parameter, value));
    return *this;
}

namespace {

int BindBlob(sqlite3_stmt *statement, int parameter, std::string_view bytes,
             sqlite3_destructor_type keep)
{
    // A zero-length blob, not NULL, for an empty text: "" and no value differ.
    return bytes.empty()
                   ? sqlite3_bind_zeroblob(statement, parameter, 0)
                   : sqlite3_bind_blob64(statement, parameter, bytes.data(), bytes.size(), keep);
}

} // namespace

JournalStatement &JournalStatement::BindBytes(int parameter, std::string_view bytes)
{
    Check(BindBlob(m_statement.get(), parameter, bytes, SQLITE_TRANSIENT));
    return *this;
}

JournalStatement &JournalStatement::BindKeptBytes(int parameter, std::string_view bytes)
{
    Check(BindBlob(m_statement.get(), parameter, bytes, SQLITE_STATIC));
    return *this;
}

JournalStatement &JournalStatement::BindNull(int parameter)
{
    Check(sqlite3_bind_null(m_statement.get(), parameter));
    return *this;
}

bool JournalStatement::Step()
{
    const int result = sqlite3_step(m_statement.get());
    if (result == SQLITE_ROW)
        return true;
    if (result == SQLITE_DONE)
        return false;
    // The error belongs to this use; the statement must be ready for the next one, with no
    // bytes kept in place by this one.
    const JournalError error = m_store->Error(result);
    Reset();
    throw error;
}

void JournalStatement::Run()
{
    Step();
    Reset();
}

void JournalStatement::Reset()
{
    sqlite3_reset(m_statement.get());
    sqlite3_clear_bindings(m_statement.get());
}

std::string_view JournalStatement::BytesView(int column) const
{
    const void *bytes = sqlite3_column_blob(m_statement.get(), column);
    const int size = sqlite3_column_bytes(m_statement.get(), column);
    return bytes ? std::string_view(static_cast<const char *>(bytes),
                                    static_cast<std::size_t>(size))
                 : std::string_view();
}

bool JournalStatement::IsNull(int column) const
{
    return sqlite3_column_type(m_statement.get(), column) == SQLITE_NULL;
}

std::int64_t JournalStatement::Integer(int column) const
{
    return sqlite3_column_int64(m_statement.get(), column);
}

std::string JournalStatement::Bytes(int column) const
{
    const void *bytes = sqlite3_column_blob(m_statement.get(), column);
    const int size = sqlite3_column_bytes(m_statement.get(), column);
    return bytes ? std::string(static_cast<const char *>(bytes), static_cast<std::size_t>(size))
                 : std::string();
}

// The write-ahead log's length, in pages, past which a commit asks for a checkpoint: SQLite's own
// default. The log restarts at a commit that finds all of it copied; checkpoints made alongside
// commits that come faster than the disk takes them never get there, and past the most a commit
// makes the checkpoint itself, as SQLite's own would.
constexpr int kCheckpointFrames = 1000;
constexpr int kMostFrames = 4 * kCheckpointFrames;

namespace {

std::once_flag s_configured;

// Every connection is used by one thread at a time (a pass hands its own to the journal's thread,
// the checkpoints have theirs), so SQLite's locks on each connection and on its memory counters
// only cost time: a lock and an unlock for every call and every allocation, a seventh of what
// the journal's thread spends in a pass. The counters must be turned off before SQLite starts;
// where it already has, they stay on.
void ConfigureSqlite()
{
    std::call_once(s_configured, [] { sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0); });
}

constexpr int kOpenFlags = SQLITE_OPEN_NOMUTEX;

// Held while a copy works in SQLite. A process forked meanwhile would inherit the locks the copy
// holds inside SQLite, and its child wait on them forever: a fork waits for the copy instead.
std::mutex s_copying;
std::once_flag s_forkWaits;

void HoldCopies()
{
    s_copying.lock();
}

void ReleaseCopies()
{
    s_copying.unlock();
}

} // namespace

// Copies the write-ahead log into the database on a connection and thread of its own, while
// commits go on. Made by SQLite's automatic checkpoint, the copy and its two flushes were part of
// the commit that crossed the length: a pass waited for them, several milliseconds on a disk.
// SQLite keeps the copy safe against a kill at any moment, as with its own.
class JournalStore::Checkpoints
{
public:
    explicit Checkpoints(std::string path)
        : m_path(std::move(path))
        , m_thread([this](std::stop_token stop) { Run(stop); })
    {
        std::call_once(s_forkWaits,
                       [] { pthread_atfork(&HoldCopies, &ReleaseCopies, &ReleaseCopies); });
    }

    // A checkpoint under way is finished; one only asked for is left: the log is still as long at
    // the next commit, which asks again.
    ~Checkpoints()
    {
        m_thread.request_stop();
        m_thread.join();
    }

    // Until the copy under way, if any, is done.
    static std::unique_lock<std::mutex> AwaitCopy() { return std::unique_lock(s_copying); }

    void Ask()
    {
        {
            const std::lock_guard lock(m_mutex);
            m_asked = true;
        }
        m_wake.notify_one();
    }

private:
    void Run(std::stop_token stop)
    {
        std::unique_ptr<sqlite3, detail::CloseDatabase> database;
        for (;;) {
            {
                std::unique_lock lock(m_mutex);
                if (!m_wake.wait(lock, stop, [this] { return m_asked; }) || stop.stop_requested())
                    break;
                m_asked = false;
            }
            const std::lock_guard copying(s_copying);
            if (!database) {
                sqlite3 *opened = nullptr;
                const int result = sqlite3_open_v2(m_path.c_str(), &opened,
                                                   SQLITE_OPEN_READWRITE | kOpenFlags, nullptr);
                database.reset(opened);
                if (result != SQLITE_OK) {
                    database.reset();
                    return; // the log then grows until a later process copies it
                }
                sqlite3_db_config(opened, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
                // A connection learns that the database is in WAL mode at its first read; a
                // checkpoint before it does nothing.
                sqlite3_exec(opened, "PRAGMA schema_version", nullptr, nullptr, nullptr);
            }
            // PASSIVE waits for no lock: a reader or writer of another process only leaves part
            // of the log for the next time. A failure is no failure of the commit that asked.
            sqlite3_wal_checkpoint_v2(database.get(), "main", SQLITE_CHECKPOINT_PASSIVE, nullptr,
                                      nullptr);
        }
        const std::lock_guard copying(s_copying);
        database.reset();
    }

    std::string m_path;
    std::mutex m_mutex;
    std::condition_variable_any m_wake;
    bool m_asked = false;
    std::jthread m_thread; // last: it stops before the rest goes
};

int JournalStore::Committed(void *store, sqlite3 *database, const char *name, int frames)
{
    if (frames < kCheckpointFrames)
        return SQLITE_OK;
    auto &self = *static_cast<JournalStore *>(store);
    if (frames >= kMostFrames) {
        // A checkpoint finds the log's lock taken while another copies it, and does nothing.
        const std::unique_lock<std::mutex> copied = Checkpoints::AwaitCopy();
        sqlite3_wal_checkpoint_v2(database, name, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
        return SQLITE_OK;
    }
    if (!self.m_checkpoints)
        self.m_checkpoints = std::make_unique<Checkpoints>(self.m_path);
    self.m_checkpoints->Ask();
    return SQLITE_OK;
}

JournalStore::JournalStore(const std::string &path, int busyMilliseconds)
    : m_path(path)
{
    // A journal, or the folder a new one is to be made in, that grants no one a write permission
    // is read-only to the superuser as well, as a picture and the log file are: SQLite, which
    // the kernel lets write them, would otherwise go ahead for root alone.
    struct stat status
    {
    };
    if (stat(path.c_str(), &status) == 0) {
        if (IsReadOnlyToAll(status.st_mode))
            throw JournalError(JournalErrorMessage(path, "it is read-only"));
    } else if (errno == ENOENT) {
        CheckNewJournalFolder(path);
    }
    ConfigureSqlite();
    sqlite3 *database = nullptr;
    const int result =
            sqlite3_open_v2(path.c_str(), &database,
                            SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | kOpenFlags, nullptr);
    m_database.reset(database);
    if (result != SQLITE_OK)
        throw Error(result);
    sqlite3_extended_result_codes(database, 1);
    // SQLite opens a file it may not write for reading only; a journal must take writes.
    if (sqlite3_db_readonly(database, "main") == 1)
        throw JournalError(JournalErrorMessage(path, "it is read-only"));
    sqlite3_busy_timeout(database, busyMilliseconds);
    // WAL lets the window and kronvik-cli read while the other writes, and a commit costs no
    // flush of its own. synchronous=NORMAL flushes at each checkpoint instead of each commit: a
    // killed process (SIGKILL, a crash) still loses nothing committed, since the operating system
    // keeps what was written; only a power cut can take back the last commits. FULL would cost a
    // flush for every batch of pictures, for a failure that also loses the pictures' own writes
    // still in the page cache.
    // A new journal, opened by two processes at once, turns to WAL under a lock that SQLite does
    // not wait for: its busy timeout is kept here instead.
    const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(busyMilliseconds);
    for (;;) {
        const int mode =
                sqlite3_exec(database, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
        if (mode == SQLITE_OK)
            break;
        if ((mode & 0xff) != SQLITE_BUSY || std::chrono::steady_clock::now() >= deadline)
            throw Error(mode);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    Execute("PRAGMA synchronous=NORMAL; PRAGMA foreign_keys=ON;");
    // The last connection to close would copy the write-ahead log into the database and flush
    // both, at the end of every pass and on its critical path (about a tenth of a pass of 1,000
    // pictures in memory). The log is left for the checkpoint that a later commit asks for once it
    // has grown (Checkpoints); every reader reads through it. As with NORMAL above, only a power
    // cut can take back the commits since the last checkpoint, and it would take the pass's own
    // writes still in the page cache with them.
    sqlite3_db_config(database, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
    // In place of the automatic checkpoint.
    sqlite3_wal_hook(database, &JournalStore::Committed, this);
    m_begin = Prepare("BEGIN IMMEDIATE");
    m_commit = Prepare("COMMIT");
    m_rollback = Prepare("ROLLBACK");
}

JournalStore::~JournalStore()
{
    m_checkpoints.reset();
    // The statements go before the database they belong to.
    m_begin = {};
    m_commit = {};
    m_rollback = {};
}

JournalError JournalStore::Error(int result) const
{
    return JournalError(JournalErrorMessage(m_path, ReasonOf(m_database.get(), result)));
}

void JournalStore::Execute(const char *sql)
{
    char *message = nullptr;
    const int result = sqlite3_exec(m_database.get(), sql, nullptr, nullptr, &message);
    sqlite3_free(message);
    if (result != SQLITE_OK)
        throw Error(result);
}

JournalStatement JournalStore::Prepare(const char *sql)
{
    sqlite3_stmt *statement = nullptr;
    const int result = sqlite3_prepare_v3(m_database.get(), sql, -1, SQLITE_PREPARE_PERSISTENT,
                                          &statement, nullptr);
    if (result != SQLITE_OK) {
        sqlite3_finalize(statement);
        throw Error(result);
    }
    return JournalStatement(this, statement);
}

int JournalStore::UserVersion()
{
    JournalStatement query = Prepare("PRAGMA user_version");
    query.Step();
    return static_cast<int>(query.Integer(0));
}

void JournalStore::SetUserVersion(int version)
{
    Execute(("PRAGMA user_version=" + std::to_string(version)).c_str());
}

void JournalStore::BeginImmediate()
{
    m_begin.Run();
}

void JournalStore::Commit()
{
    m_commit.Run();
}

void JournalStore::Rollback() noexcept
{
    // After some errors SQLite has rolled back already; then there is nothing to end.
    if (sqlite3_get_autocommit(m_database.get()))
        return;
    try {
        m_rollback.Run();
    } catch (const JournalError &) {
    }
}

std::int64_t JournalStore::LastInsertId() const
{
    return sqlite3_last_insert_rowid(m_database.get());
}

std::int64_t JournalStore::ChangedRows() const
{
    return sqlite3_changes(m_database.get());
}

JournalTransaction::JournalTransaction(JournalStore &store)
    : m_store(store)
{
    m_store.BeginImmediate();
}

JournalTransaction::~JournalTransaction()
{
    if (m_open)
        m_store.Rollback();
}

void JournalTransaction::Commit()
{
    m_store.Commit();
    m_open = false;
}

} // namespace kronvik
