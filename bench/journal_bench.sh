#!/bin/bash
# SPDX-FileCopyrightText: 2026 The Kronvik developers
# SPDX-License-Identifier: GPL-2.0-or-later
# Times what the journal costs a dating pass per picture (batches of planned changes and their
# marks, the lookup against a second shift, the start of a pass that prunes). Not part of the
# test suite.
# Usage: bench/journal_bench.sh [pictures a pass] [folder for the journal]...
#   Builds the engine in build/journal-bench; by default the journal goes to /dev/shm (memory)
#   and to the temporary folder (a disk).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build/journal-bench
if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKRONVIK_BUILD_TESTS=OFF \
        -DKRONVIK_BUILD_UI=OFF >/dev/null
fi
cmake --build "$build" --target kronvik_engine -j 2 >/dev/null
mkdir -p "$build/bench"
g++ -std=c++20 -O2 -I"$root/engine" -I"$root/platform" "$root/bench/journal_bench.cpp" \
    "$build/engine/libkronvik_engine.a" "$build/platform/libkronvik_platform.a" -lsqlite3 \
    -o "$build/bench/journal_bench"
"$build/bench/journal_bench" "$@"
