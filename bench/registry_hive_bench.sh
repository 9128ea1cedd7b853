#!/bin/bash
# SPDX-FileCopyrightText: 2026 The Kronvik developers
# SPDX-License-Identifier: GPL-2.0-or-later
# Times loading and saving the settings with a settings file of 16,000 keys and one of 50 MB.
# Not part of the test suite.
# Usage: bench/registry_hive_bench.sh [rounds] [source tree] [its build folder] [--load-only]
#   Builds the settings libraries of the source tree (this one by default) in its build folder
#   (build/hive-bench by default), so an older checkout can be timed the same way.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
rounds=${1:-5}
tree=$(cd "${2:-$root}" && pwd)
build=${3:-$tree/build/hive-bench}
if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake -S "$tree" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKRONVIK_BUILD_TESTS=OFF \
        -DKRONVIK_BUILD_UI=OFF >/dev/null
fi
cmake --build "$build" --target kronvik_settings -j 2 >/dev/null
mkdir -p "$build/bench"
g++ -std=c++20 -O2 -I"$tree/settings" -I"$tree/platform" "$root/bench/registry_hive_bench.cpp" \
    "$build/settings/libkronvik_settings.a" "$build/platform/libkronvik_platform.a" \
    -o "$build/bench/registry_hive_bench"
"$build/bench/registry_hive_bench" "$rounds" "${4:-}"
