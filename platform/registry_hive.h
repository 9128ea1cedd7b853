// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include "registry_types.h"

#include <cstdint>
#include <string>

namespace kronvik {

// The current user's registry, kept in one REGEDIT4 text file, the hive:
// $XDG_CONFIG_HOME/kronvik/registry.reg, or ~/.config/kronvik/registry.reg when XDG_CONFIG_HOME is
// unset or not an absolute path. The calls below follow the Windows registry calls of the same
// shape and return their error codes.
//
// Opening or creating a key below a root reads the hive once, whole, and parses it in one pass;
// the key (and every key opened below it) answers queries from what was read, so a load sees one
// version of the hive, never a mix of two. Reads take no lock: the hive is only ever replaced
// whole, by rename. The values set through an open key are kept with it and written together
// when it is closed, in one replace of the file under an advisory lock (flock on
// registry.reg.lock beside the hive); when another process replaced the hive since it was read,
// it is read again under the lock and the changes applied to what it holds now, so two processes
// changing the hive at once both keep their changes. The new text goes to a uniquely named
// temporary file in the same folder, is flushed and renamed over the hive, and the folder is
// flushed, so a crash leaves the old hive or the new one; temporary files that killed saves left
// behind are removed at the next save. A hive that cannot be parsed reads as holding no keys, and
// the first change moves it aside as registry.reg.bad (or registry.reg.bad.1, ...) instead of
// overwriting it. A hive that cannot be read is never replaced. A hive that is a symbolic link
// stays one: the file it leads to is replaced. Comment lines of a hand-edited hive survive.

// The path of the hive file; empty when no home folder is known.
std::string RegistryHivePath();

// Opens an existing key `subKey` ("Software\Veltmark, Inc.\Kronvik") below `root` (a root or an
// open key); an empty `subKey` opens `root` itself. kErrorFileNotFound when there is no such key.
RegistryError RegistryOpenKey(RegistryKeyHandle root, const std::string &subKey,
                              std::uint32_t access, RegistryKeyHandle *result);

// Opens `subKey` below `root`, creating it and every missing key along its path first (written to
// the hive when the key is closed). `disposition` (may be null) tells whether the key was created
// or already existed. The class text, options and security attributes are accepted for the
// Windows shape and not used.
RegistryError RegistryCreateKey(RegistryKeyHandle root, const std::string &subKey,
                                const std::string &className, std::uint32_t options,
                                std::uint32_t access, const void *securityAttributes,
                                RegistryKeyHandle *result, std::uint32_t *disposition);

// Reads the value `name` (empty: the key's default value) of an open key or a root. `type` and
// `data` may be null; `byteCount` holds the buffer size on entry and the value's size on return.
// With a null `data` only the size (and type) is returned; a buffer too small gives
// kErrorMoreData. kErrorFileNotFound when the value does not exist.
RegistryError RegistryQueryValue(RegistryKeyHandle key, const std::string &name,
                                 std::uint32_t *type, unsigned char *data,
                                 std::uint32_t *byteCount);

// Sets the value `name` of an open key or a root to `byteCount` bytes of `data`, of type `type`.
// A value of an open key is written when the key is closed, a value of a root at once.
RegistryError RegistrySetValue(RegistryKeyHandle key, const std::string &name, std::uint32_t type,
                               const unsigned char *data, std::uint32_t byteCount);

// Releases an open key, writing the changes made through it and the keys opened with it, in one
// replace of the hive; the result is that of the write. Closing a root does nothing.
RegistryError RegistryCloseKey(RegistryKeyHandle key);

} // namespace kronvik
