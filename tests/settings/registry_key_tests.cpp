// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "config_home.h"
#include "registry_key.h"

#include <gtest/gtest.h>

using namespace kronvik;
using kronvik::test::ReadBytes;
using kronvik::test::ScopedConfigHome;

namespace {

const char kKeyPath[] = "Software\\Veltmark, Inc.\\Kronvik";

void Store(const std::string &name, std::uint32_t type, const std::string &data)
{
    CRegistryKey key(kHkeyCurrentUser, kKeyPath);
    ASSERT_EQ(key.Create(), kErrorSuccess);
    key.SetValueName(name);
    ASSERT_EQ(key.SetValue(data.data(), type, static_cast<std::uint32_t>(data.size())),
              kErrorSuccess);
}

} // namespace

TEST(ARegistryKey, readsTextUpToTheFirstZeroAndNeverPastTheData)
{
    ScopedConfigHome home;
    struct Row
    {
        const char *label;
        std::uint32_t type;
        std::string data;
        std::string text;
    } rows[] = {
            {"text with its zero", kRegSz, std::string("D:\\Camera\0", 10), "D:\\Camera"},
            {"text without a zero", kRegSz, "1", "1"},
            {"no data at all", kRegSz, "", ""},
            {"a zero inside", kRegSz, std::string("1\0garbage", 9), "1"},
            {"a dword 1", kRegDword, std::string("\1\0\0\0", 4), "\1"},
            {"binary without any zero", kRegBinary, "\xff\xfe\xfd", "\xff\xfe\xfd"},
    };
    for (const Row &row : rows) {
        Store(row.label, row.type, row.data);
        CRegistryKey key(kHkeyCurrentUser, kKeyPath);
        ASSERT_EQ(key.Open(), kErrorSuccess);
        key.SetValueName(row.label);
        std::uint32_t byteCount = 0;
        EXPECT_EQ(key.QueryValue(byteCount), kErrorSuccess) << row.label;
        EXPECT_EQ(byteCount, row.data.size()) << row.label;
        EXPECT_EQ(key.GetData(), row.text) << row.label;
    }
}

TEST(ARegistryKey, forgetsTheLastDataWhenAQueryFails)
{
    ScopedConfigHome home;
    Store("Recurse", kRegSz, std::string("1\0", 2));
    CRegistryKey key(kHkeyCurrentUser, kKeyPath);
    ASSERT_EQ(key.Open(), kErrorSuccess);
    key.SetValueName("Recurse");
    std::uint32_t byteCount = 0;
    ASSERT_EQ(key.QueryValue(byteCount), kErrorSuccess);
    key.SetValueName("Missing");
    EXPECT_EQ(key.QueryValue(byteCount), kErrorFileNotFound);
    EXPECT_EQ(key.GetData(), "");
}

TEST(ARegistryKey, writesOnTheRootItselfWhileNoKeyIsOpen)
{
    ScopedConfigHome home;
    CRegistryKey key(kHkeyCurrentUser, kKeyPath);
    key.SetValueName("AtRoot");
    ASSERT_EQ(key.SetValue("x", kRegSz, 2), kErrorSuccess);
    EXPECT_EQ(ReadBytes(home.HivePath()), "REGEDIT4\n\n[HKEY_CURRENT_USER]\n\"AtRoot\"=\"x\"\n");
    std::uint32_t byteCount = 0;
    EXPECT_EQ(key.QueryValue(byteCount), kErrorSuccess);
    EXPECT_EQ(key.GetData(), "x");
}
