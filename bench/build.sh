#!/bin/bash
# SPDX-FileCopyrightText: 2026 The Kronvik developers
# SPDX-License-Identifier: GPL-2.0-or-later
# Builds what the benchmarks run, for the Kronvik source tree TREE (default: this checkout):
# kronvik-cli by the release preset in TREE/build/release, and the benchmark programs of this
# folder, built against TREE's sources, in TREE/build/bench. TREE may be an older checkout that
# has no benchmarks of its own.
#   bench/build.sh [TREE]
set -euo pipefail
bench=$(cd "$(dirname "$0")" && pwd)
tree=$(cd "${1:-$bench/..}" && pwd)
# Always built: a kronvik-cli left from an older commit would be measured under the tree's name.
(cd "$tree" && cmake --preset release >/dev/null && cmake --build --preset release --target kronvik-cli)
cmake -S "$bench" -B "$tree/build/bench" -DKRONVIK_SOURCE_DIR="$tree" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$tree/build/bench" -j 2
