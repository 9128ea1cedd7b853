#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 The Kronvik developers
# SPDX-License-Identifier: GPL-2.0-or-later
# The installed copyright file parses in Debian's machine-readable format, and the newest entry of the
# installed changelog is this version of Kronvik.
# Usage: debian_docs.sh PREFIX VERSION
set -uo pipefail
doc=$1/share/doc/kronvik
version=$2
command -v dpkg-parsechangelog >/dev/null ||
    { echo "skipped: dpkg-parsechangelog is not installed (Debian package dpkg-dev)"; exit 77; }
/usr/bin/python3 -c 'import debian.copyright' 2>/dev/null ||
    { echo "skipped: python3-debian is not installed"; exit 77; }

/usr/bin/python3 - "$doc/copyright" <<'PYTHON' || exit 1
import sys
from debian.copyright import Copyright
with open(sys.argv[1], encoding="utf-8") as text:
    copyright = Copyright(text, strict=True)
files = [paragraph.files for paragraph in copyright.all_files_paragraphs()]
if ("*",) not in files:
    sys.exit("the copyright file has no paragraph for every file (Files: *)")
print("copyright: machine-readable, licences", [p.license.synopsis for p in copyright.all_license_paragraphs()])
PYTHON

changelog=$(mktemp) && trap 'rm -f "$changelog"' EXIT
gzip -dc "$doc/changelog.Debian.gz" >"$changelog" || exit 1
newest=$(dpkg-parsechangelog -l "$changelog" -S Version) || exit 1
echo "changelog: newest entry $newest"
[ "${newest%-*}" = "$version" ] || { echo "the changelog's newest entry is not version $version"; exit 1; }
