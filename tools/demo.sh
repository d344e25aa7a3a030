#!/usr/bin/env bash
# Interim demo: builds a sample application folder under <builddir>/demo-app (the tool, the
# stand-in host and the host's hand-off files, a firmware store with one simulated firmware),
# starts the tool through the stand-in host, waits for its main window, takes a screenshot and
# ends the tool. Without a display it runs itself under xvfb-run.
#
#   tools/demo.sh <builddir>            Japanese
#   QARN_DEMO_LANGUAGE=1 tools/demo.sh <builddir>   English
set -euo pipefail

build=$(cd "${1:?usage: tools/demo.sh <builddir>}" && pwd)
language=${QARN_DEMO_LANGUAGE:-0}

if [ -z "${DISPLAY:-}" ]; then
    exec xvfb-run -a -s "-screen 0 1280x900x24" "$0" "$@"
fi

app="$build/demo-app"
rm -rf "$app"
mkdir -p "$app"
cp "$build/bin/qarn" "$build/bin/torvane.exe" "$app/"

# Text files of the tool end their lines with CR LF.
crlf() { printf '%s\r\n' "$@"; }

crlf "LANGUAGE $language" "PORT 1" "PROTOTYPE 1" >"$app/QARN.ini"
crlf "DRIVE C:" "cntry JP" "cntry Japan" "cntry US" "cntry USA" \
    "lang JA" "lang Japanese" "lang EN" "lang English" >"$app/torvane.ini"
crlf "MAIN SET" "Fdir $app/fieldkit/" "SelectedModel QX10" "SelectedPCB MAINPCB" >"$app/torvane.cha"
crlf "# boards with firmware" "TGBN MAINPCB" "TGBNDESC Main control board" \
    "TGBN SUBPCB" "TGBNDESC Sub board" >"$app/FirmDesc.txt"
crlf "machine=QX10" "board=MAINPCB" "version=JPJAv0101" "version=USENv0102" \
    "board=SUBPCB" "version=JPJAv0100" "end" >"$app/torvane.conf"

# One firmware per version: a description beside its kernel and program files.
for version in JPJAv0101 USENv0102; do
    store="$app/fieldkit/QX10/MAINPCB/$version"
    mkdir -p "$store"
    crlf "CPUT 0" "DF KERNEL.BIN" "PFN PROGRAM.BIN" "UCS 0000" \
        "FSA 00000000" "FEA 0000FFFF" "FCS 0000" >"$store/QX10.ift"
    head -c 256 /dev/zero >"$store/KERNEL.BIN"
    head -c 4096 /dev/zero >"$store/PROGRAM.BIN"
done

"$app/torvane.exe" start

window=$(timeout 30 xdotool search --sync --onlyvisible --name ' Download$' | head -n 1) || true
if [ -z "$window" ]; then
    echo "demo: the main window did not appear" >&2
    exit 1
fi
sleep 1 # let the window paint before the picture is taken
shot="$build/demo-screenshot.png"
import -window root "$shot"
echo "Screenshot: $shot"
echo "Application folder: $app"

pid=$(xdotool getwindowpid "$window" 2>/dev/null || true)
if [ -n "$pid" ]; then
    kill "$pid" 2>/dev/null || true
fi
