#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 The Kronvik developers
# SPDX-License-Identifier: GPL-2.0-or-later
# Installs what Kronvik needs to build, run and test on Debian 12. Runs as root (or through sudo).
set -euo pipefail
packages=(cmake g++ make ninja-build pkg-config libexiv2-dev libgtest-dev libgmock-dev qt6-base-dev
          qt6-base-dev-tools libgl-dev clang-format xvfb xauth dpkg-dev file libfuse3-dev fuse3
          dosfstools exfatprogs exfat-fuse ntfs-3g fusefat libsqlite3-dev
          reuse groff-base desktop-file-utils appstream x11-utils bash-completion
          clang-14 libclang-rt-14-dev)
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
