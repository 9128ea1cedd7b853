#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 The Kronvik developers
# SPDX-License-Identifier: GPL-2.0-or-later
# The installed manual pages render without a single groff warning.
# Usage: man_pages.sh PREFIX
set -uo pipefail
man1=$1/share/man/man1
command -v groff >/dev/null || { echo "skipped: groff is not installed"; exit 77; }
[ -f "$man1/kronvik-cli.1.gz" ] || { echo "kronvik-cli.1.gz is not installed in $man1"; exit 1; }
failed=0
for page in "$man1"/*.1.gz; do
    warnings=$(gzip -dc "$page" | groff -ww -z -man 2>&1)
    if [ -n "$warnings" ]; then
        echo "$page:"
        echo "$warnings"
        failed=1
    else
        echo "$page: no warnings"
    fi
done
exit $failed
