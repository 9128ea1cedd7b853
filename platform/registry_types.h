// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <cstdint>

namespace kronvik {

// The vocabulary of the per-user registry: key handles, value types, access rights and the
// Windows error codes its calls return. The numbers are the Windows ones, so the settings code
// reads as it would against the real registry and a hive file stays exchangeable with REGEDIT4.

// A key handle. 0 is "no key"; the predefined roots have fixed values, every opened or created key
// gets a fresh one until it is closed.
using RegistryKeyHandle = std::uintptr_t;
inline constexpr RegistryKeyHandle kNoRegistryKey = 0;
inline constexpr RegistryKeyHandle kHkeyCurrentUser = 0x80000001;

// The name of the root as the hive file writes it in section headers.
inline constexpr char kHkeyCurrentUserName[] = "HKEY_CURRENT_USER";

// Value types.
inline constexpr std::uint32_t kRegNone = 0;
inline constexpr std::uint32_t kRegSz = 1;
inline constexpr std::uint32_t kRegExpandSz = 2;
inline constexpr std::uint32_t kRegBinary = 3;
inline constexpr std::uint32_t kRegDword = 4;
inline constexpr std::uint32_t kRegDwordBigEndian = 5;
inline constexpr std::uint32_t kRegLink = 6;
inline constexpr std::uint32_t kRegMultiSz = 7;
inline constexpr std::uint32_t kRegQword = 11;

// Access rights of a key handle.
inline constexpr std::uint32_t kKeyQueryValue = 0x0001;
inline constexpr std::uint32_t kKeySetValue = 0x0002;
inline constexpr std::uint32_t kKeyCreateSubKey = 0x0004;
inline constexpr std::uint32_t kKeyRead = 0x20019;
inline constexpr std::uint32_t kKeyAllAccess = 0xF003F;

// Creation options and dispositions.
inline constexpr std::uint32_t kRegOptionNonVolatile = 0;
inline constexpr std::uint32_t kRegCreatedNewKey = 1;
inline constexpr std::uint32_t kRegOpenedExistingKey = 2;

// Error codes of the registry calls.
using RegistryError = long;
inline constexpr RegistryError kErrorSuccess = 0;
inline constexpr RegistryError kErrorFileNotFound = 2; // no such key or value
inline constexpr RegistryError kErrorAccessDenied = 5; // hive cannot be read or written
inline constexpr RegistryError kErrorInvalidHandle = 6;
inline constexpr RegistryError kErrorNotEnoughMemory = 8;
inline constexpr RegistryError kErrorSharingViolation = 32; // another process kept the hive locked
inline constexpr RegistryError kErrorInvalidParameter = 87;
inline constexpr RegistryError kErrorDiskFull = 112;
inline constexpr RegistryError kErrorBadPathname = 161;
inline constexpr RegistryError kErrorMoreData = 234;
inline constexpr RegistryError kErrorKeyDeleted = 1018;

} // namespace kronvik
