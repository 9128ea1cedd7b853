#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 The Kronvik developers
# SPDX-License-Identifier: GPL-2.0-or-later
# Runs one fuzz target for SECONDS from its seed folders, which are only read: the inputs it finds
# go to FINDINGS/corpus and what crashes, leaks or hangs to FINDINGS/ (crash-*, leak-*, timeout-*).
# A seed folder that is absent (the shared corpus beside a fresh clone) is named and left out.
set -euo pipefail
if [ $# -lt 3 ]; then
    echo "usage: $0 TARGET SECONDS FINDINGS [SEED_FOLDER...]" >&2
    exit 2
fi
target=$1 seconds=$2 findings=$3
shift 3
seeds=()
for folder in "$@"; do
    if [ -d "$folder" ]; then
        seeds+=("$folder")
    else
        echo "seed folder absent, left out: $folder"
    fi
done
mkdir -p "$findings/corpus"
# A slow input (Exiv2 over a crafted file) counts as a finding after 10 s; the memory cap keeps a
# huge allocation a finding rather than the machine's problem.
exec "$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$findings/" "$findings/corpus" "${seeds[@]}"
