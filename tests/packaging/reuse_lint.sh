#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 The Kronvik developers
# SPDX-License-Identifier: GPL-2.0-or-later
# Every file of the source tree states its copyright and licence, as `reuse lint` checks.
# Usage: reuse_lint.sh SOURCE_DIR
set -uo pipefail
source_dir=$1
command -v reuse >/dev/null || { echo "skipped: reuse is not installed (Debian package reuse)"; exit 77; }
# Outside a git checkout reuse cannot tell the sources from a build folder inside them.
git -C "$source_dir" rev-parse --is-inside-work-tree >/dev/null 2>&1 ||
    { echo "skipped: $source_dir is not a git checkout"; exit 77; }
reuse --root "$source_dir" lint
