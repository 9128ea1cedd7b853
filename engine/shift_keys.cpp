// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "shift_keys.h"

namespace kronvik {

namespace {

void HashBytes(std::uint64_t &hash, const unsigned char *bytes, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i)
        hash = (hash ^ bytes[i]) * 0x100000001b3ULL; // FNV-1a
}

void PutLittleEndian(unsigned char *to, std::uint64_t value)
{
    for (int i = 0; i < 8; ++i)
        to[i] = static_cast<unsigned char>(value >> (8 * i));
}

std::uint64_t GetLittleEndian(const unsigned char *from)
{
    std::uint64_t value = 0;
    for (int i = 7; i >= 0; --i)
        value = (value << 8) | from[i];
    return value;
}

} // namespace

std::uint64_t ShiftPairKey(std::uint64_t offset, std::uint64_t size, std::string_view pair)
{
    std::uint64_t hash = 0xcbf29ce484222325ULL;
    HashBytes(hash, reinterpret_cast<const unsigned char *>(pair.data()), pair.size());
    unsigned char number[8];
    for (const std::uint64_t value : {offset, size}) {
        PutLittleEndian(number, value);
        HashBytes(hash, number, sizeof number);
    }
    // FNV leaves its low bits poorly mixed, and the table takes its slots from them.
    hash = (hash ^ (hash >> 30)) * 0xbf58476d1ce4e5b9ULL;
    hash = (hash ^ (hash >> 27)) * 0x94d049bb133111ebULL;
    return hash ^ (hash >> 31);
}

void AppendShiftKey(std::string &keys, std::uint64_t key, std::int64_t change)
{
    unsigned char entry[kShiftKeyBytes];
    PutLittleEndian(entry, key);
    PutLittleEndian(entry + 8, static_cast<std::uint64_t>(change));
    keys.append(reinterpret_cast<const char *>(entry), sizeof entry);
}

bool ShiftKeyTable::AddAll(std::string_view keys)
{
    const auto *bytes = reinterpret_cast<const unsigned char *>(keys.data());
    Reserve(m_count + keys.size() / kShiftKeyBytes);
    for (std::size_t at = 0; at + kShiftKeyBytes <= keys.size(); at += kShiftKeyBytes)
        Add(GetLittleEndian(bytes + at),
            static_cast<std::int64_t>(GetLittleEndian(bytes + at + 8)));
    return keys.size() % kShiftKeyBytes == 0;
}

void ShiftKeyTable::Add(std::uint64_t key, std::int64_t change)
{
    if (change == 0)
        return; // no change has that id
    Reserve(m_count + 1);
    const std::size_t mask = m_slots.size() - 1;
    std::size_t at = key & mask;
    while (m_slots[at].second != 0)
        at = (at + 1) & mask;
    m_slots[at] = {key, change};
    ++m_count;
}

void ShiftKeyTable::Find(std::uint64_t key, std::vector<std::int64_t> &changes) const
{
    if (m_slots.empty())
        return;
    const std::size_t mask = m_slots.size() - 1;
    for (std::size_t at = key & mask; m_slots[at].second != 0; at = (at + 1) & mask)
        if (m_slots[at].first == key)
            changes.push_back(m_slots[at].second);
}

void ShiftKeyTable::Reserve(std::size_t shifts)
{
    // Linear probing stays short at half full.
    if (2 * shifts <= m_slots.size())
        return;
    std::size_t size = 1024;
    while (size < 2 * shifts)
        size *= 2;
    std::vector<std::pair<std::uint64_t, std::int64_t>> old(size);
    old.swap(m_slots);
    m_count = 0;
    for (const auto &[key, change] : old)
        if (change != 0)
            Add(key, change);
}

} // namespace kronvik
