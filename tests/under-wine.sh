#!/usr/bin/env bash
# Runs a command against build-win/schools.exe under wine, in a prefix of its own in build-win/.
set -euo pipefail
wine=${WINE:-/usr/lib/wine/wine64} dir=$(cd "$(dirname "$0")/.." && pwd)/build-win
export WINEPREFIX=$dir/wine-prefix TMPDIR=$dir/tmp WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
mkdir -p "$WINEPREFIX" "$TMPDIR"
"$(dirname "$wine")/wineserver" -p3 || true  # kept until 3 s after its last program ends
"$wine" wineboot --init </dev/null >/dev/null 2>&1  # booted away from the callers' pipes
SCHOOLS_RUNNER=$wine SCHOOLS_PROGRAM=$dir/schools.exe "$@"
