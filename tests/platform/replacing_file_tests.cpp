// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "replacing_file.h"

#include <gtest/gtest.h>

using kronvik::IsTemporaryNameOf;

TEST(ATemporaryName, isToldFromTheNamesOfOtherFilesBesideIt)
{
    struct Row
    {
        const char *name;
        bool temporary;
    } rows[] = {
            {"registry.reg.tmp.a1B2c3", true},
            {"registry.reg.tmp", true}, // the fixed name earlier versions used
            {"registry.reg", false},
            {"registry.reg.bad", false},
            {"registry.reg.lock", false},
            {"registry.reg.tmp.a1B2c", false},
            {"registry.reg.tmp.a1B2c3d", false},
            {"registry.reg.tmp.a1-2c3", false},
            {"registry.reg.tmpfile", false},
            {"other.reg.tmp.a1B2c3", false},
    };
    for (const Row &row : rows)
        EXPECT_EQ(IsTemporaryNameOf(row.name, "registry.reg"), row.temporary) << row.name;
}
