#!/usr/bin/env bash
# The demo: the tool and its host in a sample application folder, downloading firmware into the
# simulated target over a pseudo-terminal.
#
#   tools/demo.sh BUILDDIR
#
# Builds BUILDDIR/demo/ (qarn-make-demo-app) and starts one simulated target, linked as
# BUILDDIR/demo/COM1, that serves download after download until the demo ends; a download that
# ends without the target finishing it (stopped, failed) is followed by the target's reset, as
# an engineer resets the device. Then:
#   - with a usable display: starts the stand-in host, which starts the tool's window, and waits
#     until the tool has handed its result back to the host;
#   - without one: downloads the version of each sequence variant with 'qarnctl flash',
#     showing the progress and the target's flash checksum, and writes a serial trace of each.
# Ends with 0 only when every download succeeded (headless) or the tool returned "SUB END" to
# the host (window). Every process it starts is stopped on the way out.
#   QARN_DEMO_RATE         bit rate of both phases (default 115200)
#   QARN_DEMO_LANGUAGE     ja: the window and the messages in Japanese (default en)
#   QARN_DEMO_SIM_OPTIONS  extra options for the simulated target, e.g. a fault: --bad-flash-sum
set -euo pipefail

BUILD=$(cd "${1:?usage: tools/demo.sh BUILDDIR}" && pwd -P)
BIN=$BUILD/bin
DEMO=$BUILD/demo
RATE=${QARN_DEMO_RATE:-115200}
read -r -a SIM_OPTIONS <<<"${QARN_DEMO_SIM_OPTIONS:-}"
READY_SECONDS=10
case "${QARN_DEMO_LANGUAGE:-en}" in
en) LANGUAGE=1 ;;
ja) LANGUAGE=0 ;;
*) echo "demo: QARN_DEMO_LANGUAGE is en or ja" >&2; exit 2 ;;
esac

SIM_PID=""
SIM_LOG=$DEMO/target-sim.log
TOOL_PID=""
WORK=$(mktemp -d)
# Every Qt program wants a runtime folder of its own and warns when it has none.
export XDG_RUNTIME_DIR=$WORK/runtime
mkdir -m 0700 "$XDG_RUNTIME_DIR"

cleanup() {
    if [ -n "$TOOL_PID" ] && kill -0 "$TOOL_PID" 2>/dev/null; then
        kill "$TOOL_PID" 2>/dev/null || true
    fi
    if [ -n "$SIM_PID" ]; then
        kill "$SIM_PID" 2>/dev/null || true
        wait "$SIM_PID" 2>/dev/null || true
    fi
    rm -rf "$WORK"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# Waits until the simulated target has said 'ready' N times: once when it starts, once after
# every reset.
wait_ready() { # wait_ready N
    local tries=$((READY_SECONDS * 20))
    while (($(grep -c '^ready ' "$SIM_LOG") < $1)); do
        if ! kill -0 "$SIM_PID" 2>/dev/null || ((--tries == 0)); then
            echo "demo: the simulated target is not ready:" >&2
            cat "$SIM_LOG" >&2
            return 1
        fi
        sleep 0.05
    done
}

start_sim() {
    "$BIN/qarn-target-sim" --link "$DEMO/COM1" --variant 0 --boot-rate "$RATE" \
        --data-rate "$RATE" --pace --serve "${SIM_OPTIONS[@]}" >"$SIM_LOG" 2>&1 &
    SIM_PID=$!
    wait_ready 1
}

# The device's reset: the target of a download that ended without it may still wait in the
# middle of an exchange.
reset_sim() {
    local seen
    seen=$(grep -c '^ready ' "$SIM_LOG")
    kill -USR1 "$SIM_PID"
    wait_ready $((seen + 1))
}

display_usable() {
    [ -n "${DISPLAY:-}" ] || return 1
    if command -v xdpyinfo >/dev/null; then
        xdpyinfo >/dev/null 2>&1
    else
        xset q >/dev/null 2>&1
    fi
}

for exe in qarn qarnctl torvane.exe qarn-target-sim qarn-make-demo-app; do
    [ -x "$BIN/$exe" ] || { echo "demo: $BIN/$exe is missing; build first" >&2; exit 1; }
done

rm -rf "$DEMO"
"$BIN/qarn-make-demo-app" --out "$DEMO" --bin "$BIN" --rate "$RATE"
printf 'LANGUAGE %s\r\n' "$LANGUAGE" >>"$DEMO/QARN.ini" # the last LANGUAGE line counts
echo "Sample application folder: $DEMO"
echo "  firmware store $DEMO/fieldkit/QX100/MAIN/ (one version per download sequence variant)"

headless() {
    local failures=0 done_variants=" " version variant ift fcs output checksum
    start_sim
    while IFS=$'\t' read -r version variant ift fcs; do
        # Variants 2 and 3 run the same sequence: three downloads cover all three.
        local sequence=$variant
        [ "$sequence" = 3 ] && sequence=2
        case "$done_variants" in *" $sequence "*) continue ;; esac
        done_variants+="$sequence "

        echo
        echo "== $version: sequence variant $variant at $RATE bit/s, expected checksum $fcs"
        if output=$("$DEMO/qarnctl" flash --trace "$DEMO/trace-$version.log" "$ift"); then
            checksum=${output##*checksum=}
            if [ "$checksum" = "$fcs" ]; then
                echo "   checksum $checksum: the target confirms the flash contents"
            else
                echo "   checksum $checksum differs from $fcs" >&2
                failures=$((failures + 1))
            fi
        else
            echo "$output" >&2
            echo "   download failed; serial trace: $DEMO/trace-$version.log" >&2
            failures=$((failures + 1))
            reset_sim
        fi
    done <"$DEMO/demo-versions.txt"

    echo
    echo "Serial traces: $DEMO/trace-*.log"
    echo "No display here. To see the window, run ./run.sh screenshots (pictures in"
    echo "docs/screenshots/), or run ./run.sh demo on a desktop (QARN_DEMO_LANGUAGE=ja: in"
    echo "Japanese)."
    if ((failures > 0)); then
        echo "demo: $failures download(s) failed" >&2
        return 1
    fi
    echo "All three downloads succeeded."
}

# The host's log of its return, complete.
host_has_returned() {
    grep -qsx '== end' "$DEMO/torvane-host.log"
}

# Once the tool's process has ended: did it hand back? It replaces torvane.cha with its result
# before it starts the host, and the host it started writes its log before it ends.
wait_for_host_after_tool() {
    if ! grep -qsE '^SUB (END|ERROR)' "$DEMO/torvane.cha"; then
        echo "demo: the tool ended without returning to the host (torvane.cha holds:" \
            "$(tr -d '\r' <"$DEMO/torvane.cha" | head -n 1))" >&2
        return 1
    fi
    until host_has_returned; do
        if ! pgrep -f -x "$DEMO/torvane.exe goToMain" >/dev/null && ! host_has_returned; then
            echo "demo: the tool wrote its result but the host did not run (no" \
                "$DEMO/torvane-host.log)" >&2
            return 1
        fi
        sleep 0.1
    done
}

with_window() {
    echo "TRACE 1" >>"$DEMO/QARN.ini"
    start_sim
    echo
    echo "Starting the host, which starts the tool. In the window: dismiss the connection"
    echo "instructions, click a version of QX100/MAIN, then Start. One simulated target serves"
    echo "every download, of every sequence variant; after a stopped run the demo resets it."
    echo "Leave with 'Return to Main Menu'. Each run's serial trace: $DEMO/qarn-trace.log"
    # A file, not a pipe: the tool inherits the host's standard output, and a pipe would stay
    # open until the tool ends.
    "$DEMO/torvane.exe" start >"$WORK/started"
    TOOL_PID=$(head -n 1 "$WORK/started")
    local handled="" stamp
    until host_has_returned; do
        if ! kill -0 "$TOOL_PID" 2>/dev/null; then
            wait_for_host_after_tool || return 1
            break
        fi
        # A run's trace ends with its outcome; one other than ok may have left the target in the
        # middle of its exchanges.
        if grep -qs ' outcome ' "$DEMO/qarn-trace.log"; then
            stamp=$(head -n 1 "$DEMO/qarn-trace.log")
            if [ "$stamp" != "$handled" ]; then
                handled=$stamp
                grep -qs ' outcome ok' "$DEMO/qarn-trace.log" || reset_sim
            fi
        fi
        sleep 0.1
    done
    local result
    result=$(tr -d '\r' <"$DEMO/torvane.cha")
    echo "The tool returned to the host; torvane.cha now holds: $result"
    if [ "$result" != "SUB END" ]; then
        echo "demo: the tool reported a failed download to the host" >&2
        return 1
    fi
}

if display_usable; then
    with_window
else
    headless
fi
