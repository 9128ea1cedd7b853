// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
// Settings files as users' machines really hold them: damaged, cut short, exported by another
// program, enormous, or no file at all. A load takes what can be read and nothing else; a save
// never loses what it could not read and leaves a settings file that parses.
#include "config_home.h"
#include "recorded_controls.h"
#include "registry_hive_text.h"
#include "settings_store.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <random>
#include <sys/stat.h>

using namespace kronvik;
using kronvik::test::ReadBytes;
using kronvik::test::RecordedControls;
using kronvik::test::ScopedConfigHome;
using kronvik::test::WriteBytes;
namespace fs = std::filesystem;

namespace {

const std::string kSettings = "[HKEY_CURRENT_USER\\Software\\Veltmark, Inc.\\Kronvik]\n"
                              "\"SourceDir\"=\"/stored\"\n"
                              "\"Recurse\"=\"0\"\n";
const std::string kHive = "REGEDIT4\n\n" + kSettings;
const char *const kNothingLoaded = "<nothing>";

std::string Junk(std::size_t size)
{
    std::mt19937 random(12345);
    std::string bytes(size, '\0');
    for (char &byte : bytes)
        byte = static_cast<char>(random());
    return bytes;
}

// Each character followed by a zero byte, after the byte-order mark: what regedit exports.
std::string Utf16(const std::string &text)
{
    std::string bytes = "\xff\xfe";
    for (char c : text) {
        bytes += c == '\n' ? '\r' : c;
        bytes += '\0';
        if (c == '\n')
            bytes += std::string("\n\0", 2);
    }
    return bytes;
}

// Another program's key of `values` values of a kilobyte each, then the settings.
std::string LargeHive(int values)
{
    std::string text = "REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Other Program]\n";
    text.reserve(static_cast<std::size_t>(values) * 1040 + 200);
    for (int i = 0; i < values; ++i)
        text += "\"Value" + std::to_string(i) + "\"=\"" + std::string(1024, 'v') + "\"\n";
    return text + "\n" + kSettings;
}

std::string StoredValue(const std::string &hivePath, const std::string &key,
                        const std::string &name)
{
    RegistryHiveContents contents;
    if (!ParseRegistryHiveText(ReadBytes(hivePath), contents))
        return "<no hive>";
    RegistryKeyEntry *entry = FindRegistryKey(contents, "HKEY_CURRENT_USER\\" + key);
    RegistryValue *value = entry ? FindRegistryValue(*entry, name) : nullptr;
    return value ? value->data : "<missing>";
}

enum class Save {
    KeepsItAside, // the unreadable file is kept as registry.reg.bad; a fresh one holds the save
    Changes, // the values change in it and the rest stays
    IsRefused, // nothing is written and the entry stays what it was
};

struct Row
{
    const char *name;
    std::function<void(const std::string &)> make;
    std::string sourceLoaded; // kNothingLoaded: neither the record nor the box changes
    Save save;
    // What the save must have kept, checked on the hive's path.
    std::function<void(const std::string &)> kept = nullptr;
};

TEST(AHostileSettingsFile, givesALoadWhatCanBeReadAndIsNeverLostBySaving)
{
    const Row rows[] = {
            {"binary junk", [](const std::string &p) { WriteBytes(p, Junk(4096)); }, kNothingLoaded,
             Save::KeepsItAside},
            {"cut inside a value",
             [](const std::string &p) {
                 WriteBytes(p, kHive.substr(0, kHive.find("/stored") + 3));
             },
             kNothingLoaded, Save::KeepsItAside},
            {"cut at the end of a line",
             [](const std::string &p) { WriteBytes(p, kHive.substr(0, kHive.find("\"Recurse"))); },
             "/stored", Save::Changes},
            {"empty", [](const std::string &p) { WriteBytes(p, ""); }, kNothingLoaded,
             Save::Changes},
            {"UTF-16 with a byte-order mark, as regedit exports",
             [](const std::string &p) {
                 WriteBytes(p, Utf16("Windows Registry Editor Version 5.00\n\n" + kSettings));
             },
             kNothingLoaded, Save::KeepsItAside},
            {"UTF-8 with a byte-order mark, as an editor saves",
             [](const std::string &p) { WriteBytes(p, "\xef\xbb\xbf" + kHive); }, "/stored",
             Save::Changes},
            {"a NUL byte inside a quoted value",
             [](const std::string &p) {
                 std::string text = kHive;
                 WriteBytes(p, text.insert(text.find("/stored") + 7, std::string("\0tail", 5)));
             },
             "/stored", Save::Changes},
            {"a NUL inside a value in hex",
             [](const std::string &p) {
                 WriteBytes(p, "REGEDIT4\n" + kSettings + "\"SourceDir\"=hex(1):2f,61,00,62,00\n");
             },
             "/a", Save::Changes},
            {"a FIFO", [](const std::string &p) { ASSERT_EQ(mkfifo(p.c_str(), 0600), 0); },
             kNothingLoaded, Save::IsRefused,
             [](const std::string &p) {
                 EXPECT_EQ(fs::symlink_status(p).type(), fs::file_type::fifo);
             }},
            {"a link to /dev/zero",
             [](const std::string &p) { fs::create_symlink("/dev/zero", p); }, kNothingLoaded,
             Save::IsRefused,
             [](const std::string &p) { EXPECT_EQ(fs::read_symlink(p), "/dev/zero"); }},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        ScopedConfigHome home;
        fs::create_directories(home.KronvikFolder());
        row.make(home.HivePath());
        const bool regular = fs::is_regular_file(fs::symlink_status(home.HivePath()));
        const std::string before = regular ? ReadBytes(home.HivePath()) : "";

        SettingsRecord record;
        RecordedControls controls;
        LoadSettings(record, controls);
        if (row.sourceLoaded == kNothingLoaded) {
            EXPECT_EQ(controls.textSets, 0);
            EXPECT_TRUE(record.m_bRecurse);
        } else {
            EXPECT_EQ(controls.text, row.sourceLoaded);
        }

        controls.text = "/new";
        SaveSettings(record, controls);
        // Read only where a file is meant to be: a FIFO would keep the test waiting.
        const auto stored = [&] {
            return StoredValue(home.HivePath(), kSettingsKeyPath, "SourceDir");
        };
        switch (row.save) {
        case Save::KeepsItAside:
            EXPECT_EQ(ReadBytes(home.HivePath() + ".bad"), before);
            EXPECT_EQ(stored(), std::string("/new\0", 5));
            break;
        case Save::Changes:
            EXPECT_FALSE(fs::exists(home.HivePath() + ".bad"));
            EXPECT_EQ(stored(), std::string("/new\0", 5));
            break;
        case Save::IsRefused:
            EXPECT_FALSE(fs::exists(home.HivePath() + ".bad"));
            break;
        }
        if (row.kept)
            row.kept(home.HivePath());
        for (const auto &entry : fs::directory_iterator(home.KronvikFolder())) {
            const std::string name = entry.path().filename().string();
            EXPECT_EQ(name.find(".tmp"), std::string::npos) << "left behind: " << name;
        }
    }
}

// Read and written at every start and close: it must come through whole, whatever its size. (How
// fast is for the benchmark: bench/registry_hive_bench.sh.)
TEST(AFiftyMegabyteSettingsFile, isLoadedAndSavedWithEveryValueOfOtherPrograms)
{
    ScopedConfigHome home;
    fs::create_directories(home.KronvikFolder());
    WriteBytes(home.HivePath(), LargeHive(50 * 1000));
    SettingsRecord record;
    RecordedControls controls;
    LoadSettings(record, controls);
    EXPECT_EQ(controls.text, "/stored");
    EXPECT_FALSE(record.m_bRecurse);

    controls.text = "/new";
    SaveSettings(record, controls);
    // Read as text: parsing 50 MB more than the save itself does would only slow the test.
    const std::string saved = ReadBytes(home.HivePath());
    EXPECT_GT(saved.size(), 50u * 1000 * 1024);
    for (const char *name : {"\"Value0\"", "\"Value25000\"", "\"Value49999\""})
        EXPECT_NE(saved.find(name + ("=\"" + std::string(1024, 'v') + "\"\n")), std::string::npos)
                << name;
    EXPECT_NE(saved.find("\"SourceDir\"=\"/new\"\n"), std::string::npos);
    EXPECT_FALSE(fs::exists(home.HivePath() + ".bad"));
}

} // namespace
