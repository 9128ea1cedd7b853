// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "registry_types.h"

#include <cstdint>
#include <string>
#include <vector>

namespace kronvik {

// One key of the per-user registry below one root, and one current value name. It lives for one
// load or one save of the settings: opening the key reads the hive once, and every query answers
// from that reading; the values set through the key are gathered and written together, in one
// replace of the hive, when it is closed (by Close or on destruction). Every operation returns the
// error code of its last registry call, 0 for success.
class CRegistryKey
{
public:
    CRegistryKey(RegistryKeyHandle rootKey, const std::string &subKey);
    ~CRegistryKey();
    CRegistryKey(const CRegistryKey &) = delete;
    CRegistryKey &operator=(const CRegistryKey &) = delete;

    RegistryError Open();
    // Opens the key, creating it and its missing parent keys first.
    RegistryError Create();
    void SetValueName(const std::string &name);
    // Reads the current value into the data buffer: its size first, into `byteCount`, then its
    // bytes. Returns the code of the second read.
    RegistryError QueryValue(std::uint32_t &byteCount);
    // The data of the last QueryValue as text: up to its first zero byte, and never beyond its
    // size, so a value that holds no zero byte, or no data, gives its bytes or the empty text.
    std::string GetData() const;
    RegistryError SetValue(const void *data, std::uint32_t type, std::uint32_t byteCount);
    // Writes the values set since the key was opened; the result is that of the write.
    RegistryError Close();

    // Until a key is open, values are read and written on the root itself.
    bool IsOpen() const { return m_hKey != kNoRegistryKey; }
    std::uint32_t Disposition() const { return m_dwDisposition; }

private:
    RegistryKeyHandle CurrentKey() const { return IsOpen() ? m_hKey : m_hRootKey; }

    RegistryKeyHandle m_hKey = kNoRegistryKey;
    RegistryKeyHandle m_hRootKey;
    std::string m_strSubKey;
    std::string m_strValueName;
    std::vector<unsigned char> m_data;
    std::string m_strClass;
    std::uint32_t m_dwOptions = kRegOptionNonVolatile;
    std::uint32_t m_dwType = kRegNone;
    std::uint32_t m_samDesired = kKeyAllAccess;
    std::uint32_t m_dwDisposition = 0;
    const void *m_pSecurityAttributes = nullptr;
};

} // namespace kronvik
