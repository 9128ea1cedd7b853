#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 The Kronvik developers
# SPDX-License-Identifier: GPL-2.0-or-later
# Opens the preferences dialog, the source directory browser, the main window after a real
# dating pass and the About box on a virtual X display and saves a PNG of each, for a look at
# the forms. Not part of the tests.
# Usage: scripts/screenshot-dialogs.sh [output folder]   (default: build/dev/screenshots)
set -euo pipefail
cd "$(dirname "$0")/.."
out="${1:-build/dev/screenshots}"
mkdir -p "$out"
[ -d build/dev ] || cmake --preset dev
cmake --build --preset dev --target kronvik-dialog-screenshots kronvik-window-screenshot
QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1024x768x24" \
    build/dev/tests/ui/kronvik-dialog-screenshots "$out"
# The main window after dating a camera folder made afresh in a folder of its own, whose path shows
# in the window. Copy window.png to docs/kronvik-window.png to update the README's picture.
QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1024x768x24" \
    build/dev/tests/ui/kronvik-window-screenshot "$out" "${TMPDIR:-/tmp}/kronvik-demo"
