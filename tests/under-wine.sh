#!/usr/bin/env bash
# Runs a command against build-win/schools.exe under wine, with a wine prefix of
# its own in build-win/. A persistent wine server and a prefix booted beforehand
# make each start of the program cost milliseconds instead of seconds.
#   tests/under-wine.sh build/tests/e2e_tests
set -euo pipefail
wine=${WINE:-/usr/lib/wine/wine64}
wineserver=${WINESERVER:-$(dirname "$wine")/wineserver}
dir=$(cd "$(dirname "$0")/.." && pwd)/build-win

export WINEPREFIX="$dir/wine-prefix" TMPDIR="$dir/tmp" WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
mkdir -p "$WINEPREFIX" "$TMPDIR"
# -p refuses while a server of this prefix runs: one still going away is waited
# for, one that stays is used and left running.
for attempt in 1 2; do
    if "$wineserver" -p; then
        trap '"$wineserver" -k || true; "$wineserver" -w' EXIT
        break
    fi
    timeout 5 "$wineserver" -w || true
done
# Booted away from the callers' pipes: otherwise every run that captures output
# through a pipe waits seconds for the boot to let go of it.
"$wine" wineboot --init </dev/null >/dev/null 2>&1

export SCHOOLS_RUNNER="$wine" SCHOOLS_PROGRAM="$dir/schools.exe"
"$@"
