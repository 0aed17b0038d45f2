#!/usr/bin/env bash
# The Performance table of doc/HACKING.md, measured in one run. How each cost of the register
# grows with the list comes from its benchmarks (register_bench, Google Benchmark,
# fitted from 1280 to 20480 schools). The rest comes from the real program on a
# scripted session over a school file of 20480 records (load it into a new list,
# sorted listing, area report, write it back, end), output to /dev/null, against the
# floor of the machine: cat copying the same file and writing as many output bytes;
# its write calls on its output (strace), its peak memory above its size at the first
# menu (GNU time), and its start-up against a C++ program that only prints that menu.
# Prints the machine, then the table in Markdown; the benchmarks' own report goes to
# standard error.
#
#   bench/session.sh            builds in build-bench/ and measures
#   RUNS=15 bench/session.sh    timed runs of each kind (the best one counts)
#   REPETITIONS=5 bench/session.sh   runs of each benchmark (the best one counts)
#   SCHOOLS_PROGRAM=path bench/session.sh   times another build's program
#
# Needs bash 5, perl, cmake, a C++ compiler, strace and GNU time; run as root it
# installs the last two from the distribution when they are missing.
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
runs="${RUNS:-9}"
repetitions="${REPETITIONS:-3}"
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

cmake -S "$root" -B "$root/build-bench" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSCHOOLS_TESTS=OFF \
    -DSCHOOLS_BENCH=ON >/dev/null
cmake --build "$root/build-bench" --target schools register_bench -j 2 >/dev/null
if [ -n "${SCHOOLS_PROGRAM:-}" ]; then
    program="$(cd "$(dirname "$SCHOOLS_PROGRAM")" && pwd)/$(basename "$SCHOOLS_PROGRAM")"
else
    program="$root/build-bench/schools"
fi

work="$(mktemp -d "${TMPDIR:-/tmp}/schools-session-XXXXXX")"
trap 'rm -rf "$work"' EXIT
cd "$work"

# ---- The register's benchmarks ------------------------------------------------------

"$root/build-bench/bench/register_bench" --benchmark_repetitions="$repetitions" \
    --benchmark_display_aggregates_only=true --benchmark_out=register.json \
    --benchmark_out_format=json >&2

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

# ---- Write calls on the output ------------------------------------------------------

fresh
strace -o trace.txt -e trace=read,write "$program" < session.in > /dev/null
writes=$(grep -c '^write(1,' trace.txt || true)
waits=$(grep -c '^read(0,' trace.txt || true)

# ---- Peak memory --------------------------------------------------------------------

peak_kib() { /usr/bin/time -v "$program" < "$1" 2>&1 >/dev/null | awk '/Maximum resident/ {print $NF}'; }
fresh
menu_kib=$(peak_kib first-menu.in)
session_kib=$(peak_kib session.in)

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

# ---- The table ----------------------------------------------------------------------

model=$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -1)
grep -qw hypervisor /proc/cpuinfo && machine="a $(nproc)-core virtual machine" ||
    machine="a $(nproc)-core machine"
echo "On $machine ($model); each time the best of $runs runs ($repetitions of each benchmark):"
echo
echo "| Measure | Ratio |"
echo "|---|---|"
# How each benchmark grows: the curve that fits the best time at each size with the
# least squared error in logarithms, so that every size weighs the same, not the
# largest alone; the operations of one growth on one row.
perl -MJSON::PP -MList::Util=sum,min -e '
    local $/; my $report = decode_json(<STDIN>);
    my %us;  # by benchmark, then size: the best time in microseconds
    for (grep { $_->{run_type} eq "iteration" } @{$report->{benchmarks}}) {
        my ($name, $n) = split m{/}, $_->{name};
        $us{$name}{$n} = min($_->{real_time}, $us{$name}{$n} // $_->{real_time});
    }
    my %curves = ("1" => sub { 1 }, "log n" => sub { log($_[0]) }, "n" => sub { $_[0] },
                  "n log n" => sub { $_[0] * log($_[0]) }, "n²" => sub { $_[0] ** 2 },
                  "n³" => sub { $_[0] ** 3 });
    my $as = sub {
        my $t = $us{"BM_$_[0]"}; my %misfit;
        for my $curve (keys %curves) {
            my @r = map { log($t->{$_} / $curves{$curve}->($_)) } keys %$t;
            my $mean = sum(@r) / @r;
            $misfit{$curve} = sum(map { ($_ - $mean) ** 2 } @r);
        }
        (sort { $misfit{$a} <=> $misfit{$b} } keys %misfit)[0];
    };
    my (@growths, %named);
    for (["load", "LoadSchoolFile"], ["write", "WriteSchoolFile"], ["listing", "FullListing"],
         ["area report", "AreaReport"], ["pruning", "PruneHalf"], ["growth from 5", "GrowFrom5"]) {
        my $g = $as->($_->[1]);
        push @growths, $g unless $named{$g};
        push @{$named{$g}}, $_->[0];
    }
    printf "| %s | %s as %s |\n", join(", ", @{$named{$_}}), @{$named{$_}} > 1 ? "grow" : "grows", $_
        for @growths;
    printf "| sort | grows as %s |\n", $as->("Sort");
    printf "| registering typed numbers (each compared with all known) | grows as %s;" .
           " %d numbers %.0f ms in all, one number against %d known %.0f µs |\n",
           $as->("RegisterTypedNumbers"), $ARGV[0], $us{BM_RegisterTypedNumbers}{$ARGV[0]} / 1000,
           $ARGV[0], $us{BM_RegisterOneNumber}{$ARGV[0]};
' "$schools" < register.json
ratio() { perl -e 'printf "%.*f", $ARGV[2] // 1, $ARGV[0] / $ARGV[1]' "$@"; }
echo "| whole session / \`cat\` floor | $(ratio "$best_session" "$best_floor") |"
echo "| whole session / \`cat\` floor with the copy synced to disk | $(ratio "$best_session" "$best_synced") |"
echo "| the session writing to /dev/null (no sync) / \`cat\` floor | $(ratio "$best_undurable" "$best_floor") |"
echo "| output write calls per 64 KiB of output |" \
    "$(perl -e 'printf "%g", sprintf "%.2f", $ARGV[0]' "$(ratio $(( (writes - waits) * 65536 )) "$bytes" 2)")," \
    "plus 1 per wait for input |"
echo "| peak memory above the first menu / (2 × $record × $schools bytes) |" \
    "$(ratio $(( (session_kib - menu_kib) * 1024 )) $((2 * record * schools)) 2) |"
echo "| start-up to the first menu / a program that only prints it | $(ratio "$best_start" "$best_menu") |"
