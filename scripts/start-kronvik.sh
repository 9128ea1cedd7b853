#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 The Kronvik developers
# SPDX-License-Identifier: GPL-2.0-or-later
# Starts the window from the release build; on a machine without a display, says so and points to
# the command-line tool, which needs none.
set -euo pipefail
cd "$(dirname "$0")/.."
build=build/release/app
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "No display here (neither DISPLAY nor WAYLAND_DISPLAY is set), so the window cannot open."
    echo "The command-line tool dates pictures without one:"
    echo
    "$build/kronvik-cli" --help
    exit 0
fi
exec "$build/kronvik" "$@"
