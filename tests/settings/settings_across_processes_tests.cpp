// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
// The settings file as other processes see it: while it is saved, when a save is killed, and how
// often a load or a save touches it.
#include "config_home.h"
#include "recorded_controls.h"
#include "registry_hive_text.h"
#include "settings_store.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <set>
#include <sys/inotify.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace kronvik;
using kronvik::test::ReadBytes;
using kronvik::test::RecordedControls;
using kronvik::test::ScopedConfigHome;
using kronvik::test::WriteBytes;

namespace {

// Save number `n` writes values that all carry n, so a load can tell whether it saw one save.
void SaveNumber(int n)
{
    SettingsRecord record;
    record.m_bRecurse = n % 2 == 0;
    record.m_strLogDir = "/logs/" + std::to_string(n);
    RecordedControls controls;
    controls.text = "/save/" + std::to_string(n);
    SaveSettings(record, controls);
}

// The number of the save whose values were loaded; -1 when they come from different saves.
int SaveNumberLoaded(const SettingsRecord &record, const std::string &sourceText)
{
    const std::string prefix = "/save/";
    if (sourceText.compare(0, prefix.size(), prefix) != 0)
        return -1;
    const int n = std::atoi(sourceText.c_str() + prefix.size());
    const bool same = record.m_strLogDir == "/logs/" + std::to_string(n)
                      && record.m_bRecurse == (n % 2 == 0) && record.m_bSaveLog
                      && record.m_bSaveSourceDirs;
    return same ? n : -1;
}

int LoadSaveNumber()
{
    SettingsRecord record;
    RecordedControls controls;
    LoadSettings(record, controls);
    return SaveNumberLoaded(record, controls.text);
}

// The save number the hive file holds, read without the settings code; -1 when it holds no
// whole save or cannot be parsed.
int SaveNumberInFile(const std::string &path)
{
    RegistryHiveContents contents;
    if (!ParseRegistryHiveText(ReadBytes(path), contents))
        return -1;
    RegistryKeyEntry *key =
            FindRegistryKey(contents, std::string("HKEY_CURRENT_USER\\") + kSettingsKeyPath);
    if (!key)
        return -1;
    auto text = [&](const char *name) {
        RegistryValue *value = FindRegistryValue(*key, name);
        return value ? std::string(value->data.c_str()) : std::string();
    };
    SettingsRecord record;
    record.m_bRecurse = text("Recurse") == "1";
    record.m_bSaveLog = text("SaveLog") == "1";
    record.m_bSaveSourceDirs = text("SaveDir") == "1";
    record.m_strLogDir = text("LogDir");
    return SaveNumberLoaded(record, text("SourceDir"));
}

// A hive with another program's key of `values` values of `valueBytes` bytes each, so that
// reading, parsing and writing it take a while.
void WriteLargeHive(const ScopedConfigHome &home, int values, std::size_t valueBytes)
{
    std::filesystem::create_directories(home.KronvikFolder());
    std::string text = "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Other Program]\n";
    for (int i = 0; i < values; ++i)
        text += "\"Value" + std::to_string(i) + "\"=\"" + std::string(valueBytes, 'v') + "\"\n";
    WriteBytes(home.HivePath(), text);
}

std::vector<std::string> NamesIn(const std::string &folder)
{
    std::vector<std::string> names;
    for (const auto &entry : std::filesystem::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

bool Readable(int fd, int timeoutMs)
{
    pollfd poller{fd, POLLIN, 0};
    return poll(&poller, 1, timeoutMs) > 0;
}

// The inotify events of one folder, by the name they concern.
class FolderEvents
{
public:
    FolderEvents(const std::string &folder, std::uint32_t mask)
        : m_fd(inotify_init1(IN_NONBLOCK | IN_CLOEXEC))
    {
        inotify_add_watch(m_fd, folder.c_str(), mask);
    }
    ~FolderEvents() { close(m_fd); }

    // Waits up to `timeoutMs` for events and returns them as (mask, name); none on timeout.
    std::vector<std::pair<std::uint32_t, std::string>> Next(int timeoutMs)
    {
        std::vector<std::pair<std::uint32_t, std::string>> events;
        if (!Readable(m_fd, timeoutMs))
            return events;
        alignas(inotify_event) char buffer[16384];
        ssize_t length;
        while ((length = read(m_fd, buffer, sizeof buffer)) > 0) {
            for (char *at = buffer; at < buffer + length;) {
                const auto *event = reinterpret_cast<const inotify_event *>(at);
                events.emplace_back(event->mask, event->len ? event->name : "");
                at += sizeof(inotify_event) + event->len;
            }
        }
        return events;
    }

private:
    int m_fd;
};

TEST(TheSettingsFile, isReadOncePerLoadAndReadAndReplacedOncePerSave)
{
    struct Row
    {
        const char *label;
        bool hiveExists;
        void (*action)();
        int opens;
        int replaces;
    } rows[] = {
            {"a load", true, [] { LoadSaveNumber(); }, 1, 0},
            {"a save over a hive", true, [] { SaveNumber(2); }, 1, 1},
            {"the first save", false, [] { SaveNumber(1); }, 0, 1},
    };
    for (const Row &row : rows) {
        ScopedConfigHome home;
        std::filesystem::create_directories(home.KronvikFolder());
        if (row.hiveExists)
            SaveNumber(1);
        FolderEvents events(home.KronvikFolder(), IN_OPEN | IN_MOVED_TO);
        row.action();
        int opens = 0, replaces = 0;
        for (const auto &[mask, name] : events.Next(0)) {
            if (name == "registry.reg") {
                opens += (mask & IN_OPEN) != 0;
                replaces += (mask & IN_MOVED_TO) != 0;
            }
        }
        EXPECT_EQ(opens, row.opens) << row.label;
        EXPECT_EQ(replaces, row.replaces) << row.label;
    }
}

TEST(TheSettingsFile, givesEveryLoadTheValuesOfOneSaveWhileAnotherProcessSaves)
{
    ScopedConfigHome home;
    WriteLargeHive(home, 3000, 20);
    SaveNumber(0);
    int stop[2], progress[2], result[2];
    ASSERT_EQ(pipe(stop), 0);
    ASSERT_EQ(pipe2(progress, O_NONBLOCK), 0);
    ASSERT_EQ(pipe(result), 0);
    const pid_t loader = fork();
    ASSERT_GE(loader, 0);
    if (loader == 0) {
        int counts[3] = {0, 0, 0}; // loads, loads of mixed values, different saves seen
        std::set<int> seen;
        while (!Readable(stop[0], 0)) {
            const int n = LoadSaveNumber();
            ++counts[0];
            if (n < 0)
                ++counts[1];
            else
                seen.insert(n);
            [[maybe_unused]] auto ignored = write(progress[1], "l", 1);
        }
        counts[2] = static_cast<int>(seen.size());
        _exit(write(result[1], counts, sizeof counts) == sizeof counts ? 0 : 1);
    }
    // Save until the loader has loaded often enough to have met saves in progress.
    int loads = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    for (int n = 1; (n <= 30 || loads < 30) && std::chrono::steady_clock::now() < deadline; ++n) {
        SaveNumber(n);
        char bytes[256];
        for (ssize_t count; (count = read(progress[0], bytes, sizeof bytes)) > 0;)
            loads += static_cast<int>(count);
    }
    ASSERT_EQ(write(stop[1], "s", 1), 1);
    int counts[3] = {};
    ASSERT_EQ(read(result[0], counts, sizeof counts), static_cast<ssize_t>(sizeof counts));
    int status = 0;
    waitpid(loader, &status, 0);
    for (int fd : {stop[0], stop[1], progress[0], progress[1], result[0], result[1]})
        close(fd);
    EXPECT_EQ(counts[1], 0) << "of " << counts[0] << " loads";
    EXPECT_GE(counts[2], 2) << "the loads met too few saves to tell";
}

TEST(TheSettingsFile, holdsTheOldOrTheNewSaveAfterAKilledSaveAndLosesItsTemporaryFileNextTime)
{
    ScopedConfigHome home;
    // Large enough that a save spends a while writing its temporary file.
    WriteLargeHive(home, 1000, 500);
    SaveNumber(0);
    FolderEvents events(home.KronvikFolder(), IN_CREATE);
    int killsLeavingATemporaryFile = 0;
    int before = 0;
    // The long run of killed passes (KRONVIK_KILLED_PASSES=1000) kills a save for every ten.
    const char *longRun = std::getenv("KRONVIK_KILLED_PASSES");
    const int rounds = std::max(8, longRun ? std::atoi(longRun) / 10 : 0);
    for (int round = 0; round < rounds; ++round) {
        events.Next(0); // forget the events of the saves before
        const pid_t saver = fork();
        ASSERT_GE(saver, 0);
        if (saver == 0) {
            for (int n = (round + 1) * 1000;; ++n)
                SaveNumber(n);
        }
        // Kill the saver as soon as a save has begun writing, or a little after.
        bool writing = false;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!writing && std::chrono::steady_clock::now() < deadline) {
            for (const auto &[mask, name] : events.Next(100))
                writing = writing || name.rfind("registry.reg.tmp", 0) == 0;
        }
        if (round % 2 == 1)
            usleep(500 * round);
        kill(saver, SIGKILL);
        int status = 0;
        waitpid(saver, &status, 0);
        ASSERT_TRUE(writing) << "round " << round << ": no save began in time";

        const int n = SaveNumberInFile(home.HivePath());
        EXPECT_TRUE(n == before || n >= (round + 1) * 1000)
                << "round " << round << ": the hive holds no whole save (" << n << ")";
        const std::vector<std::string> left = NamesIn(home.KronvikFolder());
        killsLeavingATemporaryFile += left.size() > 2;

        SaveNumber(1);
        EXPECT_EQ(NamesIn(home.KronvikFolder()),
                  (std::vector<std::string>{"registry.reg", "registry.reg.lock"}))
                << "round " << round;
        EXPECT_EQ(SaveNumberInFile(home.HivePath()), 1) << "round " << round;
        before = 1;
    }
    EXPECT_GT(killsLeavingATemporaryFile, 0) << "no kill met a save while it wrote";
}

TEST(TheSettingsFile, holdsTheLastWholeSaveOfTwoProcessesSavingAtOnce)
{
    ScopedConfigHome home;
    WriteLargeHive(home, 300, 100);
    constexpr int kSaves = 30;
    int start[2];
    ASSERT_EQ(pipe(start), 0);
    pid_t savers[2];
    for (int saver = 0; saver < 2; ++saver) {
        savers[saver] = fork();
        ASSERT_GE(savers[saver], 0);
        if (savers[saver] == 0) {
            char go;
            close(start[1]);
            if (read(start[0], &go, 1) != 1)
                _exit(1);
            // Numbered 1000.. and 2000..: a mix of the two shows in the values.
            for (int n = 0; n < kSaves; ++n)
                SaveNumber((saver + 1) * 1000 + n);
            _exit(0);
        }
    }
    close(start[0]);
    ASSERT_EQ(write(start[1], "gg", 2), 2);
    close(start[1]);
    for (pid_t saver : savers) {
        int status = 0;
        ASSERT_EQ(waitpid(saver, &status, 0), saver);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    // Whichever saved last, all its values and only its.
    const int last = SaveNumberInFile(home.HivePath());
    EXPECT_TRUE(last == 1000 + kSaves - 1 || last == 2000 + kSaves - 1) << last;
    EXPECT_EQ(NamesIn(home.KronvikFolder()),
              (std::vector<std::string>{"registry.reg", "registry.reg.lock"}));
    RegistryHiveContents contents;
    ASSERT_TRUE(ParseRegistryHiveText(ReadBytes(home.HivePath()), contents));
    RegistryKeyEntry *other =
            FindRegistryKey(contents, "HKEY_CURRENT_USER\\Software\\Other Program");
    ASSERT_NE(other, nullptr);
    EXPECT_EQ(other->values.size(), 300u) << "another program's values were lost";
}

} // namespace
