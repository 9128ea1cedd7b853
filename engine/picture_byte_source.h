// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "jpeg_head.h"
#include "picture_file.h"

namespace kronvik {

// A picture file open for reading, as the source of its leading bytes.
class OpenPicture : public ByteSource
{
public:
    explicit OpenPicture(const PictureFile &file)
        : m_file(file)
    {
    }
    std::int64_t ReadAt(std::uint64_t offset, void *buffer, std::size_t size) override
    {
        return m_file.ReadAt(offset, buffer, size);
    }

private:
    const PictureFile &m_file;
};

} // namespace kronvik
