#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 The Kronvik developers
# SPDX-License-Identifier: GPL-2.0-or-later
# Installs what the benchmarks (bench/run.sh) run besides Kronvik, from Debian 12's archive: the
# tools they are compared with, GNU time for peak memory, an X server for the window, Python for
# the harness. Runs as root (or through sudo). The build itself needs scripts/install-deps.sh.
set -euo pipefail
packages=(jhead exiv2 libimage-exiftool-perl time xvfb python3 util-linux findutils)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    SUDO=""
    [ "$(id -u)" -eq 0 ] || SUDO=sudo
    export DEBIAN_FRONTEND=noninteractive
    $SUDO apt-get update -q
    $SUDO apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
