// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "file_state.h"
#include "journal.h"
#include "jpeg_fixture.h"
#include "recording_front_end.h"
#include "source_locks.h"
#include "state_home.h"
#include "temp_dir.h"

#include <filesystem>
#include <map>
#include <memory>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

namespace kronvik::test {

// Every file under a folder: its bytes and modification time, by its path inside the folder.
struct TreeEntry
{
    std::string bytes;
    std::int64_t modified = 0;
    friend bool operator==(const TreeEntry &, const TreeEntry &) = default;
};
using Tree = std::map<std::string, TreeEntry>;

inline Tree TreeOf(const std::filesystem::path &folder)
{
    Tree tree;
    for (const auto &entry : std::filesystem::recursive_directory_iterator(folder)) {
        if (!entry.is_regular_file())
            continue;
        FileState state;
        ReadFileState(entry.path().string(), state);
        tree[std::filesystem::relative(entry.path(), folder).string()] =
                TreeEntry{ReadBytes(entry.path().string()), state.modified};
    }
    return tree;
}

inline std::ostream &operator<<(std::ostream &out, const Tree &tree)
{
    for (const auto &[name, entry] : tree)
        out << "\n  " << name << " (" << entry.bytes.size() << " bytes, " << entry.modified << ")";
    return out;
}

// A waiter for folders that another run holds: it gives up at once.
class NoWait : public LockWaiter
{
public:
    bool WaitForLock(const std::string &, DirectoryLock &, LockMode) override { return false; }
};

// Another run that holds a folder exclusively until it is waited for: the waiter records each
// folder it is asked to wait for, and lets the folder go.
class OtherRunHolding : public LockWaiter
{
public:
    explicit OtherRunHolding(const std::string &folder)
    {
        if (!m_held.Open(folder) || m_held.TryLock(LockMode::Exclusive) != LockAttempt::Taken)
            throw std::runtime_error("cannot hold " + folder);
    }
    bool WaitForLock(const std::string &directory, DirectoryLock &, LockMode) override
    {
        waitedFor.push_back(directory);
        m_held.Release();
        return true;
    }
    std::vector<std::string> waitedFor;

private:
    DirectoryLock m_held;
};

// A run of the engine with the clock pinned and the time zone UTC (EngineSandbox), a journal under
// a temporary state folder with the same pinned clock, and a folder of pictures.
class JournalSandbox : public EngineSandbox
{
public:
    // 2001-01-01 00:00:00 UTC: what the pictures' modification time is before a pass.
    static constexpr std::int64_t kOldTime = 978307200LL * 1000000000;

    JournalSandbox() { OpenJournal(); }

    static JournalOptions Options()
    {
        JournalOptions options;
        options.clock = [] { return kPinnedClock; };
        return options;
    }

    // Closes the journal as a killed process leaves it, and opens it afresh.
    void OpenJournal()
    {
        journal.reset();
        journal = std::make_unique<Journal>(Journal::DefaultPath(), Options());
    }

    // A camera picture at `name` in the folder of pictures, whose two capture dates form a date
    // pair, modified at kOldTime.
    std::string Picture(const std::string &name, const std::string &date)
    {
        const std::string path = pictures / name;
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        WriteJpegWithExif(path, {{"Exif.Photo.DateTimeOriginal", date},
                                 {"Exif.Photo.DateTimeDigitized", date}});
        SetModificationTime(path, kOldTime);
        return path;
    }

    ScopedStateHome stateHome;
    TempDir pictures;
    std::unique_ptr<Journal> journal;
};

} // namespace kronvik::test
