// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

struct sqlite3;
struct sqlite3_stmt;

namespace kronvik {

// The journal cannot be opened or written: the disk is full, its folder is read-only, another
// program holds it locked for longer than the wait allows, or it is damaged or too new. A front
// end reports it before a dating pass changes anything (the window's critical box,
// kronvik-cli's standard error and exit status 3).
class JournalError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

namespace detail {
struct CloseDatabase
{
    void operator()(sqlite3 *database) const;
};
struct FinalizeStatement
{
    void operator()(sqlite3_stmt *statement) const;
};
} // namespace detail

class JournalStore;

// One statement, prepared once and reset between uses. Columns and parameters count from 0 and
// 1 as SQLite's own do. Move-only; it must not outlive its store.
class JournalStatement
{
public:
    JournalStatement() = default;

    JournalStatement &Bind(int parameter, std::int64_t value);
    // Bytes as they are (paths need not be valid UTF-8): stored as a blob.
    JournalStatement &BindBytes(int parameter, std::string_view bytes);
    // The same, for bytes that stay where they are until the statement's next Run or Reset:
    // SQLite reads them in place instead of copying them first.
    JournalStatement &BindKeptBytes(int parameter, std::string_view bytes);
    JournalStatement &BindNull(int parameter);

    // Runs the statement to its next row: true when a row is there to read, false once it is
    // done. Throws JournalError.
    bool Step();
    // Runs a statement that yields no row, then resets it.
    void Run();
    // Readies the statement for its next use and clears its parameters.
    void Reset();

    bool IsNull(int column) const;
    std::int64_t Integer(int column) const;
    std::string Bytes(int column) const;
    // The same bytes in place, until the next step of the statement.
    std::string_view BytesView(int column) const;

private:
    friend class JournalStore;
    JournalStatement(const JournalStore *store, sqlite3_stmt *statement);
    void Check(int result) const;

    const JournalStore *m_store = nullptr;
    std::unique_ptr<sqlite3_stmt, detail::FinalizeStatement> m_statement;
};

// The journal's database: the one place that talks to SQLite. Every failure becomes a
// JournalError whose message names the database file and gives SQLite's reason. One thread at a
// time may use a store and its statements: SQLite does not lock them for others.
class JournalStore
{
public:
    // Opens or creates the database at `path` (its folder must exist), in WAL mode, waiting up to
    // `busyMilliseconds` for a lock that another connection holds before it gives up.
    JournalStore(const std::string &path, int busyMilliseconds);
    ~JournalStore();
    // Its statements point back at it: it stays where it was made.
    JournalStore(const JournalStore &) = delete;
    JournalStore &operator=(const JournalStore &) = delete;

    // Runs one or more statements that yield no rows.
    void Execute(const char *sql);
    JournalStatement Prepare(const char *sql);

    // The schema number kept in the database header: 0 for a new database.
    int UserVersion();
    void SetUserVersion(int version);

    // A write transaction that takes the write lock at once, so two writers queue at its start
    // rather than fail part way.
    void BeginImmediate();
    void Commit();
    // Never throws: it runs while an error is on its way out.
    void Rollback() noexcept;

    std::int64_t LastInsertId() const;
    // The rows the last statement inserted, changed or deleted.
    std::int64_t ChangedRows() const;
    const std::string &Path() const { return m_path; }

    // The error for SQLite's `result` on this database, with its message.
    JournalError Error(int result) const;

private:
    class Checkpoints;
    static int Committed(void *store, sqlite3 *database, const char *name, int frames);

    std::string m_path;
    std::unique_ptr<sqlite3, detail::CloseDatabase> m_database;
    JournalStatement m_begin, m_commit, m_rollback;
    std::unique_ptr<Checkpoints> m_checkpoints; // made at the first commit that asks for one
};

// The message of a journal error about the database at `path`: "The journal PATH cannot be used:
// REASON."
std::string JournalErrorMessage(const std::string &path, const std::string &reason);

// Throws the JournalError of a new journal at `path` whose folder grants no one a write
// permission: read-only to the superuser as well, as the folder of the log file is.
void CheckNewJournalFolder(const std::string &path);

// Why a new journal cannot be made in a folder that exists, as SQLite says it, for the system's
// `error`: "unable to open database file (REASON)".
std::string CannotMakeJournalReason(int error);

// Throws the JournalError that making a new journal at `path` meets on a file system with less
// room than a new journal and its first pass take (for a preview, which makes none).
void CheckNewJournalRoom(const std::string &path);

// A write transaction: BEGIN IMMEDIATE now, ROLLBACK unless Commit is reached.
class JournalTransaction
{
public:
    explicit JournalTransaction(JournalStore &store);
    ~JournalTransaction();
    JournalTransaction(const JournalTransaction &) = delete;
    JournalTransaction &operator=(const JournalTransaction &) = delete;

    void Commit();

private:
    JournalStore &m_store;
    bool m_open = true;
};

} // namespace kronvik
