// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

namespace kronvik {

// Lives around the construction of the application object, which is where Qt connects to the
// display. When no display can be used, Qt would print its plugin diagnostics and abort; instead
// the program says so in one line, points to kronvik-cli, which needs no display, and exits with
// status 1. Qt's other messages meanwhile are held back, and passed on when the object goes.
class NoDisplayGuard
{
public:
    NoDisplayGuard();
    ~NoDisplayGuard();
    NoDisplayGuard(const NoDisplayGuard &) = delete;
    NoDisplayGuard &operator=(const NoDisplayGuard &) = delete;
};

} // namespace kronvik
