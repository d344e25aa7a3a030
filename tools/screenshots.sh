#!/usr/bin/env bash
# Pictures of the main window in both languages, before, during and after a real download into
# the simulated target.
#
#   tools/screenshots.sh BUILDDIR OUTDIR
#
# For each language: builds a sample application folder (qarn-make-demo-app, 9600 bit/s, so
# that a download takes long enough to be seen), links the simulated target's pseudo-terminal
# as COM1 in it, starts the tool under Xvfb and drives it with xdotool like a user: the
# connection instructions, OK, a click on a firmware version in the tree, Start, Cancel during
# the write and Continue Downloading, and the end of the run. Each picture waits for what it
# shows: the target's steps (--steps) and the run's serial trace; the two taken during the write
# are checked to be so, and the run history must name the clicked version, with the target's
# checksum equal to the version's FCS; then Return to Main Menu, and the stand-in host must have
# been started with SUB END in torvane.cha. Writes OUTDIR/setup-LANG.png, main-LANG.png,
# running-LANG.png, stop-question-LANG.png and done-LANG.png (LANG = ja, en). Every process it
# starts is stopped on the way out.
#
# With QARN_WINDOWS_PACKAGE (the folder of the Windows package) and QARN_WINDOWS_TORVANE (the
# Windows build of the stand-in host), the same with the Windows programs under Wine
# (tools/windows/wine-run), the pictures named setup-windows-LANG.png and so on; first, a
# start-up without the host's torvane.ini must show the error window, and its Return to Main
# Menu must hand SUB ERROR back to the host (error-windows-LANG.png).
set -euo pipefail

BUILD=$(cd "${1:?usage: tools/screenshots.sh BUILDDIR OUTDIR}" && pwd -P)
OUT=${2:?usage: tools/screenshots.sh BUILDDIR OUTDIR}
mkdir -p "$OUT"
OUT=$(cd "$OUT" && pwd)
BIN=$BUILD/bin
ROOT=$(cd "$(dirname "$0")/.." && pwd)
WINDOWS=${QARN_WINDOWS_PACKAGE:-}
RATE=9600
WAIT_SECONDS=120 # far above a download at $RATE (about 20 s)
for exe in qarn qarnctl torvane.exe qarn-target-sim qarn-make-demo-app; do
    [ -x "$BIN/$exe" ] || { echo "screenshots: $BIN/$exe is missing; build first" >&2; exit 1; }
done
for tool in xvfb-run xdotool import; do
    command -v "$tool" >/dev/null || { echo "screenshots: $tool is missing" >&2; exit 1; }
done

if [ "${3:-}" != --shoot ]; then
    WORK=$(mktemp -d)
    trap 'rm -rf "$WORK"' EXIT
    # Every Qt program wants a runtime folder of its own and warns when it has none.
    export XDG_RUNTIME_DIR=$WORK/runtime
    mkdir -m 0700 "$XDG_RUNTIME_DIR"
fi

# Waits until COMMAND succeeds; false when the limit passes or the process PID has ended.
wait_for() { # wait_for PID WHAT COMMAND...
    local pid=$1 what=$2 tries=$((WAIT_SECONDS * 20))
    shift 2
    until "$@"; do
        if ! kill -0 "$pid" 2>/dev/null || ((--tries == 0)); then
            echo "screenshots: no $what" >&2
            return 1
        fi
        sleep 0.05
    done
}
blocks_written() { # blocks_written APPDIR N: the target has written N blocks
    (($(grep -cx write "$1/steps.txt" 2>/dev/null) >= $2))
}
run_ended() { # run_ended APPDIR: the run's trace has its outcome
    grep -qs ' outcome ' "$1/qarn-trace.log"
}
still_running() { # still_running APPDIR WHAT: the picture WHAT was taken before the run ended
    ! run_ended "$1" || { echo "screenshots: the run ended before the $2 picture" >&2; return 1; }
}
has_run_line() { # has_run_line APPDIR: the run history has a line below its heading
    (($(wc -l <"$1/qarn-history.csv" 2>/dev/null || echo 0) >= 2))
}
# The window's run history, last line: the firmware it wrote, its outcome, the target's
# checksum and the description's FCS. True when that is VERSION, written and confirmed.
wrote_version() { # wrote_version APPDIR VERSION
    local line firmware outcome checksum fcs
    line=$(tail -n 1 "$1/qarn-history.csv" | tr -d '\r')
    IFS=, read -r _ _ _ firmware _ _ _ _ _ _ _ outcome _ checksum fcs _ <<<"$line"
    if [[ /$firmware/ != */"$2"/* || $outcome != ok || -z $checksum || $checksum != "$fcs" ]]
    then
        echo "screenshots: the run did not write $2 as it should: $line" >&2
        return 1
    fi
}

host_got() { # host_got APPDIR TEXT: the stand-in host was started with TEXT in torvane.cha
    grep -qsF "$2" "$1/torvane-host.log"
}
# Starts the tool in APPDIR: this system's, or the Windows one under Wine with COM1 of APPDIR.
start_tool() { # start_tool APPDIR
    if [ -n "$WINDOWS" ]; then
        (cd "$1" && exec "$ROOT/tools/windows/wine-run" --com 1="$1/COM1" ./qarn.exe) &
    else
        (cd "$1" && exec ./qarn) &
    fi
    pid=$!
}

# Runs inside the X server, for the Windows programs: the error window of a start-up that lacks
# the host's torvane.ini, and its Return to Main Menu handing SUB ERROR back.
shoot_error() { # shoot_error APPDIR LANG
    local app=$1 lang=$2 wid
    mv "$app/torvane.ini" "$app/torvane.ini.away"
    cp "$app/torvane.cha" "$app/torvane.cha.before"
    start_tool "$app"
    trap 'kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true' EXIT
    error_window() { wid=$(xdotool search --onlyvisible --name " Error\$" 2>/dev/null | head -n1) &&
        [ -n "$wid" ]; }
    wait_for "$pid" "error window ($lang)" error_window
    xdotool windowmove "$wid" 0 0
    sleep 0.5
    import -window "$wid" "$OUT/error-windows-$lang.png"
    xdotool mousemove --window "$wid" 300 306 click 1 # Return to Main Menu
    wait_for "$pid" "SUB ERROR handed back ($lang)" host_got "$app" "SUB ERROR"
    wait "$pid" 2>/dev/null || true
    # The host's files as they were for the download (the hand-back replaced torvane.cha).
    mv "$app/torvane.ini.away" "$app/torvane.ini"
    mv "$app/torvane.cha.before" "$app/torvane.cha"
    rm -f "$app/torvane-host.log" "$app/torvane.cha.bak"
}

# Runs inside the X server: one language, five pictures of one download of VERSION, whose
# position in the tree is ROW (pixels from the window's top).
shoot() { # shoot APPDIR LANG VERSION VARIANT ROW
    local app=$1 lang=$2 version=$3 variant=$4 row=$5 wid
    [ -z "$WINDOWS" ] || shoot_error "$app" "$lang"
    [ -z "$WINDOWS" ] || lang=windows-$lang
    "$BIN/qarn-target-sim" --link "$app/COM1" --variant "$variant" --boot-rate "$RATE" \
        --data-rate "$RATE" --pace --serve --steps "$app/steps.txt" >"$app/target-sim.log" 2>&1 &
    sim=$!
    start_tool "$app"
    # On the way out of this process, also when a step fails (pid and sim are global for it).
    trap 'kill "$pid" "$sim" 2>/dev/null || true; wait "$pid" "$sim" 2>/dev/null || true' EXIT
    wait_for "$sim" "simulated target ($lang)" grep -q '^ready ' "$app/target-sim.log"
    window() { wid=$(xdotool search --onlyvisible --name "Download" 2>/dev/null | head -n1) &&
        [ -n "$wid" ]; }
    wait_for "$pid" "main window ($lang)" window
    xdotool windowmove "$wid" 0 0
    sleep 0.5 # let the window paint once before the first picture
    import -window "$wid" "$OUT/setup-$lang.png"

    # Positions in the window (pixels): the connection frame's OK button, the version in the
    # firmware tree, Start, Cancel, and in the stop question Continue Downloading.
    xdotool mousemove --window "$wid" 398 431 click 1
    sleep 0.3
    xdotool mousemove --window "$wid" 110 "$row" click 1
    sleep 0.5
    import -window "$wid" "$OUT/main-$lang.png"

    xdotool mousemove --window "$wid" 428 214 click 1
    wait_for "$pid" "half-written image ($lang)" blocks_written "$app" 12 # of 24
    sleep 0.3 # the display refreshes every 200 ms
    import -window "$wid" "$OUT/running-$lang.png"
    still_running "$app" running
    xdotool mousemove --window "$wid" 428 272 click 1
    sleep 0.5
    import -window "$wid" "$OUT/stop-question-$lang.png"
    still_running "$app" stop-question
    xdotool mousemove --window "$wid" 402 350 click 1
    wait_for "$pid" "end of the download ($lang)" run_ended "$app"
    sleep 0.5
    import -window "$wid" "$OUT/done-$lang.png"
    if ! grep -q ' outcome ok' "$app/qarn-trace.log"; then
        echo "screenshots: the download failed ($lang):" >&2
        tail -n 3 "$app/qarn-trace.log" >&2
        return 1
    fi
    wait_for "$pid" "run history ($lang)" has_run_line "$app"
    wrote_version "$app" "$version"
    # O K confirms the outcome; then Return to Main Menu: the result goes back to the host,
    # which is started.
    xdotool mousemove --window "$wid" 428 214 click 1
    sleep 0.3
    xdotool mousemove --window "$wid" 400 510 click 1
    wait_for "$pid" "SUB END handed back ($lang)" host_got "$app" "SUB END"
}
# Inside the X server the script runs again, for one language.
if [ "${3:-}" = --shoot ]; then
    shoot "${@:4}"
    exit
fi

# Language, LANGUAGE of QARN.ini, the version downloaded (its sequence variant, its row).
# The version's row in the tree: Wine's fonts make the tree's rows taller.
for pictures in "ja 0 JPJAv0102 1 197 212" "en 1 USENv0100 0 183 193"; do
    read -r lang language version variant row windows_row <<<"$pictures"
    [ -z "$WINDOWS" ] || row=$windows_row
    app=$WORK/$lang
    "$BIN/qarn-make-demo-app" --out "$app" --bin "$BIN" --rate "$RATE" --trace >/dev/null
    if [ -n "$WINDOWS" ]; then # the package's contents beside the host, as installed
        rm "$app/qarn" "$app/qarnctl" "$app/torvane.exe"
        cp -r "$WINDOWS"/. "$app/"
        cp "${QARN_WINDOWS_TORVANE:?the Windows stand-in host}" "$app/torvane.exe"
        export QARN_WINEPREFIX=$WORK/wine-prefix
    fi
    # The last of equal keys counts. PROTOTYPE 0: a real download over the port, no "Sim Mode".
    printf 'LANGUAGE %s\r\nPROTOTYPE 0\r\n' "$language" >>"$app/QARN.ini"
    xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$BUILD" "$OUT" --shoot "$app" "$lang" \
        "$version" "$variant" "$row"
    names="{setup,main,running,stop-question,done}-$lang.png"
    [ -z "$WINDOWS" ] || names="{error,setup,main,running,stop-question,done}-windows-$lang.png"
    echo "screenshots: $OUT/$names ($version)"
done
