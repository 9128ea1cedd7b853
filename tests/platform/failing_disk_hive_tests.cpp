// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
// Saving the settings hive on a disk that fails at each step of the save: the save reports it,
// and the hive that was there stays, whole and readable.
#include "config_home.h"
#include "registry_hive.h"
#include "registry_hive_text.h"
#include "small_disk.h"
#include "temp_dir.h"
#include "write_faults.h"

#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>

using namespace kronvik;
using namespace kronvik::test;
namespace fs = std::filesystem;

namespace {

const char *const kKey = "Software\\Veltmark, Inc.\\Kronvik";

RegistryError Save(const std::string &value)
{
    RegistryKeyHandle key = kNoRegistryKey;
    RegistryError error = RegistryCreateKey(kHkeyCurrentUser, kKey, "", kRegOptionNonVolatile,
                                            kKeyAllAccess, nullptr, &key, nullptr);
    if (error)
        return error;
    const std::string data = value + '\0';
    error = RegistrySetValue(key, "Logs", kRegSz,
                             reinterpret_cast<const unsigned char *>(data.data()),
                             static_cast<std::uint32_t>(data.size()));
    const RegistryError closeError = RegistryCloseKey(key);
    return error ? error : closeError;
}

// The "Logs" value the hive file holds as text, or why it cannot be read.
std::string LogsIn(const std::string &hivePath)
{
    RegistryHiveContents contents;
    if (!ParseRegistryHiveText(ReadBytes(hivePath), contents))
        return "<the hive does not parse>";
    RegistryKeyEntry *key =
            FindRegistryKey(contents, std::string(kHkeyCurrentUserName) + "\\" + kKey);
    RegistryValue *value = key ? FindRegistryValue(*key, "Logs") : nullptr;
    return value ? std::string(value->data.c_str()) : "<no value>";
}

// The names in the hive's folder besides the hive and its lock file: what a save left behind.
std::vector<std::string> LeftBehind(const std::string &folder)
{
    std::vector<std::string> names;
    for (const auto &entry : fs::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        if (name != "registry.reg" && name != "registry.reg.lock")
            names.push_back(name);
    }
    return names;
}

struct ClearedFaults
{
    ~ClearedFaults() { ClearWriteFaults(); }
};

TEST(TheHiveOnAFailingDisk, keepsTheOldHiveWholeWhateverStepOfTheSaveFails)
{
    struct Step
    {
        const char *label;
        WriteStep step;
    } steps[] = {
            {"the temporary file's create", WriteStep::CreateTemporary},
            {"the temporary file's write", WriteStep::WriteTemporary},
            {"the temporary file's fsync", WriteStep::FlushTemporary},
            {"the rename over the hive", WriteStep::ReplaceByRename},
    };
    // A full disk is told as such; everything else as a hive that cannot be written.
    struct Failure
    {
        int error;
        RegistryError reported;
    } failures[] = {
            {EIO, kErrorAccessDenied},
            {ENOSPC, kErrorDiskFull},
            {EACCES, kErrorAccessDenied},
            {EROFS, kErrorAccessDenied},
    };
    const ClearedFaults cleared;
    for (const Step &step : steps) {
        for (const Failure &failure : failures) {
            SCOPED_TRACE(std::string(step.label) + " fails with " + std::strerror(failure.error));
            const ScopedConfigHome home;
            ASSERT_EQ(Save("/old/logs"), kErrorSuccess);
            const std::string before = ReadBytes(home.HivePath());

            FailWriteStep(step.step, failure.error);
            EXPECT_EQ(Save("/new/logs"), failure.reported);
            EXPECT_TRUE(ReadBytes(home.HivePath()) == before) << "the old hive was changed";
            EXPECT_EQ(LogsIn(home.HivePath()), "/old/logs");
            EXPECT_EQ(LeftBehind(home.KronvikFolder()), std::vector<std::string>{});

            // The disk works again: the next save goes through.
            EXPECT_EQ(Save("/newer/logs"), kErrorSuccess);
            EXPECT_EQ(LogsIn(home.HivePath()), "/newer/logs");
            ClearWriteFaults();
        }
    }
}

TEST(TheHiveOnAFullDisk, isLeftAsItWasAndTheSaveSaysTheDiskIsFull)
{
    const ScopedConfigHome home;
    fs::create_directories(home.KronvikFolder());
    SmallDisk disk(home.KronvikFolder(), "64k");
    if (!disk.IsMounted())
        GTEST_SKIP() << disk.Problem();

    ASSERT_EQ(Save("/old/logs"), kErrorSuccess);
    const std::string before = ReadBytes(home.HivePath());
    disk.Fill();

    // A value far longer than the room left: the new hive cannot be written whole.
    EXPECT_EQ(Save(std::string(16384, 'x')), kErrorDiskFull);
    EXPECT_TRUE(ReadBytes(home.HivePath()) == before) << "the old hive was changed";
    EXPECT_EQ(LogsIn(home.HivePath()), "/old/logs");
    EXPECT_EQ(LeftBehind(home.KronvikFolder()), std::vector<std::string>{"filler"});

    disk.Empty();
    EXPECT_EQ(Save("/newer/logs"), kErrorSuccess);
    EXPECT_EQ(LogsIn(home.HivePath()), "/newer/logs");
}

} // namespace
