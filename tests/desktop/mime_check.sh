#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The saved tape's file type: shared-mime-info takes the package file, a
# file named *.quillo or starting as a saved tape is of that type, and the
# desktop entry says it opens it.
# Usage: mime_check.sh MIME.xml ENTRY.desktop
set -euo pipefail
xml=$1 entry=$2
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
mkdir -p "$root/mime/packages"
cp "$xml" "$root/mime/packages/"
XDG_DATA_DIRS=$root update-mime-database "$root/mime" 2>"$root/err" || { cat "$root/err" >&2; exit 1; }
[[ ! -s $root/err ]] || { cat "$root/err" >&2; exit 1; }
type=$(sed -n 's/.*<mime-type type="\([^"]*\)".*/\1/p' "$xml")
grep -qx "50:$type:\*\.quillo" "$root/mime/globs2" || { echo "no glob for *.quillo" >&2; exit 1; }
grep -q "$type" "$root/mime/magic" || { echo "no magic for $type" >&2; exit 1; }
grep -qx "MimeType=$type;" "$entry" || { echo "the desktop entry does not name $type" >&2; exit 1; }
grep -q '^Exec=quillo %f$' "$entry" || { echo "the desktop entry does not pass the file" >&2; exit 1; }
echo "mime-check: $type passed"
