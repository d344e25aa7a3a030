#!/usr/bin/env bash
# The demo: the tool and its host in a sample application folder, downloading firmware into the
# simulated target over a pseudo-terminal.
#
#   tools/demo.sh BUILDDIR
#
# Builds BUILDDIR/demo/ (qarn-make-demo-app), links the simulated target's pseudo-terminal as
# BUILDDIR/demo/COM1 and then:
#   - with a usable display: starts the stand-in host, which starts the tool's window; a
#     simulated target stays ready for one download after another until the tool ends;
#   - without one: downloads the version of each sequence variant with 'qarnctl flash',
#     showing the progress and the target's flash checksum, and writes a serial trace of each.
# Ends with 0 only when every download succeeded (headless) or the tool returned to the host
# (window). Every process it starts is stopped on the way out. QARN_DEMO_RATE sets the bit rate
# (default 115200).
set -euo pipefail

BUILD=$(cd "${1:?usage: tools/demo.sh BUILDDIR}" && pwd)
BIN=$BUILD/bin
DEMO=$BUILD/demo
RATE=${QARN_DEMO_RATE:-115200}
# Extra options for every simulated target, e.g. a fault: QARN_DEMO_SIM_OPTIONS=--bad-flash-sum
read -r -a SIM_OPTIONS <<<"${QARN_DEMO_SIM_OPTIONS:-}"
READY_SECONDS=10

SIM_PID=""
SIM_LOG=$DEMO/target-sim.log

stop_sim() {
    if [ -n "$SIM_PID" ]; then
        kill "$SIM_PID" 2>/dev/null || true
        wait "$SIM_PID" 2>/dev/null || true
        SIM_PID=""
    fi
}
trap stop_sim EXIT
trap 'exit 130' INT TERM

# Starts one simulated target for one download and waits until it listens.
start_sim() { # start_sim VARIANT
    stop_sim
    : >"$SIM_LOG"
    "$BIN/qarn-target-sim" --link "$DEMO/COM1" --variant "$1" --boot-rate "$RATE" \
        --data-rate "$RATE" --pace --once "${SIM_OPTIONS[@]}" >"$SIM_LOG" 2>&1 &
    SIM_PID=$!
    local tries=$((READY_SECONDS * 20))
    while ! grep -q '^ready ' "$SIM_LOG"; do
        if ! kill -0 "$SIM_PID" 2>/dev/null || ((--tries == 0)); then
            echo "demo: the simulated target did not start:" >&2
            cat "$SIM_LOG" >&2
            return 1
        fi
        sleep 0.05
    done
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
echo "Sample application folder: $DEMO"
echo "  firmware store $DEMO/fieldkit/QX100/MAIN/ (one version per download sequence variant)"

headless() {
    local failures=0 done_variants=" " version variant ift fcs output checksum
    while IFS=$'\t' read -r version variant ift fcs; do
        # Variants 2 and 3 run the same sequence: three downloads cover all three.
        local sequence=$variant
        [ "$sequence" = 3 ] && sequence=2
        case "$done_variants" in *" $sequence "*) continue ;; esac
        done_variants+="$sequence "

        echo
        echo "== $version: sequence variant $variant at $RATE bit/s, expected checksum $fcs"
        start_sim "$variant"
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
        fi
        # After a failed download the target may still wait in the middle of an exchange.
        stop_sim
    done <"$DEMO/demo-versions.txt"

    echo
    echo "Serial traces: $DEMO/trace-*.log"
    echo "No display here. To see the window, run ./run.sh screenshots (pictures in"
    echo "docs/screenshots/), or run ./run.sh demo on a desktop."
    if ((failures > 0)); then
        echo "demo: $failures download(s) failed" >&2
        return 1
    fi
    echo "All three downloads succeeded."
}

with_window() {
    echo "TRACE 1" >>"$DEMO/QARN.ini"
    echo
    echo "Starting the host, which starts the tool. In the window: dismiss the connection"
    echo "instructions, click a version of QX100/MAIN, then Start. A new simulated target is"
    echo "ready after every download; its boot program answers every sequence variant. Leave"
    echo "with 'Return to Main Menu'. Each run's serial trace: $DEMO/qarn-trace.log"
    "$DEMO/torvane.exe" start
    # The tool ends by starting the host with goToMain, which writes torvane-host.log. Until
    # then a simulated target is kept ready: a new one after every run, whether the target saw
    # the end of it (it ends by itself) or not (the run's trace got its outcome line: a failed
    # or stopped download leaves the old target in the middle of its exchanges).
    local handled="" checks=0
    while [ ! -s "$DEMO/torvane-host.log" ]; do
        # A tool that ended some other way (closed by the window system, crashed) never
        # returns to the host: stop waiting for it.
        if ((++checks > 25)) && ! pgrep -f -x "$DEMO/qarn" >/dev/null; then
            echo "demo: the tool ended without returning to the host" >&2
            return 1
        fi
        if [ -z "$SIM_PID" ] || ! kill -0 "$SIM_PID" 2>/dev/null; then
            SIM_PID=""
            start_sim 0
        elif grep -qs ' outcome ' "$DEMO/qarn-trace.log"; then
            local stamp
            stamp=$(head -n 1 "$DEMO/qarn-trace.log")
            if [ "$stamp" != "$handled" ]; then
                handled=$stamp
                start_sim 0
            fi
        fi
        sleep 0.2
    done
    stop_sim
    echo "The tool returned to the host; torvane.cha now holds: $(tr -d '\r' <"$DEMO/torvane.cha")"
}

if display_usable; then
    with_window
else
    headless
fi
