// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

namespace kronvik {

// Lets the memory allocator keep the blocks a picture's read frees for the next picture, instead
// of handing them back to the system and faulting fresh pages in for every picture: reading one
// picture's metadata allocates and frees buffers of up to several megabytes (a large colour
// profile is copied chunk by chunk), and a page fault costs more than the copy. Takes effect for
// the whole process; the first call does it, later calls do nothing.
void KeepFreedMemoryForReuse();

} // namespace kronvik
