#!/usr/bin/env bash
# How quickly the window answers a screen reader while a download waits: the window's own run
# (qarn-bench-window) on a private X server with the accessibility bus, against the simulated
# target in a long erase wait; a11y_tree.py reads the whole accessible tree while the window is
# idle, then while the run waits for the erase, and prints both.
#
#   tools/bench/a11y_wait.sh BUILDDIR
#
# Needs Xvfb, dbus-run-session, at-spi2-core and python3-pyatspi (Debian's packages).
set -euo pipefail
BUILD=$(cd "${1:?usage: tools/bench/a11y_wait.sh BUILDDIR}" && pwd)
HERE=$(cd "$(dirname "$0")" && pwd)
BIN=$BUILD/bin
APP=$BUILD/a11y
VERSION=DEDEv0201 # the kernel erases on command: the erase wait is the kernel's
rm -rf "$APP"
"$BIN/qarn-make-demo-app" --out "$APP" --bin "$BIN" --rate 115200 --kernel-size 1024 \
    --image-size 4096 --ut 0 >/dev/null

if [ -z "${QARN_A11Y_INNER:-}" ]; then
    export QARN_A11Y_INNER=1
    Xvfb :97 -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
    xvfb=$!
    trap 'kill $xvfb 2>/dev/null || true' EXIT
    sleep 1
    DISPLAY=:97 dbus-run-session -- "$0" "$@"
    exit $?
fi

/usr/libexec/at-spi-bus-launcher --launch-immediately >/dev/null 2>&1 &
sleep 1
"$BIN/qarn-target-sim" --link "$APP/COM1" --variant 2 --boot-rate 115200 --data-rate 115200 \
    --erase-time 30000 --once >"$APP/target-sim.log" 2>&1 &
sim=$!
trap 'kill $sim 2>/dev/null || true' EXIT
sleep 0.5
# Idle for 10 s after the start, then Start: the kernel goes within a second, then the erase
# waits 30 s.
QT_QPA_PLATFORM=xcb QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 QT_ACCESSIBILITY=1 \
    "$BIN/qarn-bench-window" "$APP" "$VERSION" 10000 >"$APP/window.out" 2>&1 &
window=$!
/usr/bin/python3 "$HERE/a11y_tree.py" qarn-bench-window 10 14 30
kill $window 2>/dev/null || true
