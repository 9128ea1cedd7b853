#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 The Kronvik developers
# SPDX-License-Identifier: GPL-2.0-or-later
# The installed desktop entry passes desktop-file-validate without a remark, and the installed metainfo
# passes `appstreamcli validate --pedantic` with no remark but the one on the capital letter of its id,
# which the id keeps.
# Usage: desktop_files.sh PREFIX
set -uo pipefail
id=io.github.kronvik.Kronvik
entry=$1/share/applications/$id.desktop
metainfo=$1/share/metainfo/$id.metainfo.xml
ran=0 failed=0

if command -v desktop-file-validate >/dev/null; then
    ran=1
    remarks=$(desktop-file-validate "$entry" 2>&1) || failed=1
    [ -z "$remarks" ] || { echo "$remarks"; failed=1; }
    echo "desktop-file-validate $entry: $([ $failed = 0 ] && echo passed || echo failed)"
else
    echo "desktop-file-validate is not installed (Debian package desktop-file-utils)"
fi

if command -v appstreamcli >/dev/null; then
    ran=1
    remarks=$(appstreamcli validate --pedantic --no-net --no-color "$metainfo" 2>&1) || failed=1
    echo "$remarks"
    others=$(grep -E '^[EWIP]: ' <<<"$remarks" | grep -v ': cid-contains-uppercase-letter ')
    [ -z "$others" ] || { echo "appstreamcli remarks beyond the id's capital letter:"; echo "$others"; failed=1; }
else
    echo "appstreamcli is not installed (Debian package appstream)"
fi

[ $ran = 1 ] || { echo "skipped: neither validator is installed"; exit 77; }
exit $failed
