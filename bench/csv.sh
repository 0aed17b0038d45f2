#!/usr/bin/env bash
# Spreadsheet benchmark: the real program exporting a school file of 20480 records
# to CSV and importing that CSV back into a school file, each against the floor of
# the machine measured in the same run, as bench/session.sh measures its floor:
#   export: cat reading the school file, and cat writing the CSV's bytes;
#   import: cat reading the CSV, and a copy of the school file synced to disk
#           (dd conv=fsync), as the import puts its file safely on disk.
# One cat reading both files is shown too: it saves the floor one process start.
# Then both directions through a workbook (.xlsx) against a spreadsheet program
# converting the same data: gnumeric's ssconvert, CSV to .xlsx and .xlsx to CSV;
# and through a spreadsheet (.ods) against the .xlsx figures and LibreOffice's
# conversion, CSV to .ods and .ods to CSV.
# All of it twice: on varied texts (every length, Cyrillic, quotes, blanks), and on
# short ones.
#
#   bench/csv.sh            builds the program in build-bench/ and runs
#   RUNS=15 bench/csv.sh    timed runs of each kind (the best one counts)
#   SS_RUNS=3 bench/csv.sh  timed runs of ssconvert and LibreOffice (2), which take seconds
#   SCHOOLS_PROGRAM=path bench/csv.sh   measures another build
#
# Needs bash 5, perl, cmake, a C++ compiler, ssconvert (Debian's gnumeric) and soffice
# (Debian's libreoffice-calc-nogui).
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
runs="${RUNS:-9}" ss_runs="${SS_RUNS:-2}"
schools=20480

if [ "${BASH_VERSINFO[0]}" -lt 5 ]; then
    echo "csv.sh needs bash 5 or newer (for EPOCHREALTIME)" >&2
    exit 1
fi
if [ -n "${SCHOOLS_PROGRAM:-}" ]; then
    program="$(cd "$(dirname "$SCHOOLS_PROGRAM")" && pwd)/$(basename "$SCHOOLS_PROGRAM")"
else
    cmake -S "$root" -B "$root/build-bench" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSCHOOLS_TESTS=OFF >/dev/null
    cmake --build "$root/build-bench" --target schools -j 2 >/dev/null
    program="$root/build-bench/schools"
fi

work="$(mktemp -d "${TMPDIR:-/tmp}/schools-csv-XXXXXX")"
trap 'rm -rf "$work"' EXIT
cd "$work"

# Distinct numbers. Varied: Cyrillic (code page 1251) and Latin, digits, blanks,
# commas, quotes and markup characters in texts of 1 to 49 bytes, so that export
# converts, quotes and escapes and import undoes it. Short: "S1", "D".
make_schools() {
    perl -e 'srand(20480); my $varied = $ARGV[0] eq "varied";
        my @pieces = ("\xD3\xF7\xE8\xEB\xE8\xF9\xE5", "School", " ", "007", ", \"Sofia\"",
                      "<&>", "\xC8\xE2\xE0\xED\xEE\xE2", "=1+1", "\x27t", "1/2");
        sub text { my $t = ""; $t .= $pieces[int(rand(@pieces))] while length($t) < $_[0];
                   return substr($t, 0, $_[0]); }
        for my $i (1 .. '$schools') {
            my ($name, $director) = $varied ? (text(1 + int(rand(49))), text(1 + int(rand(49))))
                                            : ("S$i", "D");
            print pack("Z50 Z50 l< l< l<", $name, $director, $i, 100 + int(rand(9900)),
                       1 + int(rand(2000)));
        }' "$1" > schools.dat
}

elapsed_us() {  # runs "$@" once, prints the wall time in microseconds
    local start=$EPOCHREALTIME
    "$@"
    local end=$EPOCHREALTIME
    echo $(( ${end/./} - ${start/./} ))
}
run_export() { "$program" --export schools.dat > /dev/null; }
run_export_floor() { cat schools.dat > /dev/null; cat schools.csv > /dev/null; }
run_one_cat() { cat schools.dat schools.csv > /dev/null; }
run_import() { "$program" --import schools.csv back.dat; }
run_import_floor() { cat schools.csv > /dev/null; dd if=schools.dat of=copy.dat bs=1M conv=fsync status=none; }
run_xlsx_export() { "$program" --export schools.dat out.xlsx; }
run_ss_export() { ssconvert schools.csv ss.xlsx 2>/dev/null; }
run_xlsx_import() { "$program" --import out.xlsx back.dat; }
run_ss_import() { ssconvert out.xlsx ss.csv 2>/dev/null; }
run_ods_export() { "$program" --export schools.dat out.ods; }
run_ods_import() { "$program" --import out.ods back.dat; }
# A profile of its own, made once before the timed runs, as a user's would be.
soffice_to() { soffice -env:UserInstallation="file://$work/profile" --headless --convert-to "$@" \
    --outdir lo >/dev/null 2>&1; }
run_lo_export() { soffice_to ods schools.csv; }
run_lo_import() { soffice_to csv out.ods; }
keep_best() {  # name of the best-so-far variable, new time
    local -n best=$1
    if [ "$best" = 0 ] || [ "$2" -lt "$best" ]; then best=$2; fi
}
ratio() { perl -e 'printf "%.2f", $ARGV[0] / $ARGV[1]' "$1" "$2"; }
ms() { perl -e 'printf "%.1f ms", $ARGV[0] / 1000' "$1"; }

measure() {  # the kind of texts
    make_schools "$1"
    "$program" --export schools.dat > schools.csv
    "$program" --import schools.csv back.dat
    cmp -s schools.dat back.dat || { echo "the school file did not come back the same" >&2; exit 1; }
    "$program" --export schools.dat out.xlsx
    "$program" --import out.xlsx back.dat
    cmp -s schools.dat back.dat || { echo "the workbook did not come back the same" >&2; exit 1; }
    "$program" --export schools.dat out.ods
    "$program" --import out.ods back.dat
    cmp -s schools.dat back.dat || { echo "the spreadsheet did not come back the same" >&2; exit 1; }
    soffice_to ods schools.csv

    best_export=0 best_export_floor=0 best_one_cat=0 best_import=0 best_import_floor=0
    best_xlsx_export=0 best_xlsx_import=0 best_ss_export=0 best_ss_import=0
    best_ods_export=0 best_ods_import=0 best_lo_export=0 best_lo_import=0
    for ((i = 0; i < runs; i++)); do
        keep_best best_export "$(elapsed_us run_export)"
        keep_best best_export_floor "$(elapsed_us run_export_floor)"
        keep_best best_one_cat "$(elapsed_us run_one_cat)"
        keep_best best_import "$(elapsed_us run_import)"
        keep_best best_import_floor "$(elapsed_us run_import_floor)"
        keep_best best_xlsx_export "$(elapsed_us run_xlsx_export)"
        keep_best best_xlsx_import "$(elapsed_us run_xlsx_import)"
        keep_best best_ods_export "$(elapsed_us run_ods_export)"
        keep_best best_ods_import "$(elapsed_us run_ods_import)"
    done
    for ((i = 0; i < ss_runs; i++)); do
        keep_best best_ss_export "$(elapsed_us run_ss_export)"
        keep_best best_ss_import "$(elapsed_us run_ss_import)"
        keep_best best_lo_export "$(elapsed_us run_lo_export)"
        keep_best best_lo_import "$(elapsed_us run_lo_import)"
    done
    echo "$1 texts, CSV over $schools schools: $(wc -c < schools.dat) bytes of school file," \
         "$(wc -c < schools.csv) bytes of CSV, best of $runs runs"
    echo "  export:                $(ms "$best_export")"
    echo "  floor (cat, cat):      $(ms "$best_export_floor")   ratio $(ratio "$best_export" "$best_export_floor")  (goal <= 2)"
    echo "  one cat of both files: $(ms "$best_one_cat")   ratio $(ratio "$best_export" "$best_one_cat")"
    echo "  import:                $(ms "$best_import")"
    echo "  floor (cat, dd sync):  $(ms "$best_import_floor")   ratio $(ratio "$best_import" "$best_import_floor")  (goal <= 2)"
    echo "  export to .xlsx:       $(ms "$best_xlsx_export")   ssconvert CSV to .xlsx $(ms "$best_ss_export")   faster $(ratio "$best_ss_export" "$best_xlsx_export")x  (goal >= 50)"
    echo "  import from .xlsx:     $(ms "$best_xlsx_import")   ssconvert .xlsx to CSV $(ms "$best_ss_import")   faster $(ratio "$best_ss_import" "$best_xlsx_import")x  (goal >= 50)"
    echo "  export to .ods:        $(ms "$best_ods_export")   / .xlsx $(ratio "$best_ods_export" "$best_xlsx_export")  (goal <= 2)   LibreOffice CSV to .ods $(ms "$best_lo_export")   faster $(ratio "$best_lo_export" "$best_ods_export")x"
    echo "  import from .ods:      $(ms "$best_ods_import")   / .xlsx $(ratio "$best_ods_import" "$best_xlsx_import")  (goal <= 2)   LibreOffice .ods to CSV $(ms "$best_lo_import")   faster $(ratio "$best_lo_import" "$best_ods_import")x"
}
measure varied
measure short
