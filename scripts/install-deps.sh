#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 The Kronvik developers
# SPDX-License-Identifier: GPL-2.0-or-later
# Installs what Kronvik needs to build, run and test on Debian 12. Runs as root (or through sudo).
set -euo pipefail
packages=(cmake g++ make ninja-build pkg-config libexiv2-dev libgtest-dev libgmock-dev qt6-base-dev
          qt6-base-dev-tools libgl-dev clang-format xvfb xauth dpkg-dev file libfuse3-dev fuse3
          dosfstools exfatprogs exfat-fuse ntfs-3g fusefat libsqlite3-dev
          reuse groff-base desktop-file-utils appstream x11-utils bash-completion
          clang-14 libclang-rt-14-dev qemu-system-x86 busybox-static)
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

# A Debian kernel, unpacked and not installed, for the tests that mount FAT and exFAT through the
# kernel's own drivers in a virtual machine (tests/file_systems/kernel_file_systems.sh). Without
# it those tests are skipped, saying why.
kernel_dir=/var/cache/kronvik-test-kernel
fetch_kernel() {
    local image download fetched=1
    image=$(apt-cache depends linux-image-amd64 2>/dev/null |
        awk '/Depends: linux-image-[0-9]/ { print $2; exit }') || true
    [ -n "$image" ] || return 1
    download=$(mktemp -d)
    # apt fetches as its own user where it can write.
    chmod 755 "$download"
    [ "$(id -u)" -eq 0 ] && id _apt >/dev/null 2>&1 && chown _apt "$download"
    if (cd "$download" && apt-get download -q "$image"); then
        $SUDO mkdir -p "$kernel_dir" && $SUDO dpkg-deb -x "$download"/*.deb "$kernel_dir" && fetched=0
    fi
    rm -rf "$download"
    return $fetched
}
if ! compgen -G "$kernel_dir/boot/vmlinuz-*" >/dev/null; then
    SUDO=""
    [ "$(id -u)" -eq 0 ] || SUDO=sudo
    # With package lists that are stale or gone, once more after updating them.
    if ! fetch_kernel && ! { $SUDO apt-get update -q && fetch_kernel; }; then
        echo "install-deps.sh: no Debian kernel could be fetched; the kernel file system tests will be skipped" >&2
    fi
fi
