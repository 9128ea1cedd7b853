#!/usr/bin/env bash
# Opens the preferences dialog and the source directory browser on a virtual X display and saves
# a PNG of each, for a look at the forms. Not part of the tests.
# Usage: scripts/screenshot-dialogs.sh [output folder]   (default: build/dev/screenshots)
set -euo pipefail
cd "$(dirname "$0")/.."
out="${1:-build/dev/screenshots}"
mkdir -p "$out"
[ -d build/dev ] || cmake --preset dev
cmake --build --preset dev --target kronvik-dialog-screenshots
QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1024x768x24" \
    build/dev/tests/ui/kronvik-dialog-screenshots "$out"
