#!/usr/bin/env bash
# check_lintian.sh PACKAGE.deb
# Fails on any lintian error or warning that the package's own overrides do
# not cover, on an override without a comment above it saying why, and on an
# override that no longer matches anything.
set -euo pipefail
deb=$1
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

package=$(dpkg-deb --field "$deb" Package)
overrides=./usr/share/lintian/overrides/$package
dpkg-deb --fsys-tarfile "$deb" | tar -x -C "$scratch" "$overrides"
# A block of overrides (lines up to the next blank line) starts with its reason.
awk -v file="$overrides" '
    /^[[:space:]]*$/ { explained = 0; next }
    /^[[:space:]]*#/ { explained = 1; next }
    !explained { print file ":" NR ": an override without a reason above it: " $0; bad = 1 }
    END { exit bad }' "$scratch/$overrides"

status=0
report=$(lintian --fail-on error,warning --display-info --show-overrides "$deb" 2>&1) || status=$?
if ((status != 0)) || grep -Eq '^[EWI]: [^ ]+: (unused-override|mismatched-override)' <<<"$report"; then
    echo "lintian objects to $deb:"
    echo "$report"
    exit 1
fi
