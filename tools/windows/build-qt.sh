#!/usr/bin/env bash
# Builds Qt's Core, Gui and Widgets for 64-bit Windows from Debian's own source of qt6-base (the
# version of the Linux build), once, into a cache outside the work tree:
#   tools/windows/build-qt.sh [PREFIX]      (PREFIX: ~/.cache/qarn/qt6-windows-x64)
# A prefix that already holds a finished build is kept as it is. The first build takes about
# half an hour on two cores.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
cache=${QARN_CACHE:-$HOME/.cache/qarn}
prefix=${1:-$cache/qt6-windows-x64}
if [ -x "$prefix/bin/qt-cmake" ] && [ -f "$prefix/.qarn-complete" ]; then
    exit 0
fi
version=$(dpkg-query -W -f='${Version}' qt6-base-dev) # e.g. 6.4.2+dfsg-10
sources=$cache/src
mkdir -p "$sources"
tree=$(find "$sources" -maxdepth 1 -type d -name "qt6-base-${version%%-*}" | head -n1)
if [ -z "$tree" ]; then
    sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    # The machines carry only binary entries; the sources come from the same archive.
    if ! apt-get source --print-uris "qt6-base=$version" >/dev/null 2>&1; then
        $sudo tee /etc/apt/sources.list.d/qarn-debian-src.sources >/dev/null <<SOURCES
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: $(. /etc/os-release && echo "$VERSION_CODENAME $VERSION_CODENAME-updates")
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SOURCES
        $sudo apt-get update -qq
    fi
    (cd "$sources" && apt-get source -qq "qt6-base=$version" >/dev/null)
    tree=$sources/qt6-base-${version%%-*}
fi
work=$cache/qt6-windows-build
rm -rf "$work" "$prefix"
mkdir -p "$work"
cd "$work"
# Only what QARN links: Core, Gui, Widgets, the platform plug-ins (Windows' own, and offscreen
# for the tests) and the style. No other image formats than those built into Gui (PNG), no
# Direct2D platform, no PDF or ODF writers, no Vulkan. Gui builds its DirectWrite font database
# only with Direct2D while the platform plug-in asks for it with DirectWrite 3 alone: both go.
features=(sql network testlib printsupport concurrent xml tabletevent direct2d directwrite3 pdf
          textodfwriter vulkan)
"$tree/configure" -xplatform win32-g++ -qt-host-path /usr -prefix "$prefix" -release -shared \
    -no-opengl -no-dbus -nomake examples -nomake tests "${features[@]/#/-no-feature-}" \
    -no-gif -no-ico -no-libjpeg -qt-zlib -qt-pcre -qt-libpng -qt-freetype -qt-harfbuzz -qt-doubleconversion \
    -- -DCMAKE_TOOLCHAIN_FILE="$here/mingw-w64-x86_64.cmake" \
    -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake >configure.log 2>&1 ||
    { tail -n 40 configure.log; exit 1; }
started=$(date +%s)
nice cmake --build . --parallel "$(nproc)" >build.log 2>&1 || { tail -n 40 build.log; exit 1; }
cmake --install . >install.log 2>&1 || { tail -n 40 install.log; exit 1; }
touch "$prefix/.qarn-complete"
echo "Qt for Windows built in $((($(date +%s) - started) / 60)) min into $prefix"
rm -rf "$work"
