// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "shift_keys.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

using namespace kronvik;

namespace {

std::vector<std::int64_t> Found(const ShiftKeyTable &table, std::uint64_t key)
{
    std::vector<std::int64_t> changes;
    table.Find(key, changes);
    std::sort(changes.begin(), changes.end());
    return changes;
}

} // namespace

TEST(TheShiftKeys, giveBackEveryShiftOfAKeyAndNoOther)
{
    // Keys that share their low bits crowd neighbouring slots, and one key stored many times (the
    // copies of one picture) is met among them; the table grows as the lists come in.
    std::string first, second;
    std::vector<std::int64_t> shared;
    for (std::int64_t change = 1; change <= 3000; ++change) {
        const bool copy = change % 7 == 0;
        const std::uint64_t key = copy ? 42 : (static_cast<std::uint64_t>(change) << 20) | 5;
        AppendShiftKey(change <= 1000 ? first : second, key, change);
        if (copy)
            shared.push_back(change);
    }
    ShiftKeyTable table;
    EXPECT_TRUE(table.AddAll(first));
    EXPECT_TRUE(table.AddAll(second));
    table.Add((std::uint64_t{3001} << 20) | 5, 3001);

    EXPECT_EQ(Found(table, 42), shared);
    EXPECT_EQ(Found(table, (std::uint64_t{10} << 20) | 5), std::vector<std::int64_t>{10});
    EXPECT_EQ(Found(table, (std::uint64_t{3001} << 20) | 5), std::vector<std::int64_t>{3001});
    EXPECT_TRUE(Found(table, (std::uint64_t{14} << 20) | 5).empty()); // 14 is a copy
    EXPECT_TRUE(Found(ShiftKeyTable(), 42).empty());
    // A list cut short is told; the shifts it holds whole are kept.
    ShiftKeyTable cut;
    EXPECT_FALSE(cut.AddAll(std::string_view(first).substr(0, 20)));
    EXPECT_EQ(Found(cut, (std::uint64_t{1} << 20) | 5), std::vector<std::int64_t>{1});
}

TEST(TheShiftKeys, tellPairsOffsetsAndSizesApartAndNeverChange)
{
    const std::string pair("2005:07:14 11:03:27\0"
                           "2005:07:14 11:03:27",
                           40);
    const std::uint64_t key = ShiftPairKey(412, 3000000, pair);
    EXPECT_NE(ShiftPairKey(413, 3000000, pair), key);
    EXPECT_NE(ShiftPairKey(412, 3000001, pair), key);
    EXPECT_NE(ShiftPairKey(412, 3000000, "2005:07:14 11:03:28" + pair.substr(19)), key);
    EXPECT_NE(ShiftPairKey(3000000, 412, pair), key);
    // Journals keep these keys: a journal written by an earlier version must find its shifts.
    EXPECT_EQ(key, 1089191871240905504u);
}
