#!/bin/bash
# SPDX-FileCopyrightText: 2026 The Kronvik developers
# SPDX-License-Identifier: GPL-2.0-or-later
# The long run of the killed-pass tests: kronvik-cli killed at random moments of 1,000 passes
# (half of them shifting the dates first), and the settings file killed while it is saved 100
# times, where the test command makes 80 and 8: under two minutes on two cores, so not part of
# the test command.
#
# Usage: tests/killed_passes_long.sh [BUILD_DIR [PASSES]]
# BUILD_DIR is build/dev unless given (build it first: cmake --build --preset dev). PASSES is
# 1000 unless given. KRONVIK_KILLED_PASS_SEED repeats the kill moments of a failed run.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/dev}
export KRONVIK_KILLED_PASSES=${2:-1000}
for binary in "$build/tests/app/cli_tests" "$build/tests/settings/settings_tests"; do
    [ -x "$binary" ] || { echo "no $binary: build with cmake --build --preset dev" >&2; exit 2; }
done
"$build/tests/app/cli_tests" --gtest_filter='TheCliKilledMidPass*'
"$build/tests/settings/settings_tests" --gtest_filter='TheSettingsFile.*AfterAKilledSave*'
