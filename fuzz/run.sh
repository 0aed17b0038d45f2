#!/usr/bin/env bash
# Fuzzes whole sessions, then CSV, workbooks and spreadsheets, and catalogs, for FUZZ_SECONDS
# (60) 3:1:1:1, or replays inputs; see doc/HACKING.md.
set -euo pipefail
cd "$(dirname "$0")/.."
ls /usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a >/dev/null 2>&1 || {
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -q && apt-get install -y -q --no-install-recommends clang libclang-rt-dev; }
cmake -S fuzz -B build-fuzz -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE= >/dev/null
cmake --build build-fuzz -j 2
run=$PWD/build-fuzz/run fuzz=$PWD/build-fuzz/${FUZZ_TARGET:-session}_fuzz secs=${FUZZ_SECONDS:-60}
mkdir -p "$run/corpus" "$run/artifacts" "$run/seeds" "$run/csv" "$run/workbook" "$run/catalog"
# Sessions write their files in memory where it can: a disk that another process keeps busy
# would stall a session that writes many files past the time limit, by chance.
work=$(mktemp -d /dev/shm/schools-fuzz.XXXXXX 2>/dev/null) && chmod 755 "$work" || work=$run
[ "$work" = "$run" ] || trap 'rm -rf "$work"' EXIT
[ $# = 0 ] || { SCHOOLS_FUZZ_DIR=$work "$fuzz" -close_fd_mask=1 $(realpath "$@"); exit; }
[ -x build/schools ] || make -s
rm -f "$run/seeds/"*
SCHOOLS_PROGRAM=$PWD/build/schools SCHOOLS_SEED_DIR=$run/seeds \
    /usr/bin/python3 -m pytest -q -p no:cacheprovider tests/test_sessions.py >/dev/null
[ "$(id -u)" != 0 ] || chown nobody "$run/corpus" "$run/artifacts"
printf 'Name;number;AREA;students;director\r\n"a ""b"";\r\nc";-7;+0;1;\xd0\x96\n' >"$run/csv/seed"
printf '\xff\xfen\0a\0m\0e\0\t\0\x16\x04\r\0\n\0' >"$run/csv/utf-16"  # and Windows-1251:
printf 'name;director;number;area;students\n\xc6\x98;"\xfe""";1;2;3\n' >"$run/csv/cp1251"
printf '<sst><si><t>a&amp;_x0041_</t></si><si><r><t>b</t></r><rPh><t>x</t></rPh></si></sst>\0%s' \
    '<row r="2"><c t="s"><v>0</v></c><c r="B2" t="s"><v>1</v></c><c><f>1</f><v>2E0</v></c>' \
    '<c t="inlineStr"><is><t>-7</t></is></c><c><v>1.5</v></c></row>' >"$run/workbook/seed"
# A shared string longer than any field, named by every cell of many rows.
printf '<sst><si><t>%0300d</t></si></sst>\0<row>%s</row>%s' 0 "$(printf \
    '<c t="inlineStr"><is><t>%s</t></is></c>' name director number area students)" "$(printf \
    '<row><c t="s"><v>0</v></c><c t="s"><v>0</v></c><c t="s"><v>0</v></c></row>%.0s' \
    {1..40})" >"$run/workbook/shared"
cp build/locale/bg/LC_MESSAGES/schools.mo "$run/catalog/bg.mo"
head -c 112 /dev/zero | tr '\0' A >"$run/workbook/f"
printf '\0<table:table table:name="T"><table:table-row><table:table-cell office:value-type=%s' \
    '"string"><text:p>a<text:s text:c="2"/>b</text:p><text:p/></table:table-cell><table:table-cell' \
    ' office:value-type="float" office:value="2E0" table:number-columns-repeated="3"/>' \
    '</table:table-row></table:table>' >"$run/workbook/ods"
build/schools --export "$run/workbook/f" "$run/workbook/seed.xlsx"
build/schools --export "$run/workbook/f" "$run/workbook/seed.ods" && rm "$run/workbook/f"
SCHOOLS_FUZZ_DIR=$work "$fuzz" -max_total_time=$((secs - 3 * (secs / 6))) -max_len=8192 -timeout=10 \
    -rss_limit_mb=2048 -close_fd_mask=3 -print_final_stats=1 -artifact_prefix="$run/artifacts/" \
    "$run/corpus" "$run/seeds" </dev/null 2>"$run/log" || { tail -n 60 "$run/log"; exit 1; }
build-fuzz/csv_fuzz -max_total_time=$((secs / 6)) -timeout=10 -print_final_stats=1 \
    -artifact_prefix="$run/artifacts/csv-" "$run/csv" </dev/null 2>"$run/log-csv" ||
    { tail -n 60 "$run/log-csv"; exit 1; }
build-fuzz/workbook_fuzz -max_total_time=$((secs / 6)) -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$run/artifacts/workbook-" "$run/workbook" </dev/null \
    2>"$run/log-workbook" || { tail -n 60 "$run/log-workbook"; exit 1; }
build-fuzz/catalog_fuzz -max_total_time=$((secs / 6)) -timeout=10 -print_final_stats=1 \
    -artifact_prefix="$run/artifacts/catalog-" "$run/catalog" </dev/null 2>"$run/log-catalog" ||
    { tail -n 60 "$run/log-catalog"; exit 1; }
grep -hE '^#[0-9]+[[:space:]]+DONE|^stat::number_of_executed_units|^stat::peak_rss' "$run"/log*
