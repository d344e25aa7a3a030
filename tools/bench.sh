#!/usr/bin/env bash
# Download speed against the simulated target in pacing mode (every byte takes its 10 bits on
# the wire, both ways), through a pseudo-terminal, as 'qarnctl flash' runs it.
#
#   tools/bench.sh BUILDDIR [devices]
#
# For a 4 KiB kernel and a 128 KiB image (a quarter of its blocks blank), at 115200 and 38400
# bit/s with UT 0, with and without --trace, it prints: the wall time of the download, the
# ideal time on the wire (every byte that crosses the line, both ways, at 10 bits a byte; the
# protocol is half duplex, so nothing overlaps), their ratio, and the CPU time of the
# downloading process as a share of one core. Goals: ratio at most 1.10, CPU at most 10 %.
# Each figure is the median of QARN_BENCH_RUNS downloads (default 3), so that one run disturbed
# by other work on the machine does not decide it; the runs with and without the trace take
# turns.
#
# Then, at 115200 bit/s and paced, the download through a simulated USB adapter that holds the
# target's bytes for its latency timer (16 ms, an FTDI chip's default, once; 1 ms, the low-latency
# setting, QARN_BENCH_RUNS times): wall time, the kernel transfer alone (from the target's clock:
# first length byte in to last echo out) and both against their time on the wire.
#
# Then the kernel phase alone through the simulated adapter at 16 ms and 1 ms, paced, at 9600 and
# 115200 bit/s: lock-step (once each: the latency decides it) and streamed (qarnctl flash
# --stream, medians of QARN_BENCH_RUNS runs) with the chip's clock 5 % slow, right and 5 % fast;
# the transfer's time on the target's clock against its wire time (the length and kernel bytes
# once, at 10 bits a byte). Last of these, a chip 10 % slow, streamed: it overruns, and the run
# ends at the transfer's time-out (TTO 3 s here) with error 310.
#
# Rows that would take half a minute or more each measure fewer bytes and are scaled up:
# 38400 bit/s and both rows of the adapter measure a quarter of the download, the lock-step
# kernel phase an eighth of the kernel. A paced download costs the same per byte on the line
# whatever its length, and a lock-step transfer the same per echo, so the wall and CPU times of
# a download measured over a 1 KiB kernel and a 32 KiB image (27102 bytes on the line) are
# scaled to the 4 KiB kernel and 128 KiB image (108318 bytes: x3.997), its kernel transfer from
# 1 KiB to 4 KiB (1026 bytes with its length against 4098: x3.994), and a lock-step kernel
# phase measured over 512 bytes to 4 KiB (514 against 4098: x7.973). Ratios and CPU shares are
# as measured. What a download costs once (start-up, the port's opening) is scaled with the
# rest, so a scaled download time is a little high (38400 bit/s: about 1 %). The output says
# which rows are scaled, and the times it lists below a row are the measured ones.
# Streamed transfers are never scaled: the last kernel byte waits for every echo, once per
# transfer, whatever its length. At 9600 bit/s the streamed transfers at 16 and 1 ms run side by
# side, each in its own application folder and on its own pseudo-terminal: a byte takes over a
# millisecond there, a download a few percent of a core, so neither disturbs the other.
#
# Last, the host's own reaction, unpaced: for every echo of the kernel transfer, the time from
# the echo leaving the target to the host's next byte arriving, as the target's clock sees it
# (median, 99th percentile and mean in microseconds), and the transfer's time, for the plainest
# possible host (qarn-bench-floor: blocking read and write, the kernel transfer only), for
# qarnctl flash and for the window's own run (qarn-bench-window, offscreen); medians of
# QARN_BENCH_REACTION_RUNS runs (default 15: a run takes a second, and one run's kernel time
# strays by a tenth or more on a busy machine), taking turns, the two hosts in alternating order
# after the floor. The ratio to the floor comes with its quartiles, so that the spread shows.
# Last, a bench of devices: 1, 4 and 8 paced downloads at once by one qarnctl flash with a --port
# for each (see devices_rows); with "devices" after BUILDDIR, only that.
# The figures are printed, not judged: the exit status is 0 when every download succeeded.
set -euo pipefail

BUILD=$(cd "${1:?usage: tools/bench.sh BUILDDIR}" && pwd)
BIN=$BUILD/bin
APP=$BUILD/bench
BESIDE=$BUILD/bench-beside # the application folder of the download that runs side by side
KERNEL=4096
IMAGE=131072
SCALED_KERNEL=1024 # the quarter of the download that the scaled downloads measure
SCALED_IMAGE=32768
LOCKSTEP_KERNEL=512   # the eighth of the kernel that the lock-step kernel-phase rows measure
KERNEL_ONLY_IMAGE=512 # the kernel-phase rows: the image is not measured there
BLOCK=512
VERSION=DEDEv0201 # sequence variant 2: the kernel erases on command
RATES=(115200 38400)
SCALED_RATE=38400
RUNS=${QARN_BENCH_RUNS:-3}
REACTION_RUNS=${QARN_BENCH_REACTION_RUNS:-15}
IFT_PATH=fieldkit/QX100/MAIN/$VERSION/FIRM.IFT

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
download_bytes() { # download_bytes KERNELSIZE IMAGESIZE
    local blocks=$((($2 + BLOCK - 1) / BLOCK))
    local blank=$((blocks / 4))
    echo $((2 + 2 + 2 * ($1 + 2) + 6 + 4 + (blocks - blank) * (1 + BLOCK + 3 + 1 + 3) + blank * 4 + 12))
}
blocks=$(((IMAGE + BLOCK - 1) / BLOCK))
blank=$((blocks / 4))
data=$((blocks - blank))
wire_bytes=$(download_bytes "$KERNEL" "$IMAGE")
scaled_bytes=$(download_bytes "$SCALED_KERNEL" "$SCALED_IMAGE")
# What the times of a scaled download, of its kernel transfer and of a scaled lock-step kernel
# phase are multiplied by.
download_scale=$(awk -v w="$wire_bytes" -v s="$scaled_bytes" 'BEGIN { printf "%.4f", w / s }')
kernel_scale=$(awk -v k="$KERNEL" -v s="$SCALED_KERNEL" 'BEGIN { printf "%.4f", (k + 2) / (s + 2) }')
lockstep_scale=$(awk -v k="$KERNEL" -v s="$LOCKSTEP_KERNEL" 'BEGIN { printf "%.4f", (k + 2) / (s + 2) }')
scale() { awk -v v="$1" -v f="$2" 'BEGIN { printf "%.6f", v * f }'; } # scale VALUE FACTOR

start_sim() { # start_sim RATE [OPTIONS...]
    local log=$APP/target-sim.log
    : >"$log"
    "$BIN/qarn-target-sim" --link "$APP/COM1" --variant 2 --boot-rate "$1" --data-rate "$1" \
        --once --echo-report "${@:2}" >"$log" 2>&1 &
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

# One download by HOST (qarnctl, window or floor) against the target started with SIMOPTIONS;
# sets WALL, CPU (seconds), OUTPUT and, from the target's report, KERNEL_S (seconds), MEDIAN, P99
# and MEAN (microseconds: the reactions' sum over the echoes).
measure_host() { # measure_host RATE HOST "SIMOPTIONS" [qarnctl options...]
    local rate=$1 host=$2
    read -ra simopts <<<"$3"
    shift 3
    start_sim "$rate" "${simopts[@]}"
    local timing
    timing=$(mktemp)
    local status=0
    local command=("$APP/qarnctl" flash "$@" "$APP/$IFT_PATH")
    case "$host" in
    window) command=("$BIN/qarn-bench-window" "$APP" "$VERSION") ;;
    floor) command=("$BIN/qarn-bench-floor" "$APP/COM1" "$rate" "$APP/$(dirname "$IFT_PATH")/KERNEL.BIN") ;;
    esac
    {
        TIMEFORMAT='%3R %3U %3S'
        time QT_QPA_PLATFORM=offscreen "${command[@]}" >"$APP/flash.out" 2>/dev/null
    } 2>"$timing" || status=$?
    # The floor host stops after the kernel: the target waits for more until it is told to end.
    # So does a target that overran (MAY_FAIL: a failure is a result here).
    if [ "$host" = floor ] || [ -n "${MAY_FAIL:-}" ]; then
        kill "$SIM_PID" 2>/dev/null
    fi
    wait "$SIM_PID" 2>/dev/null || true
    SIM_PID=""
    read -r WALL user sys <"$timing"
    rm -f "$timing"
    CPU=$(awk -v u="$user" -v s="$sys" 'BEGIN { printf "%.3f", u + s }')
    OUTPUT=$(cat "$APP/flash.out")
    STATUS=$status
    if [ "$status" -ne 0 ] && [ -n "${MAY_FAIL:-}" ]; then
        return
    fi
    if [ "$status" -ne 0 ]; then
        echo "bench: download by $host at $rate bit/s failed:" >&2
        echo "$OUTPUT" >&2
        exit 1
    fi
    local echoes total
    read -r KERNEL_S MEDIAN P99 echoes total < <(sed -n 's/^kernel transfer: .* in \([0-9.]*\) s; .* median \([0-9.]*\) us, 99th percentile \([0-9.]*\) us (\([0-9]*\) echoes).*all together \([0-9.]*\) s.*/\1 \2 \3 \4 \5/p' "$APP/target-sim.log")
    if [ -z "${total:-}" ]; then
        echo "bench: the target did not report the kernel transfer" >&2
        exit 1
    fi
    MEAN=$(awk -v t="$total" -v n="$echoes" 'BEGIN { printf "%.1f", (n > 0 ? t * 1e6 / n : 0) }')
}

# One paced download by qarnctl; sets what measure_host sets.
measure() { # measure RATE [--trace FILE]
    measure_host "$1" qarnctl "--pace" "${@:2}"
}

# measure_host in the application folder DIR, in the background: it writes the kernel
# transfer's time to DIR/kernel.s. Wait for it with `wait $!`.
measure_beside() { # measure_beside DIR RATE HOST "SIMOPTIONS" [qarnctl options...]
    local dir=$1
    shift
    (
        APP=$dir SIM_PID=""
        trap cleanup EXIT
        measure_host "$@"
        echo "$KERNEL_S" >"$dir/kernel.s"
    ) &
}

median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
quartiles() { # the first and third quartile, as "Q1-Q3"
    printf '%s\n' "$@" | sort -g |
        awk '{ v[NR] = $1 } END { printf "%.2f-%.2f", v[int((NR + 3) / 4)], v[int((3 * NR + 3) / 4)] }'
}
make_app() { # make_app DIR RATE KERNELSIZE IMAGESIZE
    rm -rf "$1"
    "$BIN/qarn-make-demo-app" --out "$1" --bin "$BIN" --rate "$2" --kernel-size "$3" \
        --image-size "$4" --ut 0
    # TTO B4 (180 s): at 16 ms of adapter latency the kernel transfer alone takes over a minute.
    printf 'TTO B4\r\n' >>"$1/$IFT_PATH"
}
# A bench of devices: DEVICES_KERNEL and DEVICES_IMAGE at DEVICES_RATE bit/s, paced, into 1, 4
# and 8 simulated targets at once, each on its own pseudo-terminal (COM1 to COMn of one
# application folder), by one qarnctl flash with a --port for each (one device: today's command
# with one --port). Per row: the wall time of the whole bench, its ratio to one device's, and
# the CPU time of qarnctl and every process it started, per device (medians of QARN_BENCH_RUNS).
# Goals: 8 devices within 1.15 x the time of one, CPU per device no higher than one device's.
DEVICES_RATE=19200
DEVICES_KERNEL=4096
DEVICES_IMAGE=65536
devices_rows() {
    local dir=$BUILD/bench-devices one="" one_cpu=""
    make_app "$dir" "$DEVICES_RATE" "$DEVICES_KERNEL" "$DEVICES_IMAGE"
    local wire
    wire=$(download_bytes "$DEVICES_KERNEL" "$DEVICES_IMAGE")
    echo "A bench of devices at $DEVICES_RATE bit/s, paced: kernel $DEVICES_KERNEL bytes, image" \
        "$DEVICES_IMAGE bytes ($wire bytes on each line, $(awk -v b="$wire" -v r="$DEVICES_RATE" \
        'BEGIN { printf "%.1f", b * 10 / r }') s on the wire)"
    printf '%-8s %9s %8s %13s %13s\n' "devices" "wall s" "x one" "CPU s/device" "CPU %/device"
    for count in 1 4 8; do
        local walls=() cpus=()
        for ((run = 0; run < RUNS; run++)); do
            local sims=() ports=() timing status=0
            for ((port = 1; port <= count; port++)); do
                : >"$dir/sim$port.log"
                "$BIN/qarn-target-sim" --link "$dir/COM$port" --variant 2 --pace --once \
                    --boot-rate "$DEVICES_RATE" --data-rate "$DEVICES_RATE" >"$dir/sim$port.log" 2>&1 &
                sims+=($!) ports+=(--port "$port")
            done
            for ((port = 1; port <= count; port++)); do
                local tries=200
                while ! grep -q '^ready ' "$dir/sim$port.log"; do
                    if ((--tries == 0)); then
                        echo "bench: the simulated target on COM$port did not start" >&2
                        kill "${sims[@]}" 2>/dev/null
                        exit 1
                    fi
                    sleep 0.05
                done
            done
            timing=$(mktemp)
            {
                TIMEFORMAT='%3R %3U %3S'
                time "$dir/qarnctl" flash "${ports[@]}" "$dir/$IFT_PATH" >"$dir/flash.out" 2>/dev/null
            } 2>"$timing" || status=$?
            wait "${sims[@]}" 2>/dev/null || true
            if [ "$status" -ne 0 ]; then
                echo "bench: $count devices at once failed (exit status $status):" >&2
                cat "$dir/flash.out" >&2
                exit 1
            fi
            read -r wall user sys <"$timing"
            rm -f "$timing"
            walls+=("$wall")
            cpus+=("$(awk -v u="$user" -v s="$sys" -v n="$count" 'BEGIN { printf "%.4f", (u + s) / n }')")
        done
        local wall cpu
        wall=$(median "${walls[@]}") cpu=$(median "${cpus[@]}")
        [ -n "$one" ] || one=$wall one_cpu=$cpu
        awk -v n="$count" -v w="$wall" -v o="$one" -v c="$cpu" \
            'BEGIN { printf "%-8s %9.3f %8.3f %13.3f %12.2f%%\n", n, w, w / o, c, 100 * c / w }'
        echo "         every wall time: ${walls[*]}"
    done
    echo "Goals: 8 devices within 1.15 x the time of one, CPU per device no higher than one" \
        "device's ($one_cpu s)"
}
if [ "${2:-}" = devices ]; then # the bench of devices alone
    devices_rows
    exit 0
fi

echo "QARN download benchmark: kernel $KERNEL bytes, image $IMAGE bytes ($data data blocks," \
    "$blank blank, $BLOCK bytes each), UT 0, simulated target pacing every byte"
echo "$wire_bytes bytes cross the line in one download"
echo
printf '%-8s %-6s %9s %9s %7s %8s %7s\n' "bit/s" "trace" "wall s" "ideal s" "ratio" "CPU s" "CPU %"
scaled_note() { # scaled_note WHAT: how the rows before it were measured
    echo "                $1 measured over a $SCALED_KERNEL-byte kernel and a $SCALED_IMAGE-byte image" \
        "($scaled_bytes bytes on the line), scaled x$download_scale to $wire_bytes bytes"
}
for rate in "${RATES[@]}"; do
    kernel=$KERNEL image=$IMAGE factor=1
    if [ "$rate" = "$SCALED_RATE" ]; then
        kernel=$SCALED_KERNEL image=$SCALED_IMAGE factor=$download_scale
    fi
    make_app "$APP" "$rate" "$kernel" "$image"
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
        awk -v rate="$rate" -v trace="$trace" -v wall="$(scale "$wall" "$factor")" \
            -v ideal="$ideal" -v cpu="$(scale "$cpu" "$factor")" \
            'BEGIN { printf "%-8s %-6s %9.3f %9.3f %7.3f %8.3f %6.1f%%\n",
                     rate, trace, wall, ideal, wall / ideal, cpu, 100 * cpu / wall }'
    done
    awk -v on="$(median "${walls_on[@]}")" -v off="$(median "${walls_off[@]}")" \
        -v con="$(median "${cpus_on[@]}")" -v coff="$(median "${cpus_off[@]}")" -v f="$factor" \
        'BEGIN { printf "%16strace: %+.1f %% wall time, %+.3f s CPU\n", "", 100 * (on - off) / off,
                 (con - coff) * f }'
    echo "                every wall time, without trace: ${walls_off[*]}; with: ${walls_on[*]}"
    [ "$factor" = 1 ] || scaled_note "$rate bit/s:"
done
echo
echo "Goals: ratio at most 1.10; CPU at most 10 % of one core; the trace adds at most 2 %."
echo "The last trace: $APP/bench-trace.log"

rate=115200
make_app "$APP" "$rate" "$SCALED_KERNEL" "$SCALED_IMAGE"
kernel_wire=$(awk -v k="$KERNEL" -v r="$rate" 'BEGIN { printf "%.3f", 2 * (k + 2) * 10 / r }')
ideal=$(awk -v b="$wire_bytes" -v r="$rate" 'BEGIN { printf "%.3f", b * 10 / r }')
echo
echo "Through a simulated USB adapter at $rate bit/s, paced: the target's bytes wait for the"
echo "adapter's latency timer (or 62 bytes); the kernel transfer on its own is $kernel_wire s on the wire"
printf '%-10s %9s %9s %7s %9s %7s %7s\n' "latency" "wall s" "ideal s" "ratio" "kernel s" "ratio" "CPU %"
for latency in 16 1; do
    runs=$RUNS
    [ "$latency" -ge 16 ] && runs=1 # the latency decides it
    walls=() kernels=() cpus=()
    for ((run = 0; run < runs; run++)); do
        measure_host "$rate" qarnctl "--pace --adapter-latency $latency"
        walls+=("$WALL") kernels+=("$KERNEL_S") cpus+=("$CPU")
    done
    awk -v l="$latency ms" -v w="$(scale "$(median "${walls[@]}")" "$download_scale")" -v i="$ideal" \
        -v k="$(scale "$(median "${kernels[@]}")" "$kernel_scale")" -v kw="$kernel_wire" \
        -v c="$(median "${cpus[@]}")" -v mw="$(median "${walls[@]}")" \
        'BEGIN { printf "%-10s %9.3f %9.3f %7.2f %9.3f %7.2f %6.1f%%\n", l, w, i, w / i, k, k / kw,
                 100 * c / mw }'
    echo "           every wall time: ${walls[*]}; kernel: ${kernels[*]}"
done
scaled_note "both rows"
echo "                (the kernel transfer: $((SCALED_KERNEL + 2)) bytes each way, scaled" \
    "x$kernel_scale to $((KERNEL + 2)))"

# The kernel phase at RATE: lock-step over an eighth of the kernel, scaled; streamed over the
# whole kernel, at 16 ms and 1 ms side by side when the second argument is "beside". Prints the
# rows.
kernel_rows() { # kernel_rows RATE [beside]
    local rate=$1 latency mode clock run wire measured=()
    wire=$(awk -v k="$KERNEL" -v r="$rate" 'BEGIN { printf "%.3f", (k + 2) * 10 / r }')
    declare -A rows
    make_app "$APP" "$rate" "$LOCKSTEP_KERNEL" "$KERNEL_ONLY_IMAGE"
    for latency in 16 1; do
        measure_host "$rate" qarnctl "--pace --adapter-latency $latency --clock-error 0"
        rows[$latency,lock-step]=$(scale "$KERNEL_S" "$lockstep_scale")
        measured+=("$KERNEL_S")
    done
    make_app "$APP" "$rate" "$KERNEL" "$KERNEL_ONLY_IMAGE"
    [ "${2:-}" = beside ] && make_app "$BESIDE" "$rate" "$KERNEL" "$KERNEL_ONLY_IMAGE"
    for clock in -5 0 +5; do
        local k16=() k1=()
        for ((run = 0; run < RUNS; run++)); do
            if [ "${2:-}" = beside ]; then
                local simopts="--pace --clock-error $clock --adapter-latency" status=0
                measure_beside "$APP" "$rate" qarnctl "$simopts 16" --stream
                local at16=$!
                measure_beside "$BESIDE" "$rate" qarnctl "$simopts 1" --stream
                wait "$!" || status=1
                wait "$at16" || status=1
                ((status == 0)) || exit 1
                k16+=("$(cat "$APP/kernel.s")") k1+=("$(cat "$BESIDE/kernel.s")")
            else
                measure_host "$rate" qarnctl "--pace --adapter-latency 16 --clock-error $clock" --stream
                k16+=("$KERNEL_S")
                measure_host "$rate" qarnctl "--pace --adapter-latency 1 --clock-error $clock" --stream
                k1+=("$KERNEL_S")
            fi
        done
        rows[16,$clock]=$(median "${k16[@]}") rows[1,$clock]=$(median "${k1[@]}")
    done
    for latency in 16 1; do
        for mode in lock-step "-5" "0" "+5"; do
            local transfer=streamed clock=$mode mark=""
            if [ "$mode" = lock-step ]; then
                transfer=lock-step clock=0 mark=" *"
            fi
            awk -v r="$rate" -v l="$latency ms" -v t="$transfer" -v c="$clock %" \
                -v k="${rows[$latency,$mode]}" -v w="$wire" -v m="$mark" \
                'BEGIN { printf "%-8s %-8s %-10s %6s %9.3f %9.3f %7.2f%s\n", r, l, t, c, k, w, k / w, m }'
        done
    done
    echo "         lock-step as measured, 16 and 1 ms: ${measured[*]}"
}

echo
echo "The kernel phase alone through the simulated adapter, paced: the kernel transfer on the"
echo "target's clock against its wire time ($((KERNEL + 2)) bytes at 10 bits a byte, one way)"
printf '%-8s %-8s %-10s %6s %9s %9s %7s\n' "bit/s" "latency" "transfer" "clock" "kernel s" "wire s" \
    "ratio"
kernel_rows 9600 beside
kernel_rows 115200
echo "* measured over a $LOCKSTEP_KERNEL-byte kernel ($((LOCKSTEP_KERNEL + 2)) bytes with its" \
    "length), scaled x$lockstep_scale to $((KERNEL + 2)); 9600 bit/s streamed: 16 and 1 ms side by side"
printf 'TTO 3\r\n' >>"$APP/$IFT_PATH"
MAY_FAIL=1 measure_host 115200 qarnctl "--pace --adapter-latency 1 --clock-error -10" --stream
overrun=$(grep -c 'receive overrun' "$APP/target-sim.log" || true)
echo "115200   1 ms     streamed   -10 %: exit status $STATUS after $WALL s, $(head -1 "$APP/flash.out")" \
    "(the target reported $overrun overrun)"
echo "Goals, streamed, clock -5 % to +5 %: 9600 bit/s within 1.15 x wire; 115200 bit/s at most"
echo "0.45 s at 1 ms and 0.50 s at 16 ms. A chip over 9 % slow ends with 310 at the time-out."
rate=115200
make_app "$APP" "$rate" "$KERNEL" "$IMAGE"
echo
echo "The host's own reaction at $rate bit/s, unpaced, on the target's clock: per echo of the"
echo "kernel transfer, from the echo leaving to the host's next byte arriving ($REACTION_RUNS runs," \
    "medians)"
printf '%-8s %10s %10s %11s %10s %10s %10s %8s\n' "host" "kernel s" "x floor" "quartiles" \
    "median us" "p99 us" "mean us" "x floor"
declare -A hostKernels hostRatios hostMedians hostP99s hostMeans hostMeanRatios
for ((run = 0; run < REACTION_RUNS; run++)); do
    hosts=(floor qarnctl window)
    ((run % 2 == 0)) || hosts=(floor window qarnctl)
    for host in "${hosts[@]}"; do
        measure_host "$rate" "$host" ""
        [ "$host" = floor ] && floor=$KERNEL_S floorMean=$MEAN
        hostKernels[$host]+="$KERNEL_S " hostMedians[$host]+="$MEDIAN " hostP99s[$host]+="$P99 "
        hostMeans[$host]+="$MEAN "
        hostRatios[$host]+="$(awk -v k="$KERNEL_S" -v f="$floor" 'BEGIN { printf "%.3f", k / f }') "
        hostMeanRatios[$host]+="$(awk -v m="$MEAN" -v f="$floorMean" 'BEGIN { printf "%.3f", m / f }') "
    done
done
# "x floor" is the median of each run's ratio to the floor's run just before it, so that a
# machine that changes its pace between runs does not decide it: first of the kernel's time, last
# of the mean reaction (the reactions' sum over the echoes, the host's own share of that time).
for host in floor qarnctl window; do
    awk -v h="$host" -v k="$(median ${hostKernels[$host]})" -v x="$(median ${hostRatios[$host]})" \
        -v q="$(quartiles ${hostRatios[$host]})" -v m="$(median ${hostMedians[$host]})" \
        -v p="$(median ${hostP99s[$host]})" -v a="$(median ${hostMeans[$host]})" \
        -v ax="$(median ${hostMeanRatios[$host]})" \
        'BEGIN { printf "%-8s %10.4f %10.2f %11s %10.1f %10.1f %10.1f %8.2f\n", h, k, x, q, m, p, a, ax }'
    echo "         every kernel time: ${hostKernels[$host]}"
done
echo
devices_rows
