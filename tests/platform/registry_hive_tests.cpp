// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "config_home.h"
#include "registry_hive.h"
#include "registry_hive_text.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sys/wait.h>
#include <unistd.h>

using namespace kronvik;
using kronvik::test::ReadBytes;
using kronvik::test::ScopedConfigHome;
using kronvik::test::WriteBytes;

namespace {

struct StoredValue
{
    RegistryError error = kErrorSuccess;
    std::uint32_t type = kRegNone;
    std::string data;
};

RegistryError Put(const std::string &subKey, const std::string &name, std::uint32_t type,
                  const std::string &data)
{
    RegistryKeyHandle key = kNoRegistryKey;
    RegistryError error = RegistryCreateKey(kHkeyCurrentUser, subKey, "", kRegOptionNonVolatile,
                                            kKeyAllAccess, nullptr, &key, nullptr);
    if (error)
        return error;
    error = RegistrySetValue(key, name, type, reinterpret_cast<const unsigned char *>(data.data()),
                             static_cast<std::uint32_t>(data.size()));
    // The value is written when the key is closed.
    RegistryError closeError = RegistryCloseKey(key);
    return error ? error : closeError;
}

StoredValue Get(const std::string &subKey, const std::string &name)
{
    StoredValue value;
    RegistryKeyHandle key = kNoRegistryKey;
    value.error = RegistryOpenKey(kHkeyCurrentUser, subKey, kKeyRead, &key);
    if (value.error)
        return value;
    std::uint32_t size = 0;
    value.error = RegistryQueryValue(key, name, nullptr, nullptr, &size);
    if (!value.error) {
        value.data.assign(size, '\0');
        value.error =
                RegistryQueryValue(key, name, &value.type,
                                   reinterpret_cast<unsigned char *>(value.data.data()), &size);
    }
    RegistryCloseKey(key);
    return value;
}

struct ValueRow
{
    const char *label;
    std::string name;
    std::uint32_t type;
    std::string data;
};

std::string Bytes(std::initializer_list<int> bytes)
{
    std::string text;
    for (int byte : bytes)
        text += static_cast<char>(byte);
    return text;
}

} // namespace

TEST(ARegistryHive, readsBackTheTypeAndBytesOfEveryValueExactly)
{
    ScopedConfigHome home;
    std::string everyByte;
    for (int byte = 0; byte < 256; ++byte)
        everyByte += static_cast<char>(byte);
    const ValueRow rows[] = {
            {"text with backslashes and quotes", "Path", kRegSz,
             std::string("C:\\dir\\\"quoted\" \\\0", 18)},
            {"text ending in a backslash", "Trail", kRegSz, std::string("D:\\\0", 4)},
            {"text that is not UTF-8", "Latin", kRegSz, std::string("caf\xe9 \xff\xfe\0", 9)},
            {"text without a terminating zero", "NoZero", kRegSz, "1"},
            {"text with a zero inside", "Inner", kRegSz, std::string("a\0b\0", 4)},
            {"text over two lines", "Lines", kRegSz, std::string("a\r\nb\0", 5)},
            {"the empty text", "EmptyText", kRegSz, std::string("\0", 1)},
            {"no data at all", "Nothing", kRegSz, ""},
            {"a dword", "Count", kRegDword, Bytes({0x2a, 0, 0, 0x80})},
            {"a dword of three bytes", "Short", kRegDword, Bytes({1, 2, 3})},
            {"binary bytes", "Raw", kRegBinary, everyByte},
            {"a qword", "Big", kRegQword, Bytes({1, 2, 3, 4, 5, 6, 7, 8})},
            {"a multi-string", "List", kRegMultiSz, std::string("a\0b\0\0", 5)},
            {"a type of no name", "Odd", 0x12345, Bytes({0xde, 0xad})},
            {"empty data of type none", "None", kRegNone, ""},
            {"a name with quotes and backslashes", "Odd \"name\" \\", kRegSz,
             std::string("x\0", 2)},
            {"the default value", "", kRegSz, std::string("default\0", 8)},
    };
    for (const ValueRow &row : rows)
        ASSERT_EQ(Put("Software\\Test", row.name, row.type, row.data), kErrorSuccess) << row.label;

    // A further change rewrites the file from what it read back: nothing may drift.
    ASSERT_EQ(Put("Software\\Other", "x", kRegDword, Bytes({1, 0, 0, 0})), kErrorSuccess);
    for (const ValueRow &row : rows) {
        StoredValue value = Get("Software\\Test", row.name);
        EXPECT_EQ(value.error, kErrorSuccess) << row.label;
        EXPECT_EQ(value.type, row.type) << row.label;
        EXPECT_EQ(value.data, row.data) << row.label;
    }
}

TEST(ARegistryHive, isWrittenAsRegedit4TextWithNoFileLeftBehind)
{
    ScopedConfigHome home;
    const std::string key = "Software\\Veltmark, Inc.\\Kronvik";
    ASSERT_EQ(Put(key, "Recurse", kRegSz, std::string("1\0", 2)), kErrorSuccess);
    ASSERT_EQ(Put(key, "Path", kRegSz, std::string("C:\\a \"b\"\0", 9)), kErrorSuccess);
    ASSERT_EQ(Put(key, "Count", kRegDword, Bytes({0x2a, 0, 0, 0})), kErrorSuccess);
    ASSERT_EQ(Put(key, "Raw", kRegBinary, Bytes({1, 0xff})), kErrorSuccess);
    ASSERT_EQ(Put(key, "Long", 7, std::string(30, 'a')), kErrorSuccess);

    EXPECT_EQ(ReadBytes(home.HivePath()),
              "REGEDIT4\n"
              "\n[HKEY_CURRENT_USER\\Software]\n"
              "\n[HKEY_CURRENT_USER\\Software\\Veltmark, Inc.]\n"
              "\n[HKEY_CURRENT_USER\\Software\\Veltmark, Inc.\\Kronvik]\n"
              "\"Recurse\"=\"1\"\n"
              "\"Path\"=\"C:\\\\a \\\"b\\\"\"\n"
              "\"Count\"=dword:0000002a\n"
              "\"Raw\"=hex(3):01,ff\n"
              "\"Long\"=hex(7):61,61,61,61,61,61,61,61,61,61,61,61,61,61,61,61,61,61,61,61,61,\\\n"
              "  61,61,61,61,61,61,61,61,61\n");
    std::vector<std::string> names;
    for (const auto &entry : std::filesystem::directory_iterator(home.KronvikFolder()))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"registry.reg", "registry.reg.lock"}));
}

TEST(ARegistryHive, readsTheFormsRegeditAndHandEditsUse)
{
    RegistryHiveContents contents;
    ASSERT_TRUE(ParseRegistryHiveText("\xEF\xBB\xBFREGEDIT4\r\n"
                                      "; a comment\r\n"
                                      "\r\n"
                                      "[HKEY_LOCAL_MACHINE\\Other]\r\n"
                                      "@=\"root value\"\r\n"
                                      "\r\n"
                                      "  [HKEY_CURRENT_USER\\A]  \r\n"
                                      "\"Bin\"=hex:01,02,\\\r\n"
                                      "    03,04\r\n"
                                      "\"Num\" = dword:FFFFFFFE\r\n"
                                      "\"Path\"=\"C:\\dir\"\r\n"
                                      "[hkey_current_user\\a]\n"
                                      "\"num\"=dword:1\n",
                                      contents));
    ASSERT_EQ(contents.keys.size(), 2u);
    EXPECT_EQ(contents.keys[0].path, "HKEY_LOCAL_MACHINE\\Other");
    EXPECT_EQ(contents.keys[0].values[0].name, "");
    const auto &values = contents.keys[1].values;
    ASSERT_EQ(values.size(), 3u);
    EXPECT_EQ(values[0].type, kRegBinary);
    EXPECT_EQ(values[0].data, Bytes({1, 2, 3, 4}));
    EXPECT_EQ(values[1].type, kRegDword);
    EXPECT_EQ(values[1].data, Bytes({1, 0, 0, 0})) << "a repeated key and value, last one wins";
    // A single backslash typed by hand before an ordinary letter stays a backslash.
    EXPECT_EQ(values[2].data, std::string("C:\\dir\0", 7));
}

TEST(ARegistryHive, refusesTextThatIsNotAHive)
{
    const char *texts[] = {
            "hello\n",
            "REGEDIT4\n\"Orphan\"=\"value before any key\"\n",
            "REGEDIT4\n[HKEY_CURRENT_USER\\A]\n\"Open=\"x\"\n",
            "REGEDIT4\n[HKEY_CURRENT_USER\\A]\n\"V\"=\"unterminated\n",
            "REGEDIT4\n[HKEY_CURRENT_USER\\A]\n\"V\"=dword:123456789\n",
            "REGEDIT4\n[HKEY_CURRENT_USER\\A]\n\"V\"=hex:1,zz\n",
            "REGEDIT4\n[HKEY_CURRENT_USER\\A]\n\"V\"=hex:01,\\\n",
            "REGEDIT4\n[HKEY_CURRENT_USER\\A\n",
    };
    for (const char *text : texts) {
        RegistryHiveContents contents;
        EXPECT_FALSE(ParseRegistryHiveText(text, contents)) << text;
        EXPECT_TRUE(contents.keys.empty()) << text;
    }
}

TEST(ARegistryHive, readsTheBytesOfAHexListInEveryFormAHandEditMayGiveIt)
{
    struct Row
    {
        const char *label;
        const char *list;
        bool accepted;
        std::string bytes;
    } rows[] = {
            {"as regedit writes it", "hex:01,ff,7f", true, Bytes({1, 0xff, 0x7f})},
            {"single digits", "hex:1,2,a", true, Bytes({1, 2, 10})},
            {"blanks around the bytes", "hex: 0a , FF\t,1 ", true, Bytes({10, 0xff, 1})},
            {"a comma at the end", "hex:01,02,", true, Bytes({1, 2})},
            {"no bytes", "hex:", true, ""},
            {"continued over lines", "hex:01,\\\n  02,\\\n  03", true, Bytes({1, 2, 3})},
            {"a byte split by the continuation", "hex:0\\\n  1,02", true, Bytes({1, 2})},
            {"a comma first", "hex:,01", false, ""},
            {"an empty byte", "hex:01,,02", false, ""},
            {"three digits", "hex:012", false, ""},
            {"a blank inside a byte", "hex:0 1", false, ""},
            {"no comma between bytes", "hex:01 02", false, ""},
            {"a letter that is no digit", "hex:0g", false, ""},
    };
    for (const Row &row : rows) {
        RegistryHiveContents contents;
        const std::string text =
                std::string("REGEDIT4\n[HKEY_CURRENT_USER\\A]\n\"V\"=") + row.list + "\n";
        ASSERT_EQ(ParseRegistryHiveText(text, contents), row.accepted) << row.label;
        if (row.accepted) {
            EXPECT_EQ(contents.keys[0].values[0].type, kRegBinary) << row.label;
            EXPECT_EQ(contents.keys[0].values[0].data, row.bytes) << row.label;
        }
    }
}

TEST(ARegistryHive, matchesKeysAndValuesIgnoringLetterCase)
{
    ScopedConfigHome home;
    ASSERT_EQ(Put("Software\\Veltmark", "Recurse", kRegSz, std::string("1\0", 2)), kErrorSuccess);
    ASSERT_EQ(Put("SOFTWARE\\veltmark", "RECURSE", kRegSz, std::string("0\0", 2)), kErrorSuccess);
    StoredValue value = Get("software\\VELTMARK", "recurse");
    EXPECT_EQ(value.data, std::string("0\0", 2));
    std::string text = ReadBytes(home.HivePath());
    EXPECT_NE(text.find("[HKEY_CURRENT_USER\\Software\\Veltmark]"), std::string::npos);
    EXPECT_EQ(text.find("SOFTWARE"), std::string::npos) << "one key, spelt as first created";
}

TEST(ARegistryHive, answersWithTheWindowsErrorCodes)
{
    ScopedConfigHome home;
    RegistryKeyHandle key = kNoRegistryKey;
    EXPECT_EQ(RegistryOpenKey(kHkeyCurrentUser, "Software\\Missing", kKeyAllAccess, &key),
              kErrorFileNotFound);
    EXPECT_EQ(key, kNoRegistryKey);
    EXPECT_FALSE(std::filesystem::exists(home.KronvikFolder())) << "reading creates nothing";
    EXPECT_EQ(RegistryCreateKey(kHkeyCurrentUser, "Software\\\\Gap", "", 0, kKeyAllAccess, nullptr,
                                &key, nullptr),
              kErrorBadPathname);
    EXPECT_EQ(RegistryQueryValue(0x4242, "x", nullptr, nullptr, nullptr), kErrorInvalidHandle);

    ASSERT_EQ(Put("Software\\A", "Text", kRegSz, std::string("hello\0", 6)), kErrorSuccess);
    EXPECT_EQ(Get("Software\\A", "Missing").error, kErrorFileNotFound);
    ASSERT_EQ(RegistryOpenKey(kHkeyCurrentUser, "Software\\A", kKeyRead, &key), kErrorSuccess);
    unsigned char small[3];
    std::uint32_t size = sizeof small;
    EXPECT_EQ(RegistryQueryValue(key, "Text", nullptr, small, &size), kErrorMoreData);
    EXPECT_EQ(size, 6u);
    EXPECT_EQ(RegistrySetValue(key, "Text", kRegSz, small, 1), kErrorAccessDenied)
            << "a key opened for reading only";
    EXPECT_EQ(RegistryCloseKey(key), kErrorSuccess);
    EXPECT_EQ(RegistryCloseKey(key), kErrorInvalidHandle);
}

TEST(ARegistryHive, createsEveryMissingKeyAlongThePathAndSaysSo)
{
    ScopedConfigHome home;
    RegistryKeyHandle key = kNoRegistryKey;
    std::uint32_t disposition = 0;
    ASSERT_EQ(RegistryCreateKey(kHkeyCurrentUser, "Software\\Veltmark, Inc.\\Kronvik", "", 0,
                                kKeyAllAccess, nullptr, &key, &disposition),
              kErrorSuccess);
    EXPECT_EQ(disposition, kRegCreatedNewKey);
    RegistryCloseKey(key);
    for (const char *path :
         {"Software", "Software\\Veltmark, Inc.", "software\\veltmark, inc.\\kronvik"}) {
        EXPECT_EQ(RegistryOpenKey(kHkeyCurrentUser, path, kKeyAllAccess, &key), kErrorSuccess);
        RegistryCloseKey(key);
    }
    ASSERT_EQ(RegistryCreateKey(kHkeyCurrentUser, "Software\\Veltmark, Inc.\\Kronvik", "", 0,
                                kKeyAllAccess, nullptr, &key, &disposition),
              kErrorSuccess);
    EXPECT_EQ(disposition, kRegOpenedExistingKey);
    RegistryCloseKey(key);
}

TEST(ARegistryHive, readsAnUnparsableHiveAsEmptyAndKeepsItAsideAtTheNextChange)
{
    ScopedConfigHome home;
    std::filesystem::create_directories(home.KronvikFolder());
    WriteBytes(home.HivePath(), "not a hive at all\n");
    RegistryKeyHandle key = kNoRegistryKey;
    EXPECT_EQ(RegistryOpenKey(kHkeyCurrentUser, "Software", kKeyAllAccess, &key),
              kErrorFileNotFound);
    EXPECT_EQ(ReadBytes(home.HivePath()), "not a hive at all\n") << "reading changes nothing";

    ASSERT_EQ(Put("Software\\A", "V", kRegSz, std::string("1\0", 2)), kErrorSuccess);
    EXPECT_EQ(ReadBytes(home.HivePath() + ".bad"), "not a hive at all\n");
    EXPECT_EQ(Get("Software\\A", "V").data, std::string("1\0", 2));

    // A second broken hive never replaces the first one kept aside.
    WriteBytes(home.HivePath(), "broken again\n");
    ASSERT_EQ(Put("Software\\A", "V", kRegSz, std::string("2\0", 2)), kErrorSuccess);
    EXPECT_EQ(ReadBytes(home.HivePath() + ".bad"), "not a hive at all\n");
    EXPECT_EQ(ReadBytes(home.HivePath() + ".bad.1"), "broken again\n");
}

// Tests run as root, so permissions cannot make a write fail; a file where a folder must be can.
TEST(ARegistryHive, deniesAChangeItCannotWriteAndLeavesWhatWasThere)
{
    ScopedConfigHome home;
    WriteBytes(home.KronvikFolder(), "a file where the folder belongs");
    EXPECT_EQ(Put("Software\\A", "V", kRegSz, std::string("1\0", 2)), kErrorAccessDenied);
    EXPECT_EQ(ReadBytes(home.KronvikFolder()), "a file where the folder belongs");
}

TEST(ARegistryHive, neverReplacesAHiveItCannotRead)
{
    ScopedConfigHome home;
    std::filesystem::create_directories(home.HivePath() + "/inside");
    RegistryKeyHandle key = kNoRegistryKey;
    EXPECT_EQ(RegistryOpenKey(kHkeyCurrentUser, "Software", kKeyAllAccess, &key),
              kErrorAccessDenied);
    EXPECT_EQ(Put("Software\\A", "V", kRegSz, std::string("1\0", 2)), kErrorAccessDenied);
    EXPECT_TRUE(std::filesystem::is_directory(home.HivePath() + "/inside"));
}

TEST(ARegistryHive, keepsALinkedHiveALinkAndChangesTheFileBehindIt)
{
    ScopedConfigHome home;
    std::filesystem::create_directories(home.KronvikFolder());
    std::string dotfile = home.Folder() / "dotfiles-registry.reg";
    WriteBytes(dotfile, "REGEDIT4\n\n[HKEY_CURRENT_USER\\Kept]\n\"K\"=\"k\"\n");
    std::filesystem::create_symlink(dotfile, home.HivePath());

    ASSERT_EQ(Put("Software\\A", "V", kRegSz, std::string("1\0", 2)), kErrorSuccess);
    EXPECT_TRUE(std::filesystem::is_symlink(home.HivePath()));
    EXPECT_EQ(Get("Kept", "K").data, std::string("k\0", 2));
    EXPECT_NE(ReadBytes(dotfile).find("[HKEY_CURRENT_USER\\Software\\A]"), std::string::npos);
}

// A link made before the first run, to a file in a folder that exists: the file is made there.
// Where its folder does not exist either, the hive is made in the link's place.
TEST(ARegistryHive, keepsALinkToAFileNotMadeYetALink)
{
    ScopedConfigHome home;
    std::filesystem::create_directories(home.KronvikFolder());
    std::filesystem::create_directories(home.Folder() / "dotfiles");
    std::filesystem::create_symlink("../dotfiles/registry.reg", home.HivePath());
    ASSERT_EQ(Put("Software\\A", "V", kRegSz, std::string("1\0", 2)), kErrorSuccess);
    EXPECT_TRUE(std::filesystem::is_symlink(home.HivePath()));
    EXPECT_NE(ReadBytes(home.Folder() / "dotfiles/registry.reg")
                      .find("[HKEY_CURRENT_USER\\Software\\A]"),
              std::string::npos);

    std::filesystem::remove(home.HivePath());
    std::filesystem::create_symlink(home.Folder() / "missing/registry.reg", home.HivePath());
    ASSERT_EQ(Put("Software\\A", "V", kRegSz, std::string("1\0", 2)), kErrorSuccess);
    EXPECT_TRUE(std::filesystem::is_regular_file(std::filesystem::symlink_status(home.HivePath())));
}

TEST(ARegistryHive, keepsTheChangesOfTwoProcessesWritingAtOnce)
{
    ScopedConfigHome home;
    constexpr int kValuesPerProcess = 30;
    int startPipe[2];
    ASSERT_EQ(pipe(startPipe), 0);
    pid_t children[2];
    for (int child = 0; child < 2; ++child) {
        children[child] = fork();
        ASSERT_GE(children[child], 0);
        if (children[child] == 0) {
            char go;
            close(startPipe[1]);
            int ok = read(startPipe[0], &go, 1) == 1;
            std::string key = "Software\\Process" + std::to_string(child);
            for (int i = 0; ok && i < kValuesPerProcess; ++i)
                ok = Put(key, "V" + std::to_string(i), kRegSz, std::to_string(i)) == kErrorSuccess;
            _exit(ok ? 0 : 1);
        }
    }
    close(startPipe[0]);
    // Both wait on the pipe, so their changes overlap.
    ASSERT_EQ(write(startPipe[1], "gg", 2), 2);
    close(startPipe[1]);
    for (pid_t child : children) {
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    for (int child = 0; child < 2; ++child) {
        for (int i = 0; i < kValuesPerProcess; ++i) {
            StoredValue value =
                    Get("Software\\Process" + std::to_string(child), "V" + std::to_string(i));
            EXPECT_EQ(value.error, kErrorSuccess) << child << " " << i;
            EXPECT_EQ(value.data, std::to_string(i));
        }
    }
}

TEST(ARegistryHive, keepsAChangeMadeElsewhereWhileAKeyWasOpen)
{
    struct Row
    {
        const char *label;
        void (*changeElsewhere)(const ScopedConfigHome &home);
    } rows[] = {
            {"another save replaced the hive",
             [](const ScopedConfigHome &) {
                 ASSERT_EQ(Put("Software\\A", "Elsewhere", kRegSz, std::string("e\0", 2)),
                           kErrorSuccess);
             }},
            {"a hand edit rewrote the hive in place",
             [](const ScopedConfigHome &home) {
                 WriteBytes(home.HivePath(), ReadBytes(home.HivePath()) + "\"Elsewhere\"=\"e\"\n");
             }},
    };
    for (const Row &row : rows) {
        ScopedConfigHome home;
        ASSERT_EQ(Put("Software\\A", "First", kRegSz, std::string("f\0", 2)), kErrorSuccess);
        RegistryKeyHandle key = kNoRegistryKey;
        ASSERT_EQ(RegistryOpenKey(kHkeyCurrentUser, "Software\\A", kKeyAllAccess, &key),
                  kErrorSuccess);
        row.changeElsewhere(home);
        EXPECT_EQ(RegistrySetValue(key, "Mine", kRegSz,
                                   reinterpret_cast<const unsigned char *>("m"), 2),
                  kErrorSuccess);
        EXPECT_EQ(RegistryQueryValue(key, "Elsewhere", nullptr, nullptr, nullptr),
                  kErrorFileNotFound)
                << row.label << ": an open key answers from what it read";
        EXPECT_EQ(RegistryCloseKey(key), kErrorSuccess) << row.label;
        EXPECT_EQ(Get("Software\\A", "Elsewhere").data, std::string("e\0", 2)) << row.label;
        EXPECT_EQ(Get("Software\\A", "Mine").data, std::string("m\0", 2)) << row.label;
        EXPECT_EQ(Get("Software\\A", "First").data, std::string("f\0", 2)) << row.label;
    }
}

TEST(TheRegistryHivePath, followsTheConfigFolderOfTheUser)
{
    const char *oldConfig = std::getenv("XDG_CONFIG_HOME");
    std::string savedConfig = oldConfig ? oldConfig : "";
    const char *oldHome = std::getenv("HOME");
    std::string savedHome = oldHome ? oldHome : "";

    setenv("HOME", "/home/someone", 1);
    setenv("XDG_CONFIG_HOME", "/elsewhere/config", 1);
    EXPECT_EQ(RegistryHivePath(), "/elsewhere/config/kronvik/registry.reg");
    unsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(RegistryHivePath(), "/home/someone/.config/kronvik/registry.reg");
    setenv("XDG_CONFIG_HOME", "relative/config", 1);
    EXPECT_EQ(RegistryHivePath(), "/home/someone/.config/kronvik/registry.reg")
            << "a relative XDG_CONFIG_HOME is ignored";

    if (oldConfig)
        setenv("XDG_CONFIG_HOME", savedConfig.c_str(), 1);
    else
        unsetenv("XDG_CONFIG_HOME");
    if (oldHome)
        setenv("HOME", savedHome.c_str(), 1);
    else
        unsetenv("HOME");
}
