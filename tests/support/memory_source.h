// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "jpeg_head.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

// Bytes in memory read as a picture file is: short only at the end. The bytes must outlive it.
class MemorySource : public kronvik::ByteSource
{
public:
    MemorySource(const std::uint8_t *data, std::size_t size)
        : m_data(data)
        , m_size(size)
    {
    }
    explicit MemorySource(const std::string &bytes)
        : MemorySource(reinterpret_cast<const std::uint8_t *>(bytes.data()), bytes.size())
    {
    }
    std::int64_t ReadAt(std::uint64_t offset, void *buffer, std::size_t size) override
    {
        if (offset >= m_size)
            return 0;
        const std::size_t count = std::min<std::size_t>(size, m_size - offset);
        std::memcpy(buffer, m_data + offset, count);
        return static_cast<std::int64_t>(count);
    }

private:
    const std::uint8_t *m_data;
    std::size_t m_size;
};
