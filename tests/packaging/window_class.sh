#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 The Kronvik developers
# SPDX-License-Identifier: GPL-2.0-or-later
# The installed desktop entry's StartupWMClass is the X11 class of the running window, so that docks and
# task bars show the entry's name and icon for it. Runs the installed kronvik on a virtual X display.
# Usage: window_class.sh PREFIX
set -uo pipefail
prefix=$1
for tool in xvfb-run xprop xwininfo; do
    command -v $tool >/dev/null || { echo "skipped: $tool is not installed (Debian packages xvfb, x11-utils)"; exit 77; }
done
wanted=$(sed -n 's/^StartupWMClass=//p' "$prefix/share/applications/io.github.kronvik.Kronvik.desktop")
[ -n "$wanted" ] || { echo "the desktop entry has no StartupWMClass"; exit 1; }

home=$(mktemp -d) && trap 'rm -rf "$home"' EXIT
export HOME=$home XDG_CONFIG_HOME=$home/config XDG_STATE_HOME=$home/state QT_QPA_PLATFORM=xcb
# Prints the WM_CLASS of the window titled Kronvik, as xprop reads it: "instance", "class".
# Three tries: on a loaded machine the virtual display has once been gone by the time the window
# looked for it ("no usable display"), with every line of this script as it should be.
for attempt in 1 2 3; do
  xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
    "$1" & window=$!
    for _ in $(seq 100); do
        # Qt titles its hidden leader window alike; only the real window carries a class.
        id=$(xwininfo -root -tree | sed -nE "s/^ *(0x[0-9a-f]+) \"Kronvik\": \(\".*/\1/p" | head -n 1)
        [ -n "$id" ] && break
        kill -0 $window 2>/dev/null || break # it could not open the window
        sleep 0.2
    done
    [ -n "$id" ] && xprop -id "$id" WM_CLASS
    kill $window 2>/dev/null; wait $window 2>/dev/null
    true' sh "$prefix/bin/kronvik" >"$home/class" 2>"$home/errors"
  class=$(sed -nE 's/^WM_CLASS\(STRING\) = "[^"]*", "([^"]*)"$/\1/p' "$home/class")
  [ -n "$class" ] && break
  echo "try $attempt: no window titled Kronvik appeared: $(paste -sd' ' "$home/errors")"
done
echo "the running window's class: '${class}', the desktop entry's StartupWMClass: '$wanted'"
[ -n "$class" ] || { echo "no window titled Kronvik appeared"; cat "$home/class" "$home/errors"; exit 1; }
[ "$class" = "$wanted" ]
