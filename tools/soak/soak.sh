#!/usr/bin/env bash
# Fault soak: N downloads with `qarnctl flash` against `qarn-target-sim` over a pseudo-terminal,
# each with a random variant, block size, bit rates and injected fault (or none), then one
# long-lived `qarnctl flash --repeat N` against a target that serves download after download,
# for the memory growth of one process.
#   tools/soak/soak.sh BIN_DIR [N]      (SOAK_SEED=n picks another random sequence)
set -uo pipefail
BIN=$1
N=${2:-200}
QARNCTL=$BIN/qarnctl
SIM=$BIN/qarn-target-sim
RANDOM=${SOAK_SEED:-1}

WORK=$(mktemp -d "${TMPDIR:-/tmp}/qarn-soak.XXXXXX")
SIM_PID=
cleanup() {
    [ -n "$SIM_PID" ] && kill "$SIM_PID" 2>/dev/null && wait "$SIM_PID" 2>/dev/null
    rm -rf "$WORK"
}
trap cleanup EXIT
APP=$WORK/app
mkdir -p "$APP/fw"

FLASH_START=20000 # hex
FLASH_SIZE=2048
MAX_SECONDS=12 # the longest time-out below (TTO 5 s) with start-up, UT and transfer to spare

# Sum of a file's bytes (decimal), and the 16-bit sum as four upper-case hex digits.
byte_sum() { od -An -v -tu1 "$1" | awk '{for (i = 1; i <= NF; i++) s += $i} END {print s + 0}'; }
hex4() { printf '%04X' $(($1 & 0xFFFF)); }

# Kernel: 300 fixed bytes. Image: a data block, a blank (all FF) block, a data block and 100
# bytes more; the flash holds FF beyond it after the erase.
make_files() { # BLOCK
    local block=$1
    head -c 300 /dev/urandom >"$APP/fw/kernel.bin"
    {
        head -c "$block" /dev/urandom
        head -c "$block" /dev/zero | tr '\0' '\377'
        head -c $((block + 100)) /dev/urandom
    } >"$APP/fw/image.bin"
    local size
    size=$(stat -c %s "$APP/fw/image.bin")
    KERNEL_SUM=$(hex4 "$(byte_sum "$APP/fw/kernel.bin")")
    FLASH_SUM=$(hex4 $(($(byte_sum "$APP/fw/image.bin") + 255 * (FLASH_SIZE - size))))
}

write_description() { # CPUT BLOCK BOOT_RATE DATA_RATE
    local fea
    fea=$(printf '%08X' $((0x$FLASH_START + FLASH_SIZE - 1)))
    printf '%s\r\n' "CPUT $1" "DF kernel.bin" "UT 0.2" "UCS $KERNEL_SUM" "PFN image.bin" \
        "FSA 000$FLASH_START" "FEA $fea" "FCS $FLASH_SUM" "ATO 2" "ETO 3" "STO 1" "TTO 5" \
        "DTO 2" "WTO 2" "PDSIZE $2" "BRATE $3" "BRATE2 $4" >"$APP/fw/test.ift"
    printf 'LANGUAGE 1\r\nPORT 1\r\n' >"$APP/QARN.ini"
}

start_sim() { # ARGS...
    rm -f "$WORK/sim.out"
    "$SIM" --link "$APP/COM1" --flash-start "$FLASH_START" \
        --flash-size "$(printf '%X' $FLASH_SIZE)" --flash-fill 00 "$@" \
        >"$WORK/sim.out" 2>"$WORK/sim.err" &
    SIM_PID=$!
    local tries=0
    until grep -q '^ready ' "$WORK/sim.out" 2>/dev/null; do
        if ! kill -0 "$SIM_PID" 2>/dev/null || ((++tries > 100)); then
            echo "soak: the simulated target did not start: $(cat "$WORK/sim.err")" >&2
            exit 2
        fi
        sleep 0.05
    done
}

stop_sim() {
    [ -z "$SIM_PID" ] && return
    kill "$SIM_PID" 2>/dev/null
    wait "$SIM_PID" 2>/dev/null
    SIM_PID=
}

# Faults: name, target options, and the outcome by variant group (0: CPUT 0/3, 1: CPUT 1/2/4,
# 2: CPUT 5/6): "ok" or the error number.
FAULTS=(
    "none||ok ok ok"
    "no-adjust-answer|--no-adjust-answer|302 302 302"
    "adjust-answer-80|--adjust-answer 80|303 303 303"
    "extra-byte-adjust|--extra-byte adjust|304 304 304"
    "ack-answer-11|--ack-answer 11|312 343 312"
    "ack-answer-FF|--ack-answer FF|312 350 312"
    "silent-adjust-end|--silent-at adjust-end|310 340 310"
    "corrupt-echo|--corrupt-echo 17|314 314 314"
    "drop-kernel|--drop-at kernel|313 313 313"
    "erase-fail|--erase-fail|350 350 350"
    "silent-erase|--silent-at erase|ok ok 340"
    "silent-kernel-sum|--silent-at kernel-sum|340 340 340"
    "wrong-data-rate|WRONG_RATE|340 340 340"
    "bad-block-sum|--bad-block-sum 0|341 341 341"
    "silent-blank|--silent-at blank|346 346 346"
    "write-fail-FFFF|--write-fail 2|360 360 360"
    "write-fail-0001|--write-fail 0:0001|361 361 361"
    "silent-write|--silent-at write|344 344 344"
    "drop-data|--drop-at data|342 342 342"
    "bad-flash-sum|--bad-flash-sum|370 370 370"
    "silent-flash-sum|--silent-at flash-sum|340 340 340"
)
CPUTS=(0 3 1 2 4 5 6)
BLOCKS=(64 128 256 512)
RATES=(9600 19200 38400 57600 115200)

declare -A RUNS GOOD OUTCOMES
bad=0
slowest=0
echo "soak: $N downloads (seed ${SOAK_SEED:-1}), work folder $WORK"
for ((run = 1; run <= N; run++)); do
    # About one run in four without a fault.
    if ((RANDOM % 4 == 0)); then f=0; else f=$((1 + RANDOM % (${#FAULTS[@]} - 1))); fi
    IFS='|' read -r fault fault_args outcomes <<<"${FAULTS[$f]}"
    cput=${CPUTS[RANDOM % ${#CPUTS[@]}]}
    block=${BLOCKS[RANDOM % ${#BLOCKS[@]}]}
    boot_rate=${RATES[RANDOM % ${#RATES[@]}]}
    data_rate=${RATES[RANDOM % ${#RATES[@]}]}
    case $cput in 0 | 3) group=0 variant=0 ;; 1 | 2 | 4) group=1 variant=1 ;;
    5) group=2 variant=2 ;; *) group=2 variant=3 ;; esac
    read -r -a by_group <<<"$outcomes"
    expected=${by_group[$group]}

    sim_data_rate=$data_rate
    if [ "$fault_args" = WRONG_RATE ]; then
        fault_args=
        sim_data_rate=$([ "$data_rate" = 9600 ] && echo 19200 || echo 9600)
    fi
    make_files "$block"
    write_description "$cput" "$block" "$boot_rate" "$data_rate"
    # shellcheck disable=SC2086
    start_sim --variant "$variant" --block-size "$block" --boot-rate "$boot_rate" \
        --data-rate "$sim_data_rate" --once $fault_args

    t0=$(date +%s%N)
    timeout $((MAX_SECONDS * 3)) "$QARNCTL" flash --app-dir "$APP" "$APP/fw/test.ift" \
        >"$WORK/out" 2>"$WORK/err"
    status=$?
    ms=$((($(date +%s%N) - t0) / 1000000))
    stop_sim
    ((ms > slowest)) && slowest=$ms

    first=$(head -n1 "$WORK/out")
    last=$(tail -n1 "$WORK/out")
    if [ "$status" -eq 0 ]; then got=ok; elif [ "$status" -eq 1 ]; then got=$first;
    else got="exit$status"; fi
    problem=
    if [ "$expected" = ok ]; then
        [ "$status" -eq 0 ] || problem="expected success"
        [ "$status" -eq 0 ] && [ "$last" != "checksum=$FLASH_SUM" ] &&
            problem="checksum line '$last', expected checksum=$FLASH_SUM"
    else
        [ "$status" -eq 1 ] && [ "$first" = "E$expected" ] ||
            problem="expected exit 1 with E$expected"
    fi
    ((ms > MAX_SECONDS * 1000)) && problem="${problem:+$problem; }took ${ms} ms"
    [ -e "$APP/COM1" ] && problem="${problem:+$problem; }the port link stayed"

    key="$fault"
    RUNS[$key]=$((${RUNS[$key]:-0} + 1))
    [ -z "$problem" ] && GOOD[$key]=$((${GOOD[$key]:-0} + 1))
    OUTCOMES[$key]="${OUTCOMES[$key]:-} $got"
    if [ -n "$problem" ]; then
        bad=$((bad + 1))
        echo "run $run: $fault CPUT $cput block $block rates $boot_rate/$data_rate:" \
            "exit $status '$first' after ${ms} ms: $problem" >&2
        sed 's/^/    /' "$WORK/out" >&2
    fi
    ((run % 20 == 0)) && echo "  $run runs, $bad unexpected" >&2
done

echo
printf '%-20s %5s %12s  %s\n' fault runs "as expected" outcomes
for entry in "${FAULTS[@]}"; do
    name=${entry%%|*}
    [ -z "${RUNS[$name]:-}" ] && continue
    summary=$(tr ' ' '\n' <<<"${OUTCOMES[$name]}" | grep -v '^$' | sort | uniq -c |
        awk '{printf "%s%s x%d", sep, $2, $1; sep=", "}')
    printf '%-20s %5d %12d  %s\n' "$name" "${RUNS[$name]}" "${GOOD[$name]:-0}" "$summary"
done
echo "slowest run: $slowest ms (limit $((MAX_SECONDS * 1000)) ms)"

# One process, N downloads: the target answers download after download, and each run opens the
# port that the run before it closed.
make_files 256
write_description 5 256 115200 115200
start_sim --variant 2 --block-size 256 --boot-rate 115200 --data-rate 115200 --serve
"$QARNCTL" flash --app-dir "$APP" --repeat "$N" "$APP/fw/test.ift" >"$WORK/repeat.out" \
    2>"$WORK/repeat.err" &
ctl=$!
rss_at_10=
rss_last=
seen=0
while kill -0 "$ctl" 2>/dev/null; do
    rss=$(awk '/^VmRSS:/ {print $2}' "/proc/$ctl/status" 2>/dev/null)
    seen=$(grep -c '^run ' "$WORK/repeat.out")
    if [ -n "$rss" ]; then
        [ -z "$rss_at_10" ] && ((seen >= 10)) && rss_at_10=$rss
        ((seen >= N - 1)) && rss_last=$rss
    fi
    sleep 0.02
done
wait "$ctl"
repeat_status=$?
stop_sim
seen=$(grep -c '^run ' "$WORK/repeat.out")
good_runs=$(grep -c "^run .*checksum=$FLASH_SUM" "$WORK/repeat.out")
echo
echo "repeat: $seen of $N runs reported, $good_runs with checksum=$FLASH_SUM, exit $repeat_status"
if [ "$good_runs" -ne "$N" ] || [ "$repeat_status" -ne 0 ]; then
    grep -v "checksum=$FLASH_SUM" "$WORK/repeat.out" | head -5 >&2
    bad=$((bad + 1))
fi
if [ -n "$rss_at_10" ] && [ -n "$rss_last" ]; then
    growth=$((rss_last - rss_at_10))
    echo "resident memory: ${rss_at_10} kB after run 10, ${rss_last} kB at run $N:" \
        "growth ${growth} kB (limit 1024 kB)"
    ((growth >= 1024)) && bad=$((bad + 1))
else
    echo "resident memory: not sampled (runs too quick or the process ended early)" >&2
    bad=$((bad + 1))
fi

echo
if ((bad)); then
    echo "soak: $bad unexpected outcomes"
    exit 1
fi
echo "soak: every run as expected"
