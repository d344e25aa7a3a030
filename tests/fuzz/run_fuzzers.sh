#!/usr/bin/env bash
# run_fuzzers.sh ROOT BUILD_DIR SECONDS [LIBFUZZER_OPTIONS...]: builds the libFuzzer executables with
# clang (ASan, UBSan) in BUILD_DIR, runs each for SECONDS, then prints per target executions, rate,
# time, coverage and findings. Options go to every fuzzer (e.g. -runs=1000000).
set -euo pipefail
ROOT=$1 BUILD=$2 SECS=${3:-60}
FLAGS="-g -O1 -fno-omit-frame-pointer -fsanitize=fuzzer-no-link,address,undefined"
CC=clang CXX=clang++ cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQARN_FUZZ=ON \
    -DCMAKE_CXX_FLAGS="$FLAGS -fno-sanitize-recover=undefined" >/dev/null
cmake --build "$BUILD" --target qarn_fuzzers
# A 32 MB quarantine holds every block freed in one input, with far fewer fresh pages than 256 MB.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:quarantine_size_mb=32}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1} QT_QPA_PLATFORM=offscreen
row() { printf '%-14s %11s %8s %7s %7s %8s %9s %5s\n' "$@"; }
table=$(row target executions exec/s seconds cov features findings exit) failed=0
for t in settings host_ini host_cha firm_desc host_conf ift_plain ift_protected protocol; do
    log=$BUILD/fuzz-logs/$t.log found=$BUILD/fuzz-findings/$t status=0 start=$(date +%s.%N)
    mkdir -p "$BUILD/fuzz-corpus/$t" "$found" "$BUILD/fuzz-logs" && echo "== $t: ${SECS}s" >&2
    "$BUILD/bin/fuzz_$t" -max_total_time="$SECS" -timeout=10 -max_len=8192 -print_final_stats=1 \
        -artifact_prefix="$found/" "${@:4}" "$BUILD/fuzz-corpus/$t" "$ROOT/tests/fuzz/corpus/$t" \
        >"$log" 2>&1 || status=$?
    execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    read -r secs rate < <(awk -v a="$start" -v b="$(date +%s.%N)" -v n="${execs:-0}" \
        'BEGIN { printf "%.1f %d\n", b - a, (b > a ? n / (b - a) : 0) }')
    nfound=$(find "$found" -type f | wc -l)
    if ((status || nfound)); then failed=1; grep -m3 -E 'ERROR|invariant|runtime error' "$log" >&2 || true; fi
    table+=$'\n'$(row "$t" "${execs:-?}" "$rate" "$secs" "$(grep -o 'cov: [0-9]*' "$log" | tail -1 | cut -c6-)" \
        "$(grep -o 'ft: [0-9]*' "$log" | tail -1 | cut -c5-)" "$nfound" "$status")
done
printf '\n%s\nload: %s\nlogs: %s/fuzz-logs, findings: %s/fuzz-findings\n' "$table" "$(uptime)" "$BUILD" "$BUILD"
exit $failed
