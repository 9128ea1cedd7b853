// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "config_home.h"
#include "recorded_controls.h"
#include "registry_hive_text.h"
#include "settings_store.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <sys/inotify.h>
#include <unistd.h>

using namespace kronvik;
using kronvik::test::ReadBytes;
using kronvik::test::RecordedControls;
using kronvik::test::ScopedConfigHome;
using kronvik::test::WriteBytes;

namespace {

const char kSection[] = "[HKEY_CURRENT_USER\\Software\\Veltmark, Inc.\\Kronvik]\n";

// A hive holding the settings key with the given value lines, as a user could write it by hand.
void WriteSettingsHive(const ScopedConfigHome &home, const std::string &valueLines)
{
    std::filesystem::create_directories(home.KronvikFolder());
    WriteBytes(home.HivePath(), std::string("REGEDIT4\n\n") + kSection + valueLines);
}

RegistryHiveContents ParseHive(const std::string &path)
{
    RegistryHiveContents contents;
    EXPECT_TRUE(ParseRegistryHiveText(ReadBytes(path), contents)) << path;
    return contents;
}

// The stored bytes of one settings value, "<missing>" when there is none.
std::string StoredSetting(const ScopedConfigHome &home, const std::string &name)
{
    RegistryHiveContents contents = ParseHive(home.HivePath());
    RegistryKeyEntry *key =
            FindRegistryKey(contents, std::string("HKEY_CURRENT_USER\\") + kSettingsKeyPath);
    RegistryValue *value = key ? FindRegistryValue(*key, name) : nullptr;
    return value ? value->data : "<missing>";
}

bool SameRecord(const SettingsRecord &a, const SettingsRecord &b)
{
    return a.m_bRecurse == b.m_bRecurse && a.m_bSaveLog == b.m_bSaveLog
           && a.m_bSaveSourceDirs == b.m_bSaveSourceDirs && a.m_strSourceDirs == b.m_strSourceDirs
           && a.m_strLogDir == b.m_strLogDir && a.m_nTimeAdjust == b.m_nTimeAdjust;
}

std::string Zeroed(const std::string &text)
{
    return text + '\0';
}

} // namespace

TEST(LoadingSettings, changesNothingOnTheFirstRun)
{
    ScopedConfigHome home;
    SettingsRecord record;
    RecordedControls controls;
    LoadSettings(record, controls);
    EXPECT_TRUE(SameRecord(record, SettingsRecord{}));
    EXPECT_TRUE(record.m_bRecurse && record.m_bSaveLog && record.m_bSaveSourceDirs);
    EXPECT_EQ(controls.textSets, 0);
    EXPECT_FALSE(controls.retrieveEnabled);
    EXPECT_FALSE(std::filesystem::exists(home.KronvikFolder())) << "loading writes nothing";
}

TEST(LoadingSettings, readsAMissingOrEmptyFlagAsOn)
{
    for (const char *recurse : {"", "\"Recurse\"=\"\"\n", "\"Recurse\"=hex(1):\n"}) {
        ScopedConfigHome home;
        WriteSettingsHive(home, std::string(recurse) + "\"SaveLog\"=\"0\"\n");
        SettingsRecord record;
        record.m_bRecurse = false;
        RecordedControls controls;
        LoadSettings(record, controls);
        EXPECT_TRUE(record.m_bRecurse) << recurse;
        EXPECT_FALSE(record.m_bSaveLog) << recurse;
    }
}

TEST(LoadingSettings, readsOnlyTheExactText1AsOn)
{
    struct Row
    {
        const char *data;
        bool on;
    } rows[] = {
            {"\"1\"", true},
            {"hex(1):31", true}, // no terminating zero: read up to its
                                 // size
            {"hex(1):31,00,32", true}, // read up to the first zero
            {"\"0\"", false},
            {"\"yes\"", false},
            {"\"true\"", false},
            {"\" 1\"", false},
            {"\"1 \"", false},
            {"\"01\"", false},
            {"dword:00000001", false}, // its first byte is 1, not the character "1"
    };
    for (const Row &row : rows) {
        ScopedConfigHome home;
        std::string data = row.data;
        WriteSettingsHive(home, "\"Recurse\"=" + data + "\n\"SaveLog\"=" + data
                                        + "\n\"SaveDir\"=" + data + "\n");
        SettingsRecord record;
        record.m_bRecurse = record.m_bSaveLog = record.m_bSaveSourceDirs = !row.on;
        RecordedControls controls;
        LoadSettings(record, controls);
        EXPECT_EQ(record.m_bRecurse, row.on) << row.data;
        EXPECT_EQ(record.m_bSaveLog, row.on) << row.data;
        EXPECT_EQ(record.m_bSaveSourceDirs, row.on) << row.data;
    }
}

TEST(LoadingSettings, fillsTheSourceListAndEnablesRetrievingOnlyForAStoredList)
{
    struct Row
    {
        const char *values;
        const char *list;
        int textSets;
        bool enabled;
    } rows[] = {
            {"\"SaveDir\"=\"1\"\n\"SourceDir\"=\"D:\\\\Camera;E:\\\\More\"\n",
             "D:\\Camera;E:\\More", 1, true},
            {"\"SaveDir\"=\"1\"\n\"SourceDir\"=\"\"\n", "", 1, false},
            {"\"SaveDir\"=\"0\"\n\"SourceDir\"=\"D:\\\\Camera\"\n", "kept", 0, false},
    };
    for (const Row &row : rows) {
        ScopedConfigHome home;
        WriteSettingsHive(home, row.values);
        SettingsRecord record;
        record.m_strSourceDirs = "kept";
        RecordedControls controls;
        controls.text = "kept";
        LoadSettings(record, controls);
        EXPECT_EQ(record.m_strSourceDirs, row.list) << row.values;
        EXPECT_EQ(controls.text, row.list) << row.values;
        EXPECT_EQ(controls.textSets, row.textSets) << row.values;
        EXPECT_EQ(controls.retrieveEnabled, row.enabled) << row.values;
    }
}

TEST(LoadingSettings, ignoresTheLogsDirectoryWhenTheLogIsNotSaved)
{
    ScopedConfigHome home;
    WriteSettingsHive(home, "\"SaveLog\"=\"0\"\n\"LogDir\"=\"/stored/logs\"\n");
    SettingsRecord record;
    record.m_strLogDir = "/current/logs";
    RecordedControls controls;
    LoadSettings(record, controls);
    EXPECT_EQ(record.m_strLogDir, "/current/logs");

    WriteSettingsHive(home, "\"SaveLog\"=\"1\"\n\"LogDir\"=\"/stored/logs\"\n");
    LoadSettings(record, controls);
    EXPECT_EQ(record.m_strLogDir, "/stored/logs");
}

TEST(SavingSettings, createsTheKeyAndItsParentsAtTheFirstSave)
{
    ScopedConfigHome home;
    SettingsRecord record;
    record.m_bRecurse = false;
    RecordedControls controls;
    controls.text = "/home/me/Camera";
    SaveSettings(record, controls);
    // An empty logs directory stays empty: it means the per-user log folder.
    EXPECT_EQ(ReadBytes(home.HivePath()),
              "REGEDIT4\n"
              "\n[HKEY_CURRENT_USER\\Software]\n"
              "\n[HKEY_CURRENT_USER\\Software\\Veltmark, Inc.]\n"
              "\n[HKEY_CURRENT_USER\\Software\\Veltmark, Inc.\\Kronvik]\n"
              "\"Recurse\"=\"0\"\n"
              "\"SaveLog\"=\"1\"\n"
              "\"SaveDir\"=\"1\"\n"
              "\"SourceDir\"=\"/home/me/Camera\"\n"
              "\"LogDir\"=\"\"\n");
}

TEST(SavingSettings, writesTheGovernedValuesEmptyWhenTheirFlagIsOff)
{
    ScopedConfigHome home;
    WriteSettingsHive(home, "\"SaveDir\"=\"0\"\n\"SourceDir\"=\"D:\\\\Camera\"\n");
    SettingsRecord record;
    RecordedControls controls;
    LoadSettings(record, controls);
    ASSERT_FALSE(record.m_bSaveSourceDirs);

    record.m_bSaveLog = false;
    record.m_strLogDir = "/my/logs";
    controls.text = "/typed/after/loading";
    SaveSettings(record, controls);
    EXPECT_EQ(StoredSetting(home, "SourceDir"), Zeroed(""));
    EXPECT_EQ(StoredSetting(home, "LogDir"), Zeroed(""));
    EXPECT_EQ(StoredSetting(home, "SaveDir"), Zeroed("0"));
    EXPECT_EQ(StoredSetting(home, "SaveLog"), Zeroed("0"));
}

TEST(SavingSettings, storesWhatTheNextRunLoadsWithTheLiveListWhole)
{
    ScopedConfigHome home;
    std::string list;
    for (int i = 0; i < 40; ++i)
        list += (i ? ";" : "") + std::string("/media/card/DCIM/1") + std::to_string(i) + "CANON";
    ASSERT_GT(list.size(), 256u);
    SettingsRecord record;
    record.m_bRecurse = false;
    record.m_strSourceDirs = "/loaded/at/start";
    record.m_strLogDir = "/var/tmp/kronvik logs/";
    record.m_nTimeAdjust = 5;
    RecordedControls controls;
    controls.text = list;
    SaveSettings(record, controls);

    SettingsRecord next;
    RecordedControls nextControls;
    LoadSettings(next, nextControls);
    EXPECT_FALSE(next.m_bRecurse);
    EXPECT_EQ(next.m_strSourceDirs, list) << "saved from the edit box, not the record";
    EXPECT_EQ(nextControls.text, list);
    EXPECT_TRUE(nextControls.retrieveEnabled);
    EXPECT_EQ(next.m_strLogDir, "/var/tmp/kronvik logs/");
    EXPECT_EQ(next.m_nTimeAdjust, 0) << "the time adjustment is never stored";
}

TEST(SavingSettings, keepsEveryKeyAndValueOfAHiveEditedByHand)
{
    ScopedConfigHome home;
    std::filesystem::create_directories(home.KronvikFolder());
    const std::string handEdited = "REGEDIT4\r\n"
                                   "\r\n"
                                   "; mine\r\n"
                                   "[HKEY_CURRENT_USER\\Software\\Other Tool]\r\n"
                                   "\"Window\"=hex:01,02,\\\r\n"
                                   "  03\r\n"
                                   "@=\"default\"\r\n"
                                   "\r\n\r\n"
                                   "[HKEY_CURRENT_USER\\Software\\Veltmark, Inc.\\Kronvik]\r\n"
                                   "\"Extra\"=dword:00000007\r\n"
                                   "\"Recurse\"=\"yes\"\r\n"
                                   "\r\n"
                                   "[HKEY_LOCAL_MACHINE\\Elsewhere]\r\n"
                                   "\"Path\"=\"C:\\\\Program Files\"\r\n";
    WriteBytes(home.HivePath(), handEdited);
    RegistryHiveContents before;
    ASSERT_TRUE(ParseRegistryHiveText(handEdited, before));

    SettingsRecord record;
    RecordedControls controls;
    SaveSettings(record, controls);

    RegistryHiveContents after = ParseHive(home.HivePath());
    for (const RegistryKeyEntry &key : before.keys) {
        RegistryKeyEntry *kept = FindRegistryKey(after, key.path);
        ASSERT_NE(kept, nullptr) << key.path;
        for (const RegistryValue &value : key.values) {
            RegistryValue *keptValue = FindRegistryValue(*kept, value.name);
            ASSERT_NE(keptValue, nullptr) << key.path << " " << value.name;
            if (value.name != "Recurse") {
                EXPECT_EQ(keptValue->type, value.type) << value.name;
                EXPECT_EQ(keptValue->data, value.data) << value.name;
            }
        }
    }
    EXPECT_EQ(StoredSetting(home, "Recurse"), Zeroed("1"));
    EXPECT_EQ(StoredSetting(home, "LogDir"), Zeroed(""));
}

// How many times `save` opened the hive file, as the kernel saw it.
int HiveOpensDuring(const ScopedConfigHome &home, const std::function<void()> &save)
{
    const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    EXPECT_GE(watch, 0);
    // The closes too: the kernel merges an event into the same one just before it, unread.
    EXPECT_GE(inotify_add_watch(watch, home.KronvikFolder().c_str(), IN_OPEN | IN_CLOSE), 0);
    save();
    int opens = 0;
    alignas(inotify_event) char buffer[4096];
    for (ssize_t got; (got = read(watch, buffer, sizeof buffer)) > 0;) {
        for (ssize_t at = 0; at < got;) {
            const auto *event = reinterpret_cast<const inotify_event *>(buffer + at);
            if ((event->mask & IN_OPEN) && event->len > 0
                && std::string(event->name) == "registry.reg")
                ++opens;
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    }
    close(watch);
    return opens;
}

TEST(SavingSettings, readsTheHiveOnceWhetherItHoldsTheKeyOrNot)
{
    const struct
    {
        const char *told;
        std::string keys;
    } rows[] = {
            {"the settings key", std::string(kSection) + "\"Recurse\"=\"0\"\n"},
            {"another program's key only", "[HKEY_CURRENT_USER\\Software\\Other]\n\"x\"=\"y\"\n"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.told);
        ScopedConfigHome home;
        std::filesystem::create_directories(home.KronvikFolder());
        WriteBytes(home.HivePath(), "REGEDIT4\n\n" + row.keys);
        SettingsRecord record;
        RecordedControls controls;
        EXPECT_EQ(HiveOpensDuring(home, [&] { SaveSettings(record, controls); }), 1);
        EXPECT_EQ(StoredSetting(home, "Recurse"), Zeroed("1"));
    }
}

TEST(SavingSettings, keepsACorruptHiveAsideAndStartsAFreshOne)
{
    ScopedConfigHome home;
    std::filesystem::create_directories(home.KronvikFolder());
    const std::string corrupt = "REGEDIT4\n[HKEY_CURRENT_USER\\Software\\Veltmark, Inc.\\Kronvik\n"
                                "\"SourceDir\"=\"/precious\"\n";
    WriteBytes(home.HivePath(), corrupt);
    SettingsRecord record;
    RecordedControls controls;
    LoadSettings(record, controls);
    EXPECT_TRUE(SameRecord(record, SettingsRecord{}));
    EXPECT_EQ(controls.textSets, 0);

    controls.text = "/new";
    SaveSettings(record, controls);
    EXPECT_EQ(ReadBytes(home.HivePath() + ".bad"), corrupt);
    EXPECT_EQ(StoredSetting(home, "SourceDir"), Zeroed("/new"));
}

TEST(SavingSettings, givesUpSilentlyWhereNothingCanBeWritten)
{
    ScopedConfigHome home;
    // Root ignores permissions; a file where the settings folder belongs stops any write.
    WriteBytes(home.KronvikFolder(), "not a folder");
    SettingsRecord record;
    RecordedControls controls;
    controls.text = "/somewhere";
    SaveSettings(record, controls);
    EXPECT_EQ(ReadBytes(home.KronvikFolder()), "not a folder");
    LoadSettings(record, controls);
    EXPECT_EQ(controls.textSets, 0);
}

TEST(SavingSettings, keepsTheCommentLinesOfAHandEditedHiveInTheirPlaces)
{
    ScopedConfigHome home;
    std::filesystem::create_directories(home.KronvikFolder());
    WriteBytes(home.HivePath(), "; settings kept by hand\r\n"
                                "REGEDIT4\r\n"
                                "; about the tool below\r\n"
                                "\r\n"
                                "[HKEY_CURRENT_USER\\Software\\Other Tool]\r\n"
                                "\"Window\"=hex:01,02\r\n"
                                "; the end of the other tool\r\n"
                                "\r\n"
                                "[HKEY_CURRENT_USER\\Software\\Veltmark, Inc.\\Kronvik]\r\n"
                                "; where my pictures are\r\n"
                                "\"SourceDir\"=\"/old\"\r\n"
                                "  ;; an indented note on recursion\r\n"
                                "\"Recurse\"=\"0\"\r\n"
                                "\r\n"
                                "; the last line\r\n");
    SettingsRecord record;
    RecordedControls controls;
    controls.text = "/new";
    SaveSettings(record, controls);
    // Each comment stays before the line that followed it; the values change.
    EXPECT_EQ(ReadBytes(home.HivePath()), "REGEDIT4\n"
                                          "; settings kept by hand\n"
                                          "\n"
                                          "; about the tool below\n"
                                          "[HKEY_CURRENT_USER\\Software\\Other Tool]\n"
                                          "\"Window\"=hex(3):01,02\n"
                                          "\n"
                                          "; the end of the other tool\n"
                                          "[HKEY_CURRENT_USER\\Software\\Veltmark, Inc.\\Kronvik]\n"
                                          "; where my pictures are\n"
                                          "\"SourceDir\"=\"/new\"\n"
                                          "  ;; an indented note on recursion\n"
                                          "\"Recurse\"=\"1\"\n"
                                          "\"SaveLog\"=\"1\"\n"
                                          "\"SaveDir\"=\"1\"\n"
                                          "\"LogDir\"=\"\"\n"
                                          "\n"
                                          "; the last line\n");
}
