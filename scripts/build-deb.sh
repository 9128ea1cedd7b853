#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 The Kronvik developers
# SPDX-License-Identifier: GPL-2.0-or-later
# Builds the Debian package of Kronvik from this source tree and prints the path of the .deb.
# Installs missing build packages first, so it runs as root (or with sudo available).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
# The flags Debian builds its own packages with: optimisation and hardening (stack protector,
# fortified functions, relocations read-only and bound at start).
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cmake --preset release \
    -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CXXFLAGS) $(dpkg-buildflags --get CPPFLAGS)" \
    -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)"
cmake --build --preset release
(cd build/release && cpack -G DEB)
deb=$(ls -t build/release/kronvik_*.deb | head -n 1)
echo "$(pwd)/$deb"
