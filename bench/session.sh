#!/usr/bin/env bash
# Whole-session benchmark: the real program on a scripted session over a school
# file of 20480 records (load it into a new list, sorted listing, area report,
# write it back, end), output to /dev/null, against the floor of the machine:
# cat copying the same file and writing the same number of output bytes.
# Also counts the program's write calls on its output (strace), its peak memory
# above its size at the first menu (/usr/bin/time -v), and its start-up against
# a C++ program that only prints the first menu.
#
#   bench/session.sh            builds the program in build-bench/ and runs
#   RUNS=15 bench/session.sh    timed runs of each kind (the best one counts)
#   SCHOOLS_PROGRAM=path bench/session.sh   measures another build
#
# Needs bash 5, perl, cmake, a C++ compiler, strace and GNU time; run as root it
# installs the last two from the distribution when they are missing.
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
runs="${RUNS:-9}"
schools=20480
record=112

# ---- What it needs -----------------------------------------------------------------

if [ "${BASH_VERSINFO[0]}" -lt 5 ]; then
    echo "session.sh needs bash 5 or newer (for EPOCHREALTIME)" >&2
    exit 1
fi
missing=()
command -v strace >/dev/null || missing+=(strace)
[ -x /usr/bin/time ] || missing+=(time)
if [ ${#missing[@]} -gt 0 ]; then
    if [ "$(id -u)" = 0 ] && command -v apt-get >/dev/null; then
        export DEBIAN_FRONTEND=noninteractive
        apt-get install -y -q --no-install-recommends "${missing[@]}" >/dev/null ||
            { apt-get update -q >/dev/null && apt-get install -y -q --no-install-recommends "${missing[@]}" >/dev/null; }
    else
        echo "session.sh needs: ${missing[*]} (Debian packages of the same names)" >&2
        exit 1
    fi
fi
for tool in perl cmake c++; do
    command -v "$tool" >/dev/null || { echo "session.sh needs $tool" >&2; exit 1; }
done

if [ -n "${SCHOOLS_PROGRAM:-}" ]; then
    program="$(cd "$(dirname "$SCHOOLS_PROGRAM")" && pwd)/$(basename "$SCHOOLS_PROGRAM")"
else
    cmake -S "$root" -B "$root/build-bench" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSCHOOLS_TESTS=OFF >/dev/null
    cmake --build "$root/build-bench" --target schools -j 2 >/dev/null
    program="$root/build-bench/schools"
fi

work="$(mktemp -d "${TMPDIR:-/tmp}/schools-session-XXXXXX")"
trap 'rm -rf "$work"' EXIT
cd "$work"

# ---- The school file and the session ------------------------------------------------

# Distinct numbers, areas 100..9999, 1..2000 students, Cyrillic (code page 1251)
# in the names, so that the listings convert them for the UTF-8 terminal.
perl -e 'srand(20480);
    for my $i (1 .. '$schools') {
        print pack("Z50 Z50 l< l< l<",
                   "School $i \xD3\xF7\xE8\xEB\xE8\xF9\xE5", "Director $i \xC8\xE2\xE0\xED\xEE\xE2",
                   $i, 100 + int(rand(9900)), 1 + int(rand(2000)));
    }' > original.dat
export LC_ALL=C.UTF-8

# Menu keys, the file name, pause keys, the threshold that about half exceed.
printf '121schools.dat\n 4 55000\n 2schools.dat\n 7' > session.in
printf '7' > first-menu.in
# The same session writing to /dev/null, which the program writes directly: no
# temporary file and no sync, to show what the durable write costs.
printf '121schools.dat\n 4 55000\n 2/dev/null\n 7' > undurable.in

fresh() { cp original.dat schools.dat; }
fresh
"$program" < session.in > session.out
bytes=$(wc -c < session.out)
written=$(wc -c < schools.dat)
if [ "$written" != $((schools * record)) ] || ! grep -q "School number in list: $schools" session.out; then
    echo "the session did not load, list and write $schools schools" >&2
    exit 1
fi

# ---- Time: the best of $runs runs of each ------------------------------------------

elapsed_us() {  # runs "$@" once, prints the wall time in microseconds
    local start=$EPOCHREALTIME
    "$@"
    local end=$EPOCHREALTIME
    echo $(( ${end/./} - ${start/./} ))
}
run_session() { "$program" < session.in > /dev/null; }
run_undurable() { "$program" < undurable.in > /dev/null; }
run_floor() { cat original.dat > copy.dat; cat session.out > /dev/null; }
run_floor_synced() { cat original.dat > copy.dat; sync copy.dat; cat session.out > /dev/null; }

best_session=0 best_floor=0 best_synced=0 best_undurable=0
keep_best() {  # name of the best-so-far variable, new time
    local -n best=$1
    if [ "$best" = 0 ] || [ "$2" -lt "$best" ]; then best=$2; fi
}
for ((i = 0; i < runs; i++)); do
    fresh
    keep_best best_session "$(elapsed_us run_session)"
    fresh
    keep_best best_undurable "$(elapsed_us run_undurable)"
    rm -f copy.dat
    keep_best best_floor "$(elapsed_us run_floor)"
    rm -f copy.dat
    keep_best best_synced "$(elapsed_us run_floor_synced)"
done

ratio() { perl -e 'printf "%.2f", $ARGV[0] / $ARGV[1]' "$1" "$2"; }
ms() { perl -e 'printf "%.1f ms", $ARGV[0] / 1000' "$1"; }

echo "Session over $schools schools, $bytes bytes of output, best of $runs runs, LC_ALL=$LC_ALL"
echo "  program:                         $(ms "$best_session")"
echo "  floor (cat):                     $(ms "$best_floor")      ratio $(ratio "$best_session" "$best_floor")  (goal <= 2)"
echo "  floor (cat, copy synced to disk): $(ms "$best_synced")      ratio $(ratio "$best_session" "$best_synced")"
echo "  program writing to /dev/null:    $(ms "$best_undurable")      ratio to floor (cat) $(ratio "$best_undurable" "$best_floor")"

# ---- Write calls on the output ------------------------------------------------------

fresh
strace -o trace.txt -e trace=read,write "$program" < session.in > /dev/null
writes=$(grep -c '^write(1,' trace.txt || true)
waits=$(grep -c '^read(0,' trace.txt || true)
allowed=$(( (bytes + 4095) / 4096 + waits ))
echo "Output write calls: $writes for $bytes bytes and $waits waits for input;" \
     "$(perl -e 'printf "%.3f", $ARGV[0] * 1024 / $ARGV[1]' "$writes" "$bytes") per KiB," \
     "goal <= $allowed (one per 4 KiB plus one per wait)"

# ---- Peak memory --------------------------------------------------------------------

peak_kib() { /usr/bin/time -v "$program" < "$1" 2>&1 >/dev/null | awk '/Maximum resident/ {print $NF}'; }
fresh
menu_kib=$(peak_kib first-menu.in)
session_kib=$(peak_kib session.in)
budget_kib=$(( 2 * record * schools / 1024 ))
echo "Peak memory: $session_kib KiB; at the first menu $menu_kib KiB; above it" \
     "$((session_kib - menu_kib)) KiB, goal <= $budget_kib KiB (2 x $record x $schools bytes)"

# ---- Start-up ----------------------------------------------------------------------

"$program" < first-menu.in > first-menu.out
perl -e 'local $/; my $t = <STDIN>; $t =~ s/(["\\])/\\$1/g; $t =~ s/\n/\\n/g;
         print "#include <cstdio>\nint main() { std::fputs(\"$t\", stdout); }\n"' \
    < first-menu.out > menu_only.cpp
c++ -O2 -o menu_only menu_only.cpp
cmp -s first-menu.out <(./menu_only) || { echo "the menu-only program prints otherwise" >&2; exit 1; }
best_start=0 best_menu=0
run_start() { "$program" < first-menu.in > /dev/null; }
run_menu() { ./menu_only < first-menu.in > /dev/null; }
for ((i = 0; i < runs * 3; i++)); do
    keep_best best_start "$(elapsed_us run_start)"
    keep_best best_menu "$(elapsed_us run_menu)"
done
echo "Start-up to the first menu: $(ms "$best_start"); a program printing only the menu:" \
     "$(ms "$best_menu"); ratio $(ratio "$best_start" "$best_menu") (goal <= 2)"
