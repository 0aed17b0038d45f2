#!/usr/bin/env bash
# Builds the session fuzzer with clang's libFuzzer (in build-fuzz/) and runs it for
# a fixed time, seeded with the sessions of the end-to-end tests. A crash, a hang,
# a sanitizer report or a session that does not end with status 0 fails the run.
#   fuzz/run.sh            60 seconds
#   FUZZ_SECONDS=600 fuzz/run.sh
#   fuzz/run.sh ARTIFACT   replays one saved input
set -euo pipefail
cd "$(dirname "$0")/.."

if ! command -v clang++ >/dev/null || ! ls /usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a >/dev/null 2>&1; then
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -q
    apt-get install -y -q --no-install-recommends clang libclang-rt-dev
fi

cmake -S fuzz -B build-fuzz -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE= >/dev/null
cmake --build build-fuzz -j 2

run="$PWD/build-fuzz/run"
mkdir -p "$run/corpus" "$run/artifacts" "$run/seeds"
if [ $# -gt 0 ]; then
    args=()
    for arg; do
        [ -e "$arg" ] && arg=$(realpath "$arg")
        args+=("$arg")
    done
    SCHOOLS_FUZZ_DIR="$run" build-fuzz/session_fuzz -close_fd_mask=1 "${args[@]}"
    exit
fi

# Seeds: every session that the end-to-end tests run.
[ -x build/tests/e2e_tests ] || make -s
rm -f "$run/seeds/"*
SCHOOLS_SEED_DIR="$run/seeds" build/tests/e2e_tests >/dev/null
if [ "$(id -u)" = 0 ]; then
    chown nobody "$run/corpus" "$run/artifacts"
fi

SCHOOLS_FUZZ_DIR="$run" build-fuzz/session_fuzz -max_total_time="${FUZZ_SECONDS:-60}" \
    -max_len=8192 -timeout=10 -rss_limit_mb=2048 -close_fd_mask=3 -print_final_stats=1 \
    -artifact_prefix="$run/artifacts/" "$run/corpus" "$run/seeds" </dev/null 2>"$run/log" || {
    tail -n 60 "$run/log"
    exit 1
}
grep -E '^#[0-9]+[[:space:]]+DONE|^stat::number_of_executed_units|^stat::peak_rss' "$run/log"
