#!/usr/bin/env bash
# Download speed against the simulated target in pacing mode (every byte takes its 10 bits on
# the wire, both ways), through a pseudo-terminal, as 'qarnctl flash' runs it.
#
#   tools/bench.sh BUILDDIR
#
# For a 4 KiB kernel and a 128 KiB image (a quarter of its blocks blank), at 115200 and 38400
# bit/s with UT 0, with and without --trace, it prints: the wall time of the download, the
# ideal time on the wire (every byte that crosses the line, both ways, at 10 bits a byte; the
# protocol is half duplex, so nothing overlaps), their ratio, and the CPU time of the
# downloading process as a share of one core. Goals: ratio at most 1.10, CPU at most 10 %.
# Each figure is the median of QARN_BENCH_RUNS downloads (default 3), so that one run disturbed
# by other work on the machine does not decide it; the runs with and without the trace take
# turns. The figures are printed, not judged: the exit status is 0 when every download
# succeeded.
set -euo pipefail

BUILD=$(cd "${1:?usage: tools/bench.sh BUILDDIR}" && pwd)
BIN=$BUILD/bin
APP=$BUILD/bench
KERNEL=4096
IMAGE=131072
BLOCK=512
VERSION=DEDEv0201 # sequence variant 2: the kernel erases on command
RATES=(115200 38400)
RUNS=${QARN_BENCH_RUNS:-3}

SIM_PID=""
cleanup() {
    if [ -n "$SIM_PID" ]; then
        kill "$SIM_PID" 2>/dev/null || true
        wait "$SIM_PID" 2>/dev/null || true
    fi
}
trap cleanup EXIT

# Bytes on the line for one download of sequence variant 2: the answered 00 of the bit-rate
# adjustment, 55 and AA, the kernel length and kernel echoed byte by byte, 10 and its reply,
# 15 and its reply, per data block 11 + block + reply + 12 + reply, per blank block 14 + reply,
# and 13 with the two addresses and its reply.
blocks=$(((IMAGE + BLOCK - 1) / BLOCK))
blank=$((blocks / 4))
data=$((blocks - blank))
wire_bytes=$((2 + 2 + 2 * (KERNEL + 2) + 6 + 4 + data * (1 + BLOCK + 3 + 1 + 3) + blank * 4 + 12))

start_sim() { # start_sim RATE
    local log=$APP/target-sim.log
    : >"$log"
    "$BIN/qarn-target-sim" --link "$APP/COM1" --variant 2 --boot-rate "$1" --data-rate "$1" \
        --pace --once >"$log" 2>&1 &
    SIM_PID=$!
    local tries=200
    while ! grep -q '^ready ' "$log"; do
        if ! kill -0 "$SIM_PID" 2>/dev/null || ((--tries == 0)); then
            echo "bench: the simulated target did not start" >&2
            cat "$log" >&2
            exit 1
        fi
        sleep 0.05
    done
}

# One download; sets WALL, CPU (seconds) and OUTPUT.
measure() { # measure RATE [--trace FILE]
    local rate=$1
    shift
    start_sim "$rate"
    local timing
    timing=$(mktemp)
    local status=0
    {
        TIMEFORMAT='%3R %3U %3S'
        time "$APP/qarnctl" flash "$@" "$APP/fieldkit/QX100/MAIN/$VERSION/FIRM.IFT" \
            >"$APP/flash.out" 2>/dev/null
    } 2>"$timing" || status=$?
    wait "$SIM_PID" 2>/dev/null || true
    SIM_PID=""
    read -r WALL user sys <"$timing"
    rm -f "$timing"
    CPU=$(awk -v u="$user" -v s="$sys" 'BEGIN { printf "%.3f", u + s }')
    OUTPUT=$(cat "$APP/flash.out")
    if [ "$status" -ne 0 ]; then
        echo "bench: download at $rate bit/s failed:" >&2
        echo "$OUTPUT" >&2
        exit 1
    fi
}

echo "QARN download benchmark: kernel $KERNEL bytes, image $IMAGE bytes ($data data blocks," \
    "$blank blank, $BLOCK bytes each), UT 0, simulated target pacing every byte"
echo "$wire_bytes bytes cross the line in one download"
echo
printf '%-8s %-6s %9s %9s %7s %8s %7s\n' "bit/s" "trace" "wall s" "ideal s" "ratio" "CPU s" "CPU %"
median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
for rate in "${RATES[@]}"; do
    rm -rf "$APP"
    "$BIN/qarn-make-demo-app" --out "$APP" --bin "$BIN" --rate "$rate" --kernel-size "$KERNEL" \
        --image-size "$IMAGE" --ut 0
    ideal=$(awk -v b="$wire_bytes" -v r="$rate" 'BEGIN { printf "%.3f", b * 10 / r }')
    walls_off=() cpus_off=() walls_on=() cpus_on=()
    for ((run = 0; run < RUNS; run++)); do
        measure "$rate"
        walls_off+=("$WALL") cpus_off+=("$CPU")
        measure "$rate" --trace "$APP/bench-trace.log"
        walls_on+=("$WALL") cpus_on+=("$CPU")
    done
    for trace in off on; do
        if [ "$trace" = on ]; then
            wall=$(median "${walls_on[@]}") cpu=$(median "${cpus_on[@]}")
        else
            wall=$(median "${walls_off[@]}") cpu=$(median "${cpus_off[@]}")
        fi
        awk -v rate="$rate" -v trace="$trace" -v wall="$wall" -v ideal="$ideal" -v cpu="$cpu" \
            'BEGIN { printf "%-8s %-6s %9.3f %9.3f %7.3f %8.3f %6.1f%%\n",
                     rate, trace, wall, ideal, wall / ideal, cpu, 100 * cpu / wall }'
    done
    awk -v on="$(median "${walls_on[@]}")" -v off="$(median "${walls_off[@]}")" \
        -v con="$(median "${cpus_on[@]}")" -v coff="$(median "${cpus_off[@]}")" \
        'BEGIN { printf "%16strace: %+.1f %% wall time, %+.3f s CPU\n", "", 100 * (on - off) / off,
                 con - coff }'
    echo "                every wall time, without trace: ${walls_off[*]}; with: ${walls_on[*]}"
done
echo
echo "Goals: ratio at most 1.10; CPU at most 10 % of one core; the trace adds at most 2 %."
echo "The last trace: $APP/bench-trace.log"
