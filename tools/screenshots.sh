#!/usr/bin/env bash
# Pictures of the main window in both languages, before and after a simulated download.
#
#   tools/screenshots.sh BUILDDIR OUTDIR
#
# For each language: builds a sample application folder (qarn-make-demo-app) in simulation mode
# (PROTOTYPE 1), starts the tool under Xvfb and drives it with xdotool like a user: the
# connection instructions, OK, a click on the board (its newest version), Start, and the end of
# the run. Writes OUTDIR/setup-LANG.png, main-LANG.png, running-LANG.png and done-LANG.png
# (LANG = ja, en), and stop-question-LANG.png of Cancel during the run. Every process it starts is stopped on the way out.
set -euo pipefail

BUILD=$(cd "${1:?usage: tools/screenshots.sh BUILDDIR OUTDIR}" && pwd)
OUT=${2:?usage: tools/screenshots.sh BUILDDIR OUTDIR}
mkdir -p "$OUT"
OUT=$(cd "$OUT" && pwd)
BIN=$BUILD/bin
for exe in qarn qarn-make-demo-app; do
    [ -x "$BIN/$exe" ] || { echo "screenshots: $BIN/$exe is missing; build first" >&2; exit 1; }
done
for tool in xvfb-run xdotool import; do
    command -v "$tool" >/dev/null || { echo "screenshots: $tool is missing" >&2; exit 1; }
done

if [ "${3:-}" != --shoot ]; then
    WORK=$(mktemp -d)
    trap 'rm -rf "$WORK"' EXIT
fi

# Runs inside the X server: one language, four pictures.
shoot() { # shoot APPDIR LANG
    local app=$1 lang=$2 pid wid tries
    (cd "$app" && exec ./qarn) &
    pid=$!
    trap 'kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true' RETURN
    tries=200
    until wid=$(xdotool search --onlyvisible --name "Download" 2>/dev/null | head -n1) &&
        [ -n "$wid" ]; do
        if ! kill -0 "$pid" 2>/dev/null || ((--tries == 0)); then
            echo "screenshots: the main window did not open ($lang)" >&2
            return 1
        fi
        sleep 0.05
    done
    xdotool windowmove "$wid" 0 0
    sleep 0.5 # let the window paint once before the first picture
    import -window "$wid" "$OUT/setup-$lang.png"

    # Positions in the window (pixels): the connection frame's OK button, the board node of
    # the firmware tree, the Start button.
    xdotool mousemove --window "$wid" 398 431 click 1
    sleep 0.3
    xdotool mousemove --window "$wid" 60 169 click 1
    sleep 0.5
    import -window "$wid" "$OUT/main-$lang.png"

    xdotool mousemove --window "$wid" 428 214 click 1
    sleep 7 # halfway through the simulated run (about 17.4 s)
    import -window "$wid" "$OUT/running-$lang.png"
    # Cancel: the stop question over the running download, then Continue Downloading.
    xdotool mousemove --window "$wid" 428 272 click 1
    sleep 0.5
    import -window "$wid" "$OUT/stop-question-$lang.png"
    xdotool mousemove --window "$wid" 402 350 click 1
    sleep 11
    import -window "$wid" "$OUT/done-$lang.png"
}
# Inside the X server the script runs again, for one language.
if [ "${3:-}" = --shoot ]; then
    shoot "$4" "$5"
    exit
fi

for lang in ja en; do
    app=$WORK/$lang
    "$BIN/qarn-make-demo-app" --out "$app" --bin "$BIN" >/dev/null
    language=0
    [ "$lang" = en ] && language=1
    printf 'LANGUAGE %s\r\nPORT 1\r\nPROTOTYPE 1\r\n' "$language" >"$app/QARN.ini"
    xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$BUILD" "$OUT" --shoot "$app" "$lang"
    echo "screenshots: $OUT/{setup,main,running,stop-question,done}-$lang.png"
done
