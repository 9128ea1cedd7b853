// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kronvik {

// The journal keeps, beside the rows of the shifts, each batch's shifts as one list of keys: a
// pass that looks its pictures up among every earlier shift by its hours reads a few rows a
// batch instead of one row a shift, which for a journal of 100 large passes was most of a pass.

// The date pair a shift wrote, where it wrote it and the size of the file, as one number. Kept
// in the journal: it never changes between versions.
std::uint64_t ShiftPairKey(std::uint64_t offset, std::uint64_t size, std::string_view pair);

// The bytes of one shift in a list: its key and its change id, little-endian.
inline constexpr std::size_t kShiftKeyBytes = 16;

// Adds a shift to a list of keys as the journal stores it.
void AppendShiftKey(std::string &keys, std::uint64_t key, std::int64_t change);

// The shifts known by their keys; many may share one.
class ShiftKeyTable
{
public:
    // Makes room for `shifts` in all at once: each growth moves every shift again, into memory
    // new to the process.
    void Reserve(std::size_t shifts);
    // Adds every shift of a stored list. Returns false when the list is cut short.
    bool AddAll(std::string_view keys);
    void Add(std::uint64_t key, std::int64_t change);
    // Appends the changes whose key is `key`, in no order.
    void Find(std::uint64_t key, std::vector<std::int64_t> &changes) const;

private:
    std::vector<std::pair<std::uint64_t, std::int64_t>> m_slots; // change 0: empty
    std::size_t m_count = 0;
};

} // namespace kronvik
