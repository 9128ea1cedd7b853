#!/bin/bash
# SPDX-FileCopyrightText: 2026 The Kronvik developers
# SPDX-License-Identifier: GPL-2.0-or-later
# Times dating a tree of real camera pictures with kronvik-cli against the tools people use for
# the same job today, on fresh copies of the same files, and prints the ratios. Not a test.
#   jhead -n"%Y-%m-%d %H.%M.%S"      renames after the EXIF date (and -ft sets the file time)
#   exiftool "-FileName<DateTimeOriginal" -d "%Y-%m-%d %H.%M.%S%%-c.%%e"
# Usage: bench/date_tree.sh [copies of the corpus, default 20]  (after the release build)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
copies=${1:-20}
corpus=$root/../shared/corpus/exiv2-jpeg
cli=${KRONVIK_CLI:-$root/build/release/app/kronvik-cli}
[ -x "$cli" ] || { echo "build first: cmake --preset release && cmake --build --preset release" >&2; exit 1; }
for tool in jhead exiftool; do
    command -v $tool >/dev/null || { echo "install $tool: apt-get install jhead libimage-exiftool-perl" >&2; exit 1; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# Only the pictures every tool dates cleanly: camera files with an original date that jhead
# renames on its own (a hostile file makes jhead stop the whole run).
probe=$work/probe
mkdir -p "$probe"
mapfile -t pictures < <(cd "$corpus" && for f in *.jpg *.JPG; do
    [ -f "$f" ] || continue
    exiftool -q -q -s3 -DateTimeOriginal "$f" 2>/dev/null | grep -q '^[0-9]\{4\}:' || continue
    rm -f "$probe"/*; cp "$f" "$probe/x.jpg"
    jhead -q -n'%Y%m%d%H%M%S' "$probe/x.jpg" >/dev/null 2>&1 && [ ! -e "$probe/x.jpg" ] && echo "$f"
done | sort -u)
make_tree() {
    rm -rf "$work/tree"
    for i in $(seq 1 "$copies"); do
        mkdir -p "$work/tree/$i"
        for f in "${pictures[@]}"; do cp "$corpus/$f" "$work/tree/$i/"; done
    done
}
timed() { # prints seconds
    local start end
    start=$(date +%s.%N)
    "$@" >/dev/null 2>&1 || true
    end=$(date +%s.%N)
    echo "$end - $start" | bc -l
}
make_tree
count=$(find "$work/tree" -type f | wc -l)
kronvik=$(timed "$cli" -q "$work/tree")
make_tree
jhead_s=$(timed bash -c "find '$work/tree' -type f -print0 | xargs -0 jhead -q -ft -n'%Y-%m-%d %H.%M.%S'")
make_tree
exiftool_s=$(timed exiftool -q -q -r '-FileName<DateTimeOriginal' -d '%Y-%m-%d %H.%M.%S%%-c.%%e' "$work/tree")
printf 'pictures: %d\n' "$count"
printf 'kronvik-cli  %8.3f s\n' "$kronvik"
printf 'jhead        %8.3f s   (kronvik-cli takes %.2f x its time)\n' "$jhead_s" "$(echo "$kronvik / $jhead_s" | bc -l)"
printf 'exiftool     %8.3f s   (kronvik-cli takes %.2f x its time)\n' "$exiftool_s" "$(echo "$kronvik / $exiftool_s" | bc -l)"
