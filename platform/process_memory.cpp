// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#include "process_memory.h"

#include <malloc.h>
#include <mutex>

namespace kronvik {

namespace {

// Blocks up to this size come from the heap rather than from a mapping of their own (the largest
// the allocator allows), and up to this much free memory stays at the top of a heap. The
// process's peak stays what its largest picture needs at once: the memory is reused, not grown.
constexpr int kLargestHeapBlock = 32 << 20;
constexpr int kFreeMemoryKept = 64 << 20;

} // namespace

void KeepFreedMemoryForReuse()
{
    static std::once_flag once;
    std::call_once(once, [] {
        mallopt(M_MMAP_THRESHOLD, kLargestHeapBlock);
        mallopt(M_TRIM_THRESHOLD, kFreeMemoryKept);
    });
}

} // namespace kronvik
