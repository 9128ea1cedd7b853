#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 The Kronvik developers
# SPDX-License-Identifier: GPL-2.0-or-later
# The test command: installs what is missing, then builds and runs every test three ways: the
# debug build's suite, the same suite under AddressSanitizer and UBSan (halting on the first
# report), and each fuzz target for 20 seconds. Stops at the first failure. Each stage's time is
# printed at the end.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)
times=()

stage() {
    local name=$1 start=$SECONDS
    shift
    echo "=== $name"
    "$@"
    times+=("$name: $((SECONDS - start)) s")
}

run_preset() {
    cmake --preset "$1" && cmake --build --preset "$1" && ctest --preset "$1" -j"$jobs"
}

stage "dependencies" bash scripts/install-deps.sh
stage "debug build and tests" run_preset dev
stage "ASan+UBSan build and tests" run_preset asan
stage "fuzz targets" run_preset fuzz
printf '%s\n' "=== times" "${times[@]}"
