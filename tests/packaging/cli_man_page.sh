#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 The Kronvik developers
# SPDX-License-Identifier: GPL-2.0-or-later
# Every option that `kronvik-cli --help` lists has an entry of its own under OPTIONS in the installed
# kronvik-cli(1), so an option added to the program cannot be left out of its manual.
# Usage: cli_man_page.sh PREFIX KRONVIK_CLI
set -uo pipefail
page=$1/share/man/man1/kronvik-cli.1.gz
cli=$2
command -v groff >/dev/null || { echo "skipped: groff is not installed"; exit 77; }

# The option column of the help: "  -t, --time-adjust=H     shift ..." gives -t and --time-adjust.
mapfile -t options < <(LC_ALL=C "$cli" --help | grep -E '^[[:space:]]+-' |
    sed -E 's/^[[:space:]]+//; s/[[:space:]]{2,}.*//; s/, /\n/g' | sed -E 's/[=[].*//')
[ ${#options[@]} -gt 0 ] || { echo "kronvik-cli --help lists no options"; exit 1; }

# The tags of the OPTIONS section, rendered as plain text on wide lines without hyphenation.
tags=$(gzip -dc "$page" | groff -man -Tascii -P-cbou -rLL=200n -rHY=0 2>/dev/null |
    sed -n '/^OPTIONS$/,/^[A-Z]/p' | grep -E '^ {7}-' | sed -E 's/[=[][^ ,]*//g; s/,//g')
missing=0
for option in "${options[@]}"; do
    if grep -qE -- "(^|[[:space:]])$option([[:space:]]|$)" <<<"$tags"; then
        echo "documented: $option"
    else
        echo "not in kronvik-cli(1): $option"
        missing=1
    fi
done
exit $missing
