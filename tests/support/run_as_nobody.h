// SPDX-FileCopyrightText: 2026 The Kronvik developers
// SPDX-License-Identifier: GPL-2.0-or-later
#pragma once

#include <functional>

namespace kronvik::test {

// Runs `body` in a child process that has given up root for the unprivileged "nobody" user, so
// that file permissions bite as they do for a user (the tests run as root in CI). Returns the
// body's result, or -1 when the child could not run it.
int RunAsNobody(const std::function<int()> &body);

} // namespace kronvik::test
