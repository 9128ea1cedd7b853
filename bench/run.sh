#!/bin/bash
# SPDX-FileCopyrightText: 2026 The Kronvik developers
# SPDX-License-Identifier: GPL-2.0-or-later
# The dating-pass benchmarks in one command (bench/README.md): kronvik-cli against jhead, exiv2
# and exiftool, the window against kronvik-cli, the scan against find, peak memory. Not a test.
#   bench/run.sh [--quick | --all] [--before OLD_TREE] [--help for the rest]
exec /usr/bin/python3 -B "$(dirname "$0")/run.py" "$@"
