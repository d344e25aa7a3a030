#!/usr/bin/env bash
# Builds the libFuzzer executables with clang (ASan + UBSan) in their own build folder and runs
# each for the given number of seconds, then prints executions (with their rate), time, coverage
# and findings per target. Further arguments go to every fuzzer (e.g. -runs=1000000).
#   tests/fuzz/run_fuzzers.sh ROOT BUILD_DIR SECONDS [LIBFUZZER_OPTIONS...]
set -euo pipefail
ROOT=$1
BUILD=$2
SECONDS_EACH=${3:-60}
EXTRA=("${@:4}")
TARGETS=(settings host_ini host_cha firm_desc host_conf ift_plain ift_protected protocol)

command -v clang++ >/dev/null || { echo "fuzz: clang++ is needed" >&2; exit 2; }
FLAGS="-g -O1 -fno-omit-frame-pointer -fsanitize=fuzzer-no-link,address,undefined"
FLAGS+=" -fno-sanitize-recover=undefined"
CC=clang CXX=clang++ cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
    -DQARN_FUZZ=ON -DCMAKE_CXX_FLAGS="$FLAGS" >/dev/null
cmake --build "$BUILD" --target qarn_fuzzers

# A 32 MB quarantine still holds every block freed during one input, and costs far fewer fresh
# pages than the default 256 MB.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:quarantine_size_mb=32}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export QT_QPA_PLATFORM=offscreen

failed=0
results=()
for t in "${TARGETS[@]}"; do
    work="$BUILD/fuzz-corpus/$t"
    findings="$BUILD/fuzz-findings/$t"
    log="$BUILD/fuzz-logs/$t.log"
    mkdir -p "$work" "$findings" "$(dirname "$log")"
    echo "== $t: ${SECONDS_EACH}s" >&2
    status=0
    start=$(date +%s.%N)
    "$BUILD/bin/fuzz_$t" -max_total_time="$SECONDS_EACH" -timeout=10 -max_len=8192 \
        -print_final_stats=1 -artifact_prefix="$findings/" "${EXTRA[@]}" \
        "$work" "$ROOT/tests/fuzz/corpus/$t" >"$log" 2>&1 || status=$?
    secs=$(awk -v a="$start" -v b="$(date +%s.%N)" 'BEGIN { printf "%.1f", b - a }')
    execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1 | cut -d' ' -f2)
    ft=$(grep -o 'ft: [0-9]*' "$log" | tail -1 | cut -d' ' -f2)
    nfound=$(find "$findings" -type f | wc -l)
    if [ "$status" -ne 0 ] || [ "$nfound" -ne 0 ]; then
        failed=1
        grep -m3 -E 'ERROR|invariant broken|runtime error' "$log" >&2 || true
    fi
    rate=$(awk -v n="${execs:-0}" -v s="$secs" 'BEGIN { printf "%d", (s > 0 ? n / s : 0) }')
    results+=("$(printf '%-14s %11s %8s %7s %7s %8s %9s %5s' "$t" "${execs:-?}" "$rate" \
        "$secs" "${cov:-?}" "${ft:-?}" "$nfound" "$status")")
done

printf '\n%-14s %11s %8s %7s %7s %8s %9s %5s\n' target executions exec/s seconds cov features \
    findings exit
printf '%s\n' "${results[@]}"
echo "load: $(uptime)"
echo "logs: $BUILD/fuzz-logs, findings: $BUILD/fuzz-findings"
exit $failed
