#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 The Kronvik developers
# SPDX-License-Identifier: GPL-2.0-or-later
# The installed bash completion of kronvik-cli, sourced in bash and asked as bash asks it: options after
# "--", directories (never files) for SOURCE and for --log-dir, nothing for an hour count.
# Usage: bash_completion.sh PREFIX KRONVIK_CLI
set -uo pipefail
script=$(find "$1/share" -path '*bash-completion/completions/kronvik-cli' -print -quit)
cli=$2
[ -n "$script" ] || { echo "the bash completion of kronvik-cli is not installed under $1/share"; exit 1; }
echo "completion: $script"
source "$script"
function=$(complete -p kronvik-cli | sed -nE 's/.*-F ([^ ]+).*/\1/p')
[ -n "$function" ] || { echo "sourcing $script registered no completion for kronvik-cli"; exit 1; }

# The program is found on PATH, as it is once installed.
PATH=$(dirname "$cli"):$PATH
folder=$(mktemp -d) && trap 'rm -rf "$folder"' EXIT
mkdir "$folder/Camera" "$folder/Card" && touch "$folder/notes.txt" && cd "$folder" || exit 1

failed=0
# Completes the words, the last being the one under the cursor, and prints the replies sorted on one line.
complete_words()
{
    COMP_WORDS=("$@")
    COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
    COMPREPLY=()
    "$function" kronvik-cli "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
    printf '%s\n' "${COMPREPLY[@]}" | sort | paste -sd ' '
}
expect()
{
    local name=$1 want=$2
    shift 2
    local got
    got=$(complete_words "$@")
    if [ "$got" = "$want" ]; then
        echo "ok: $name"
    else
        echo "FAILED: $name: '$*' completed to '$got', expected '$want'"
        failed=1
    fi
}

# Every long option of the help, in the order sort gives.
long_options=$(LC_ALL=C "$cli" --help | grep -E '^[[:space:]]+-' | grep -oE -- '--[[:alnum:]][[:alnum:]-]*' |
    sort -u | paste -sd ' ')
[[ " $long_options " == *" --log-dir "* && " $long_options " == *" --recurse "* ]] ||
    { echo "kronvik-cli --help lacks --log-dir or --recurse: $long_options"; exit 1; }

expect "every long option after --" "$long_options" kronvik-cli --
expect "the options that begin with --rec" "--recurse" kronvik-cli --rec
expect "the options that begin with --re" "--recurse --reshift" kronvik-cli --re
expect "directories only, for a SOURCE" "Camera Card" kronvik-cli ""
expect "directories that match, for a SOURCE after an option" "Camera" kronvik-cli -R Cam
expect "directories for --log-dir" "Camera Card" kronvik-cli --log-dir ""
expect "directories for -l" "Camera" kronvik-cli -l Cam
expect "directories right after --log-dir=" "Camera Card" kronvik-cli --log-dir =
expect "directories for --log-dir=DIR" "Card" kronvik-cli --log-dir = Car
expect "nothing for an hour count" "" kronvik-cli --time-adjust ""
expect "no options after --, where every word is a SOURCE" "" kronvik-cli -R -- --
exit $failed
