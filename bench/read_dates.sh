#!/bin/bash
# SPDX-FileCopyrightText: 2026 The Kronvik developers
# SPDX-License-Identifier: GPL-2.0-or-later
# Times reading the EXIF dates of every corpus file. Not part of the test suite.
# Usage: bench/read_dates.sh [rounds] [corpus folder]   (run after building the release preset)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
rounds=${1:-20}
corpus=${2:-$root/../shared/corpus}
build=$root/build/release
if [ ! -f "$build/engine/libkronvik_engine.a" ]; then
    echo "build the engine first: cmake --preset release && cmake --build --preset release" >&2
    exit 1
fi
mkdir -p "$build/bench"
g++ -std=c++20 -O2 -I"$root/engine" "$root/bench/read_dates.cpp" \
    "$build/engine/libkronvik_engine.a" "$build/platform/libkronvik_platform.a" -lexiv2 \
    -o "$build/bench/read_dates"
shopt -s nullglob
"$build/bench/read_dates" "$rounds" "$corpus"/exiv2-jpeg/* "$corpus"/hostile-nonjpeg/*
