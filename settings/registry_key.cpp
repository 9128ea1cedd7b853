// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "registry_key.h"

#include "registry_hive.h"

#include <algorithm>

namespace kronvik {

CRegistryKey::CRegistryKey(RegistryKeyHandle rootKey, const std::string &subKey)
    : m_hRootKey(rootKey)
    , m_strSubKey(subKey)
{
}

CRegistryKey::~CRegistryKey()
{
    if (IsOpen())
        Close();
}

RegistryError CRegistryKey::Open()
{
    // A second open would otherwise lose the first handle.
    if (IsOpen())
        Close();
    return RegistryOpenKey(m_hRootKey, m_strSubKey, m_samDesired, &m_hKey);
}

RegistryError CRegistryKey::Create()
{
    if (IsOpen())
        Close();
    return RegistryCreateKey(m_hRootKey, m_strSubKey, m_strClass, m_dwOptions, m_samDesired,
                             m_pSecurityAttributes, &m_hKey, &m_dwDisposition);
}

void CRegistryKey::SetValueName(const std::string &name)
{
    m_strValueName = name;
}

RegistryError CRegistryKey::QueryValue(std::uint32_t &byteCount)
{
    m_data.clear();
    RegistryError error =
            RegistryQueryValue(CurrentKey(), m_strValueName, nullptr, nullptr, &byteCount);
    // Without a size there is nothing to read; the second call would fail the same way.
    if (error != kErrorSuccess)
        return error;
    m_data.assign(byteCount, 0);
    error = RegistryQueryValue(CurrentKey(), m_strValueName, &m_dwType, m_data.data(), &byteCount);
    // The value may have shrunk between the two reads; keep only what was read.
    if (error == kErrorSuccess)
        m_data.resize(std::min<std::size_t>(byteCount, m_data.size()));
    else
        m_data.clear();
    return error;
}

std::string CRegistryKey::GetData() const
{
    auto end = std::find(m_data.begin(), m_data.end(), 0);
    return std::string(m_data.begin(), end);
}

RegistryError CRegistryKey::SetValue(const void *data, std::uint32_t type, std::uint32_t byteCount)
{
    return RegistrySetValue(CurrentKey(), m_strValueName, type,
                            static_cast<const unsigned char *>(data), byteCount);
}

RegistryError CRegistryKey::Close()
{
    RegistryError error = RegistryCloseKey(m_hKey);
    m_hKey = kNoRegistryKey;
    return error;
}

} // namespace kronvik
